#pragma once
// Helpers shared by pixkeyctl's commands: exit codes, the common options, a connected keypad
// session (discovery, --port, PIXKEY_PORT, the on-connect routine), and picture loading (PNG, JPEG,
// PPM) with scaling onto a 96x96 face.
//
// Threads: everything here is called on pixkeyctl's main thread, except the callbacks of
// CtlKeypad, which come on the DeviceLink worker thread (documented there).

#include "DeviceLink.h"
#include "DeviceListener.h"
#include "LinkObserver.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pixkey::ctl {

// Exit codes of pixkeyctl.
enum CtlExit : int {
    ExitOk = 0,
    ExitFailed = 1,   // the link was lost, a picture could not be read, the keypad did not take it
    ExitNoKeypad = 2, // no keypad found, or the port cannot be used (missing, not a tty, busy, denied)
    ExitNoHost = 3,   // the host program does not run for the keypad (the commands that need it)
    ExitUsage = 64,   // bad arguments
};

// Prints "pixkeyctl: message" on stderr and returns code.
int fail(int code, const std::string &message);
// Prints "pixkeyctl: message", the usage line of `usage` (if any) and a hint to --help; returns 64.
int usageError(const std::string &message, const char *usage = nullptr);

// Options every command accepts, wherever they stand on the command line.
struct CtlOptions {
    std::string port;        // --port PATH; empty: PIXKEY_PORT, else discovery
    int orientation = 0;     // --orientation 0..3
    double gamma = 0.65;     // --gamma G (0.1 .. 10)
    int whiteBalance = 8500; // --white-balance K (1000 .. 40000)
    int brightness = 2;      // --brightness 0..2, sent as (L + 1) x 20
    bool hold = false;       // --hold: show all keys together
};

// Takes the options above out of `args`, leaving the positional arguments in order. False with a
// message in `error` for an unknown option, a missing or bad value.
bool parseOptions(std::vector<std::string> &args, CtlOptions &options, std::string &error);
// Parses a whole decimal number in [min, max].
bool parseInt(const std::string &text, long min, long max, long &value);

// A 96x96 face: B, G, R bytes, rows top-down, 288 bytes a row (what orientFace takes).
using Face = std::array<uint8_t, kPictureBytes>;

// An RGB picture of any size, 3 bytes a pixel, rows top-down.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Reads a PNG, JPEG or binary PPM/PGM (P6/P5) file. False with a reason (not naming the file).
bool loadImage(const std::string &path, RgbImage &image, std::string &error);
// Scales the picture to fit 96x96 with its aspect kept (area average when shrinking, bilinear when
// growing), centred on black.
Face fitToFace(const RgbImage &image);

// A connection to the keypad for the life of a command. Owns the DeviceLink; disconnects when
// destroyed.
class CtlKeypad final : private DeviceListener, private LinkObserver {
public:
    explicit CtlKeypad(const CtlOptions &options);
    ~CtlKeypad() override;
    CtlKeypad(const CtlKeypad &) = delete;
    CtlKeypad &operator=(const CtlKeypad &) = delete;

    // Pictures (device pictures, 27,648 bytes) to submit for device keys 1..3 on every connection,
    // before the refresh of the on-connect routine. Call before connect().
    void setPicture(int deviceKey, const Face &devicePicture);
    // Called on the worker thread for each press, with the device key 1..3. Call before connect().
    void setKeyHandler(std::function<void(int deviceKey)> handler);
    // Called on the worker thread when the link is lost (also when it is closed on purpose).
    // Call before connect().
    void setLossHandler(std::function<void()> handler);

    // Finds and opens the keypad (--port, else PIXKEY_PORT, else discovery) and synchronises.
    // With onConnectRoutine, on every connection: DisplayOn twice, SetBrightness (L + 1) x 20, the
    // pictures (held when --hold), RequestRefresh. Returns ExitOk, or prints the reason and returns
    // ExitNoKeypad.
    int connect(bool onConnectRoutine = true);

    // Waits until every key given a picture has been shown since the last connection or refresh,
    // and the worker is past it. Pictures whose upload met link errors are sent again (a bounded
    // number of times). Returns ExitOk, or prints why and returns ExitFailed.
    int waitUntilShown();

    // Sends a command and waits for its result; prints "link lost" and returns ExitFailed on
    // failure.
    int command(LinkCommand cmd, uint8_t arg1);

    bool linkLost() const;
    DeviceLink &link() { return *m_link; }
    // Waits up to `timeout` for the link to be lost; true when it was.
    bool waitForLoss(std::chrono::milliseconds timeout);

private:
    void OnKeyPressed(int deviceKey) override;
    void OnConnectionChanged(int state) override;
    void onPacketSent(const uint8_t *packet) override;
    void onLinkError(LinkError error) override;
    void runOnConnectRoutine();
    std::string portDescription() const;

    const CtlOptions m_options;
    bool m_routine = true;
    std::function<void(int)> m_keyHandler;
    std::function<void()> m_lossHandler;
    std::array<std::vector<uint8_t>, kKeyCount> m_pictures; // fixed before connect()

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::array<int, kKeyCount> m_shown{}; // guarded by m_lock: ShowFrames sent since the last refresh
    int m_uploadErrors = 0;               // guarded by m_lock: recovering errors since the last refresh
    bool m_lost = false;                  // guarded by m_lock

    std::unique_ptr<DeviceLink> m_link; // last member: its worker is joined before the rest goes
};

} // namespace pixkey::ctl
