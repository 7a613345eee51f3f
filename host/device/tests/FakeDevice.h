#pragma once
// Test support: a scripted keypad behind a SerialPort, a fixed port locator, a hand-moved clock and
// recorders for the listener and observer calls. Thread-safe where the worker and the test meet.

#include "LinkClock.h"
#include "LinkObserver.h"
#include "LinkPacket.h"
#include "PortLocator.h"
#include "SerialPort.h"
#include "DeviceListener.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pixkey::test {

using namespace std::chrono_literals;

// Polls `predicate` until it holds or `timeout` passes.
bool eventually(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = 5000ms);

// The device end of the fake: parses 197-byte packets like the keypad and answers through a pipe
// the host side polls. By default every packet is acknowledged; hooks change that per test.
class FakeDevice {
public:
    FakeDevice();
    ~FakeDevice();
    FakeDevice(const FakeDevice &) = delete;
    FakeDevice &operator=(const FakeDevice &) = delete;

    // Answer to a complete packet (replaces the acknowledgement). Return the bytes to send.
    using PacketHook = std::function<std::vector<uint8_t>(const LinkPacket &packet, bool checksumOk)>;
    // Answer to every single byte written (replaces the packet parser entirely while set).
    using ByteHook = std::function<std::vector<uint8_t>(uint64_t index, uint8_t byte)>;

    void setPaths(std::set<std::string> paths); // paths that open (default {"/dev/fake0"})
    void setPacketHook(PacketHook hook);
    void setByteHook(ByteHook hook);
    void setSilent(bool silent);   // no answers at all
    void unplug();                 // the open port fails, the paths do not open
    void replug();
    // Blocks the worker inside the acknowledgement of the next packet with this command byte
    // until release(); at most one gate at a time.
    void gateNext(LinkCommand cmd);
    bool waitGated(std::chrono::milliseconds timeout = 5000ms); // the worker sits in the gate
    void release();

    void send(const std::vector<uint8_t> &bytes); // bytes from the device at any moment

    // Observation.
    std::vector<LinkPacket> packets() const;
    std::vector<LinkPacket> packets(LinkCommand cmd) const;
    size_t packetCount(LinkCommand cmd) const;
    uint64_t bytesWritten() const;
    int opens() const;
    void clearLog();

    // Used by FakeSerialPort.
    bool open(const std::string &path, uint64_t &session, std::string &error);
    bool alive(uint64_t session) const;
    bool write(uint64_t session, const uint8_t *bytes, size_t n);
    int readFd() const { return m_pipe[0]; }

private:
    std::vector<uint8_t> answerLocked(const LinkPacket &packet, bool &gate);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::set<std::string> m_paths{"/dev/fake0"};
    PacketHook m_packetHook;
    ByteHook m_byteHook;
    bool m_silent = false;
    bool m_plugged = true;
    uint64_t m_session = 0;  // bumped by unplug, so ports opened before fail
    int m_opens = 0;
    uint64_t m_bytes = 0;
    LinkPacket m_current{};
    int m_fill = 0;
    std::vector<LinkPacket> m_log;
    int m_gateCommand = -1;
    bool m_inGate = false;
    bool m_released = false;
    int m_pipe[2] = {-1, -1};
};

// The host end: a SerialPort whose bytes go to a FakeDevice.
class FakeSerialPort final : public SerialPort {
public:
    explicit FakeSerialPort(std::shared_ptr<FakeDevice> device) : m_device(std::move(device)) {}
    ~FakeSerialPort() override { ClosePort(); }
    void ClosePort() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool WriteBytes(const uint8_t *bytes, size_t n, size_t &written) override;
    bool readByteWithin(uint8_t &byte, bool &got, std::chrono::milliseconds timeout) override;
    int pollFd() const override { return m_open ? m_device->readFd() : -1; }

protected:
    bool openPath(const std::string &path) override;

private:
    std::shared_ptr<FakeDevice> m_device;
    bool m_open = false;
    uint64_t m_session = 0;
};

class FakeLocator final : public PortLocator {
public:
    FakeLocator(bool registered, std::vector<std::string> paths) : m_registered(registered), m_paths(std::move(paths)) {}
    bool locate(std::vector<std::string> &paths) override
    {
        ++calls;
        paths = m_paths;
        return m_registered;
    }
    std::atomic<int> calls{0};

private:
    bool m_registered;
    std::vector<std::string> m_paths;
};

class ManualClock final : public LinkClock {
public:
    std::chrono::milliseconds now() const override { return std::chrono::milliseconds(m_now.load()); }
    void advance(std::chrono::milliseconds d) { m_now += d.count(); }

private:
    std::atomic<long long> m_now{0};
};

class RecordingListener final : public DeviceListener {
public:
    void OnKeyPressed(int key) override;
    void OnConnectionChanged(int state) override;
    std::vector<int> presses() const;
    std::vector<int> changes() const;
    std::function<void(int)> onPress; // runs on the worker after recording

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_presses, m_changes;
};

class RecordingObserver final : public LinkObserver {
public:
    void onLinkError(LinkError error) override;
    std::vector<LinkError> errors() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<LinkError> m_errors;
};

} // namespace pixkey::test
