#pragma once
// DeviceLink: the one object through which the program reaches the keypad.
//
// It owns the serial port and one worker thread that does all port I/O: it synchronises with the
// keypad, uploads changed rows of the three key pictures (one key per pass, round robin), sends
// queued commands, sends the keep-alive (a Ping once a second while the link is up, a DisplayOn
// after a longer pause) and reads key presses, which it reports to the DeviceListener.
//
// Threads: every public method may be called from any thread, including from the listener on the
// worker thread, except Disconnect() and the destructor, which wait for the worker (on the worker
// thread Disconnect closes the port directly). The protocol operations (SendPacket ... OnLinkError)
// run on the worker thread only. A waiting SubmitFrame or PostCommand always gets an answer: the
// result of its upload or command, 0 when a newer picture superseded it, -1 when the link is shut
// down. The lock guards the frame slots, the flags, the command queue, the colour tables and the
// event bits; it is never held during port I/O, while waiting, or while calling out.

#include "DeviceListener.h"
#include "KeyFrameSlot.h"
#include "LinkClock.h"
#include "LinkObserver.h"
#include "LinkPacket.h"
#include "LinkTimings.h"
#include "LinkTypes.h"
#include "PixelTables.h"
#include "PortLocator.h"
#include "SerialPort.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pixkey {

class LinkCompletion;

// What a DeviceLink is built with. Everything left empty gets the real thing: a TtySerialPort, a
// UdevPortLocator, the steady clock and the default timings.
struct DeviceLinkOptions {
    LinkTimings timings;
    std::shared_ptr<LinkClock> clock;
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<PortLocator> locator;
    LinkObserver *observer = nullptr; // not owned; must outlive the DeviceLink
    // A port path that replaces discovery; empty: PIXKEY_PORT from the environment, if set.
    std::string portPath;
};

class DeviceLink {
public:
    explicit DeviceLink(DeviceListener *listener = nullptr, DeviceLinkOptions options = {});
    virtual ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Asks the worker to find, open and synchronise the keypad (or resynchronise an open port).
    // Requests made while one is being served are merged into it.
    void Connect();
    // Closes the port and clears the connected flag (no listener call); returns when done.
    void Disconnect();

    // Hands over a device picture (kPictureBytes, 96 rows x 288 bytes top-down, B,G,R) for key 1..3.
    // Only rows that differ from what the key shows are uploaded. -1 for a bad key, a missing
    // picture, or wait on the worker thread; otherwise 0, or with wait the upload's result
    // (0 as well when a newer picture superseded this one before its upload).
    int SubmitFrame(int deviceKey, const uint8_t *picture, bool wait);
    // Queues a command. Without wait 0 at once; with wait the command's result (0, or -1 when it
    // failed or the link is down). On the worker thread a waiting command is sent directly.
    int PostCommand(LinkCommand cmd, uint8_t a1, uint8_t a2, uint8_t a3, bool wait);
    int PostCommand(LinkCommand cmd, uint8_t a1, bool wait) { return PostCommand(cmd, a1, 0, 0, wait); }
    // Resends every key's whole picture (after a reconnection or a change of the colour tables).
    void RequestRefresh();
    // Holds back ShowFrame until every key that receives a new picture has been uploaded, so that
    // the three keys change together.
    void HoldDisplayUntilAllSent();
    void SetGamma(double gamma);
    void SetWhiteBalance(int kelvin);
    bool IsConnected() const;

    // DeviceLinkOptions::portPath, or else PIXKEY_PORT=/path in the environment (read at
    // construction), replaces discovery with that path.
    std::string portName() const;      // basename of the port path, "" before the first open
    std::string lastOpenError() const; // why the last discovery or open failed, "" when it did not

    // How many callers wait for an upload or a command right now (diagnostics and tests).
    int waitingCallers() const;
    // A copy of the colour tables, for inspection.
    PixelTables pixelTables() const;
    // Converts one picture line with the current tables (under the lock, as the worker does).
    void ConvertLine(const uint8_t *rowPixels, uint8_t *wire) const;

protected:
    // --- worker thread only ---------------------------------------------------------------
    int SendPacket(LinkPacket &packet, uint8_t checksum);
    int SendCommand(LinkCommand cmd, uint8_t a1, uint8_t a2, uint8_t a3);
    int SendLine(int key, int line, const uint8_t *rowPixels);
    int SendFrameBand(int key, const uint8_t *picture, int firstRow, int endRow, bool show);
    bool Synchronise();
    void ReadKeyReport();
    bool DiscoverAndOpen();
    // Reports an error and runs its recovery: nothing for codes without bit 0x10; inside a
    // recovery, close and report the link lost; BadAcknowledge resynchronises; the others close,
    // reopen the same path and resynchronise.
    virtual void OnLinkError(LinkError code);
    virtual void OnKeyPressed(int key);
    virtual void OnConnectionChanged(int state);

private:
    enum Event : unsigned {
        EvConnect = 1u << 0,
        EvDisconnect = 1u << 1,
        EvWork = 1u << 2,
        EvStop = 1u << 3,
    };
    struct QueuedCommand {
        LinkCommand cmd;
        uint8_t a1, a2, a3;
        std::shared_ptr<LinkCompletion> completion; // null when nobody waits
    };

    void setEvents(unsigned bits);
    bool onWorkerThread() const;
    void workerMain();
    // Waits for event bits or a readable port; returns the bits taken (one event, by priority)
    // and sets portReadable. Bounded by idleWait.
    unsigned waitForEvent(bool listen, bool &portReadable);
    void serveListeningRead();
    void drainCommands();
    void ServeFrames();
    void UploadKey(int key);
    void releaseIdleHold();
    void closeAndForget();
    void failAllWaiters();
    void updatePortInfo();

    DeviceListener *const m_listener;
    const LinkTimings m_timings;
    const std::shared_ptr<LinkClock> m_clock;
    LinkObserver *const m_observer;
    const std::string m_portOverride; // options.portPath or PIXKEY_PORT: replaces discovery when set

    // Worker thread only (and the constructor/destructor while the worker does not run).
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<PortLocator> m_locator;
    bool m_recovering = false;
    bool m_closedOnRequest = false; // Disconnect closed the port: no recovery until the next Connect
    int m_lastServedKey = 0;
    std::vector<uint8_t> m_uploadPicture; // the picture being uploaded, copied out of its slot
    PixelTables m_workerTables;           // copy of m_tables as of m_workerTablesGeneration
    uint64_t m_workerTablesGeneration = 0;

    std::atomic<bool> m_connected{false};
    std::atomic<std::thread::id> m_workerId{};

    mutable std::mutex m_lock;
    std::condition_variable m_disconnectDone;         // signalled with m_lock when a disconnect is served
    KeyFrameSlot m_slots[kKeyCount];                  // guarded by m_lock; index = device key - 1
    bool m_holdDisplay = false;                       // guarded by m_lock
    bool m_refreshAll = false;                        // guarded by m_lock
    std::deque<QueuedCommand> m_queue;                // guarded by m_lock
    PixelTables m_tables;                             // guarded by m_lock
    // Bumped under m_lock whenever m_tables changes, so that the worker converts lines with its
    // own copy and takes the lock only when the tables changed.
    std::atomic<uint64_t> m_tablesGeneration{1};
    unsigned m_events = 0;                            // guarded by m_lock
    uint64_t m_disconnectRequests = 0;                // guarded by m_lock
    uint64_t m_disconnectsServed = 0;                 // guarded by m_lock
    bool m_workerDone = false;                        // guarded by m_lock
    std::string m_portName;                           // guarded by m_lock
    std::string m_lastOpenError;                      // guarded by m_lock

    int m_wakeFd = -1; // eventfd written by setEvents, read by the worker
    std::thread m_worker;
};

} // namespace pixkey
