#pragma once
// SerialPort: the byte stream to the keypad's adapter. Owned by DeviceLink and used by its worker
// thread only (construction and destruction may happen on another thread while the worker is not
// running). TtySerialPort is the real one; tests plug in a scripted fake.
//
// Time-outs: ReadByte waits at most the read time-out last given to SetReadTimeout (0 returns at
// once with what is there); WriteBytes gives up after the write limit and reports what it wrote.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pixkey {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens `path` and remembers it; nullptr reopens the remembered path. False when the port
    // cannot be opened; lastOpenError() then says why.
    bool OpenPort(const char *path);
    virtual void ClosePort() = 0; // idempotent; the path is kept
    virtual bool isOpen() const = 0;

    bool SetReadTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds readTimeout() const { return m_readTimeout; }
    void setWriteLimit(std::chrono::milliseconds limit) { m_writeLimit = limit; }
    std::chrono::milliseconds writeLimit() const { return m_writeLimit; }

    // Writes n bytes; `written` is what went out. False on failure (closed port, device gone);
    // true with written < n when the write limit ran out.
    virtual bool WriteBytes(const uint8_t *bytes, size_t n, size_t &written) = 0;
    // Reads one byte within the read time-out: true with got = true and the byte, true with
    // got = false when nothing came, false when the read failed.
    bool ReadByte(uint8_t &byte, bool &got) { return readByteWithin(byte, got, m_readTimeout); }
    virtual bool readByteWithin(uint8_t &byte, bool &got, std::chrono::milliseconds timeout) = 0;

    // A descriptor that polls readable (or hung up) when ReadByte would not wait; -1 when closed.
    virtual int pollFd() const = 0;

    const std::string &path() const { return m_path; } // "" until a port was opened once
    const std::string &lastOpenError() const { return m_lastOpenError; }

protected:
    // Opens the given path; on failure sets m_lastOpenError and returns false.
    virtual bool openPath(const std::string &path) = 0;
    std::string m_lastOpenError;

private:
    std::string m_path;
    std::chrono::milliseconds m_readTimeout{4000};
    std::chrono::milliseconds m_writeLimit{4000};
};

} // namespace pixkey
