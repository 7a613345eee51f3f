#pragma once

#include "AppCore.h"
#include "KeypadOutput.h"
#include "MainThreadQueue.h"
#include "TempStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pixkey::test {

// Records what the core asks of the keypad.
class RecordingKeypad : public KeypadOutput {
public:
    void connect() override { calls.push_back("connect"); }
    void holdDisplayUntilAllSent() override { calls.push_back("hold"); }
    void sendFace(int slot, PluginInstance &instance) override;
    void sendBlank(int slot) override { calls.push_back("blank " + std::to_string(slot)); }
    void setGamma(double gamma) override { calls.push_back("gamma " + std::to_string(int(gamma * 100 + 0.5))); }
    void setWhiteBalance(int kelvin) override { calls.push_back("white " + std::to_string(kelvin)); }
    void requestRefresh() override { calls.push_back("refresh"); }
    void setBrightness(int level) override { calls.push_back("brightness " + std::to_string(level)); }

    std::vector<std::string> calls;
    std::map<int, QImage> faces;
};

// An application core over a temporary store, a temporary program folder (with its "Plugins"
// subfolder) and a temporary user plug-in folder; the test thread is the main thread.
class CoreFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    PluginCatalogue::Folders folders() const;
    // A new core on the same store, as after a restart, loaded (without a device).
    void restart(const QString &profileSuffix = QString());
    // Full path of a built test plug-in, e.g. plugin("core_test_alpha").
    static QString plugin(const char *name);
    // Copies a test plug-in into the program's "Plugins" folder (a bundled plug-in).
    QString bundle(const char *name);
    // An entry installed by the user from the build folder; fails the test when it is not added.
    PluginEntry &install(const char *name);
    // Every key below `key` with its values, one line each, for comparing whole stores.
    QStringList dump(const KeyPath &key) const;
    // Pumps the main-thread queue until `done` holds (at most 10 s).
    bool pumpUntil(const std::function<bool()> &done);
    LayoutConfig &layout(const QString &name);

    TempStore t;
    QTemporaryDir programDir;
    QTemporaryDir userDir;
    MainThreadQueue queue;
    RecordingKeypad keypad;
    std::unique_ptr<AppCore> core;
    std::vector<QString> messages;
};

} // namespace pixkey::test
