#include "PluginInstance.h"

#include "BusyAnimator.h"
#include "FaceHandOff.h"
#include "FaceSink.h"
#include "LoadedLibrary.h"

#include <QPainter>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace pixkey {

// Everything the paint thread touches. The instance and its paint thread share it, so a thread
// that is still inside the plug-in when the instance goes away can finish the call, delete the
// object and release the library on its own.
struct PluginInstance::Shared final : BusyTarget, std::enable_shared_from_this<PluginInstance::Shared> {
    Shared(FaceSink &sink, BusyAnimator &animator) : sink(sink), animator(animator) {}

    FaceSink &sink;
    BusyAnimator &animator;
    PluginCallGuard guard; // main-thread calls and paint-thread calls, as the contract allows
    std::chrono::milliseconds period{kDefaultPaintPeriod};

    // Run state; guarded by `mutex`, changes announced on `changed`.
    mutable std::mutex mutex;
    std::condition_variable changed;
    PluginInstance *owner = nullptr;    // null once the instance is gone
    bool active = false;
    bool stop = false;                  // stop event: set by Deactivate, consumed by the thread or Activate
    bool key = false;                   // key event: presses while busy count once
    bool threadRunning = false;         // cleared when the thread ends (the ended event)
    bool orphaned = false;              // the instance is gone; the thread deletes the object
    std::shared_ptr<FaceHandOff> paintHandOff; // the one the paint thread waits for
    std::shared_ptr<FaceHandOff> busyHandOff;  // the animator's latest, not waited for
    std::thread thread;                 // main thread only

    // Pictures; guarded by `faceMutex` where the main thread or the animator may read them. The
    // paint thread is the only one that writes pictures[] and `front`.
    mutable std::mutex faceMutex;
    QImage pictures[2];
    int front = -1;                     // -1: no face
    QImage overlay;
    bool overlayShown = false;
    std::atomic<bool> overlayDrawnThisPaint{false};

    bool isActive()
    {
        std::lock_guard lock(mutex);
        return active;
    }

    bool busyActive() const override
    {
        std::lock_guard lock(mutex);
        return active;
    }

    void showBusyFrame(int frame) override
    {
        {
            std::lock_guard lock(faceMutex);
            overlay = front >= 0 ? pictures[front].copy() : QImage(PKX_FACE_SIZE, PKX_FACE_SIZE, QImage::Format_BGR888);
            if (front < 0)
                overlay.fill(Qt::black);
            QPainter painter(&overlay);
            painter.drawImage(BusyAnimator::kSpinnerX, BusyAnimator::kSpinnerY, BusyAnimator::spinnerFrame(frame));
            painter.end();
            overlayShown = true;
            overlayDrawnThisPaint.store(true);
        }
        std::shared_ptr<FaceHandOff> handOff;
        {
            std::lock_guard lock(mutex);
            if (!active || !owner || stop || (busyHandOff && !busyHandOff->isFinished()))
                return;
            handOff = busyHandOff = std::make_shared<FaceHandOff>(owner);
        }
        sink.post(std::move(handOff));
    }

    // [paint-thread] Announces the face and waits until the main thread has sent it, unless the
    // instance is stopping.
    void notifyFaceChanged()
    {
        std::shared_ptr<FaceHandOff> handOff;
        {
            std::lock_guard lock(mutex);
            if (!active || !owner || stop)
                return;
            handOff = paintHandOff = std::make_shared<FaceHandOff>(owner);
        }
        sink.post(handOff);
        handOff->wait();
        std::lock_guard lock(mutex);
        paintHandOff.reset();
    }

    // Under `mutex`: releases every sender and keeps the main thread from delivering.
    void abandonHandOffs()
    {
        if (paintHandOff)
            paintHandOff->abandon();
        if (busyHandOff)
            busyHandOff->abandon();
        busyHandOff.reset();
    }

    void hideOverlay()
    {
        std::lock_guard lock(faceMutex);
        overlayShown = false;
        overlay = QImage();
    }

    int paintInto(QImage &picture, const QImage *shown)
    {
        const bool wasActive = isActive();
        if (wasActive) {
            overlayDrawnThisPaint.store(false);
            animator.add(shared_from_this(), animator.now());
        }
        const int result = guard.Paint(picture, shown);
        if (wasActive) {
            animator.remove(this);
            std::lock_guard lock(faceMutex);
            overlayShown = false;
        }
        if (result == 0 && overlayDrawnThisPaint.load())
            notifyFaceChanged(); // the key gets the real face back
        return result;
    }

    // One activation of the paint thread, from OnEvent(1) to OnEvent(2).
    void session()
    {
        {
            std::lock_guard lock(faceMutex);
            for (QImage &picture : pictures) {
                picture = QImage(PKX_FACE_SIZE, PKX_FACE_SIZE, QImage::Format_BGR888);
                picture.fill(Qt::black);
            }
            front = 1;
        }
        guard.OnEvent(PKX_EVENT_ACTIVATE);
        for (bool first = true;; first = false) {
            const int back = 1 - front;
            const bool changed = paintInto(pictures[back], &pictures[front]) != 0 || first;
            if (changed) {
                std::lock_guard lock(faceMutex);
                front = back;
            }
            if (changed)
                notifyFaceChanged();

            std::unique_lock lock(mutex);
            waitForStopOrKey(lock);
            if (stop) {
                stop = false;
                key = false;
                break;
            }
            if (key) {
                key = false;
                lock.unlock();
                guard.OnKeyDown();
            }
        }
        {
            std::lock_guard lock(faceMutex);
            front = -1;
        }
        guard.OnEvent(PKX_EVENT_DEACTIVATE);
        std::lock_guard lock(faceMutex);
        pictures[0] = QImage();
        pictures[1] = QImage();
    }

    void waitForStopOrKey(std::unique_lock<std::mutex> &lock)
    {
        changed.wait_for(lock, period, [this] { return stop || key; });
    }

    static void run(std::shared_ptr<Shared> self)
    {
        // Named so that process monitors and the measuring tools can tell the paint threads apart
        // from the program's other threads.
        pthread_setname_np(pthread_self(), "pixkey-paint");
        for (;;) {
            self->session();
            std::unique_lock lock(self->mutex);
            // Activated again while this session was winding down: carry on with a new one.
            if (self->active && !self->orphaned)
                continue;
            self->threadRunning = false;
            const bool orphan = self->orphaned;
            lock.unlock();
            self->changed.notify_all();
            if (orphan) {
                self->guard.Delete();
                self->guard.releaseLibrary();
            }
            return;
        }
    }
};

PluginInstance::PluginInstance(std::shared_ptr<LoadedLibrary> library, int function, FaceSink &sink)
    : PluginInstance(std::move(library), function, sink, Options{})
{
}

PluginInstance::PluginInstance(std::shared_ptr<LoadedLibrary> library, int function, FaceSink &sink,
                               Options options)
    : m_shared(std::make_shared<Shared>(sink, options.animator ? *options.animator : BusyAnimator::instance())),
      m_function(function), m_destroyWait(options.destroyWait)
{
    m_shared->owner = this;
    m_shared->guard.Create(std::move(library), function);
    const auto period = m_shared->guard.GetInfo(PKX_INFO_PAINT_PERIOD);
    if (period > 0)
        m_paintPeriod = std::chrono::milliseconds(period);
    m_shared->period = m_paintPeriod;
}

PluginInstance::~PluginInstance()
{
    Shared &shared = *m_shared;
    shared.animator.remove(&shared);
    shared.hideOverlay();
    std::unique_lock lock(shared.mutex);
    shared.active = false;
    if (shared.threadRunning)
        shared.stop = true;
    shared.abandonHandOffs();
    shared.owner = nullptr;
    lock.unlock();
    shared.changed.notify_all();

    lock.lock();
    if (!shared.changed.wait_for(lock, m_destroyWait, [&] { return !shared.threadRunning; })) {
        // Still inside the plug-in: the thread deletes the object when the call returns.
        shared.orphaned = true;
        lock.unlock();
        shared.thread.detach();
        return;
    }
    lock.unlock();
    if (shared.thread.joinable())
        shared.thread.join();
    shared.guard.Delete();
    shared.guard.releaseLibrary();
}

void PluginInstance::Activate()
{
    Shared &shared = *m_shared;
    {
        std::lock_guard lock(shared.mutex);
        if (shared.active)
            return;
        shared.active = true;
        if (shared.stop) {
            shared.stop = false; // the running thread simply carries on
            return;
        }
        if (shared.threadRunning)
            return; // winding down; it starts a new session by itself
        shared.threadRunning = true;
        shared.key = false; // a press while no thread ran belongs to no face
    }
    if (shared.thread.joinable())
        shared.thread.join();
    shared.thread = std::thread(&Shared::run, m_shared);
}

void PluginInstance::Deactivate()
{
    Shared &shared = *m_shared;
    if (!shared.isActive())
        return;
    shared.animator.remove(&shared);
    {
        std::lock_guard lock(shared.mutex);
        shared.active = false;
        shared.stop = true;
        shared.abandonHandOffs();
    }
    shared.changed.notify_all();
    shared.hideOverlay();
}

bool PluginInstance::IsActive() const
{
    return m_shared->isActive();
}

void PluginInstance::KeyPressed()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->key = true;
    }
    m_shared->changed.notify_all();
}

QImage PluginInstance::face() const
{
    std::lock_guard lock(m_shared->faceMutex);
    if (m_shared->overlayShown && !m_shared->overlay.isNull())
        return m_shared->overlay.copy();
    if (m_shared->front < 0)
        return {};
    return m_shared->pictures[m_shared->front].copy();
}

const std::shared_ptr<LoadedLibrary> &PluginInstance::library() const
{
    return m_shared->guard.library();
}

bool PluginInstance::hasProperties()
{
    return m_shared->guard.GetInfo(PKX_INFO_HAS_PROPERTIES) != 0;
}

bool PluginInstance::GetProperty(int i, std::string &name, std::string &value)
{
    return m_shared->guard.GetProperty(PKX_PROPERTY_INSTANCE_BASE + i, name, value);
}

void PluginInstance::SetProperty(const std::string &name, const std::string &value)
{
    m_shared->guard.SetProperty(name, value);
}

bool PluginInstance::ShowProperties(void *parent)
{
    return m_shared->guard.ShowProperties(parent) != 0;
}

std::optional<std::string> PluginInstance::infoText(int code)
{
    return m_shared->guard.GetInfoText(code);
}

int PluginInstance::PaintInto(QImage &picture)
{
    return m_shared->paintInto(picture, nullptr);
}

bool PluginInstance::isAlive() const
{
    return m_shared->guard.isAlive();
}

} // namespace pixkey
