#include "BrowserSettings.h"

#include <pixkey_plugin.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace browser {

namespace {

enum class Kind { Int, Text };

struct Field {
    const char *name;
    Kind kind;
    int BrowserSettings::*number;
    std::string BrowserSettings::*text;
};

// In property order: index 256 + position.
const Field kFields[] = {
    {"Height", Kind::Int, &BrowserSettings::height, nullptr},
    {"Width", Kind::Int, &BrowserSettings::width, nullptr},
    {"URL", Kind::Text, nullptr, &BrowserSettings::url},
    {"Target", Kind::Text, nullptr, &BrowserSettings::target},
    {"ReloadPeriod", Kind::Int, &BrowserSettings::reloadPeriod, nullptr},
    {"Autoscroll", Kind::Int, &BrowserSettings::autoscroll, nullptr},
    {"Animation", Kind::Int, &BrowserSettings::animation, nullptr},
    {"TargetTop", Kind::Int, &BrowserSettings::targetTop, nullptr},
    {"TargetLeft", Kind::Int, &BrowserSettings::targetLeft, nullptr},
    {"TargetSize", Kind::Int, &BrowserSettings::targetSize, nullptr},
    {"Action", Kind::Int, &BrowserSettings::action, nullptr},
};

int parseDecimal(const char *text)
{
    if (!text)
        return 0;
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace

int pageSide(int stored)
{
    return std::clamp(stored, kMinPageSide, kMaxPageSide);
}

int getProperty(const BrowserSettings &settings, int index, char *name, char *value)
{
    const int position = index - PKX_PROPERTY_INSTANCE_BASE;
    if (position < 0 || position >= static_cast<int>(std::size(kFields)) || !name || !value)
        return 0;
    const Field &field = kFields[position];
    pkx::copyProperty(name, field.name);
    pkx::copyProperty(value, field.kind == Kind::Text ? settings.*field.text : std::to_string(settings.*field.number));
    return 1;
}

int setProperty(BrowserSettings &settings, const char *name, const char *value)
{
    if (!name)
        return 0;
    for (const Field &field : kFields) {
        if (std::strncmp(name, field.name, PKX_PROPERTY_TEXT_SIZE) != 0)
            continue;
        if (field.kind == Kind::Text)
            settings.*field.text = value ? value : "";
        else
            settings.*field.number = parseDecimal(value);
        return 1;
    }
    return 0;
}

} // namespace browser
