#include "EngineSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <dlfcn.h>

#include <cstdlib>

namespace browsertest {

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline,
               const std::function<void()> &pump)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (pump)
            pump();
        if (done())
            return true;
        if (timer.elapsed() > deadline.count())
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

void spin(std::chrono::milliseconds time)
{
    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return timer.elapsed() >= time.count(); }, time + 1s);
}

PaintThread::PaintThread()
    : m_thread([this] {
          std::unique_lock lock(m_lock);
          for (;;) {
              m_changed.wait(lock, [this] { return m_stop || !m_calls.empty(); });
              if (m_calls.empty())
                  return;
              auto call = std::move(m_calls.front());
              lock.unlock();
              call();
              lock.lock();
              m_calls.pop_front();
              m_changed.notify_all();
          }
      })
{
}

PaintThread::~PaintThread()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void PaintThread::run(const std::function<void()> &call)
{
    {
        std::lock_guard lock(m_lock);
        m_calls.push_back(call);
    }
    m_changed.notify_all();
    // The main thread keeps serving the page while the paint thread waits for it.
    waitUntil(
        [this] {
            std::lock_guard lock(m_lock);
            return m_calls.empty();
        },
        120s);
}

PluginObject::PluginObject()
{
    m_library = dlopen(BROWSER_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!m_library)
        return;
    auto create = reinterpret_cast<PkxCreateFn>(dlsym(m_library, "Create"));
    m_delete = reinterpret_cast<PkxDeleteFn>(dlsym(m_library, "Delete"));
    m_module = {BROWSER_PLUGIN_FILE, m_library};
    m_object = create ? create(&m_module, 1) : nullptr;
    m_face.fill(Qt::black);
}

PluginObject::~PluginObject()
{
    if (m_object) {
        event(PKX_EVENT_DEACTIVATE);
        m_delete(m_object);
    }
    // The page's renderer is deleted by a hand-off to the main thread.
    spin(50ms);
    if (m_library)
        dlclose(m_library);
}

void PluginObject::set(const char *name, const std::string &value)
{
    m_object->ops->SetProperty(m_object, name, value.c_str());
}

int PluginObject::paint()
{
    int result = 0;
    PkxSurface surface{m_face.bits(), 96, 96, static_cast<int>(m_face.bytesPerLine())};
    m_thread.run([&] { result = m_object->ops->Paint(m_object, &surface); });
    return result;
}

void PluginObject::keyDown()
{
    m_thread.run([&] { m_object->ops->OnKeyDown(m_object); });
}

void PluginObject::event(int code)
{
    m_thread.run([&] { m_object->ops->OnEvent(m_object, code); });
}

bool PluginObject::paintUntil(const std::function<bool(const QImage &)> &done, std::chrono::milliseconds deadline)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < deadline.count()) {
        if (paint() && done(m_face))
            return true;
        spin(100ms);
    }
    return false;
}

QColor blockColour(int column, int row)
{
    return QColor(40 + 60 * column, 20 + 30 * row, 230 - 25 * row);
}

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

bool showsProgress(const QImage &face)
{
    return face.pixelColor(48, 40) == QColor(Qt::black) && face.pixelColor(71, 83) == QColor(0x5A, 0x5A, 0x5A);
}

bool showsError(const QImage &face)
{
    return face.pixelColor(95, 95) == QColor(77, 0, 0);
}

} // namespace browsertest
