// FeedRunner: runs a FeedState on a worker thread of its own, so that downloads never hold up a
// paint thread or the dialog. Every cycle it takes over settings handed to it, runs the refresh
// cycle into the hidden one of two 96 x 96 canvases and, when that drew, swaps the canvases.
// Readers copy the visible canvas.
//
// Stopping waits a bounded time for the worker. A worker still inside a download when the wait
// runs out is left to finish it on its own: it owns everything it touches (the state, the
// canvases, the callbacks' captures), calls no callback after stop() returned, and ends by itself.
// The plug-in file stays loaded for the process's life (linked with -z nodelete) so such a worker
// never runs code that was unloaded.
//
// Threads: every public member may be called from any thread. The callbacks run on the worker:
// `onFrame` under the runner's lock (it must only post, never wait), `onSettings` outside it.
#pragma once

#include "FeedState.hpp"

#include <pixkey_plugin.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pixkey::rss {

class FeedRunner {
public:
    using Canvas = std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE>;

    struct Options {
        std::chrono::milliseconds cycle{500};
        FeedState::Limits limits{};
        std::function<std::uint32_t()> now;                    // tick in ms; null: steady clock
        std::function<void()> onFrame;                          // a new canvas is visible
        std::function<void(const RssSettings &)> onSettings;    // the state's settings changed (feed found)
    };

    // Starts the worker with `settings`, activated (the first cycle draws and downloads).
    FeedRunner(const RssSettings &settings, Options options);
    // stop(kStopWait).
    ~FeedRunner();
    FeedRunner(const FeedRunner &) = delete;
    FeedRunner &operator=(const FeedRunner &) = delete;

    static constexpr std::chrono::milliseconds kStopWait{500};

    // Hands new settings to the worker (taken over at its next cycle, which starts at once).
    void apply(const RssSettings &settings);

    // Copies the newest canvas into `face` when one became visible since the last call; false
    // (and `face` untouched) otherwise. Cheap when nothing is new.
    bool takeFrame(PkxSurface &face);
    // Copies the visible canvas (black before the first face).
    void copyVisible(Canvas &out) const;
    // The link of the item on the visible canvas (empty for a message or no item).
    std::string shownLink() const;
    // Number of faces drawn so far.
    int frames() const;
    // True once the worker has ended (after stop(), also when it ended unattended).
    bool finished() const;

    // Asks the worker to end and waits up to `wait` for it. True when it ended in time; otherwise
    // it finishes its download unattended. No callback runs once this returns.
    bool stop(std::chrono::milliseconds wait = kStopWait);

    // Workers of every runner of the process that have not ended yet, also those left to finish
    // a download unattended. [any-thread]
    static int liveWorkers();

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
};

} // namespace pixkey::rss
