#include "FaceRenderer.h"

#include "ExecutorResources.h"

#include <pixkey/utility/CWebImage.h>
#include <pixkey_plugin.h>

#include <algorithm>
#include <cstring>

namespace executor {

namespace {

constexpr int kFace = PKX_FACE_SIZE;
constexpr int kCentre = kFace / 2;

// Offset of the next UTF-8 character after the one starting at `pos`.
std::size_t nextCharacter(const std::string &text, std::size_t pos)
{
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
        ++pos;
    return pos;
}

} // namespace

FaceRenderer::FaceRenderer() = default;
FaceRenderer::~FaceRenderer() = default;

void FaceRenderer::load()
{
    if (m_loaded)
        return;
    m_bigText.LoadFont("VELMORA_16PX");
    m_smallText.LoadFont("VELMORA_12PX");
    m_defaultImage = defaultImage();
    m_loaded = true;
}

std::unique_ptr<pixkey::CFileImage> FaceRenderer::loadPicture(const std::string &path,
                                                              std::chrono::milliseconds connectTimeout,
                                                              std::chrono::milliseconds totalTimeout)
{
    if (path.empty())
        return nullptr;
    auto webImage = std::make_unique<pixkey::CWebImage>();
    webImage->webFile().setTimeouts(connectTimeout, totalTimeout); // zero keeps the defaults
    std::unique_ptr<pixkey::CFileImage> picture = std::move(webImage);
    if (!picture->Load(path.c_str())) {
        picture = std::make_unique<pixkey::CFileImage>();
        if (!picture->Load(path.c_str()))
            return nullptr;
    }
    // The face never shows more than 96 pixels either way: a photograph is kept at the size whose
    // shorter side is 96, not at megapixels, so memory stays small and each Paint stretches little.
    const int width = picture->GetWidth();
    const int height = picture->GetHeight();
    const int shorter = std::min(width, height);
    if (shorter > kFace)
        picture->Fit(static_cast<int>(static_cast<long long>(width) * kFace / shorter),
                     static_cast<int>(static_cast<long long>(height) * kFace / shorter));
    return picture;
}

void FaceRenderer::setPicture(const std::string &path, std::unique_ptr<pixkey::CFileImage> picture)
{
    m_path = path;
    m_picture = std::move(picture);
}

void FaceRenderer::layoutText(const std::string &text)
{
    m_small = false;
    m_twoLines = false;
    // Drop one character at a time from the front until an ending fits: in the large font the
    // text stays on one line, in the small one too; anything longer goes onto two lines.
    for (std::size_t start = 0; start < text.size(); start = nextCharacter(text, start)) {
        const char *suffix = text.c_str() + start;
        if (m_bigText.PrintText(nullptr, suffix, 0, 0) < kFace)
            break;
        if (m_smallText.PrintText(nullptr, suffix, 0, 0) < kFace) {
            m_small = true;
            break;
        }
        m_twoLines = true;
    }
    m_fullText = text;
}

void FaceRenderer::setWebTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total)
{
    m_connectTimeout = connect;
    m_totalTimeout = total;
}

void FaceRenderer::update(const std::string &path, const std::string &text)
{
    if (!holdsPictureFor(path))
        setPicture(path, loadPicture(path, m_connectTimeout, m_totalTimeout));
    layoutText(text);
}

std::size_t FaceRenderer::lineBreak(const std::string &text)
{
    std::size_t plus = text.rfind('+');
    if (plus != std::string::npos && plus + 1 == text.size())
        plus = plus == 0 ? std::string::npos : text.rfind('+', plus - 1);
    return plus;
}

void FaceRenderer::draw(PkxSurface &surface)
{
    if (!surface.bits || surface.width < kFace || surface.height < kFace || surface.stride < kFace * 3)
        return;
    for (int y = 0; y < kFace; ++y)
        std::memset(surface.bits + static_cast<std::size_t>(y) * surface.stride, 0, kFace * 3);

    pixkey::CLocalizableTextRenderer &renderer = m_small ? m_smallText : m_bigText;
    const int bottom = m_picture ? kFace : kCentre;
    int pictureHeight = kFace;

    if (!m_fullText.empty()) {
        const int lineHeight = m_small ? 16 : 20;
        const int lines = m_twoLines ? 2 : 1;
        const int y = bottom - lineHeight * lines;
        pictureHeight = y - 2;
        renderer.alignment = pixkey::CTextRenderer::AlignCenter;
        renderer.color = pixkey::rgbQuad(255, 255, 255);
        const std::size_t split = m_twoLines ? lineBreak(m_fullText) : std::string::npos;
        if (split == std::string::npos) {
            renderer.PrintText(&surface, m_fullText.c_str(), kCentre, y);
        } else {
            renderer.PrintText(&surface, m_fullText.c_str() + split + 1, kCentre, y + 15);
            renderer.PrintText(&surface, m_fullText.substr(0, split).c_str(), kCentre, y);
        }
    }

    if (m_picture && pictureHeight > 0)
        m_picture->StretchDIBits(&surface, 0, 0, kFace, pictureHeight);

    if (m_fullText.empty() && !m_picture && !m_defaultImage.isNull()) {
        const int rows = std::min(m_defaultImage.height(), kFace);
        const std::size_t bytes = static_cast<std::size_t>(std::min(m_defaultImage.width(), kFace)) * 3;
        for (int y = 0; y < rows; ++y)
            std::memcpy(surface.bits + static_cast<std::size_t>(y) * surface.stride,
                        m_defaultImage.constScanLine(y), bytes);
    }
}

void FaceRenderer::reset()
{
    m_path.clear();
    m_picture.reset();
    m_fullText.clear();
    m_small = false;
    m_twoLines = false;
}

} // namespace executor
