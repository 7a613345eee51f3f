// BrowserPlugin: the "Browser" plug-in object: a key that shows a chosen square of a web page,
// reloaded on its period, optionally re-captured at every paint and scrolled, with a progress bar
// while loading and the error screen when the page fails; a press reloads it and may open it in
// the user's browser.
//
// Created and deleted by the library's Create and Delete (on the main thread, or on an abandoned
// paint thread when the host gave up waiting for it). Paint, OnKeyDown and OnEvent run on the
// instance's paint thread and own the capture cycle and its page; GetInfo, GetProperty,
// SetProperty and ShowProperties run on the main thread and reach the settings under m_lock,
// which is never held while waiting for the main thread.
#pragma once

#include "BrowserSettings.h"

#include <pixkey_plugin.hpp>

#include <cstdint>
#include <memory>
#include <mutex>

namespace browser {

class CaptureCycle;
class MainThreadPage;

class BrowserPlugin : public pkx::Plugin<BrowserPlugin> {
public:
    BrowserPlugin(const PkxModule *module, int function);
    ~BrowserPlugin();

    // [paint-thread] The capture cycle; 1 when it drew a face.
    int Paint(PkxSurface &surface);
    // [paint-thread] Opens the page shown or "Target" as "Action" says, and reloads the page.
    void OnKeyDown();
    // [main-thread]
    intptr_t GetInfo(int code);
    // [main-thread] 256 "Height" ... 266 "Action"; 0 for other indices.
    int GetProperty(int index, char *name, char *value);
    // [main-thread] 1 for the eleven names, 0 for others. Takes effect from the next paint.
    int SetProperty(const char *name, const char *value);
    // [main-thread] The "Browser" dialog; on OK the new settings are applied with navigation at
    // the next paint, and 1 is returned.
    int ShowProperties(void *parent);
    // [paint-thread] 1: activate (the first activation of the process loads the web engine);
    // 2: load the empty page and deactivate. Returns 1.
    int OnEvent(int code);

    BrowserSettings settings() const;

private:
    // [paint-thread] Hands settings changed on the main thread to the cycle.
    void syncSettings();

    const bool m_keyInstance;

    mutable std::mutex m_lock;
    BrowserSettings m_settings; // guarded by m_lock
    bool m_applyPending = false; // guarded by m_lock: the dialog's OK waits for the paint thread

    // Paint thread only (made at the first activation).
    std::unique_ptr<MainThreadPage> m_page;
    std::unique_ptr<CaptureCycle> m_cycle;
};

} // namespace browser
