#include "FakeDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace pixkey::test {

bool eventually(const std::function<bool()> &predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

FakeDevice::FakeDevice()
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        std::abort();
}

FakeDevice::~FakeDevice()
{
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void FakeDevice::setPaths(std::set<std::string> paths)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_paths = std::move(paths);
}

void FakeDevice::setPacketHook(PacketHook hook)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_packetHook = std::move(hook);
}

void FakeDevice::setByteHook(ByteHook hook)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_byteHook = std::move(hook);
}

void FakeDevice::setSilent(bool silent)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_silent = silent;
}

void FakeDevice::unplug()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_plugged = false;
    ++m_session;
}

void FakeDevice::replug()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_plugged = true;
    m_fill = 0;
}

void FakeDevice::gateNext(LinkCommand cmd)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_gateCommand = static_cast<int>(cmd);
    m_released = false;
}

bool FakeDevice::waitGated(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> g(m_mutex);
    return m_cv.wait_for(g, timeout, [this] { return m_inGate; });
}

void FakeDevice::release()
{
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_released = true;
    }
    m_cv.notify_all();
}

void FakeDevice::send(const std::vector<uint8_t> &bytes)
{
    [[maybe_unused]] ssize_t r = ::write(m_pipe[1], bytes.data(), bytes.size());
}

std::vector<LinkPacket> FakeDevice::packets() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_log;
}

std::vector<LinkPacket> FakeDevice::packets(LinkCommand cmd) const
{
    std::vector<LinkPacket> out;
    for (const LinkPacket &p : packets())
        if (p[0] == static_cast<uint8_t>(cmd))
            out.push_back(p);
    return out;
}

size_t FakeDevice::packetCount(LinkCommand cmd) const { return packets(cmd).size(); }

uint64_t FakeDevice::bytesWritten() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_bytes;
}

int FakeDevice::opens() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_opens;
}

void FakeDevice::clearLog()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_log.clear();
}

bool FakeDevice::open(const std::string &path, uint64_t &session, std::string &error)
{
    std::lock_guard<std::mutex> g(m_mutex);
    if (!m_plugged || !m_paths.count(path)) {
        error = path + " does not exist";
        return false;
    }
    ++m_opens;
    session = m_session;
    uint8_t drain[256];
    while (::read(m_pipe[0], drain, sizeof drain) > 0) {
    }
    return true;
}

bool FakeDevice::alive(uint64_t session) const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_plugged && session == m_session;
}

std::vector<uint8_t> FakeDevice::answerLocked(const LinkPacket &packet, bool &gate)
{
    unsigned sum = 0;
    for (int i = 0; i < kPacketSize - 1; ++i)
        sum += packet[i];
    const bool ok = static_cast<uint8_t>(sum) == packet[kPacketSize - 1];
    gate = m_gateCommand == packet[0];
    if (gate)
        m_gateCommand = -1;
    if (m_packetHook)
        return m_packetHook(packet, ok);
    const uint8_t c = packet[kPacketSize - 1];
    if (!ok)
        return {0x00, static_cast<uint8_t>(c ^ 0xff)};
    if (c <= 1)
        return {0x00, c};
    return {c};
}

bool FakeDevice::write(uint64_t session, const uint8_t *bytes, size_t n)
{
    std::unique_lock<std::mutex> g(m_mutex);
    if (!m_plugged || session != m_session)
        return false;
    for (size_t i = 0; i < n; ++i) {
        std::vector<uint8_t> answer;
        bool gate = false;
        const uint64_t index = m_bytes++;
        if (m_byteHook) {
            answer = m_byteHook(index, bytes[i]);
        } else {
            m_current[m_fill++] = bytes[i];
            if (m_fill == kPacketSize) {
                m_fill = 0;
                m_log.push_back(m_current);
                answer = answerLocked(m_current, gate);
            }
        }
        if (gate) {
            m_inGate = true;
            m_cv.notify_all();
            m_cv.wait(g, [this] { return m_released; });
            m_inGate = false;
        }
        if (!m_silent && !answer.empty()) {
            [[maybe_unused]] ssize_t r = ::write(m_pipe[1], answer.data(), answer.size());
        }
    }
    return true;
}

bool FakeSerialPort::openPath(const std::string &path)
{
    m_open = m_device->open(path, m_session, m_lastOpenError);
    return m_open;
}

bool FakeSerialPort::WriteBytes(const uint8_t *bytes, size_t n, size_t &written)
{
    written = 0;
    if (!m_open || !m_device->write(m_session, bytes, n))
        return false;
    written = n;
    return true;
}

bool FakeSerialPort::readByteWithin(uint8_t &byte, bool &got, std::chrono::milliseconds timeout)
{
    got = false;
    if (!m_open || !m_device->alive(m_session))
        return false;
    pollfd p{m_device->readFd(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) > 0 && ::read(m_device->readFd(), &byte, 1) == 1)
        got = true;
    return m_device->alive(m_session) || got;
}

void RecordingListener::OnKeyPressed(int key)
{
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_presses.push_back(key);
    }
    if (onPress)
        onPress(key);
}

void RecordingListener::OnConnectionChanged(int state)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_changes.push_back(state);
}

std::vector<int> RecordingListener::presses() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_presses;
}

std::vector<int> RecordingListener::changes() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_changes;
}

void RecordingObserver::onLinkError(LinkError error)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_errors.push_back(error);
}

std::vector<LinkError> RecordingObserver::errors() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_errors;
}

void RecordingObserver::clear()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_errors.clear();
}

} // namespace pixkey::test
