#include "ImpressMonitor.h"

#include "ProgramProbe.h"

#include <pixkey/utility/CFileImage.h>

#include <cstring>

namespace slideshow {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxThumbnails = 48;
constexpr std::size_t kMaxCommands = 8;
constexpr auto kExportRetry = std::chrono::seconds(2);

std::vector<std::string> fieldsOf(const std::optional<std::string> &answer)
{
    if (!answer)
        return {};
    std::vector<std::string> fields = protocol::split(*answer);
    if (fields.empty() || fields[0] != "ok")
        return {};
    return fields;
}

bool succeeded(const std::optional<std::string> &answer)
{
    return !fieldsOf(answer).empty();
}

// Loads an exported picture and scales it down to `size`: the export at twice the size is drawn
// smoothly into the key's pixels.
std::shared_ptr<const QImage> loadThumbnail(const std::string &file, ThumbnailSize size)
{
    pixkey::CFileImage picture;
    if (!picture.Load(file.c_str()) || !picture.Fit(size.width, size.height))
        return nullptr;
    QImage image(picture.GetWidth(), picture.GetHeight(), QImage::Format_ARGB32);
    if (image.isNull())
        return nullptr;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), picture.bits + static_cast<std::size_t>(y) * picture.GetStride(),
                    static_cast<std::size_t>(image.width()) * 4);
    return std::make_shared<const QImage>(std::move(image));
}

} // namespace

ImpressMonitor::ImpressMonitor(MonitorOptions options)
    : m_options(std::move(options)), m_bridge(m_options.helperPath, {m_options.pipeName})
{
    m_thread = std::thread([this] { run(); });
}

ImpressMonitor::~ImpressMonitor()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_bridge.stop();
    m_thread.join();
    m_bridge.resume();
    m_bridge.close();
}

std::shared_ptr<ImpressMonitor> ImpressMonitor::shared(const MonitorOptions &options)
{
    static std::mutex mutex;
    static std::weak_ptr<ImpressMonitor> current;
    std::lock_guard lock(mutex);
    std::shared_ptr<ImpressMonitor> monitor = current.lock();
    if (!monitor) {
        monitor = std::make_shared<ImpressMonitor>(options);
        current = monitor;
    }
    return monitor;
}

int ImpressMonitor::subscribe(int kind, int gotoIndex, const std::string &thumbnailFile)
{
    int id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_subscribers[id] = Subscriber{kind, gotoIndex, thumbnailFile};
        m_pollNow = true;
    }
    m_changed.notify_all();
    return id;
}

void ImpressMonitor::setGotoIndex(int id, int gotoIndex)
{
    {
        std::lock_guard lock(m_mutex);
        auto found = m_subscribers.find(id);
        if (found == m_subscribers.end() || found->second.gotoIndex == gotoIndex)
            return;
        found->second.gotoIndex = gotoIndex;
        m_pollNow = true;
    }
    m_changed.notify_all();
}

void ImpressMonitor::unsubscribe(int id)
{
    std::lock_guard lock(m_mutex);
    m_subscribers.erase(id);
}

Snapshot ImpressMonitor::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

std::shared_ptr<const QImage> ImpressMonitor::thumbnail(const SlideIdentity &slide, ThumbnailSize size) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_thumbnails.find(SlideKey{slide.document, slide.changes, slide.number});
    if (found == m_thumbnails.end() || !(found->second.size == size))
        return nullptr;
    return found->second.image;
}

bool ImpressMonitor::press(int kind, int gotoIndex)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_commands.size() >= kMaxCommands)
            return false;
        m_commands.push_back(Command{kind, gotoIndex});
    }
    m_changed.notify_all();
    return true;
}

bool ImpressMonitor::waitForPublication(unsigned long serial, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_snapshot.serial > serial; });
}

int ImpressMonitor::helperStarts() const
{
    std::lock_guard lock(m_mutex);
    return m_helperStarts;
}

void ImpressMonitor::run()
{
    auto next = Clock::now();
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait_until(lock, next, [&] {
            return m_stopping
                   || (!m_subscribers.empty() && (m_pollNow || !m_commands.empty() || Clock::now() >= next));
        });
        if (m_stopping)
            return;
        if (m_subscribers.empty()) {
            // Nobody looks: no helper runs, and the next key to come sees a fresh state.
            lock.unlock();
            m_bridge.close();
            lock.lock();
            next = Clock::now() + std::chrono::hours(1);
            continue;
        }
        m_pollNow = false;
        lock.unlock();
        cycle();
        lock.lock();
        next = std::max(Clock::now() + m_options.pollInterval, m_pauseUntil);
    }
}

std::optional<std::string> ImpressMonitor::ask(const std::string &line, std::chrono::milliseconds timeout, bool moves)
{
    std::optional<std::string> answer = m_bridge.request(line, timeout);
    const BridgeProcess::Failure failure = m_bridge.lastFailure();
    if (!answer
        && (failure == BridgeProcess::Failure::Undelivered || (failure == BridgeProcess::Failure::Ended && !moves)))
        answer = m_bridge.request(line, timeout);
    if (!answer && m_bridge.lastFailure() == BridgeProcess::Failure::Timeout)
        m_pauseUntil = Clock::now() + m_options.retryPause;
    {
        std::lock_guard lock(m_mutex);
        m_helperStarts = m_bridge.starts();
    }
    return answer;
}

void ImpressMonitor::cycle()
{
    const pid_t program = m_options.findProgram ? m_options.findProgram() : 0;
    if (program <= 0) {
        m_bridge.close();
        {
            std::lock_guard lock(m_mutex);
            m_commands.clear(); // presses while no office runs do nothing
        }
        publish(Snapshot{});
        return;
    }

    for (;;) {
        Command command;
        {
            std::lock_guard lock(m_mutex);
            if (m_commands.empty() || m_stopping)
                break;
            command = m_commands.front();
            m_commands.pop_front();
        }
        runCommand(command);
    }

    const std::optional<std::string> answer = ask("state", m_options.stateTimeout);
    Snapshot snapshot;
    snapshot.program = true;
    if (!answer) {
        // A helper that could not start leaves no connection; one that stopped answering (the
        // office busy, a dialog open) leaves the keys as they are.
        if (m_bridge.lastFailure() == BridgeProcess::Failure::StartFailed)
            publish(snapshot);
        return;
    }
    if (!protocol::parseState(*answer, &snapshot.state))
        return;
    if (snapshot.state.stage == StageNoProgram && m_handedOverTo != program && m_options.requestPipe) {
        // The office runs but does not listen: ask it once to open the pipe.
        m_handedOverTo = program;
        m_options.requestPipe(program, m_options.pipeName);
    }
    if (m_session != m_bridge.starts()) {
        // Document numbers start again with every helper.
        m_session = m_bridge.starts();
        m_failedExports.clear();
        std::lock_guard lock(m_mutex);
        m_thumbnails.clear();
        m_thumbnailOrder.clear();
    }
    snapshot.document = (static_cast<long long>(m_session) << 32) | (snapshot.state.document & 0xffffffffL);
    if (snapshot.state.stage == StageCurrentSlide)
        makeThumbnails(snapshot);
    publish(snapshot);
}

void ImpressMonitor::makeThumbnails(const Snapshot &snapshot)
{
    std::vector<Subscriber> subscribers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, subscriber] : m_subscribers)
            subscribers.push_back(subscriber);
    }
    const ThumbnailSize size = thumbnailSize(snapshot.state.width, snapshot.state.height);
    for (const Subscriber &subscriber : subscribers) {
        const int number =
            targetNumber(subscriber.kind, snapshot.state.current, snapshot.state.count, subscriber.gotoIndex);
        if (number == 0)
            continue;
        const SlideKey key{snapshot.document, snapshot.state.changes, number};
        {
            std::lock_guard lock(m_mutex);
            auto found = m_thumbnails.find(key);
            if (found != m_thumbnails.end() && found->second.size == size)
                continue;
        }
        auto failed = m_failedExports.find(key);
        if (failed != m_failedExports.end() && Clock::now() < failed->second)
            continue;

        std::remove(subscriber.file.c_str());
        const std::optional<std::string> answer =
            ask("export\t" + std::to_string(snapshot.state.document) + "\t" + std::to_string(number) + "\t"
                    + std::to_string(2 * size.width) + "\t" + std::to_string(2 * size.height) + "\t" + subscriber.file,
                m_options.exportTimeout);
        std::shared_ptr<const QImage> image = succeeded(answer) ? loadThumbnail(subscriber.file, size) : nullptr;
        if (!image) {
            m_failedExports[key] = Clock::now() + kExportRetry;
            if (!answer)
                return; // the helper is gone or busy: no more exports this time
            continue;
        }
        m_failedExports.erase(key);
        std::lock_guard lock(m_mutex);
        m_thumbnails[key] = CachedThumbnail{size, std::move(image)};
        m_thumbnailOrder.push_back(key);
        while (m_thumbnailOrder.size() > kMaxThumbnails) {
            m_thumbnails.erase(m_thumbnailOrder.front());
            m_thumbnailOrder.pop_front();
        }
    }
}

void ImpressMonitor::runCommand(const Command &command)
{
    const auto timeout = m_options.commandTimeout;
    const std::vector<std::string> presentations = fieldsOf(ask("presentations", timeout));
    long open = 0;
    if (presentations.size() != 2 || !protocol::parseNumber(presentations[1], &open) || open <= 0)
        return;
    const std::optional<std::string> showAnswer = ask("show", timeout);
    if (!showAnswer)
        return; // no helper answers: starting a show now could start one that runs
    const std::vector<std::string> show = fieldsOf(showAnswer);
    long current = 0, count = 0;

    // A step the office refused may fall back to another; one whose helper ended or stopped
    // answering ends the command, since the office may have done it (the next state shows).
    enum class Step { Done, Refused, Lost };
    const auto step = [&](const std::string &line) {
        const std::optional<std::string> answer = ask(line, timeout, true);
        return !answer ? Step::Lost : succeeded(answer) ? Step::Done : Step::Refused;
    };
    if (show.size() != 3 || !protocol::parseNumber(show[1], &current) || !protocol::parseNumber(show[2], &count)) {
        // No slide show runs: any key starts one, from the presentation's own settings.
        step("start");
        return;
    }
    // A show runs: a step that fails leaves it where it is (it is not started over).
    switch (command.kind) {
    case KindPrevious:
        step("previous");
        break;
    case KindNext:
        step("next");
        break;
    case KindNextNearest: {
        Step moved;
        if (current + 1 < count)
            moved = step("goto\t" + std::to_string(current + 2));
        else if (current < count)
            moved = step("next");
        else
            moved = step("first");
        if (moved == Step::Refused)
            step("first");
        break;
    }
    case KindGoto:
        step("goto\t" + std::to_string(command.gotoIndex));
        break;
    default:
        break;
    }
}

void ImpressMonitor::publish(Snapshot snapshot)
{
    {
        std::lock_guard lock(m_mutex);
        snapshot.serial = m_snapshot.serial + 1;
        m_snapshot = std::move(snapshot);
    }
    m_changed.notify_all();
}

} // namespace slideshow
