#pragma once

#include "DesktopReport.h"

#include <QString>

namespace pixkey {

class LayoutConfig;
class PluginInstance;

// What the runtime needs of the program's main window: following the active layout and the keys,
// the keypad connection, whether the user is busy in it, its title and showing it. The
// configurator window implements it; `HiddenRuntimeWindow` is the window of a program without
// one. Main thread.
class RuntimeWindow {
public:
    virtual ~RuntimeWindow() = default;
    virtual void layoutActivated(LayoutConfig *layout) = 0;
    // Faces changed (null: all keys); the key preview repaints.
    virtual void facesChanged(PluginInstance *instance) = 0;
    // The current row changed: row selector, Options buttons and the information area follow.
    virtual void rowChanged() = 0;
    virtual void connectionChanged(bool connected) = 0;
    // Everything was loaded again from the store (a profile was adopted).
    virtual void coreReloaded() = 0;
    virtual void catalogueChanged() = 0;
    // How many plug-in options dialogs are open: no row switching meanwhile.
    virtual int optionsBusy() const = 0;
    // The keyboard focus is on the key preview (no row switching) / on the plug-in list.
    virtual bool keyPreviewHasFocus() const = 0;
    virtual bool pluginListHasFocus() const = 0;
    virtual void setTitle(const QString &withVersion, const QString &withoutVersion) = 0;
    // Installs a plug-in file named by the command line or another copy.
    virtual void addPluginFile(const QString &path) = 0;
    // The window's size to keep (0, 0 when it was never shown).
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void resizeTo(int width, int height) = 0;
    virtual void showWindow() = 0;
    virtual void closeAll() = 0;
    // Whether the program's icon found a notification area (for the "Desktop" report).
    virtual TrayState trayState() const { return TrayState::Unknown; }
};

} // namespace pixkey
