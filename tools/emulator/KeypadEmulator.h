#pragma once
// KeypadEmulator: the device side of the keypad's serial wire, played on a pseudo-terminal.
//
// The emulator opens a pseudo-terminal (raw on both sides, so no byte is translated), links a
// stable path to its device end and answers like the keypad: it counts 197-byte packets,
// acknowledges each with its checksum (0x00 + checksum when the checksum is 0x00 or 0x01; when the
// checksum does not match, 0x00 + a byte that is neither the checksum received nor the sum the
// device computed, so that a host out of step always sees a bad acknowledgement), keeps a frame memory of 96x96 16-bit
// pixels per key, copies it to the key's screen on ShowFrame, and follows DisplayOn, DisplayOff and
// SetBrightness. Key presses (0x01, key) can be injected at any moment, also between the bytes of a
// packet. Faults: silence, bad acknowledgements, garbage bytes, unplug (the pty goes away and the
// link path vanishes) and replug (a new pty under the same path).
//
// The parser knows nothing of the host's intent: it counts bytes. Zeros that a host's handshake
// writes after a packet completed but before the answer went out start the next packet.
//
// Threads: the emulator runs one thread of its own, started by start() and joined by stop() or the
// destructor. Every public method may be called from any thread; all state is guarded by one
// internal lock, never held during a wait of the caller's predicate.
//
// Pixel order of the queries: the "shown" and "memory" frames in raw form are 9216 16-bit 5-6-5
// values in wire order (line 0..95, and within a line the pixels as they arrived). shownFrameRgb()
// turns this back into a 96x96 picture as it appears on the key: top row first, left to right,
// 3 bytes red, green, blue per pixel (the wire's line 0 is the bottom row and its first pixel the
// right-most one).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pixkey {

// One packet the emulator took in, as it parsed it.
struct EmulatorPacket {
    std::chrono::steady_clock::time_point time; // when its last byte arrived
    uint8_t command = 0;
    uint8_t arg1 = 0, arg2 = 0, arg3 = 0;
    uint8_t checksum = 0;     // byte 196 as received
    bool checksumOk = false;  // sum of bytes 0..195 mod 256 equals byte 196
};

class KeypadEmulator {
public:
    static constexpr int kKeys = 3;
    static constexpr int kFaceSize = 96;
    static constexpr int kPacketSize = 197;
    static constexpr int kPixels = kFaceSize * kFaceSize;   // 9216 pixels a key
    static constexpr int kFrameBytes = kPixels * 2;          // 18,432 bytes of frame memory a key
    static constexpr int kRgbBytes = kPixels * 3;            // 27,648 bytes of RGB888
    // Wire speed used by pacing: 1,000,000 baud, 10 bits a byte.
    static constexpr std::chrono::nanoseconds kByteTime{10000};
    static constexpr int kLogLimit = 100000;
    static constexpr int kPngMargin = 16;
    static constexpr int kPngGap = 16;

    // Command bytes the device understands.
    enum Command : uint8_t { Ping = 0, WriteLine = 1, DisplayOn = 2, DisplayOff = 3, ShowFrame = 4,
                             SetBrightness = 9 };

    // linkPath: where the stable symlink to the pty's device end is made (replaced atomically).
    explicit KeypadEmulator(std::string linkPath);
    ~KeypadEmulator(); // stop()
    KeypadEmulator(const KeypadEmulator &) = delete;
    KeypadEmulator &operator=(const KeypadEmulator &) = delete;

    // Opens the pty, makes the link and starts the thread. False with a message in *error when the
    // pty or the link cannot be made. Calling it on a running emulator does nothing and gives true.
    bool start(std::string *error = nullptr);
    // Ends the thread, closes the pty and removes the link. Idempotent.
    void stop();
    bool isRunning() const;

    std::string linkPath() const;
    // The pty's device path (/dev/pts/N) the link points at; empty while unplugged or stopped.
    std::string devicePath() const;

    // --- input -------------------------------------------------------------------------------
    // Sends a key report 0x01, key as soon as possible (mid-packet if a packet is in progress).
    // Any byte value is sent as given, so that bad key numbers can be tried.
    void press(int key);
    // Sends the key report after the device has received `bytes` more bytes (0 = now), i.e. in
    // the middle of the packet that is coming in.
    void pressAfterBytes(int key, int bytes);
    // Sends the key report immediately before the acknowledgement of the next packet.
    void pressBeforeNextAcknowledge(int key);

    // --- faults ------------------------------------------------------------------------------
    // Silent: packets are parsed and take effect, but nothing is answered (no acknowledgement).
    void setSilent(bool silent);
    // The next `count` acknowledgements are sent as 0x00 followed by a wrong byte.
    void setBadAcknowledgements(int count);
    // Sends these bytes now, as they are.
    void sendGarbage(const std::vector<uint8_t> &bytes);
    // Before each of the next `count` acknowledgements, sends `bytes` garbage bytes (values 0x02..0xFF,
    // never equal to the packet's checksum, so they are noise the host must skip).
    void setGarbageBeforeAcknowledgements(int count, int bytes = 3);
    // Unplug: the pty is closed (the host's reads and writes fail) and the link path vanishes.
    void unplug();
    // Replug: a new pty under the same link path. The keypad comes back as if powered anew: its
    // parser at byte 0, frame memory and screens black, display on, brightness 60.
    bool replug(std::string *error = nullptr);
    bool isPlugged() const;

    // --- timing ------------------------------------------------------------------------------
    // Delay between the last byte of a packet and its acknowledgement (default 0).
    void setLatency(std::chrono::microseconds latency);
    // Paces both directions at the wire speed (kByteTime per byte).
    void setPacing(bool pace);

    // --- queries -----------------------------------------------------------------------------
    // What key 1..3 shows, as a 96x96 top-down RGB888 picture (27,648 bytes). Empty for a bad key.
    // Ignores display on/off and brightness (see writePng for the look of the keypad).
    std::vector<uint8_t> shownFrameRgb(int key) const;
    // What key 1..3 shows, raw: 9216 16-bit values in wire order.
    std::vector<uint16_t> shownFrameRaw(int key) const;
    // The frame memory of key 1..3 (written by WriteLine, not yet necessarily shown), raw.
    std::vector<uint16_t> frameMemory(int key) const;
    bool displayOn() const;
    // Last SetBrightness argument (20, 40, 60 from the host); 60 until one arrives.
    int brightness() const;
    // Packets received with this command byte (any checksum); packets with a bad checksum have no
    // effect and are counted by badChecksumCount() too.
    long packetCount(uint8_t command) const;
    long totalPackets() const;
    long badChecksumCount() const;
    long bytesReceived() const;
    // The packets received since start (or clearLog()), oldest first; the latest kLogLimit of
    // them, so that a long-running emulator does not grow without bound.
    std::vector<EmulatorPacket> packetLog() const;
    void clearLog();
    // Changes every time the emulator's state changes (a byte arrives, a packet completes, ...).
    uint64_t generation() const;

    // Writes a PNG of the three keys side by side on a dark keypad body: black when the display is
    // off, dimmed by brightness (level / 60). Key k's 96x96 screen sits at
    // x = kPngMargin + (k - 1) x (96 + kPngGap), y = kPngMargin. Written to a temporary file and renamed, so a reader never sees
    // half a file. False with a message in *error on failure.
    bool writePng(const std::string &path, std::string *error = nullptr) const;

    // Waits until predicate() is true, re-checking after every change of state, for at most
    // `timeout`. The predicate is called without the emulator's lock, so it may use the queries.
    bool waitUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout) const;
    // Waits until at least `count` packets with this command byte have been received.
    bool waitForPackets(uint8_t command, long count, std::chrono::milliseconds timeout) const;

    // Called on the emulator's thread after each packet (with the lock released); for logging.
    // Set before start().
    void setPacketObserver(std::function<void(const EmulatorPacket &)> observer);

    // Converts a wire pixel to 8-bit red, green, blue (5 and 6 bits widened by bit replication).
    static void rgbFromWire(uint16_t pixel, uint8_t &red, uint8_t &green, uint8_t &blue);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace pixkey
