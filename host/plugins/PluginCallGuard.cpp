#include "PluginCallGuard.h"

#include "FaultTrap.h"
#include "LoadedLibrary.h"

#include <QPainter>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace pixkey {

namespace {

std::mutex g_sinkMutex;
PluginCallGuard::ErrorSink g_sink; // guarded by g_sinkMutex

void report(const std::string &message)
{
    PluginCallGuard::ErrorSink sink;
    {
        std::lock_guard lock(g_sinkMutex);
        sink = g_sink;
    }
    if (sink)
        sink(message);
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}

// Carries a std::function through the C trampoline of the fault trap and turns an exception into
// a result, so nothing unwinds through the trap.
struct Call {
    const std::function<void()> *call;
    bool threw = false;
};

void trampoline(void *argument)
{
    auto *call = static_cast<Call *>(argument);
    try {
        (*call->call)();
    } catch (...) {
        call->threw = true;
    }
}

const QImage &errorIcon()
{
    static const QImage icon = QImage(QStringLiteral(":/pixkey/plugins/error-icon.png"))
                                   .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return icon;
}

} // namespace

void PluginCallGuard::setErrorSink(ErrorSink sink)
{
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(sink);
}

PluginCallGuard::~PluginCallGuard()
{
    Delete();
}

bool PluginCallGuard::invoke(const char *operation, const std::function<void()> &call)
{
    Call trapped{&call};
    const int signal = detail::runTrapped(trampoline, &trapped);
    if (signal == 0 && !trapped.threw)
        return true;
    m_alive.store(false, std::memory_order_release);
    report(std::string("Plugin operation failed: ") + operation);
    return false;
}

bool PluginCallGuard::Create(std::shared_ptr<LoadedLibrary> library, int function)
{
    m_library = std::move(library);
    m_object = nullptr;
    m_alive.store(false, std::memory_order_release);
    if (!m_library)
        return false;
    PkxPlugin *object = nullptr;
    const PkxModule *module = m_library->module();
    PkxCreateFn create = m_library->createFunction();
    if (invoke("Create", [&] { object = create(module, function); }) && object) {
        m_object = object;
        m_alive.store(true, std::memory_order_release);
    }
    return isAlive();
}

int PluginCallGuard::Paint(QImage &face, const QImage *shown)
{
    if (isAlive()) {
        PkxSurface surface{face.bits(), face.width(), face.height(), static_cast<int>(face.bytesPerLine())};
        int result = 0;
        if (invoke("Paint", [&] { result = m_object->ops->Paint(m_object, &surface); }))
            return result;
    }
    if (m_failureFaceShown)
        return 0;
    if (shown && !shown->isNull() && shown->size() == face.size() && shown->format() == face.format())
        std::memcpy(face.bits(), shown->constBits(), static_cast<size_t>(face.sizeInBytes()));
    drawFailureFace(face);
    m_failureFaceShown = true;
    return 1;
}

void PluginCallGuard::OnKeyDown()
{
    if (isAlive())
        invoke("OnKeyDown", [&] { m_object->ops->OnKeyDown(m_object); });
}

intptr_t PluginCallGuard::GetInfo(int code)
{
    intptr_t result = 0;
    if (isAlive() && invoke("GetInfo", [&] { result = m_object->ops->GetInfo(m_object, code); }))
        return result;
    return 0;
}

std::optional<std::string> PluginCallGuard::GetInfoText(int code)
{
    if (!isAlive())
        return std::nullopt;
    std::optional<std::string> text;
    // The copy happens inside the trap: a pointer the plug-in cannot back faults here, not later.
    invoke("GetInfo", [&] {
        const char *answer = reinterpret_cast<const char *>(m_object->ops->GetInfo(m_object, code));
        if (answer)
            text.emplace(answer, strnlen(answer, kMaxInfoText));
    });
    if (!isAlive())
        return std::nullopt;
    return text;
}

QImage PluginCallGuard::GetInfoImage(int code)
{
    if (!isAlive())
        return {};
    PkxImage *image = nullptr;
    QImage copy;
    invoke("GetInfo", [&] {
        image = reinterpret_cast<PkxImage *>(m_object->ops->GetInfo(m_object, code));
        if (!image)
            return;
        const int width = image->width, height = image->height, stride = image->stride;
        if (width < 1 || height < 1 || width > 4096 || height > 4096 || stride < width * 4 || !image->pixels)
            return;
        QImage result(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y)
            std::memcpy(result.scanLine(y), image->pixels + static_cast<size_t>(y) * stride, size_t(width) * 4);
        copy = std::move(result);
    });
    if (image && isAlive())
        pkx_image_free(image);
    return copy;
}

bool PluginCallGuard::GetProperty(int index, std::string &name, std::string &value)
{
    if (!isAlive())
        return false;
    char nameBuffer[PKX_PROPERTY_TEXT_SIZE] = {};
    char valueBuffer[PKX_PROPERTY_TEXT_SIZE] = {};
    int result = 0;
    if (!invoke("GetProperty",
                [&] { result = m_object->ops->GetProperty(m_object, index, nameBuffer, valueBuffer); })
        || !result)
        return false;
    name.assign(nameBuffer, strnlen(nameBuffer, PKX_PROPERTY_TEXT_SIZE - 1));
    value.assign(valueBuffer, strnlen(valueBuffer, PKX_PROPERTY_TEXT_SIZE - 1));
    return true;
}

int PluginCallGuard::SetProperty(const std::string &name, const std::string &value)
{
    int result = 0;
    if (isAlive())
        invoke("SetProperty", [&] { result = m_object->ops->SetProperty(m_object, name.c_str(), value.c_str()); });
    return result;
}

int PluginCallGuard::ShowProperties(void *parent)
{
    int result = 0;
    if (isAlive() && !invoke("ShowProperties", [&] { result = m_object->ops->ShowProperties(m_object, parent); }))
        return 0;
    return result;
}

int PluginCallGuard::OnEvent(int code)
{
    if (!isAlive()) {
        if (code == PKX_EVENT_ACTIVATE)
            m_failureFaceShown = false;
        return 0;
    }
    int result = 0;
    if (!invoke("OnEvent", [&] { result = m_object->ops->OnEvent(m_object, code); })) {
        if (code == PKX_EVENT_ACTIVATE)
            m_failureFaceShown = false;
        return 0;
    }
    return result;
}

void PluginCallGuard::Delete()
{
    PkxPlugin *object = m_object;
    m_object = nullptr;
    m_alive.store(false, std::memory_order_release);
    if (!object || !m_library)
        return;
    PkxDeleteFn destroy = m_library->deleteFunction();
    invoke("Delete", [&] { destroy(object); });
}

void PluginCallGuard::releaseLibrary()
{
    m_library.reset();
}

void PluginCallGuard::drawFailureFace(QImage &face)
{
    const int bytes = face.width() * (face.depth() / 8);
    for (int y = 0; y < face.height(); ++y) {
        uchar *line = face.scanLine(y);
        for (int x = 0; x < bytes; ++x)
            line[x] = static_cast<uchar>(line[x] * 2 / 5);
    }
    QPainter painter(&face);
    painter.drawImage(QRect(47, 47, 48, 48), errorIcon());
}

} // namespace pixkey
