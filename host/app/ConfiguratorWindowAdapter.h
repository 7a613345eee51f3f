#pragma once

#include "RuntimeWindow.h"

#include <memory>

class QTimer;

namespace pixkey {

class AppCore;
class ConfiguratorWindow;
class Runtime;

// The configurator window as the runtime's main window: what the runtime tells the window goes to
// its slots, and what the user does in it (a new hotkey, a forced row, a turned keypad, Exit)
// comes back to the runtime as private messages. Owns the window; the core and the runtime must
// outlive it. Main thread.
class ConfiguratorWindowAdapter : public RuntimeWindow {
public:
    ConfiguratorWindowAdapter(AppCore &core, Runtime &runtime);
    ~ConfiguratorWindowAdapter() override;

    ConfiguratorWindow &window() const { return *m_window; }

    void layoutActivated(LayoutConfig *layout) override;
    void facesChanged(PluginInstance *instance) override;
    void rowChanged() override;
    void connectionChanged(bool connected) override;
    void coreReloaded() override;
    void catalogueChanged() override;
    int optionsBusy() const override;
    bool keyPreviewHasFocus() const override;
    bool pluginListHasFocus() const override;
    void setTitle(const QString &withVersion, const QString &withoutVersion) override;
    void addPluginFile(const QString &path) override;
    int width() const override;
    int height() const override;
    void resizeTo(int width, int height) override;
    void showWindow() override;
    void closeAll() override;
    TrayState trayState() const override;

private:
    static constexpr int kProblemPollMs = 1000;
    void showKeypadProblem(Runtime &runtime);

    AppCore &m_core;
    std::unique_ptr<ConfiguratorWindow> m_window;
    QTimer *m_problemTimer = nullptr; // owned by the window; runs while the keypad is not connected
};

} // namespace pixkey
