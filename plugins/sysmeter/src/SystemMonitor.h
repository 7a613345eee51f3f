// SystemMonitor: what one System Monitor key draws each time it paints: the sample of its own
// ProcessSampler, the five top processes, the big figure, and the memory bar or the load history.
//
// Owned by one key instance, made when the key becomes active and destroyed when it becomes
// inactive; used on that instance's paint thread only. The two kinds of key each have their own.
// Needs the host's QGuiApplication for its fonts (without one it draws no text).
#pragma once

#include "MemoryStatus.h"
#include "ProcessSampler.h"

#include <pixkey/utility/CTextRenderer.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

struct PkxSurface;
class QImage;

namespace sysmeter {

// The last 32 processor loads, oldest first.
using LoadHistory = std::array<ProcessorLoad, 32>;

class SystemMonitor {
public:
    explicit SystemMonitor(const std::string &procRoot = "/proc", SamplerOptions options = {});

    // The two views, each on a face that already shows its cell of the strip: sample, then draw.
    void paintMemory(PkxSurface &surface);
    void paintProcessor(PkxSurface &surface);

    // The drawing alone, from given figures (the previews are drawn this way too). `processes`
    // is a sample's list, "Idle" first; the memory view without a status draws no figure and no
    // bar; the processor view shows the newest load of `history`.
    void drawMemory(PkxSurface &surface, const std::vector<ProcessEntry> &processes,
                    const std::optional<MemoryStatus> &memory);
    void drawProcessor(PkxSurface &surface, const std::vector<ProcessEntry> &processes, const LoadHistory &history);

    // `name` as a row shows it: without its extension, cut to what fits into 70 pixels.
    std::string shortName(const std::string &name);

    const LoadHistory &history() const { return m_history; }
    ProcessSampler &sampler() { return m_sampler; }

    // Copies the cell of `strip` (192 x 96: memory face, processor face) that `kind` shows onto
    // `surface`; any other kind gets a black face.
    static void drawStripCell(PkxSurface &surface, const QImage &strip, int kind);

private:
    // Up to five rows of `entries` ranked by `key`, largest first, each value printed with
    // `format` from `value`.
    template <class Key, class Value>
    void drawRows(PkxSurface &surface, std::vector<const ProcessEntry *> entries, Key key, const char *format,
                  Value value);
    void drawBar(PkxSurface &surface, int load);
    void drawGraph(PkxSurface &surface, const LoadHistory &history);

    pixkey::CTextRenderer m_listText; // "VELMORA_12PX", the rows
    pixkey::CTextRenderer m_bigText;  // "VELMORA_21PX", the big figure
    LoadHistory m_history{};
    ProcessSampler m_sampler;
    std::string m_procRoot;
};

} // namespace sysmeter
