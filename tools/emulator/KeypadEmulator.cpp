#include "KeypadEmulator.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace pixkey {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLineBytes = KeypadEmulator::kFaceSize * 2;
constexpr int kDefaultBrightness = 60;

// Bytes the device sends, to go out no earlier than `due`. A group (an acknowledgement, a key
// report) is never split by another group.
struct TxGroup {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
};

struct PressAfter {
    int key;
    int bytesLeft;
};

std::string errnoText(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool makeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

struct KeypadEmulator::State {
    explicit State(std::string path) : linkPath(std::move(path)) {}

    const std::string linkPath;

    // Guards everything below that is not marked otherwise.
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    uint64_t generation = 0;

    // Thread and its wake-up; wakeFd is written by any thread, read by the emulator's thread.
    std::thread thread;
    int wakeFd = -1;
    bool running = false;
    bool stopRequested = false;

    // The pty: master end and a kept-open device end (so the master never sees a hang-up while the
    // host has the device closed). Owned by the emulator's thread while running; changed only
    // under the lock.
    int masterFd = -1;
    int slaveFd = -1;
    std::string devicePath;
    bool plugged = false;

    // Parser.
    std::array<uint8_t, kPacketSize> packet{};
    int packetFill = 0;
    Clock::time_point rxClock{};   // when the last received byte finished arriving (pacing)
    Clock::time_point txClock{};   // when the last sent byte finished leaving (pacing)
    std::deque<TxGroup> tx;
    size_t txHeadSent = 0;         // bytes of tx.front() already written
    std::vector<PressAfter> pressesAfterBytes;
    std::vector<int> pressesBeforeAck;

    // Faults and timing.
    bool silent = false;
    int badAcks = 0;
    int garbageAcks = 0;
    int garbageBytes = 3;
    uint32_t garbageSeed = 0x2545F491u;
    std::chrono::microseconds latency{0};
    bool pacing = false;

    // Device state: raw wire bytes (big-endian pixels) of memory and screens.
    std::array<std::array<uint8_t, kFrameBytes>, kKeys> memory{};
    std::array<std::array<uint8_t, kFrameBytes>, kKeys> shown{};
    bool displayOn = true;
    int brightness = kDefaultBrightness;

    // Counters and log.
    std::array<long, 256> perCommand{};
    long total = 0;
    long badChecksums = 0;
    long bytesIn = 0;
    std::deque<EmulatorPacket> log; // the latest kLogLimit packets

    std::function<void(const EmulatorPacket &)> observer; // set before start, read by the thread

    void bump()
    {
        ++generation;
        changed.notify_all();
    }

    void wake() const
    {
        if (wakeFd >= 0) {
            uint64_t one = 1;
            ssize_t n = ::write(wakeFd, &one, sizeof one);
            (void)n;
        }
    }

    void queueTx(Clock::time_point due, std::vector<uint8_t> bytes)
    {
        // Keep groups ordered by due time; the group being written stays first.
        auto it = tx.begin();
        if (it != tx.end() && txHeadSent > 0)
            ++it;
        while (it != tx.end() && it->due <= due)
            ++it;
        tx.insert(it, TxGroup{due, std::move(bytes)});
    }

    void resetDevice()
    {
        packetFill = 0;
        tx.clear();
        txHeadSent = 0;
        pressesAfterBytes.clear();
        pressesBeforeAck.clear();
        for (auto &m : memory)
            m.fill(0);
        for (auto &s : shown)
            s.fill(0);
        displayOn = true;
        brightness = kDefaultBrightness;
    }

    uint8_t garbageByte(uint8_t avoid)
    {
        for (;;) {
            garbageSeed ^= garbageSeed << 13;
            garbageSeed ^= garbageSeed >> 17;
            garbageSeed ^= garbageSeed << 5;
            uint8_t b = static_cast<uint8_t>(garbageSeed);
            if (b > 1 && b != avoid)
                return b;
        }
    }

    // Opens a new pty and links it. Called with the lock held.
    bool plugIn(std::string *error)
    {
        int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0) {
            if (error)
                *error = errnoText("posix_openpt");
            return false;
        }
        if (grantpt(master) != 0 || unlockpt(master) != 0) {
            if (error)
                *error = errnoText("unlockpt");
            ::close(master);
            return false;
        }
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0) {
            if (error)
                *error = errnoText("ptsname");
            ::close(master);
            return false;
        }
        int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) {
            if (error)
                *error = errnoText(name);
            ::close(master);
            return false;
        }
        makeRaw(slave);
        makeRaw(master);
        int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);

        // A stale link (left by an emulator that was killed) is replaced; anything else at the
        // path is someone's file and stays untouched.
        struct stat st{};
        if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            if (error)
                *error = linkPath + " exists and is not a link; not replacing it";
            ::close(slave);
            ::close(master);
            return false;
        }
        std::string tmp = linkPath + ".new." + std::to_string(getpid());
        ::unlink(tmp.c_str());
        if (::symlink(name, tmp.c_str()) != 0 || ::rename(tmp.c_str(), linkPath.c_str()) != 0) {
            if (error)
                *error = errnoText(linkPath.c_str());
            ::unlink(tmp.c_str());
            ::close(slave);
            ::close(master);
            return false;
        }
        masterFd = master;
        slaveFd = slave;
        devicePath = name;
        plugged = true;
        return true;
    }

    // Closes the pty and removes the link (only if it still points at this pty). Lock held.
    void pullOut()
    {
        if (!plugged)
            return;
        char target[256];
        ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
        if (n >= 0) {
            target[n] = '\0';
            if (devicePath == target)
                ::unlink(linkPath.c_str());
        }
        ::close(masterFd);
        ::close(slaveFd);
        masterFd = slaveFd = -1;
        devicePath.clear();
        plugged = false;
        tx.clear();
        txHeadSent = 0;
    }

    // One byte arrived at `when`. Lock held. Completed packets are appended to `done`.
    void takeByte(uint8_t byte, Clock::time_point when, std::vector<EmulatorPacket> &done)
    {
        ++bytesIn;
        packet[packetFill++] = byte;
        for (auto it = pressesAfterBytes.begin(); it != pressesAfterBytes.end();) {
            if (--it->bytesLeft <= 0) {
                queueTx(when, {0x01, static_cast<uint8_t>(it->key)});
                it = pressesAfterBytes.erase(it);
            } else {
                ++it;
            }
        }
        if (packetFill < kPacketSize)
            return;
        packetFill = 0;

        EmulatorPacket p;
        p.time = when;
        p.command = packet[0];
        p.arg1 = packet[1];
        p.arg2 = packet[2];
        p.arg3 = packet[3];
        p.checksum = packet[196];
        unsigned sum = 0;
        for (int i = 0; i < kPacketSize - 1; ++i)
            sum += packet[i];
        uint8_t computed = static_cast<uint8_t>(sum);
        p.checksumOk = computed == p.checksum;
        ++perCommand[p.command];
        ++total;
        if (!p.checksumOk)
            ++badChecksums;
        log.push_back(p);
        if (log.size() > static_cast<size_t>(kLogLimit))
            log.pop_front();
        done.push_back(p);

        if (p.checksumOk)
            apply();

        if (silent) {
            pressesBeforeAck.clear();
            return;
        }
        std::vector<uint8_t> answer;
        for (int key : pressesBeforeAck) {
            answer.push_back(0x01);
            answer.push_back(static_cast<uint8_t>(key));
        }
        pressesBeforeAck.clear();
        if (garbageAcks > 0) {
            --garbageAcks;
            for (int i = 0; i < garbageBytes; ++i)
                answer.push_back(garbageByte(p.checksum));
        }
        if (!p.checksumOk) {
            // 0x00 and a byte that is neither the checksum received nor the sum the device
            // computed: a host one step out of phase computed that same sum for a packet whose
            // tail is zero, and must see this answer as a bad acknowledgement to get back in step.
            uint8_t other = static_cast<uint8_t>(~computed);
            if (other == p.checksum)
                other ^= 0x80;
            answer.push_back(0x00);
            answer.push_back(other);
        } else if (badAcks > 0) {
            --badAcks;
            answer.push_back(0x00);
            answer.push_back(static_cast<uint8_t>(p.checksum ^ 0x5A));
        } else if (p.checksum <= 0x01) {
            answer.push_back(0x00);
            answer.push_back(p.checksum);
        } else {
            answer.push_back(p.checksum);
        }
        queueTx(when + latency, std::move(answer));
    }

    void apply()
    {
        const int key = packet[1];
        switch (packet[0]) {
        case WriteLine: {
            if (key < 1 || key > kKeys)
                break;
            const int offset = packet[2] << 8 | packet[3];
            const int n = std::min(kLineBytes, kFrameBytes - offset);
            if (n > 0)
                std::memcpy(memory[key - 1].data() + offset, packet.data() + 4, n);
            break;
        }
        case ShowFrame:
            if (key >= 1 && key <= kKeys)
                shown[key - 1] = memory[key - 1];
            break;
        case DisplayOn:
            displayOn = true;
            break;
        case DisplayOff:
            displayOn = false;
            break;
        case SetBrightness:
            brightness = key;
            break;
        default:
            break;
        }
    }

    Clock::time_point byteEnd(Clock::time_point due)
    {
        if (!pacing)
            return due;
        return std::max(due, txClock) + kByteTime;
    }

    // Writes what is due. Lock held. Returns the time of the next due byte, or max() if none.
    Clock::time_point flushTx(Clock::time_point now, bool &blocked)
    {
        blocked = false;
        while (!tx.empty() && masterFd >= 0) {
            TxGroup &head = tx.front();
            std::vector<uint8_t> out;
            Clock::time_point clock = txClock;
            size_t i = txHeadSent;
            for (; i < head.bytes.size(); ++i) {
                Clock::time_point end = pacing ? std::max(head.due, clock) + kByteTime : head.due;
                if (end > now)
                    break;
                out.push_back(head.bytes[i]);
                clock = end;
            }
            if (!out.empty()) {
                ssize_t n = ::write(masterFd, out.data(), out.size());
                if (n < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK) {
                        blocked = true;
                        return now;
                    }
                    return Clock::time_point::max(); // host side gone; keep the bytes
                }
                txHeadSent += static_cast<size_t>(n);
                // With pacing the clock moves by the bytes actually written.
                if (pacing)
                    txClock = std::max(head.due, txClock) + kByteTime * n;
                if (static_cast<size_t>(n) < out.size()) {
                    blocked = true;
                    return now;
                }
            }
            if (txHeadSent >= head.bytes.size()) {
                tx.pop_front();
                txHeadSent = 0;
                continue;
            }
            return byteEnd(head.due);
        }
        return Clock::time_point::max();
    }
};

KeypadEmulator::KeypadEmulator(std::string linkPath) : m_state(std::make_unique<State>(std::move(linkPath))) {}

KeypadEmulator::~KeypadEmulator()
{
    stop();
}

bool KeypadEmulator::start(std::string *error)
{
    State &s = *m_state;
    std::unique_lock lk(s.lock);
    if (s.running)
        return true;
    s.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.wakeFd < 0) {
        if (error)
            *error = errnoText("eventfd");
        return false;
    }
    s.resetDevice();
    if (!s.plugIn(error)) {
        ::close(s.wakeFd);
        s.wakeFd = -1;
        return false;
    }
    s.running = true;
    s.stopRequested = false;
    s.thread = std::thread([&s] {
        // Paced answers are timed to the wire's 10 us a byte; the default 50 us timer slack of a
        // thread would stretch every one of them.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        std::vector<uint8_t> buf(4096);
        std::unique_lock lk(s.lock);
        while (!s.stopRequested) {
            const Clock::time_point now = Clock::now();
            bool blocked = false;
            const Clock::time_point next = s.flushTx(now, blocked);
            pollfd fds[2] = {{s.wakeFd, POLLIN, 0}, {s.masterFd, POLLIN, 0}};
            if (blocked)
                fds[1].events |= POLLOUT;
            const int nfds = s.masterFd >= 0 ? 2 : 1;
            timespec ts{};
            timespec *tsp = nullptr;
            if (!blocked && next != Clock::time_point::max()) {
                auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now);
                if (wait.count() < 0)
                    wait = {};
                ts.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
                ts.tv_nsec = static_cast<long>(wait.count() % 1000000000);
                tsp = &ts;
            } else if (blocked) {
                ts.tv_nsec = 1000000; // retry a full buffer at least every millisecond
                tsp = &ts;
            }
            lk.unlock();
            int r = ppoll(fds, nfds, tsp, nullptr);
            lk.lock();
            if (r < 0 && errno != EINTR)
                break;
            if (r <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                ssize_t n = ::read(s.wakeFd, &v, sizeof v);
                (void)n;
            }
            if (nfds > 1 && s.masterFd == fds[1].fd && (fds[1].revents & POLLIN)) {
                ssize_t n = ::read(s.masterFd, buf.data(), buf.size());
                if (n > 0) {
                    const Clock::time_point when = Clock::now();
                    std::vector<EmulatorPacket> done;
                    for (ssize_t i = 0; i < n; ++i) {
                        Clock::time_point arrival = when;
                        if (s.pacing) {
                            arrival = std::max(when, s.rxClock) + kByteTime;
                            s.rxClock = arrival;
                        }
                        s.takeByte(buf[i], arrival, done);
                    }
                    s.bump();
                    if (s.observer && !done.empty()) {
                        auto observer = s.observer;
                        lk.unlock();
                        for (const auto &p : done)
                            observer(p);
                        lk.lock();
                    }
                }
            }
        }
        s.running = false;
        s.bump();
    });
    return true;
}

void KeypadEmulator::stop()
{
    State &s = *m_state;
    {
        std::lock_guard lk(s.lock);
        if (!s.thread.joinable())
            return;
        s.stopRequested = true;
        s.wake();
    }
    s.thread.join();
    std::lock_guard lk(s.lock);
    s.pullOut();
    ::close(s.wakeFd);
    s.wakeFd = -1;
    s.running = false;
    s.bump();
}

bool KeypadEmulator::isRunning() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->running;
}

std::string KeypadEmulator::linkPath() const
{
    return m_state->linkPath;
}

std::string KeypadEmulator::devicePath() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->devicePath;
}

void KeypadEmulator::press(int key)
{
    pressAfterBytes(key, 0);
}

void KeypadEmulator::pressAfterBytes(int key, int bytes)
{
    State &s = *m_state;
    std::lock_guard lk(s.lock);
    if (bytes <= 0)
        s.queueTx(Clock::now(), {0x01, static_cast<uint8_t>(key)});
    else
        s.pressesAfterBytes.push_back({key, bytes});
    s.wake();
}

void KeypadEmulator::pressBeforeNextAcknowledge(int key)
{
    std::lock_guard lk(m_state->lock);
    m_state->pressesBeforeAck.push_back(key);
}

void KeypadEmulator::setSilent(bool silent)
{
    std::lock_guard lk(m_state->lock);
    m_state->silent = silent;
}

void KeypadEmulator::setBadAcknowledgements(int count)
{
    std::lock_guard lk(m_state->lock);
    m_state->badAcks = std::max(0, count);
}

void KeypadEmulator::sendGarbage(const std::vector<uint8_t> &bytes)
{
    State &s = *m_state;
    std::lock_guard lk(s.lock);
    if (!bytes.empty())
        s.queueTx(Clock::now(), bytes);
    s.wake();
}

void KeypadEmulator::setGarbageBeforeAcknowledgements(int count, int bytes)
{
    std::lock_guard lk(m_state->lock);
    m_state->garbageAcks = std::max(0, count);
    m_state->garbageBytes = std::clamp(bytes, 0, 1000);
}

void KeypadEmulator::unplug()
{
    State &s = *m_state;
    std::lock_guard lk(s.lock);
    s.pullOut();
    s.wake();
    s.bump();
}

bool KeypadEmulator::replug(std::string *error)
{
    State &s = *m_state;
    std::lock_guard lk(s.lock);
    if (!s.running) {
        if (error)
            *error = "the emulator is not running";
        return false;
    }
    s.pullOut();
    s.resetDevice();
    const bool ok = s.plugIn(error);
    s.wake();
    s.bump();
    return ok;
}

bool KeypadEmulator::isPlugged() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->plugged;
}

void KeypadEmulator::setLatency(std::chrono::microseconds latency)
{
    std::lock_guard lk(m_state->lock);
    m_state->latency = std::max(latency, std::chrono::microseconds(0));
}

void KeypadEmulator::setPacing(bool pace)
{
    std::lock_guard lk(m_state->lock);
    m_state->pacing = pace;
}

namespace {

std::vector<uint16_t> rawFrom(const std::array<uint8_t, KeypadEmulator::kFrameBytes> &bytes)
{
    std::vector<uint16_t> out(KeypadEmulator::kPixels);
    for (int i = 0; i < KeypadEmulator::kPixels; ++i)
        out[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    return out;
}

// Wire line L is picture row 95 - L; within a line the pixels run from picture column 95 to 0.
std::vector<uint8_t> rgbFrom(const std::array<uint8_t, KeypadEmulator::kFrameBytes> &bytes)
{
    constexpr int n = KeypadEmulator::kFaceSize;
    std::vector<uint8_t> out(KeypadEmulator::kRgbBytes);
    for (int line = 0; line < n; ++line) {
        for (int x = 0; x < n; ++x) {
            const int i = line * n + x;
            const uint16_t px = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
            uint8_t *dst = &out[((n - 1 - line) * n + (n - 1 - x)) * 3];
            KeypadEmulator::rgbFromWire(px, dst[0], dst[1], dst[2]);
        }
    }
    return out;
}

} // namespace

std::vector<uint8_t> KeypadEmulator::shownFrameRgb(int key) const
{
    if (key < 1 || key > kKeys)
        return {};
    std::lock_guard lk(m_state->lock);
    return rgbFrom(m_state->shown[key - 1]);
}

std::vector<uint16_t> KeypadEmulator::shownFrameRaw(int key) const
{
    if (key < 1 || key > kKeys)
        return {};
    std::lock_guard lk(m_state->lock);
    return rawFrom(m_state->shown[key - 1]);
}

std::vector<uint16_t> KeypadEmulator::frameMemory(int key) const
{
    if (key < 1 || key > kKeys)
        return {};
    std::lock_guard lk(m_state->lock);
    return rawFrom(m_state->memory[key - 1]);
}

bool KeypadEmulator::displayOn() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->displayOn;
}

int KeypadEmulator::brightness() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->brightness;
}

long KeypadEmulator::packetCount(uint8_t command) const
{
    std::lock_guard lk(m_state->lock);
    return m_state->perCommand[command];
}

long KeypadEmulator::totalPackets() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->total;
}

long KeypadEmulator::badChecksumCount() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->badChecksums;
}

long KeypadEmulator::bytesReceived() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->bytesIn;
}

std::vector<EmulatorPacket> KeypadEmulator::packetLog() const
{
    std::lock_guard lk(m_state->lock);
    return std::vector<EmulatorPacket>(m_state->log.begin(), m_state->log.end());
}

void KeypadEmulator::clearLog()
{
    std::lock_guard lk(m_state->lock);
    m_state->log.clear();
}

uint64_t KeypadEmulator::generation() const
{
    std::lock_guard lk(m_state->lock);
    return m_state->generation;
}

void KeypadEmulator::setPacketObserver(std::function<void(const EmulatorPacket &)> observer)
{
    std::lock_guard lk(m_state->lock);
    m_state->observer = std::move(observer);
}

void KeypadEmulator::rgbFromWire(uint16_t pixel, uint8_t &red, uint8_t &green, uint8_t &blue)
{
    const unsigned r = pixel >> 11, g = (pixel >> 5) & 0x3F, b = pixel & 0x1F;
    red = static_cast<uint8_t>(r << 3 | r >> 2);
    green = static_cast<uint8_t>(g << 2 | g >> 4);
    blue = static_cast<uint8_t>(b << 3 | b >> 2);
}

bool KeypadEmulator::waitUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout) const
{
    const auto deadline = Clock::now() + timeout;
    State &s = *m_state;
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard lk(s.lock);
            seen = s.generation;
        }
        if (predicate())
            return true;
        std::unique_lock lk(s.lock);
        if (!s.changed.wait_until(lk, deadline, [&] { return s.generation != seen; }))
            return false;
    }
}

bool KeypadEmulator::waitForPackets(uint8_t command, long count, std::chrono::milliseconds timeout) const
{
    State &s = *m_state;
    std::unique_lock lk(s.lock);
    return s.changed.wait_for(lk, timeout, [&] { return s.perCommand[command] >= count; });
}

bool KeypadEmulator::writePng(const std::string &path, std::string *error) const
{
    constexpr int margin = kPngMargin, gap = kPngGap, bezel = 3, n = kFaceSize;
    constexpr int width = 2 * margin + kKeys * n + (kKeys - 1) * gap;
    constexpr int height = 2 * margin + n;
    std::vector<uint8_t> image(width * height * 3);
    for (size_t i = 0; i < image.size(); i += 3) {
        image[i] = 30;
        image[i + 1] = 32;
        image[i + 2] = 36;
    }
    std::array<std::vector<uint8_t>, kKeys> faces;
    bool on;
    int level;
    {
        std::lock_guard lk(m_state->lock);
        for (int k = 0; k < kKeys; ++k)
            faces[k] = rgbFrom(m_state->shown[k]);
        on = m_state->displayOn;
        level = m_state->brightness;
    }
    const int scale = on ? std::clamp(level, 0, kDefaultBrightness) : 0;
    for (int k = 0; k < kKeys; ++k) {
        const int x0 = margin + k * (n + gap), y0 = margin;
        for (int y = y0 - bezel; y < y0 + n + bezel; ++y) {
            for (int x = x0 - bezel; x < x0 + n + bezel; ++x) {
                uint8_t *dst = &image[(y * width + x) * 3];
                if (y < y0 || y >= y0 + n || x < x0 || x >= x0 + n) {
                    dst[0] = dst[1] = dst[2] = 58;
                    continue;
                }
                const uint8_t *src = &faces[k][((y - y0) * n + (x - x0)) * 3];
                for (int c = 0; c < 3; ++c)
                    dst[c] = static_cast<uint8_t>(src[c] * scale / kDefaultBrightness);
            }
        }
    }

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = width;
    png.height = height;
    png.format = PNG_FORMAT_RGB;
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    if (!png_image_write_to_file(&png, tmp.c_str(), 0, image.data(), width * 3, nullptr)) {
        if (error)
            *error = tmp + ": " + png.message;
        png_image_free(&png);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error)
            *error = errnoText(path.c_str());
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace pixkey
