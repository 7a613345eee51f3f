// MainThreadPage: a PageAccess whose renderer lives on the application's main thread and is
// reached through queued hand-offs, as the key's paint thread must never block on the page.
//
// The renderer is made by the first hand-off that needs it, which also loads the engine part.
// Navigation, resizing and scrolling are posted; `capture` posts a grab and waits at most
// `captureWait` for it: when the main thread is busy (for instance waiting for this very paint
// thread to end), the request is abandoned, the main thread skips it later, and the capture is
// tried again at the next paint. Called on the main thread itself (the settings dialog), every
// operation runs at once.
//
// Owned by one capture cycle. Destroying it hands the renderer to the main thread for deletion,
// so it may be destroyed on any thread, also while a capture request is still queued.
#pragma once

#include "PageAccess.h"

#include <chrono>
#include <memory>

namespace browser {

class MainThreadPage final : public PageAccess {
public:
    static constexpr std::chrono::milliseconds kDefaultCaptureWait{200};

    explicit MainThreadPage(std::chrono::milliseconds captureWait = kDefaultCaptureWait);
    ~MainThreadPage() override;
    MainThreadPage(const MainThreadPage &) = delete;
    MainThreadPage &operator=(const MainThreadPage &) = delete;

    void navigate(const std::string &url) override;
    void resize(int width, int height) override;
    std::optional<QImage> capture(int width, int height) override;
    void setScrollTop(int top) override;
    PageSnapshot status() const override;

    // Capture requests that were given up because the main thread did not answer in time.
    int abandonedCaptures() const;

    struct Core;

private:
    std::shared_ptr<Core> m_core;
    std::chrono::milliseconds m_captureWait;
};

} // namespace browser
