#pragma once
// Wire-level vocabulary of the keypad link: command bytes, error codes and picture sizes.

#include <cstdint>

namespace pixkey {

// Command byte of a host-to-device packet.
enum class LinkCommand : uint8_t {
    Ping = 0,          // keep-alive
    WriteLine = 1,     // arg1 key 1..3, arg2/arg3 big-endian byte offset of the line, data 96 pixels
    DisplayOn = 2,
    DisplayOff = 3,
    ShowFrame = 4,     // arg1 key 1..3: show what the key's frame memory holds
    SetBrightness = 9, // arg1 (level + 1) x 20
};

// Errors of the link, reported through DeviceLink::OnLinkError. Codes with bit 0x10 set trigger
// the recovery (reopen and resynchronise); the others are only reported.
enum class LinkError : int {
    BadKeyNumber = 1,    // a key report carried a key outside 1..3; the report is dropped
    NoAdapterKey = 2,    // discovery found no keypad adapter on the system
    WriteFailed = 16,    // a write failed or wrote fewer bytes than asked
    SyncFailed = 17,     // the handshake wrote nothing or ran out of its byte budget
    ReadFailed = 18,     // a read failed (the port went away, for instance)
    ReadTimeout = 19,    // no byte within the read time-out
    BadAcknowledge = 20, // 0x00 followed by a byte other than the checksum; the packet counts as delivered
};

inline constexpr bool triggersRecovery(LinkError e) { return (static_cast<int>(e) & 0x10) != 0; }

inline constexpr int kKeyCount = 3;        // device keys are 1..3
inline constexpr int kFaceSize = 96;       // pixels a side of a key face
inline constexpr int kRowBytes = 288;      // 96 pixels x 3 bytes (B, G, R)
inline constexpr int kPictureBytes = 27648; // 96 rows x 288 bytes
inline constexpr int kPacketSize = 197;    // every host-to-device packet
inline constexpr int kPacketDataSize = 192; // data bytes of a packet (one line of 96 wire pixels)
inline constexpr int kLineBytes = 192;     // wire bytes of one line

} // namespace pixkey
