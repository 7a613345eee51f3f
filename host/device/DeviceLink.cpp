#include "DeviceLink.h"

#include "LinkCompletion.h"
#include "TtySerialPort.h"
#include "UdevPortLocator.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace pixkey {

namespace {

using std::chrono::milliseconds;

// A device that keeps sending bytes without ever acknowledging would hold the worker in the reply
// loop forever; after this many bytes the acknowledgement counts as not received.
constexpr int kReplyByteLimit = 4096;

std::string envPortOverride()
{
    const char *v = std::getenv("PIXKEY_PORT");
    return v ? std::string(v) : std::string();
}

std::string baseName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

DeviceLink::DeviceLink(DeviceListener *listener, DeviceLinkOptions options)
    : m_listener(listener),
      m_timings(options.timings),
      m_clock(options.clock ? std::move(options.clock) : std::make_shared<SteadyLinkClock>()),
      m_observer(options.observer),
      m_portOverride(options.portPath.empty() ? envPortOverride() : options.portPath),
      m_port(options.port ? std::move(options.port) : std::make_unique<TtySerialPort>()),
      m_locator(options.locator ? std::move(options.locator) : std::make_unique<UdevPortLocator>()),
      m_uploadPicture(kPictureBytes, 0)
{
    m_port->setWriteLimit(m_timings.writeLimit);
    m_port->SetReadTimeout(m_timings.ackTimeout);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd for the device worker");
    // Everything is initialised before the worker starts.
    m_worker = std::thread(&DeviceLink::workerMain, this);
}

DeviceLink::~DeviceLink()
{
    Disconnect();
    setEvents(EvStop);
    m_worker.join();
    m_port->ClosePort();
    ::close(m_wakeFd);
}

// ---- any thread ------------------------------------------------------------------------------

void DeviceLink::setEvents(unsigned bits)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events |= bits;
    }
    const uint64_t one = 1;
    // The eventfd only wakes the worker; the bits carry the meaning, so a full counter is harmless.
    [[maybe_unused]] const ssize_t r = ::write(m_wakeFd, &one, sizeof one);
}

bool DeviceLink::onWorkerThread() const { return m_workerId.load() == std::this_thread::get_id(); }

void DeviceLink::Connect() { setEvents(EvConnect); }

void DeviceLink::Disconnect()
{
    if (onWorkerThread()) {
        // Waiting for the worker here would wait for ourselves: close directly. An operation that
        // was under way fails on the closed port and must not reopen it.
        m_port->ClosePort();
        m_connected = false;
        m_closedOnRequest = true;
        return;
    }
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_workerDone)
            return;
        ticket = ++m_disconnectRequests;
    }
    setEvents(EvDisconnect);
    std::unique_lock<std::mutex> guard(m_lock);
    m_disconnectDone.wait(guard, [&] { return m_disconnectsServed >= ticket || m_workerDone; });
}

int DeviceLink::SubmitFrame(int deviceKey, const uint8_t *picture, bool wait)
{
    if (deviceKey < 1 || deviceKey > kKeyCount || !picture)
        return -1;
    if (wait && onWorkerThread())
        return -1;
    std::shared_ptr<LinkCompletion> superseded, mine;
    bool dirty = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_workerDone)
            return -1;
        KeyFrameSlot &slot = m_slots[deviceKey - 1];
        superseded = std::move(slot.waiter);
        const uint8_t *shown = slot.shown.data();
        int first = 0;
        while (first < kFaceSize && std::memcmp(shown + first * kRowBytes, picture + first * kRowBytes, kRowBytes) == 0)
            ++first;
        if (first == kFaceSize) {
            // Equal to what the key shows: nothing to upload. A pending picture is dropped, and
            // pending is brought back to the shown picture so a later refresh resends this one.
            if (!slot.clean)
                std::memcpy(slot.pending.data(), picture, kPictureBytes);
            slot.clean = true;
            slot.firstDirty = slot.endDirty = -1;
        } else {
            int last = kFaceSize - 1;
            while (last > first && std::memcmp(shown + last * kRowBytes, picture + last * kRowBytes, kRowBytes) == 0)
                --last;
            std::memcpy(slot.pending.data(), picture, kPictureBytes);
            slot.clean = false;
            slot.firstDirty = first;
            slot.endDirty = last + 1;
            dirty = true;
            if (wait) {
                mine = std::make_shared<LinkCompletion>();
                slot.waiter = mine;
            }
        }
    }
    if (superseded)
        superseded->complete(0);
    if (dirty)
        setEvents(EvWork);
    return mine ? mine->wait() : 0;
}

int DeviceLink::PostCommand(LinkCommand cmd, uint8_t a1, uint8_t a2, uint8_t a3, bool wait)
{
    if (wait && onWorkerThread())
        return SendCommand(cmd, a1, a2, a3);
    std::shared_ptr<LinkCompletion> completion = wait ? std::make_shared<LinkCompletion>() : nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_workerDone)
            return -1;
        m_queue.push_back({cmd, a1, a2, a3, completion});
    }
    setEvents(EvWork);
    return completion ? completion->wait() : 0;
}

void DeviceLink::RequestRefresh()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_refreshAll = true;
    }
    setEvents(EvWork);
}

void DeviceLink::HoldDisplayUntilAllSent()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_holdDisplay = true;
}

void DeviceLink::SetGamma(double gamma)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tables.SetGamma(gamma);
    m_tablesGeneration.fetch_add(1);
}

void DeviceLink::SetWhiteBalance(int kelvin)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tables.SetWhiteBalance(kelvin))
        m_tablesGeneration.fetch_add(1);
}

bool DeviceLink::IsConnected() const { return m_connected.load(); }

std::string DeviceLink::portName() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_portName;
}

std::string DeviceLink::lastOpenError() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastOpenError;
}

int DeviceLink::waitingCallers() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    int n = 0;
    for (const KeyFrameSlot &slot : m_slots)
        n += slot.waiter ? 1 : 0;
    for (const QueuedCommand &c : m_queue)
        n += c.completion ? 1 : 0;
    return n;
}

PixelTables DeviceLink::pixelTables() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tables;
}

void DeviceLink::ConvertLine(const uint8_t *rowPixels, uint8_t *wire) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tables.ConvertLine(rowPixels, wire);
}

// ---- protocol (worker thread) ----------------------------------------------------------------

int DeviceLink::SendPacket(LinkPacket &packet, uint8_t checksum)
{
    if (!m_connected)
        return -1;
    packet[kPacketSize - 1] = checksum;
    size_t written = 0;
    if (!m_port->WriteBytes(packet.data(), kPacketSize, written) || written != kPacketSize) {
        OnLinkError(LinkError::WriteFailed);
        return -1;
    }
    if (m_observer)
        m_observer->onPacketSent(packet.data());

    enum { Waiting, AfterZero, AfterOne } state = Waiting;
    for (int count = 0;; ++count) {
        if (count >= kReplyByteLimit) {
            OnLinkError(LinkError::ReadTimeout);
            return -1;
        }
        uint8_t b = 0;
        bool got = false;
        if (!m_port->ReadByte(b, got)) {
            OnLinkError(LinkError::ReadFailed);
            return -1;
        }
        if (!got) {
            OnLinkError(LinkError::ReadTimeout);
            return -1;
        }
        switch (state) {
        case Waiting:
            // Order matters: a checksum of 0x00 or 0x01 is only ever recognised after a 0x00.
            if (b == 0x00)
                state = AfterZero;
            else if (b == 0x01)
                state = AfterOne;
            else if (b == checksum)
                return 0;
            break;
        case AfterZero:
            if (b != checksum)
                OnLinkError(LinkError::BadAcknowledge); // resynchronises; the packet counts as delivered
            return 0;
        case AfterOne:
            if (b >= 1 && b <= kKeyCount)
                OnKeyPressed(b);
            else
                OnLinkError(LinkError::BadKeyNumber);
            state = Waiting;
            break;
        }
    }
}

int DeviceLink::SendCommand(LinkCommand cmd, uint8_t a1, uint8_t a2, uint8_t a3)
{
    if (!m_connected)
        return -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        LinkPacket packet = makeCommandPacket(cmd, a1, a2, a3);
        if (SendPacket(packet, packet[kPacketSize - 1]) == 0)
            return 0;
    }
    return -1;
}

int DeviceLink::SendLine(int key, int line, const uint8_t *rowPixels)
{
    // The worker's copy of the tables is renewed when they changed, as a whole under the lock, so
    // a line never mixes old and new tables and the lock is not taken line by line.
    if (const uint64_t generation = m_tablesGeneration.load(); generation != m_workerTablesGeneration) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_workerTables = m_tables;
        m_workerTablesGeneration = m_tablesGeneration.load();
    }
    uint8_t wire[kLineBytes];
    m_workerTables.ConvertLine(rowPixels, wire);
    for (int attempt = 0; attempt < 3; ++attempt) {
        LinkPacket packet = makeLinePacket(key, line, wire);
        if (SendPacket(packet, packet[kPacketSize - 1]) == 0)
            return 0;
    }
    return -1;
}

int DeviceLink::SendFrameBand(int key, const uint8_t *picture, int firstRow, int endRow, bool show)
{
    if (key < 1 || key > kKeyCount || !picture)
        return -1;
    firstRow = std::clamp(firstRow, 0, kFaceSize);
    endRow = std::clamp(endRow, 0, kFaceSize);
    // Bottom row first: wire line 95 - row ascending.
    for (int row = endRow - 1; row >= firstRow; --row) {
        if (SendLine(key, kFaceSize - 1 - row, picture + row * kRowBytes) != 0)
            return -1;
    }
    if (show)
        return SendCommand(LinkCommand::ShowFrame, static_cast<uint8_t>(key), 0, 0);
    return 0;
}

bool DeviceLink::Synchronise()
{
    // Zeros are written one at a time until the device's packet parser completes a packet of
    // zeros and acknowledges it with 0x00 0x00. Any other answer means the parser was somewhere
    // else: start counting again.
    const auto fail = [this](LinkError code) {
        m_port->SetReadTimeout(m_timings.ackTimeout);
        OnLinkError(code);
        return false;
    };
    // From the 191st zero on, every zero waits for the answer, so that few zeros go out after the
    // acknowledging one.
    m_port->SetReadTimeout(m_timings.syncEarlyWait);
    int counter = 0;
    int total = 0;
    for (;;) {
        const uint8_t zero = 0;
        size_t written = 0;
        if (!m_port->WriteBytes(&zero, 1, written))
            return fail(LinkError::WriteFailed);
        if (written == 0 || counter > m_timings.syncBudget || total > m_timings.syncTotalBudget)
            return fail(LinkError::SyncFailed);
        ++total;
        if (counter == 191)
            m_port->SetReadTimeout(m_timings.syncAnswerWait);
        uint8_t b = 0;
        bool got = false;
        if (!m_port->ReadByte(b, got))
            return fail(LinkError::ReadFailed);
        ++counter;
        if (!got)
            continue;
        if (b != 0x00) {
            // A key report or stray byte says nothing about where the parser stands, so the count
            // restarts with the short waits: holding every zero for an answer from here on would
            // let a keypad that is being pressed hold up the handshake for seconds each time.
            counter = 0;
            m_port->SetReadTimeout(m_timings.syncEarlyWait);
            continue;
        }
        m_port->SetReadTimeout(m_timings.ackTimeout);
        if (!m_port->ReadByte(b, got))
            return fail(LinkError::ReadFailed);
        if (!got)
            return fail(LinkError::ReadTimeout);
        OnConnectionChanged(1);
        return true;
    }
}

void DeviceLink::ReadKeyReport()
{
    uint8_t key = 0;
    bool got = false;
    if (!m_port->ReadByte(key, got)) {
        OnLinkError(LinkError::ReadFailed);
        return;
    }
    if (!got) {
        OnLinkError(LinkError::ReadTimeout);
        return;
    }
    if (key >= 1 && key <= kKeyCount)
        OnKeyPressed(key);
    // Other values are dropped without a report.
}

bool DeviceLink::DiscoverAndOpen()
{
    std::vector<std::string> paths;
    if (!m_portOverride.empty()) {
        paths.push_back(m_portOverride);
    } else if (!m_locator->locate(paths)) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_lastOpenError = "no keypad adapter (USB 067b:2303) is attached";
        }
        OnLinkError(LinkError::NoAdapterKey);
        return false;
    }
    // The first path that opens wins; stale or busy ones are skipped.
    std::string errors;
    bool opened = false;
    for (const std::string &path : paths) {
        if (m_port->OpenPort(path.c_str())) {
            opened = true;
            break;
        }
        if (!errors.empty())
            errors += "; ";
        errors += m_port->lastOpenError();
    }
    if (paths.empty())
        errors = "no keypad adapter (USB 067b:2303) is attached";
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastOpenError = opened ? std::string() : errors;
    if (opened)
        m_portName = baseName(m_port->path());
    return opened;
}

void DeviceLink::updatePortInfo()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastOpenError = m_port->isOpen() ? std::string() : m_port->lastOpenError();
}

void DeviceLink::OnLinkError(LinkError code)
{
    if (m_observer)
        m_observer->onLinkError(code);
    if (!triggersRecovery(code))
        return;
    if (m_closedOnRequest) {
        m_port->ClosePort();
        return;
    }
    if (m_recovering) {
        // The recovery itself failed: the link is lost until the next Connect.
        m_port->ClosePort();
        OnConnectionChanged(0);
        return;
    }
    if (code == LinkError::BadAcknowledge) {
        Synchronise();
        return;
    }
    m_port->ClosePort();
    std::this_thread::sleep_for(m_timings.recoveryWait);
    m_port->OpenPort(nullptr); // the same path, no new discovery
    updatePortInfo();
    std::this_thread::sleep_for(m_timings.recoveryWait);
    m_recovering = true;
    Synchronise();
    m_recovering = false;
}

void DeviceLink::OnKeyPressed(int key)
{
    if (m_listener)
        m_listener->OnKeyPressed(key);
}

void DeviceLink::OnConnectionChanged(int state)
{
    const bool now = state != 0;
    const bool before = m_connected.exchange(now);
    if (before != now && m_listener)
        m_listener->OnConnectionChanged(now ? 1 : 0);
}

// ---- worker ----------------------------------------------------------------------------------

unsigned DeviceLink::waitForEvent(bool listen, bool &portReadable)
{
    portReadable = false;
    const auto takeOne = [this]() -> unsigned {
        for (unsigned bit : {EvStop, EvConnect, EvDisconnect, EvWork}) {
            if (m_events & bit) {
                m_events &= ~bit;
                return bit;
            }
        }
        return 0;
    };
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (const unsigned bit = takeOne())
            return bit;
    }
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {listen ? m_port->pollFd() : -1, POLLIN, 0}};
    const int pr = ::poll(fds, 2, static_cast<int>(m_timings.idleWait.count()));
    if (pr > 0 && (fds[0].revents & POLLIN)) {
        uint64_t count;
        [[maybe_unused]] const ssize_t r = ::read(m_wakeFd, &count, sizeof count);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (const unsigned bit = takeOne())
        return bit;
    portReadable = pr > 0 && fds[1].fd >= 0 && fds[1].revents != 0;
    return 0;
}

void DeviceLink::serveListeningRead()
{
    uint8_t b = 0;
    bool got = false;
    if (!m_port->readByteWithin(b, got, milliseconds(0))) {
        OnLinkError(LinkError::ReadFailed);
        return;
    }
    if (got && b == 0x01)
        ReadKeyReport();
}

void DeviceLink::drainCommands()
{
    for (;;) {
        QueuedCommand c;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_queue.empty())
                return;
            c = std::move(m_queue.front());
            m_queue.pop_front();
        }
        const int result = SendCommand(c.cmd, c.a1, c.a2, c.a3);
        if (c.completion)
            c.completion->complete(result);
    }
}

void DeviceLink::ServeFrames()
{
    bool refresh;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Taken at the start, so that a refresh requested during these uploads is not lost.
        refresh = m_refreshAll;
        m_refreshAll = false;
    }
    if (refresh) {
        for (int key = 1; key <= kKeyCount; ++key) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                KeyFrameSlot &slot = m_slots[key - 1];
                slot.clean = false;
                slot.firstDirty = 0;
                slot.endDirty = kFaceSize;
            }
            UploadKey(key);
        }
    } else {
        int key = 0;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (int i = 1; i <= kKeyCount && !key; ++i) {
                const int k = (m_lastServedKey + i - 1) % kKeyCount + 1;
                if (!m_slots[k - 1].clean)
                    key = k;
            }
        }
        if (!key) {
            releaseIdleHold();
            return;
        }
        UploadKey(key);
        m_lastServedKey = key;
    }
    bool more = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const KeyFrameSlot &slot : m_slots)
            more = more || !slot.clean;
    }
    if (more)
        setEvents(EvWork); // one key per pass: commands and key reports get their turn in between
}

void DeviceLink::UploadKey(int key)
{
    std::shared_ptr<LinkCompletion> waiter;
    int first, end;
    bool show;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_holdDisplay) {
            for (KeyFrameSlot &slot : m_slots)
                slot.hold = KeyFrameSlot::HeldWaiting;
            m_holdDisplay = false;
        }
        KeyFrameSlot &slot = m_slots[key - 1];
        first = slot.firstDirty;
        end = slot.endDirty;
        waiter = std::move(slot.waiter);
        std::memcpy(m_uploadPicture.data(), slot.pending.data(), kPictureBytes);
        std::memcpy(slot.shown.data(), slot.pending.data(), kPictureBytes);
        slot.clean = true;
        slot.firstDirty = slot.endDirty = -1;
        // A held key stays held until every key waiting for its picture has it.
        show = slot.hold == KeyFrameSlot::Live;
        if (slot.hold == KeyFrameSlot::HeldWaiting)
            slot.hold = KeyFrameSlot::HeldUploaded;
    }
    const int result = SendFrameBand(key, m_uploadPicture.data(), first, end, show);
    if (waiter)
        waiter->complete(result);

    int owed[kKeyCount];
    int owedCount = 0;
    bool revisit = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_holdDisplay) {
            // A new hold came in during this upload. When no picture is waiting for it, the next
            // pass ends it (releaseIdleHold), so this key's ShowFrame is not owed for ever.
            revisit = true;
        } else {
            for (const KeyFrameSlot &slot : m_slots) {
                if (slot.hold == KeyFrameSlot::HeldWaiting && !slot.clean)
                    return; // more uploads to come
            }
            for (int k = 1; k <= kKeyCount; ++k) {
                if (m_slots[k - 1].hold == KeyFrameSlot::HeldUploaded)
                    owed[owedCount++] = k;
                m_slots[k - 1].hold = KeyFrameSlot::Live;
            }
        }
    }
    if (revisit) {
        setEvents(EvWork);
        return;
    }
    for (int i = 0; i < owedCount; ++i)
        SendCommand(LinkCommand::ShowFrame, static_cast<uint8_t>(owed[i]), 0, 0);
}

void DeviceLink::releaseIdleHold()
{
    // Nothing is waiting for an upload: a pending hold has no pictures to hold back, and keys that
    // were uploaded under an earlier hold are shown now.
    int owed[kKeyCount];
    int owedCount = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const KeyFrameSlot &slot : m_slots) {
            if (!slot.clean)
                return;
        }
        m_holdDisplay = false;
        for (int k = 1; k <= kKeyCount; ++k) {
            if (m_slots[k - 1].hold == KeyFrameSlot::HeldUploaded)
                owed[owedCount++] = k;
            m_slots[k - 1].hold = KeyFrameSlot::Live;
        }
    }
    for (int i = 0; i < owedCount; ++i)
        SendCommand(LinkCommand::ShowFrame, static_cast<uint8_t>(owed[i]), 0, 0);
}

void DeviceLink::failAllWaiters()
{
    std::vector<std::shared_ptr<LinkCompletion>> waiters;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_workerDone = true;
        for (QueuedCommand &c : m_queue) {
            if (c.completion)
                waiters.push_back(std::move(c.completion));
        }
        m_queue.clear();
        for (KeyFrameSlot &slot : m_slots) {
            if (slot.waiter)
                waiters.push_back(std::move(slot.waiter));
        }
    }
    m_disconnectDone.notify_all();
    for (auto &w : waiters)
        w->complete(-1);
}

void DeviceLink::workerMain()
{
    m_workerId = std::this_thread::get_id();
    // Named so that process monitors and the measuring tools can tell it from the other threads.
    pthread_setname_np(pthread_self(), "pixkey-link");
    milliseconds t0 = m_clock->now();
    bool renewT0 = false;
    for (;;) {
        if (renewT0) {
            t0 = m_clock->now();
            renewT0 = false;
        }
        bool readable = false;
        const unsigned event = waitForEvent(m_connected && m_port->isOpen(), readable);
        if (event == EvStop)
            break;
        if (event == EvConnect) {
            m_closedOnRequest = false;
            if (m_port->isOpen() || DiscoverAndOpen())
                Synchronise();
            std::lock_guard<std::mutex> guard(m_lock);
            m_events &= ~EvConnect; // requests that came in meanwhile were served by this one
        } else if (event == EvDisconnect) {
            m_port->ClosePort();
            m_connected = false;
            m_closedOnRequest = true;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_disconnectsServed = m_disconnectRequests;
            }
            m_disconnectDone.notify_all();
        } else if (event == EvWork) {
            drainCommands();
            ServeFrames();
        } else if (readable) {
            serveListeningRead();
        }
        if (!m_connected)
            continue; // no keep-alive while down; t0 keeps its age
        const milliseconds elapsed = m_clock->now() - t0;
        if (elapsed <= m_timings.keepAlivePeriod)
            continue;
        SendCommand(elapsed > m_timings.displayOnAfter ? LinkCommand::DisplayOn : LinkCommand::Ping, 0, 0, 0);
        renewT0 = true;
    }
    failAllWaiters();
    m_port->ClosePort();
}

} // namespace pixkey
