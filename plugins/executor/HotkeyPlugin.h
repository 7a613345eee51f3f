// HotkeyPlugin: the "Hotkey" plug-in object, a key that sends a keyboard shortcut of the user's
// choice and shows a picture, a text, or both.
//
// Created and deleted by the library's Create and Delete. Paint, OnKeyDown and OnEvent run on the
// instance's paint thread; GetInfo, GetProperty, SetProperty and ShowProperties on the host's main
// thread, at the same time. Every member below m_lock is guarded by it; a picture download runs
// with the lock released, so a slow web server never blocks the main thread behind a Paint.
#pragma once

#include "FaceRenderer.h"

#include <pixkey/utility/CHotkey.h>
#include <pixkey_plugin.hpp>

#include <cstdint>
#include <mutex>
#include <string>

namespace executor {

class HotkeyPlugin : public pkx::Plugin<HotkeyPlugin> {
public:
    HotkeyPlugin();

    // [paint-thread] Lays out and draws the face when it is marked dirty; 1 then, 0 otherwise.
    int Paint(PkxSurface &surface);
    // [paint-thread] Sends the shortcut to the desktop.
    void OnKeyDown();
    // [main-thread]
    intptr_t GetInfo(int code);
    // [main-thread] 256 "ImagePath", 257 "Text", 258 "Hotkey" (stored form); 0 for other indices.
    int GetProperty(int index, char *name, char *value);
    // [main-thread] 1 for the three names above (exact case), 0 for any other name, which lays the
    // face out again from the current values instead.
    int SetProperty(const char *name, const char *value);
    // [main-thread] The "Hotkey" dialog, modal to `parent` (a QWidget*, may be null). 1 on OK.
    int ShowProperties(void *parent);
    // [paint-thread] Activation marks the face dirty and loads the fonts; always 1.
    int OnEvent(int code);

private:
    // Brings the face up to date with m_imagePath and m_text. Called with `lock` held; releases it
    // while a new picture loads and holds it again on return.
    void updateFace(std::unique_lock<std::mutex> &lock);

    std::mutex m_lock;
    std::string m_imagePath;   // guarded by m_lock
    std::string m_text;        // guarded by m_lock
    pixkey::CHotkey m_hotkey;  // guarded by m_lock
    bool m_dirty = true;       // guarded by m_lock: the next Paint lays out and draws
    FaceRenderer m_face;       // guarded by m_lock
};

} // namespace executor
