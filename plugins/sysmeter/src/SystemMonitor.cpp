#include "SystemMonitor.h"

#include <pixkey_plugin.h>

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sysmeter {

namespace {

constexpr pixkey::RGBQUAD kListColour = pixkey::rgbQuad(47, 47, 47);
constexpr pixkey::RGBQUAD kBigColour = pixkey::rgbQuad(103, 163, 53);
constexpr pixkey::RGBQUAD kUserColour = pixkey::rgbQuad(0, 190, 0);
constexpr pixkey::RGBQUAD kKernelColour = pixkey::rgbQuad(194, 19, 31);

constexpr int kRows = 5;
constexpr int kFirstRowY = 17;
constexpr int kRowSpacing = 12;
constexpr int kNameWidth = 70;
constexpr int kValueRight = 95;
constexpr int kBarTop = 88;
constexpr int kBarHeight = 8;

bool usable(const PkxSurface &surface)
{
    return surface.bits && surface.width > 0 && surface.height > 0 && surface.stride >= surface.width * 3;
}

std::uint8_t *pixel(PkxSurface &surface, int x, int y)
{
    return surface.bits + std::size_t(y) * std::size_t(surface.stride) + std::size_t(x) * 3;
}

// Fills the rectangle, clipped to the surface.
void fill(PkxSurface &surface, int left, int top, int width, int height, pixkey::RGBQUAD colour)
{
    const int right = std::min(left + width, surface.width);
    const int bottom = std::min(top + height, surface.height);
    for (int y = std::max(top, 0); y < bottom; ++y)
        for (int x = std::max(left, 0); x < right; ++x) {
            std::uint8_t *p = pixel(surface, x, y);
            p[0] = colour.rgbBlue;
            p[1] = colour.rgbGreen;
            p[2] = colour.rgbRed;
        }
}

} // namespace

SystemMonitor::SystemMonitor(const std::string &procRoot, SamplerOptions options)
    : m_sampler(procRoot, std::move(options)), m_procRoot(procRoot)
{
    m_listText.LoadFont("VELMORA_12PX");
    m_listText.color = kListColour;
    m_bigText.LoadFont("VELMORA_21PX");
    m_bigText.color = kBigColour;
}

void SystemMonitor::drawStripCell(PkxSurface &surface, const QImage &strip, int kind)
{
    if (!usable(surface))
        return;
    const int rows = std::min(surface.height, int(PKX_FACE_SIZE));
    const int columns = std::min(surface.width, int(PKX_FACE_SIZE));
    const bool haveCell = (kind == 1 || kind == 2) && strip.format() == QImage::Format_BGR888
                          && strip.width() >= 2 * PKX_FACE_SIZE && strip.height() >= PKX_FACE_SIZE;
    for (int y = 0; y < rows; ++y) {
        std::uint8_t *row = pixel(surface, 0, y);
        if (haveCell)
            std::memcpy(row, strip.constScanLine(y) + (kind - 1) * PKX_FACE_SIZE * 3, std::size_t(columns) * 3);
        else
            std::memset(row, 0, std::size_t(columns) * 3);
    }
}

std::string SystemMonitor::shortName(const std::string &name)
{
    std::size_t length = m_listText.LettersInLength(name.c_str(), kNameWidth);
    // A leading dot starts a hidden file's name rather than an extension.
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        length = std::min(length, dot);
    return name.substr(0, length);
}

template <class Key, class Value>
void SystemMonitor::drawRows(PkxSurface &surface, std::vector<const ProcessEntry *> entries, Key key,
                             const char *format, Value value)
{
    const std::size_t count = std::min<std::size_t>(entries.size(), kRows);
    std::partial_sort(entries.begin(), entries.begin() + std::ptrdiff_t(count), entries.end(),
                      [&](const ProcessEntry *a, const ProcessEntry *b) { return key(*a) > key(*b); });
    char text[32];
    for (std::size_t i = 0; i < count; ++i) {
        const int y = kFirstRowY + int(i) * kRowSpacing;
        m_listText.alignment = pixkey::CTextRenderer::AlignLeft;
        m_listText.PrintText(&surface, shortName(entries[i]->name).c_str(), 0, y);
        std::snprintf(text, sizeof text, format, value(*entries[i]));
        m_listText.alignment = pixkey::CTextRenderer::AlignRight;
        m_listText.PrintText(&surface, text, kValueRight, y);
    }
}

void SystemMonitor::drawBar(PkxSurface &surface, int load)
{
    // The bar repeats the face's own first column, so the strip decides its colours.
    const int width = std::clamp(load, 0, 100) * PKX_FACE_SIZE / 100;
    const int right = std::min(1 + width, surface.width);
    const int bottom = std::min(kBarTop + kBarHeight, surface.height);
    for (int y = kBarTop; y < bottom; ++y) {
        const std::uint8_t *source = pixel(surface, 0, y);
        for (int x = 1; x < right; ++x)
            std::memcpy(pixel(surface, x, y), source, 3);
    }
}

void SystemMonitor::drawGraph(PkxSurface &surface, const LoadHistory &history)
{
    for (int c = 0; c < int(history.size()); ++c) {
        const int segments = history[c].busy / 10 + 1;
        const int kernelSegments = history[c].kernel / 10;
        for (int i = 0; i < segments; ++i)
            fill(surface, 1 + 3 * c, 94 - 3 * i, 2, 2, i < kernelSegments ? kKernelColour : kUserColour);
    }
}

void SystemMonitor::drawMemory(PkxSurface &surface, const std::vector<ProcessEntry> &processes,
                               const std::optional<MemoryStatus> &memory)
{
    if (!usable(surface))
        return;
    std::vector<const ProcessEntry *> entries;
    entries.reserve(processes.size());
    for (const ProcessEntry &entry : processes)
        entries.push_back(&entry);
    drawRows(
        surface, std::move(entries), [](const ProcessEntry &e) { return e.memoryKb; }, " %llu MB",
        [](const ProcessEntry &e) { return static_cast<unsigned long long>((e.memoryKb + 512) / 1024); });

    if (!memory)
        return;
    char text[32];
    std::snprintf(text, sizeof text, " %llu MB", static_cast<unsigned long long>(memory->availableMb()));
    m_bigText.alignment = pixkey::CTextRenderer::AlignCenter;
    m_bigText.PrintShadowedText(&surface, text, 48, 32);
    drawBar(surface, memory->load());
}

void SystemMonitor::drawProcessor(PkxSurface &surface, const std::vector<ProcessEntry> &processes,
                                  const LoadHistory &history)
{
    if (!usable(surface))
        return;
    // The first entry, the idle processors, is no process to list.
    std::vector<const ProcessEntry *> entries;
    if (processes.size() >= 2) {
        entries.reserve(processes.size() - 1);
        for (std::size_t i = 1; i < processes.size(); ++i)
            entries.push_back(&processes[i]);
    }
    drawRows(
        surface, std::move(entries), [](const ProcessEntry &e) { return e.cpu; }, " %d%%",
        [](const ProcessEntry &e) { return (e.cpu + 50) / 100; });

    drawGraph(surface, history);

    char text[16];
    std::snprintf(text, sizeof text, "%d", history.back().busy);
    m_bigText.alignment = pixkey::CTextRenderer::AlignRight;
    m_bigText.PrintShadowedText(&surface, text, 48, 32);
    m_bigText.alignment = pixkey::CTextRenderer::AlignLeft;
    m_bigText.PrintShadowedText(&surface, "%", 49, 32);
}

void SystemMonitor::paintMemory(PkxSurface &surface)
{
    m_sampler.sample();
    drawMemory(surface, m_sampler.processes(), readMemoryStatus(m_procRoot));
}

void SystemMonitor::paintProcessor(PkxSurface &surface)
{
    m_sampler.sample();
    std::rotate(m_history.begin(), m_history.begin() + 1, m_history.end());
    m_history.back() = m_sampler.processorLoad();
    drawProcessor(surface, m_sampler.processes(), m_history);
}

} // namespace sysmeter
