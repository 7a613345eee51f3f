// A configurable test plug-in for the catalogue and layout tests. Built several times with
// different definitions: TEST_ID, TEST_NAME, TEST_FUNCTIONS, TEST_DEFAULT_FUNCTION (0: not
// answered), TEST_LIBRARY_PROPERTIES (0/1), TEST_INSTANCE_PROPERTIES (0/1). TEST_ID HOSTILE stands
// for an identifier made of path separators and "..".
#include "pixkey_plugin.hpp"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <map>
#include <string>
#include <utility>
#include <vector>

#define HOSTILE "../up\\down/x\\..\\General"
#define TEST_APPS "alpha.bin;Other App.exe"

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

void setIn(Properties &properties, const char *name, const char *value)
{
    for (auto &[n, v] : properties)
        if (n == name) {
            v = value;
            return;
        }
    properties.emplace_back(name, value);
}

bool getFrom(const Properties &properties, int i, char *name, char *value)
{
    if (i < 0 || std::size_t(i) >= properties.size())
        return false;
    pkx::copyProperty(name, properties[std::size_t(i)].first.c_str());
    pkx::copyProperty(value, properties[std::size_t(i)].second.c_str());
    return true;
}

Properties g_library = {{"Server", "default"}};

class Probe : public pkx::Plugin<Probe> {
public:
    Probe(const PkxModule *, int function) : m_function(function)
    {
        m_name = function == 0 ? TEST_NAME : std::string(TEST_NAME) + " function " + std::to_string(function);
    }

    intptr_t GetInfo(int code)
    {
        switch (code) {
        case PKX_INFO_IDENTIFIER: return reinterpret_cast<intptr_t>(TEST_ID);
        case PKX_INFO_NAME: return reinterpret_cast<intptr_t>(m_name.c_str());
        case PKX_INFO_AUTHOR: return reinterpret_cast<intptr_t>("Test author");
        case PKX_INFO_APPLICATIONS: return reinterpret_cast<intptr_t>(TEST_APPS);
        case PKX_INFO_FUNCTION_COUNT: return TEST_FUNCTIONS;
        case PKX_INFO_DEFAULT_FUNCTION: return TEST_DEFAULT_FUNCTION;
        case PKX_INFO_PAINT_PERIOD: return 20;
        case PKX_INFO_HAS_PROPERTIES: return TEST_INSTANCE_PROPERTIES;
        case PKX_INFO_HAS_LIBRARY_PROPERTIES: return m_function == 0 ? TEST_LIBRARY_PROPERTIES : 0;
        case kBlockedInfo: return reinterpret_cast<intptr_t>(m_blocked ? "1" : "0");
        default: return 0;
        }
    }

    int GetProperty(int index, char *name, char *value)
    {
        if (index >= PKX_PROPERTY_LIBRARY_BASE)
            return m_function == 0 && getFrom(g_library, index - PKX_PROPERTY_LIBRARY_BASE, name, value);
        return getFrom(m_properties, index - PKX_PROPERTY_INSTANCE_BASE, name, value);
    }

    int SetProperty(const char *name, const char *value)
    {
        if (std::strcmp(name, "Block") == 0) { // not a property: holds the next Paint until cleared
            m_block = std::strcmp(value, "1") == 0;
            return 1;
        }
        setIn(m_function == 0 ? g_library : m_properties, name, value);
        return 1;
    }

    // Paints the function number into the blue channel and the "Colour" length into green, once.
    int Paint(PkxSurface &surface)
    {
        if (m_block) {
            m_blocked = true;
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (m_block && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            m_blocked = false;
            return 0;
        }
        if (m_painted)
            return 0;
        m_painted = true;
        std::size_t green = 0;
        for (auto &[n, v] : m_properties)
            if (n == "Colour")
                green = v.size();
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.width; ++x) {
                uint8_t *p = surface.bits + y * surface.stride + x * 3;
                p[0] = uint8_t(m_function * 40);
                p[1] = uint8_t(green * 10);
                p[2] = 200;
            }
        return 1;
    }

    int OnEvent(int code)
    {
        if (code == PKX_EVENT_ACTIVATE)
            m_painted = false;
        return 1;
    }

    // GetInfo code of this test plug-in: "1" while a Paint is held by the "Block" setting.
    static constexpr int kBlockedInfo = 1000;

private:
    std::atomic<bool> m_block{false};
    std::atomic<bool> m_blocked{false};
    int m_function;
    std::string m_name;
    bool m_painted = false;
    Properties m_properties = {{"Colour", "red"}};
};

} // namespace

PKX_DEFINE_EXPORTS(Probe)
