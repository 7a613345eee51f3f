// SlideshowPlugin: one Slideshow key: previous slide, next slide, two ahead, a fixed slide
// ("Goto"), or the plain "Slideshow" key, each showing the slide it would bring up.
//
// Created and deleted by the library's Create and Delete. Paint, OnKeyDown and OnEvent run on the
// key's paint thread; GetInfo, GetProperty, SetProperty and ShowProperties on the host's main
// thread, at the same time. The members below m_lock are guarded by it, and Paint holds it
// throughout, so a change of settings and a Paint never overlap. Paint never waits for the office:
// it reads what the process's ImpressMonitor saw last.
#pragma once

#include "ImpressMonitor.h"
#include "ProgramProbe.h"
#include "SlideshowModel.h"
#include "SlideshowPainter.h"

#include <pixkey_plugin.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace slideshow {

class SlideshowPlugin : public pkx::Plugin<SlideshowPlugin> {
public:
    // Gives the monitor a key uses while it is active (called on the paint thread at activation).
    using MonitorSource = std::function<std::shared_ptr<ImpressMonitor>()>;

    // `function` is Create's second argument (the kind, clamped to 0..4).
    SlideshowPlugin(int function, MonitorSource monitors);
    ~SlideshowPlugin();

    // [paint-thread] 1 when it drew a new face, 0 when nothing changed.
    int Paint(PkxSurface &surface);
    // [paint-thread] Queues the key's command when the office runs.
    void OnKeyDown();
    // [main-thread]
    intptr_t GetInfo(int code);
    // [main-thread] 256 "Caption", 257 "Index"; 0 for other indices.
    int GetProperty(int index, char *name, char *value);
    // [main-thread] "Caption" and "Index" (exact names); 1 for these, 0 otherwise.
    int SetProperty(const char *name, const char *value);
    // [main-thread] The "Slideshow" dialog; 1 on OK, 0 on Cancel or without a widget application.
    int ShowProperties(void *parent);
    // [paint-thread] 1: load pictures and fonts, subscribe to the monitor; 2: unsubscribe. Always 1.
    int OnEvent(int code);

    int kind() const { return m_kind; }
    // The picture file this key's thumbnails are made in (inside a folder of its own).
    const std::string &thumbnailFile() const { return m_thumbnailFile; }
    // [any-thread] The state last drawn.
    ShowState shown();

private:
    // The state to draw now; `gotoIndex` as set. Called with m_lock held.
    ShowState query(const Snapshot &snapshot, int gotoIndex) const;

    const int m_kind;
    const MonitorSource m_monitors;
    std::string m_thumbnailDir;
    std::string m_thumbnailFile;
    SlideshowPainter m_painter; // paint thread
    bool m_firstPaint = false;  // paint thread

    std::mutex m_lock;
    std::shared_ptr<ImpressMonitor> m_monitor; // guarded by m_lock
    int m_subscription = 0;                    // guarded by m_lock; 0 while inactive
    int m_gotoIndex = 7;                       // guarded by m_lock
    std::string m_gotoCaption;                 // guarded by m_lock
    ShowState m_shown;                         // guarded by m_lock
};

} // namespace slideshow
