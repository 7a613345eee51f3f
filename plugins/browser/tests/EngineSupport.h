// Shared by the tests that run the real web engine: the test program's engine probe, waiting with
// Qt's events flowing, a paint thread, a plug-in object made by Browser.pkx, and the test pages.
#pragma once

#include <pixkey/test/LocalHttpServer.h>
#include <pixkey_plugin.h>

#include <QColor>
#include <QImage>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace browsertest {

using namespace std::chrono_literals;

// Why the web engine cannot run in this test program (empty when it can).
const std::string &engineSkipReason();
// The test program's page server.
pixkey::test::LocalHttpServer &pages();

#define SKIP_WITHOUT_ENGINE()                                                                   \
    do {                                                                                        \
        if (!::browsertest::engineSkipReason().empty())                                         \
            GTEST_SKIP() << "web engine unavailable: " << ::browsertest::engineSkipReason();    \
    } while (0)

// Processes Qt's events (and `pump`, when given) until `done` holds or `deadline` passes.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline = 30s,
               const std::function<void()> &pump = {});
// Processes Qt's events for `time`.
void spin(std::chrono::milliseconds time);

// A thread standing in for a key's paint thread: `run` hands it a call and processes the main
// thread's events until the call returns.
class PaintThread {
public:
    PaintThread();
    ~PaintThread();
    void run(const std::function<void()> &call);

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_calls; // guarded by m_lock
    bool m_stop = false;                       // guarded by m_lock
    std::thread m_thread;
};

// A Browser object made by Browser.pkx itself, driven through its operation table, with a face.
class PluginObject {
public:
    PluginObject();
    ~PluginObject();
    void set(const char *name, const std::string &value);
    int paint();                // on the paint thread
    void keyDown();             // on the paint thread
    void event(int code);       // on the paint thread
    // Paints every 100 ms until `done` holds for the face (after a paint that returned 1).
    bool paintUntil(const std::function<bool(const QImage &)> &done, std::chrono::milliseconds deadline = 30s);
    QImage face() const { return m_face.copy(); }
    PkxPlugin *object() const { return m_object; }

private:
    PaintThread m_thread;
    void *m_library = nullptr;
    PkxModule m_module{};
    PkxPlugin *m_object = nullptr;
    PkxDeleteFn m_delete = nullptr;
    QImage m_face{96, 96, QImage::Format_BGR888};
};

// Colour of block (column 0..3, row 0..7) of the blocks page, 256x250 pixels each.
QColor blockColour(int column, int row);
// Colours equal within a few steps (text smoothing and scaling leave none on flat blocks).
bool near(const QColor &a, const QColor &b, int tolerance = 3);
bool showsProgress(const QImage &face);
bool showsError(const QImage &face);

} // namespace browsertest
