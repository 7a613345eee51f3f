// A configurator on a real application core: a settings store in a temporary folder, temporary
// program and user plug-in folders, a keypad that records what it is asked, and a message-box seam
// that records every message and answers with `answer`. The test thread is the main thread.
#pragma once

#include "AppCore.h"
#include "ConfiguratorWindow.h"
#include "KeypadOutput.h"
#include "MainThreadQueue.h"
#include "SettingsStore.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// Readable test output for texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace pixkey::test {

class RecordingKeypad : public KeypadOutput {
public:
    void connect() override { calls.push_back("connect"); }
    void holdDisplayUntilAllSent() override { calls.push_back("hold"); }
    void sendFace(int slot, PluginInstance &instance) override;
    void sendBlank(int slot) override;
    void setGamma(double gamma) override { calls.push_back("gamma " + std::to_string(int(gamma * 100 + 0.5))); }
    void setWhiteBalance(int kelvin) override { calls.push_back("white " + std::to_string(kelvin)); }
    void requestRefresh() override { calls.push_back("refresh"); }
    void setBrightness(int level) override { calls.push_back("brightness " + std::to_string(level)); }

    bool saw(const std::string &call) const;
    std::vector<std::string> calls;
    std::map<int, QImage> faces; // what each key shows now (null after a blank)
};

struct Message {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
};

class ConfiguratorFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new core and window on the same store, as after a restart.
    void restart();
    static QString plugin(const char *name);
    PluginEntry &install(const char *name);
    LayoutConfig &layout(const QString &name);
    // Pumps face hand-offs until `done` holds (at most 10 s).
    bool pumpUntil(const std::function<bool()> &done);
    // The function item of the tree named `text` (first match, any depth), or null.
    QTreeWidgetItem *treeItem(const QString &text) const;
    PluginInstance *instanceAt(int key, int row = -1) const;
    QAction *action(QMenu &menu, const QString &text) const;

    QTemporaryDir storeDir;
    QTemporaryDir programDir;
    QTemporaryDir userDir;
    std::unique_ptr<SettingsStore> store;
    MainThreadQueue queue;
    RecordingKeypad keypad;
    std::unique_ptr<AppCore> core;
    std::unique_ptr<ConfiguratorWindow> window;
    std::vector<Message> messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
};

} // namespace pixkey::test
