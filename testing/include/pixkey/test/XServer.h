// XServer: a private X display for tests that need a real X server, optionally with a window
// manager.
//
// Starts: Xvfb with -nolisten tcp and -noreset on a display number it picks itself (-displayfd),
// and with Options::windowManager openbox on it (--sm-disable).
// Ready: Xvfb writes the display number once it accepts clients; openbox is ready when it
// announces itself on the root window (_NET_SUPPORTING_WM_CHECK).
// Stops: in the destructor, openbox then Xvfb, by pid (TERM, then KILL), reaped.
// When Xvfb or openbox is missing or does not come up, running() is false and skipReason() says
// why in a sentence; tests skip with it.
//
// XServerEnvironment runs one XServer for a whole test program and sets DISPLAY to it:
//     const auto *const x = ::testing::AddGlobalTestEnvironment(new XServerEnvironment({.windowManager = true}));
//     ... in a test: if (!XServerEnvironment::running()) GTEST_SKIP() << XServerEnvironment::skipReason();
//
// Threads: made and destroyed on one thread; the accessors are const and may be read anywhere.
#pragma once

#include <pixkey/test/ServiceProcess.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace pixkey::test {

class XServer {
public:
    struct Options {
        bool windowManager = false;       // openbox, for _NET_ACTIVE_WINDOW and focus changes
        std::string screen = "640x480x24"; // Xvfb's screen 0
        std::chrono::milliseconds deadline{20000}; // for each of Xvfb and openbox to come up
    };

    explicit XServer(Options options);
    XServer() : XServer(Options{}) {}
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    bool running() const { return m_skipReason.empty(); }
    const std::string &skipReason() const { return m_skipReason; }
    const std::string &display() const { return m_display; } // ":N"; empty when Xvfb did not start
    std::string environmentEntry() const { return "DISPLAY=" + m_display; } // for ServiceProcess
    void exportDisplay() const; // sets DISPLAY in this process
    // Stops openbox and Xvfb now (a display that goes away under the code under test).
    void stop();

private:
    std::unique_ptr<ServiceProcess> m_server;
    std::unique_ptr<ServiceProcess> m_windowManager;
    std::string m_display;
    std::string m_skipReason;
};

// One XServer for the test program: started in SetUp (DISPLAY set), stopped in TearDown.
class XServerEnvironment : public ::testing::Environment {
public:
    explicit XServerEnvironment(XServer::Options options = {}) : m_options(options) {}

    void SetUp() override;
    void TearDown() override;

    static bool running();
    static std::string skipReason(); // says "not set up" before SetUp ran
    static std::string display();

private:
    XServer::Options m_options;
    static inline std::unique_ptr<XServer> s_server;
};

} // namespace pixkey::test
