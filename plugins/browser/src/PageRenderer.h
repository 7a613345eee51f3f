// PageRenderer: one off-screen web page of a given size, as the engine part builds it. The engine
// part (a library of its own that links the web engine) is loaded only when the first page is
// needed; the plug-in reaches it through this interface and the entry point below.
//
// Every member is [main-thread]: the renderer's objects belong to the thread of the application
// object. The renderer reports into the PageStatus it was created with.
#pragma once

#include "PageStatus.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <string>

namespace browser {

class PageRenderer {
public:
    virtual ~PageRenderer() = default;

    // Loads `url` without history and without the cache ("" loads an empty page). Reports go to
    // the status under `serial` (from PageStatus::beginNavigation).
    virtual void navigate(const std::string &url, std::uint64_t serial) = 0;
    // Sets the page's size in pixels.
    virtual void resize(int width, int height) = 0;
    // The page as shown now, width x height (a null image when nothing can be grabbed). Also asks
    // the page for its scroll height and position; the answer reaches the status later.
    virtual QImage grab() = 0;
    // Scrolls the page's document to `top`.
    virtual void setScrollTop(int top) = 0;
};

// What the engine part exports, under the C name kEngineEntryName.
struct EngineApi {
    // Prepares the web engine for this process; empty on success, else why it cannot run.
    std::string (*start)();
    // A new page of width x height reporting into `status`; null when the engine cannot run.
    PageRenderer *(*createRenderer)(std::shared_ptr<PageStatus> status, int width, int height);
    // Pages alive now (diagnostics and tests).
    int (*liveRenderers)();
};

inline constexpr const char kEngineEntryName[] = "pixkey_browser_engine";
inline constexpr const char kEngineFileName[] = "libpixkey_browser_engine.so";
using EngineEntry = const EngineApi *(*)();

} // namespace browser
