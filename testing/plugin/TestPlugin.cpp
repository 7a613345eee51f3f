// The test plug-in of the host's catalogue, layout, runtime and configurator tests. One source,
// built as several plug-ins by pixkey_add_test_plugin() with these definitions:
//   TEST_ID, TEST_NAME            identifier and name (TEST_ID HOSTILE: an identifier made of path
//                                 separators and "..", for the tests of stored names)
//   TEST_FUNCTIONS                function count; a function's name is TEST_NAME, TEST_FUNCTION_WORD
//                                 and its number ("Alpha function 2", or "Multi 2" with a one-space word)
//   TEST_DEFAULT_FUNCTION         answered to PKX_INFO_DEFAULT_FUNCTION (0: not answered)
//   TEST_INSTANCE_PROPERTIES, TEST_LIBRARY_PROPERTIES   0 or 1
//   TEST_APPS, TEST_APP_TITLE     executables ('|'-separated here, ';' to the host) and title of an
//                                 application plug-in
//   TEST_DIALOG                   1: the plug-in describes itself (description, e-mail, web), has a
//                                 "Mode" instance property, and ShowProperties obeys it: "accept"
//                                 sets "Colour" to "changed" and reports a change, "throw" throws,
//                                 "crash" faults, anything else reports no change
// Library properties ("Server") belong to the function-0 object, shared by the library; instance
// properties ("Colour", with TEST_DIALOG also "Mode") to each instance.
// The face: red 200, green the length of "Colour" x 10, blue the function number x 40; painted once
// after it is made, activated, or a property changes. Setting "Block" to "1" (not a property) holds
// the next Paint until it is set to "0" (at most 10 s); GetInfo(1000) says "1" while one is held.
#include "pixkey_plugin.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#define HOSTILE "../up\\down/x\\..\\General"

#ifndef TEST_FUNCTIONS
#define TEST_FUNCTIONS 1
#endif
#ifndef TEST_FUNCTION_WORD
#define TEST_FUNCTION_WORD " function "
#endif
#ifndef TEST_DEFAULT_FUNCTION
#define TEST_DEFAULT_FUNCTION 0
#endif
#ifndef TEST_INSTANCE_PROPERTIES
#define TEST_INSTANCE_PROPERTIES 1
#endif
#ifndef TEST_LIBRARY_PROPERTIES
#define TEST_LIBRARY_PROPERTIES 0
#endif
#ifndef TEST_APPS
#define TEST_APPS ""
#endif
#ifndef TEST_APP_TITLE
#define TEST_APP_TITLE ""
#endif
#ifndef TEST_DIALOG
#define TEST_DIALOG 0
#endif
#ifndef TEST_PRESSES
#define TEST_PRESSES 0
#endif

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

intptr_t textOrNothing(const char *text)
{
    return *text ? reinterpret_cast<intptr_t>(text) : 0;
}

// Properties are set on the main thread while the paint thread paints.
std::mutex g_lock;
Properties g_library = {{"Server", "default"}}; // guarded by g_lock

class TestPlugin : public pkx::Plugin<TestPlugin> {
public:
    TestPlugin(const PkxModule *, int function) : m_function(function)
    {
        m_name = function == 0 ? TEST_NAME : std::string(TEST_NAME) + TEST_FUNCTION_WORD + std::to_string(function);
        m_description = "Describes " + m_name;
        // The build passes the list with '|' between the names: a ';' would split it there.
        for (char &c : m_applications)
            if (c == '|')
                c = ';';
        if (TEST_DIALOG)
            m_properties.emplace_back("Mode", "accept");
    }

    intptr_t GetInfo(int code)
    {
        switch (code) {
        case PKX_INFO_IDENTIFIER: return reinterpret_cast<intptr_t>(TEST_ID);
        case PKX_INFO_NAME: return reinterpret_cast<intptr_t>(m_name.c_str());
        case PKX_INFO_DESCRIPTION: return TEST_DIALOG ? reinterpret_cast<intptr_t>(m_description.c_str()) : 0;
        case PKX_INFO_AUTHOR: return reinterpret_cast<intptr_t>("Test author");
        case PKX_INFO_EMAIL: return TEST_DIALOG ? reinterpret_cast<intptr_t>("author@example.org") : 0;
        case PKX_INFO_WEB: return TEST_DIALOG ? reinterpret_cast<intptr_t>("Undefined") : 0;
        case PKX_INFO_APPLICATIONS: return textOrNothing(m_applications.c_str());
        case PKX_INFO_APPLICATION_TITLE: return textOrNothing(TEST_APP_TITLE);
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
        std::lock_guard lock(g_lock);
        if (index >= PKX_PROPERTY_LIBRARY_BASE)
            return m_function == 0 && copyOut(g_library, index - PKX_PROPERTY_LIBRARY_BASE, name, value);
        return copyOut(m_properties, index - PKX_PROPERTY_INSTANCE_BASE, name, value);
    }

    int SetProperty(const char *name, const char *value)
    {
        if (std::strcmp(name, "Block") == 0) {
            m_block = std::strcmp(value, "1") == 0;
            return 1;
        }
        std::lock_guard lock(g_lock);
        Properties &properties = m_function == 0 ? g_library : m_properties;
        bool found = false;
        for (auto &[n, v] : properties)
            if (n == name) {
                v = value;
                found = true;
            }
        if (!found)
            properties.emplace_back(name, value);
        m_painted = false;
        return 1;
    }

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
        const bool busy = TEST_PRESSES && property("Busy") == "1";
        if (m_painted.exchange(true) && !busy)
            return 0;
        const std::size_t green = property("Colour").size();
        // Presses and busy frames shift the red; without TEST_PRESSES the face is fixed.
        const uint8_t red = uint8_t(200 + (TEST_PRESSES ? m_presses.load() * 7 + m_frames++ * 3 : 0));
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.width; ++x) {
                uint8_t *p = surface.bits + y * surface.stride + x * 3;
                p[0] = uint8_t(m_function * 40);
                p[1] = uint8_t(green * 10);
                p[2] = red;
            }
        return 1;
    }

    void OnKeyDown()
    {
        if (!TEST_PRESSES)
            return;
        ++m_presses;
        m_painted = false;
    }

    int OnEvent(int code)
    {
        if (code == PKX_EVENT_ACTIVATE)
            m_painted = false;
        return 1;
    }

    int ShowProperties(void *)
    {
        if (!TEST_DIALOG)
            return 0;
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

    static constexpr int kBlockedInfo = 1000;

private:
    static bool copyOut(const Properties &properties, int i, char *name, char *value)
    {
        if (i < 0 || std::size_t(i) >= properties.size())
            return false;
        pkx::copyProperty(name, properties[std::size_t(i)].first.c_str());
        pkx::copyProperty(value, properties[std::size_t(i)].second.c_str());
        return true;
    }

    std::string property(const char *name) const
    {
        std::lock_guard lock(g_lock);
        for (const auto &[n, v] : m_properties)
            if (n == name)
                return v;
        return {};
    }

    int m_function;
    std::string m_name;
    std::string m_description;
    std::string m_applications = TEST_APPS;
    std::atomic<bool> m_block{false};
    std::atomic<bool> m_blocked{false};
    std::atomic<bool> m_painted{false};
    std::atomic<int> m_presses{0};
    int m_frames = 0; // paint thread only
    Properties m_properties = {{"Colour", "red"}}; // guarded by g_lock
};

} // namespace

PKX_DEFINE_EXPORTS(TestPlugin)
