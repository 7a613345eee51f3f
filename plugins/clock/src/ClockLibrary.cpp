#include "ClockLibrary.hpp"

#include <pixkey_plugin.h>

#include <dlfcn.h>

namespace pixkey::clock {

namespace {

// The path of the shared object this code lives in.
std::string ownLibraryPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ownLibraryPath), &info) != 0 && info.dli_fname)
        return info.dli_fname;
    return {};
}

QImage loadPicture(const char *name, QImage::Format format)
{
    QImage image(QString::fromLatin1(":/clock/%1.png").arg(QLatin1String(name)));
    return image.isNull() ? image : image.convertToFormat(format);
}

} // namespace

std::string ClockLibrary::tablePath(const std::string &pluginPath)
{
    const auto slash = pluginPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : pluginPath.substr(0, slash);
    return folder + "/ClockTimezones.txt";
}

ClockLibrary::ClockLibrary(const std::string &pluginPath)
    : m_cities(CityTable::load(tablePath(pluginPath))), m_art(loadArt()),
      m_weather(std::make_unique<WeatherCache>(WeatherCache::defaultOptions()))
{
}

ClockLibrary &ClockLibrary::instance(const PkxModule *module)
{
    static ClockLibrary library(module && module->path && *module->path ? std::string(module->path)
                                                                         : ownLibraryPath());
    return library;
}

ClockArt ClockLibrary::loadArt()
{
    ClockArt art;
    art.analogFace = loadPicture("8003", QImage::Format_RGB32);
    art.digitalBack = loadPicture("8001", QImage::Format_RGB32);
    art.moonStrip = loadPicture("8009", QImage::Format_ARGB32_Premultiplied);
    if (art.analogFace.isNull()) {
        art.analogFace = QImage(384, 384, QImage::Format_RGB32);
        art.analogFace.fill(Qt::black);
    }
    if (art.digitalBack.isNull()) {
        art.digitalBack = QImage(96, 96, QImage::Format_RGB32);
        art.digitalBack.fill(Qt::black);
    }
    return art;
}

QImage ClockLibrary::previewPicture()
{
    return loadPicture("8028", QImage::Format_ARGB32);
}

QImage ClockLibrary::iconPicture()
{
    return loadPicture("BIG_ICON", QImage::Format_ARGB32);
}

} // namespace pixkey::clock
