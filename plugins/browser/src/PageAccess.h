// PageAccess: the capture cycle's way to its off-screen page. The page itself lives on the main
// thread; every operation here returns without waiting on it, except `capture`, which waits a
// bounded time and gives up (abandons the request) when the main thread does not answer.
//
// Called from one thread at a time (the key's paint thread, or the main thread in the dialog).
#pragma once

#include "PageStatus.h"

#include <QImage>

#include <optional>
#include <string>

namespace browser {

class PageAccess {
public:
    virtual ~PageAccess() = default;

    // Starts loading `url` ("" for the empty page); the status is cleared at once.
    virtual void navigate(const std::string &url) = 0;
    // Sets the page's size.
    virtual void resize(int width, int height) = 0;
    // The page as shown now, at width x height; none when it could not be had in time.
    virtual std::optional<QImage> capture(int width, int height) = 0;
    // Scrolls the page to `top`; the status shows `top` at once.
    virtual void setScrollTop(int top) = 0;
    // What the page reports now.
    virtual PageSnapshot status() const = 0;
};

} // namespace browser
