#pragma once
// TtySerialPort: a SerialPort on a Linux tty device (the USB-serial adapter, or a pseudo-terminal
// such as the keypad emulator's). Opened O_RDWR | O_NOCTTY, for exclusive use (TIOCEXCL and an
// flock), set to raw 8N1 at 1,000,000 baud. Worker thread only, like every SerialPort.
//
// The port is opened twice. The first descriptor is non-blocking: writes (bounded by the write
// limit through poll), short waits and pollFd() use it. The second blocks, and a read that may wait
// a tenth of a second or more waits on it inside the tty layer (VMIN 0, VTIME the time-out), so the
// answer to a packet costs one read instead of a poll and a read. VTIME is set only when the
// time-out changes, never per packet.

#include "SerialPort.h"

namespace pixkey {

class TtySerialPort final : public SerialPort {
public:
    // waitInRead false keeps every wait a poll on the non-blocking descriptor (the second
    // descriptor is not opened): for measuring what the blocking read saves.
    explicit TtySerialPort(bool waitInRead = true) : m_waitInRead(waitInRead) {}
    ~TtySerialPort() override;
    TtySerialPort(const TtySerialPort &) = delete;
    TtySerialPort &operator=(const TtySerialPort &) = delete;

    void ClosePort() override;
    bool isOpen() const override { return m_fd >= 0; }
    bool WriteBytes(const uint8_t *bytes, size_t n, size_t &written) override;
    bool readByteWithin(uint8_t &byte, bool &got, std::chrono::milliseconds timeout) override;
    int pollFd() const override { return m_fd; }

    // The message for a failed open of `path` with errno `error`: missing device, busy device, or
    // missing permission with its two fixes (the package's udev rule, or the group that owns the
    // device, usually "dialout").
    static std::string openErrorText(const std::string &path, int error);

protected:
    bool openPath(const std::string &path) override;

private:
    // Waits on the blocking descriptor for up to `tenths` tenths of a second; false when the read
    // failed or the port hung up, got = false when the time ran out.
    bool waitOnBlockingRead(uint8_t &byte, bool &got, int tenths);

    const bool m_waitInRead;
    int m_fd = -1;       // non-blocking: writes, polls and reads that must not wait
    int m_waitFd = -1;   // blocking: reads that wait for the keypad's answer; -1 if it did not open
    int m_vtime = -1;    // VTIME the line has now, in tenths of a second; -1 unknown
};

} // namespace pixkey
