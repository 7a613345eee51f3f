// ImpressMonitor: keeps the Slideshow keys' view of LibreOffice Impress current on a thread of its
// own, so that Paint only reads memory and never waits for the office.
//
// While at least one key is subscribed the monitor's thread, every poll interval and at once after
// a key press: looks whether the office runs (ProgramProbe; no helper is started while it does
// not), asks the helper pixkey-impress-bridge for the show's state, makes the thumbnails of the
// slides the subscribed keys would bring up (into the subscriber's own temporary file, decoded
// with CFileImage and kept per slide until the presentation reports a change), then publishes the
// state. A helper that ends is restarted at once; one that stops answering is killed and the last
// published state stays (the keys keep their faces) until the next poll after a pause.
//
// Key presses are queued and run on the monitor's thread as the key commands: previous, next, two
// ahead (or the first slide from the last), a fixed slide; the show is started when none runs.
//
// Thread contract: every public member is [any-thread]; the monitor's own thread does all talking
// to the helper and the office. The destructor stops that thread without waiting for a helper's
// answer. One monitor serves all keys of the process (shared()); tests make their own.
#pragma once

#include "BridgeProcess.h"
#include "SlideshowModel.h"
#include "SlideshowProtocol.h"

#include <QImage>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace slideshow {

struct MonitorOptions {
    std::string helperPath;       // the helper program
    std::string pipeName;         // the office's UNO pipe
    std::chrono::milliseconds pollInterval{250};
    std::chrono::milliseconds stateTimeout{4000};   // one "state" answer
    std::chrono::milliseconds exportTimeout{8000};  // one thumbnail
    std::chrono::milliseconds commandTimeout{4000}; // one step of a key command
    std::chrono::milliseconds retryPause{2000};     // after a helper that stopped answering
    // The office's process of this user, 0 when none runs (default: a ProgramProbe).
    std::function<pid_t()> findProgram;
    // Asks a running office to listen on the pipe (default: ProgramProbe::requestPipe).
    std::function<bool(pid_t, const std::string &)> requestPipe;
};

// What the monitor saw last.
struct Snapshot {
    bool program = false;   // the office runs
    protocol::State state;  // stage 0 while there is no connection
    long long document = 0; // state.document, unique across helper restarts
    unsigned long serial = 0; // counts publications
};

class ImpressMonitor {
public:
    explicit ImpressMonitor(MonitorOptions options);
    ~ImpressMonitor();
    ImpressMonitor(const ImpressMonitor &) = delete;
    ImpressMonitor &operator=(const ImpressMonitor &) = delete;

    // The process's monitor, made with `options` when none exists; it ends with its last holder.
    static std::shared_ptr<ImpressMonitor> shared(const MonitorOptions &options);

    // A key that wants thumbnails of its target slide, made into `thumbnailFile`. Returns its id.
    int subscribe(int kind, int gotoIndex, const std::string &thumbnailFile);
    void setGotoIndex(int id, int gotoIndex);
    void unsubscribe(int id);

    Snapshot snapshot() const;

    // The slide's picture at `size` (made at twice the size and scaled down), or null while there
    // is none: not made yet, or the export failed.
    std::shared_ptr<const QImage> thumbnail(const SlideIdentity &slide, ThumbnailSize size) const;

    // Queues the key command of a key of `kind` (`gotoIndex` for kind 4). False when the queue is
    // full (presses beyond 8 waiting ones are dropped).
    bool press(int kind, int gotoIndex);

    // Waits until a snapshot with serial > `serial` is published; false at the deadline.
    bool waitForPublication(unsigned long serial, std::chrono::milliseconds timeout) const;

    // Helpers started so far (1 after the first start).
    int helperStarts() const;

private:
    struct Subscriber {
        int kind = 0;
        int gotoIndex = 0;
        std::string file;
    };
    struct Command {
        int kind = 0;
        int gotoIndex = 0;
    };
    struct CachedThumbnail {
        ThumbnailSize size;
        std::shared_ptr<const QImage> image;
    };
    struct SlideKey {
        long long document;
        long changes;
        int number;
        bool operator<(const SlideKey &o) const
        {
            return std::tie(document, changes, number) < std::tie(o.document, o.changes, o.number);
        }
    };

    void run();
    void cycle();
    // One request; a helper that ended is restarted and asked once more. A request that moves the
    // show (`moves`) is sent again only when the helper had ended before it was delivered: one
    // that ended after it may have carried it out, and a press must not be done twice.
    std::optional<std::string> ask(const std::string &line, std::chrono::milliseconds timeout, bool moves = false);
    void runCommand(const Command &command);
    void makeThumbnails(const Snapshot &snapshot);
    void publish(Snapshot snapshot);

    const MonitorOptions m_options;
    BridgeProcess m_bridge;             // monitor thread only
    pid_t m_handedOverTo = 0;           // monitor thread only: office asked to open the pipe
    int m_session = 0;                  // monitor thread only: helper start the cache belongs to
    std::chrono::steady_clock::time_point m_pauseUntil{}; // monitor thread only
    std::map<SlideKey, std::chrono::steady_clock::time_point> m_failedExports; // monitor thread only

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed; // wakes the thread and waitForPublication
    bool m_stopping = false;                   // guarded by m_mutex
    bool m_pollNow = false;                    // guarded by m_mutex: look before the interval ends
    std::map<int, Subscriber> m_subscribers;   // guarded by m_mutex
    int m_nextId = 1;                          // guarded by m_mutex
    std::deque<Command> m_commands;            // guarded by m_mutex
    Snapshot m_snapshot;                       // guarded by m_mutex
    std::map<SlideKey, CachedThumbnail> m_thumbnails; // guarded by m_mutex
    std::deque<SlideKey> m_thumbnailOrder;     // guarded by m_mutex: oldest first
    int m_helperStarts = 0;                    // guarded by m_mutex

    std::thread m_thread;
};

} // namespace slideshow
