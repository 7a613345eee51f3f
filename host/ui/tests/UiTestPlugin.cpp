// A test plug-in for the configurator's tests, built several times with different definitions:
// TEST_ID, TEST_NAME, TEST_FUNCTIONS, TEST_APPS (executables, ';'-separated, may be empty) and
// TEST_APP_TITLE. Its instance properties are "Colour" and "Mode"; "Mode" decides what
// ShowProperties does: "accept" sets "Colour" to "changed" and reports a change, "throw" throws,
// "crash" faults, anything else reports no change.
#include "pixkey_plugin.hpp"

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

class UiProbe : public pkx::Plugin<UiProbe> {
public:
    UiProbe(const PkxModule *, int function) : m_function(function)
    {
        m_name = function == 0 ? TEST_NAME : std::string(TEST_NAME) + " " + std::to_string(function);
        m_description = "Describes " + m_name;
    }

    intptr_t GetInfo(int code)
    {
        switch (code) {
        case PKX_INFO_IDENTIFIER: return reinterpret_cast<intptr_t>(TEST_ID);
        case PKX_INFO_NAME: return reinterpret_cast<intptr_t>(m_name.c_str());
        case PKX_INFO_DESCRIPTION: return reinterpret_cast<intptr_t>(m_description.c_str());
        case PKX_INFO_AUTHOR: return reinterpret_cast<intptr_t>("Test author");
        case PKX_INFO_EMAIL: return reinterpret_cast<intptr_t>("author@example.org");
        case PKX_INFO_WEB: return reinterpret_cast<intptr_t>("Undefined");
        case PKX_INFO_APPLICATIONS: return reinterpret_cast<intptr_t>(TEST_APPS);
        case PKX_INFO_APPLICATION_TITLE: return reinterpret_cast<intptr_t>(TEST_APP_TITLE);
        case PKX_INFO_FUNCTION_COUNT: return TEST_FUNCTIONS;
        case PKX_INFO_PAINT_PERIOD: return 20;
        case PKX_INFO_HAS_PROPERTIES: return 1;
        default: return 0;
        }
    }

    int GetProperty(int index, char *name, char *value)
    {
        const int i = index - PKX_PROPERTY_INSTANCE_BASE;
        std::lock_guard lock(m_lock);
        if (i < 0 || std::size_t(i) >= m_properties.size())
            return 0;
        pkx::copyProperty(name, m_properties[std::size_t(i)].first.c_str());
        pkx::copyProperty(value, m_properties[std::size_t(i)].second.c_str());
        return 1;
    }

    int SetProperty(const char *name, const char *value)
    {
        std::lock_guard lock(m_lock);
        for (auto &[n, v] : m_properties)
            if (n == name) {
                v = value;
                m_painted = false;
                return 1;
            }
        m_properties.emplace_back(name, value);
        m_painted = false;
        return 1;
    }

    // The face: red = 200, green = length of "Colour", blue = function number x 40.
    int Paint(PkxSurface &surface)
    {
        if (m_painted.exchange(true))
            return 0;
        const std::size_t green = property("Colour").size();
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

    int ShowProperties(void *)
    {
        const std::string mode = property("Mode");
        if (mode == "throw")
            throw std::runtime_error("the dialog failed");
        if (mode == "crash")
            std::raise(SIGSEGV);
        if (mode == "accept") {
            SetProperty("Colour", "changed");
            return 1;
        }
        return 0;
    }

private:
    std::string property(const char *name) const
    {
        std::lock_guard lock(m_lock);
        for (const auto &[n, v] : m_properties)
            if (n == name)
                return v;
        return {};
    }

    int m_function;
    std::string m_name;
    std::string m_description;
    // Properties are set on the main thread while the paint thread paints.
    mutable std::mutex m_lock;
    std::atomic<bool> m_painted{false};
    Properties m_properties = {{"Colour", "red"}, {"Mode", "accept"}};
};

} // namespace

PKX_DEFINE_EXPORTS(UiProbe)
