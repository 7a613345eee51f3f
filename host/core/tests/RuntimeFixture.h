#pragma once

#include "HiddenRuntimeWindow.h"
#include "Runtime.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace pixkey::test {

// A window that remembers what the runtime asked of it.
class RecordingWindow : public HiddenRuntimeWindow {
public:
    using HiddenRuntimeWindow::HiddenRuntimeWindow;
    void connectionChanged(bool connected) override { lastConnected = connected; }
    bool lastConnected = false;
};

// Whole host processes in this test process: each `Runtime` gets its own settings folder and the
// program folder with the bundled Vegas plug-in; all share one private peers' folder, so copies
// find each other as separate programs would. Keypads are emulated; no display, no logind, no
// udev. The test thread is the main thread.
class RuntimeFixture : public ::testing::Test {
public:
    // Processes this thread's events until `done` holds; false after `timeout`.
    static bool pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

protected:
    void SetUp() override;
    void TearDown() override;

    // A runtime whose link goes to `port` (an emulator's link path, or a path with nothing there).
    std::unique_ptr<Runtime> makeRuntime(const QString &name, const QString &port, QStringList arguments = {});
    // A running emulated keypad with a fresh link path.
    KeypadEmulator &startKeypad(const QString &name);
    RecordingWindow &windowOf(Runtime &runtime) { return static_cast<RecordingWindow &>(runtime.window()); }
    QString storeFolder(const QString &name) const;

    QTemporaryDir dir;
    std::vector<std::unique_ptr<EmulatedKeypad>> keypads;
    std::vector<int> exitCodes;
};

} // namespace pixkey::test
