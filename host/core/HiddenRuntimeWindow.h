#pragma once

#include "RuntimeWindow.h"

namespace pixkey {

class AppCore;

// The main window of a program that shows none: it installs plug-in files into the core and
// otherwise does nothing. The core must outlive it. Main thread.
class HiddenRuntimeWindow : public RuntimeWindow {
public:
    explicit HiddenRuntimeWindow(AppCore &core) : m_core(core) {}
    void layoutActivated(LayoutConfig *) override {}
    void facesChanged(PluginInstance *) override {}
    void rowChanged() override {}
    void connectionChanged(bool) override {}
    void coreReloaded() override {}
    void catalogueChanged() override {}
    int optionsBusy() const override { return 0; }
    bool keyPreviewHasFocus() const override { return false; }
    bool pluginListHasFocus() const override { return false; }
    void setTitle(const QString &withVersion, const QString &) override { m_title = withVersion; }
    void addPluginFile(const QString &path) override;
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void resizeTo(int width, int height) override { m_width = width; m_height = height; }
    void showWindow() override { ++m_showCount; }
    void closeAll() override {}

    const QString &title() const { return m_title; }
    int showCount() const { return m_showCount; }

private:
    AppCore &m_core;
    QString m_title;
    int m_width = 0;
    int m_height = 0;
    int m_showCount = 0;
};

} // namespace pixkey
