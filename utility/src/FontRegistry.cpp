#include "FontRegistry.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QStringList>

#include <cstring>
#include <mutex>

namespace pixkey {

namespace {

struct FontSpec {
    const char *name;
    const char *file; // in the library's resources
    int pixelSize;    // em size handed to the font engine
    int lineHeight;   // the line cell the name promises
    QFont::Weight weight;
};

// Em sizes are chosen so that ascent plus descent of DejaVu (1.164 em) fills the named line.
constexpr FontSpec kFonts[] = {
    {"VELMORA_12PX", ":/pixkey/utility/fonts/DejaVuSans.ttf", 10, 12, QFont::Normal},
    {"VELMORA_16PX", ":/pixkey/utility/fonts/DejaVuSansCondensed.ttf", 13, 16, QFont::Normal},
    {"VELMORA_21PX", ":/pixkey/utility/fonts/DejaVuSansCondensed-Bold.ttf", 18, 21, QFont::Bold},
    {"TIMELINE", ":/pixkey/utility/fonts/DejaVuSansMono.ttf", 8, 10, QFont::Normal},
};

// Families registered from the resources, by kFonts index. All fonts are registered together on
// first use, and fonts are looked up only under registryLock, so no thread of this library builds
// a font while another changes Qt's font database.
std::mutex registryLock;
bool registered = false;                         // guarded by registryLock
QString registeredFamily[std::size(kFonts)];     // guarded by registryLock

bool haveGuiApplication()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

// Caller holds registryLock.
void registerFonts()
{
    if (registered)
        return;
    registered = true;
    for (std::size_t i = 0; i < std::size(kFonts); ++i) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kFonts[i].file));
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            registeredFamily[i] = families.first();
    }
}

} // namespace

std::optional<PixelFont> pixelFont(const char *resourceName, bool fallback)
{
    if (!resourceName || !haveGuiApplication())
        return std::nullopt;
    for (std::size_t i = 0; i < std::size(kFonts); ++i) {
        const FontSpec &spec = kFonts[i];
        if (std::strcmp(spec.name, resourceName) != 0)
            continue;
        std::lock_guard<std::mutex> guard(registryLock);
        registerFonts();
        if (registeredFamily[i].isEmpty())
            return std::nullopt;
        PixelFont result;
        result.font = QFont(registeredFamily[i]);
        result.font.setPixelSize(spec.pixelSize);
        result.font.setWeight(spec.weight);
        // Full hinting snaps stems and the baseline to whole pixels; with grey-level smoothing on
        // top, the small sizes stay crisp on the OLED without the jagged look of 1-bit glyphs.
        result.font.setHintingPreference(QFont::PreferFullHinting);
        int strategy = QFont::PreferAntialias;
        if (!fallback)
            strategy |= QFont::NoFontMerging;
        result.font.setStyleStrategy(QFont::StyleStrategy(strategy));
        result.font.setKerning(false);
        const QFontMetrics metrics(result.font);
        result.lineHeight = spec.lineHeight;
        // Centre the font's own height in the named line, so glyphs never start above the top edge.
        const int fontHeight = metrics.ascent() + metrics.descent();
        result.ascent = metrics.ascent() + std::max(0, (spec.lineHeight - fontHeight) / 2);
        return result;
    }
    return std::nullopt;
}

} // namespace pixkey
