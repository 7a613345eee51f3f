#pragma once
// TtySerialPort: a SerialPort on a Linux tty device (the USB-serial adapter, or a pseudo-terminal
// such as the keypad emulator's). Opened O_RDWR | O_NOCTTY, for exclusive use (TIOCEXCL and an
// flock), set to raw 8N1 at 1,000,000 baud; every wait is a poll() with the relevant time-out.
// Worker thread only, like every SerialPort.

#include "SerialPort.h"

namespace pixkey {

class TtySerialPort final : public SerialPort {
public:
    TtySerialPort() = default;
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
    int m_fd = -1;
};

} // namespace pixkey
