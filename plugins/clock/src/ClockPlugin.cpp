#include "ClockPlugin.hpp"

#include "ClockDialog.hpp"
#include "ClockLibrary.hpp"

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <charconv>
#include <chrono>
#include <cstring>
#include <string>
#include <pixkey/utility/PkxImages.h>

namespace pixkey::clock {

namespace {

constexpr const char *kPropertyNames[] = {"CityId",    "Degrees", "TextColor",
                                          "ClockView", "Hour24",  "UseLocalTime"};
constexpr int kPropertyCount = 6;

// A property value: a decimal integer (with sign); anything else reads as 0, as a C library
// conversion would, and values beyond 32 bits keep their low bits like a colour written unsigned.
int parseValue(const char *text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t')
        ++text;
    long long value = 0;
    const char *end = text + std::strlen(text);
    std::from_chars(text, end, value);
    return static_cast<int>(static_cast<uint32_t>(value));
}

} // namespace

ClockPlugin::ClockPlugin(const PkxModule *module, int function)
{
    ClockLibrary &library = ClockLibrary::instance(module);
    m_env.art = &library.art();
    m_env.cities = &library.cities();
    m_env.weather = &library.weather();
    m_env.describing = function == 0;
}

ClockPlugin::ClockPlugin(Environment environment) : m_env(std::move(environment)) {}

ClockPlugin::~ClockPlugin() = default;

int64_t ClockPlugin::now() const
{
    if (m_env.nowMs)
        return m_env.nowMs();
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

ClockSettings ClockPlugin::settings() const
{
    std::lock_guard lock(m_lock);
    return m_settings;
}

int ClockPlugin::Paint(PkxSurface &surface)
{
    if (!m_renderer || !surface.bits || surface.width != PKX_FACE_SIZE ||
        surface.height != PKX_FACE_SIZE || surface.stride < PKX_FACE_STRIDE)
        return 0;
    const int64_t utcMs = now();
    // Whole seconds, floored, so times before 1970 step like any other.
    const int64_t second = utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000;
    if (second == m_lastSecond)
        return 0;
    m_lastSecond = second;
    m_renderer->draw(surface, utcMs);
    return 1;
}

intptr_t ClockPlugin::GetInfo(int code)
{
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return reinterpret_cast<intptr_t>("bsp.clock.mfc5");
    case PKX_INFO_NAME:
        return reinterpret_cast<intptr_t>("Time and Weather");
    case PKX_INFO_DESCRIPTION:
        return reinterpret_cast<intptr_t>("Displays date, time, day of the week, moon phase, weather.");
    case PKX_INFO_AUTHOR:
        return reinterpret_cast<intptr_t>("Copyright (C) Vostrel and the Pixkey mini contributors");
    case PKX_INFO_EMAIL:
        return reinterpret_cast<intptr_t>("support@pixkey.invalid");
    case PKX_INFO_WEB:
        return reinterpret_cast<intptr_t>("https://pixkey.invalid/plugins/clock");
    case PKX_INFO_PAINT_PERIOD:
        return 200;
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(ClockLibrary::iconPicture(), 16));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(ClockLibrary::iconPicture(), 32));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(ClockLibrary::previewPicture(), 96));
    case PKX_INFO_HAS_PROPERTIES:
        return 1;
    case PKX_INFO_HAS_LIBRARY_PROPERTIES:
        return m_env.describing && m_env.weather ? 1 : 0;
    default:
        return 0;
    }
}

int ClockPlugin::GetProperty(int index, char *name, char *value)
{
    if (index >= PKX_PROPERTY_LIBRARY_BASE) {
        if (!m_env.describing || !m_env.weather || index != PKX_PROPERTY_LIBRARY_BASE)
            return 0;
        if (name)
            pkx::copyProperty(name, kWeatherSourceProperty);
        if (value)
            pkx::copyProperty(value, m_env.weather->source().c_str());
        return 1;
    }
    std::lock_guard lock(m_lock);
    const int i = index - PKX_PROPERTY_INSTANCE_BASE;
    if (i < 0 || i >= kPropertyCount) {
        // The host asks past the last property when it saves them all: an instance that has no
        // city by then shows the computer's own time.
        if (m_settings.cityId == -1)
            m_settings.useLocalTime = 1;
        return 0;
    }
    const ClockSettings &s = m_settings;
    const long long values[] = {s.cityId, s.degrees, static_cast<long long>(s.textColor),
                                s.clockView, s.hour24, s.useLocalTime};
    if (name)
        pkx::copyProperty(name, kPropertyNames[i]);
    if (value)
        pkx::copyProperty(value, std::to_string(values[i]).c_str());
    return 1;
}

int ClockPlugin::SetProperty(const char *name, const char *value)
{
    if (!name)
        return 0;
    if (m_env.describing) {
        if (!m_env.weather || std::strncmp(name, kWeatherSourceProperty, PKX_PROPERTY_TEXT_SIZE) != 0)
            return 0;
        return m_env.weather->setSource(value ? value : "") ? 1 : 0;
    }
    const int number = parseValue(value);
    std::lock_guard lock(m_lock);
    ClockSettings &s = m_settings;
    for (int i = 0; i < kPropertyCount; ++i) {
        if (std::strncmp(name, kPropertyNames[i], PKX_PROPERTY_TEXT_SIZE) != 0)
            continue;
        switch (i) {
        case 0: s.cityId = number; break;
        case 1: s.degrees = number; break;
        case 2: s.textColor = static_cast<uint32_t>(number); break;
        case 3: s.clockView = number; break;
        case 4: s.hour24 = number; break;
        case 5: s.useLocalTime = number; break;
        }
        return 1;
    }
    return 0;
}

int ClockPlugin::ShowProperties(void *parent)
{
    // A dialog needs the host's application object; without one there is nothing to show.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return 0;
    ClockDialog dialog(static_cast<QWidget *>(parent), settings(), *m_env.art, *m_env.cities,
                       m_env.weather, m_env.nowMs);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    const ClockSettings chosen = dialog.chosenSettings();
    std::lock_guard lock(m_lock);
    m_settings = chosen;
    if (m_renderer)
        m_renderer->apply(chosen);
    return 1;
}

int ClockPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        auto renderer = std::make_unique<ClockRenderer>(*m_env.art, *m_env.cities, m_env.weather);
        std::lock_guard lock(m_lock);
        renderer->apply(m_settings);
        m_renderer = std::move(renderer);
        m_lastSecond = kNoSecond; // a new activation paints at once
    } else if (code == PKX_EVENT_DEACTIVATE) {
        std::unique_ptr<ClockRenderer> old;
        std::lock_guard lock(m_lock);
        old = std::move(m_renderer);
    }
    return 1;
}

} // namespace pixkey::clock
