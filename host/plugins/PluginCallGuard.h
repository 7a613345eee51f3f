#pragma once

#include "pixkey_plugin.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pixkey {

class LoadedLibrary;

// Wraps one plug-in object and every call into it, so that a faulty plug-in cannot take the host
// down. A C++ exception out of a call, or a hardware fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL)
// raised on the calling thread during the call, ends that call: the error text
// "Plugin operation failed: <operation>" goes to the error sink, the object is dead from then on,
// and every later call returns 0 or does nothing. Only `Delete` is still attempted on a dead
// object, so that its library can free it.
//
// Owned by value by its holder (a `PluginInstance`, or the catalogue's describing object). The
// guard keeps a reference to its library, so the library stays loaded while the object exists.
// Threads: `Paint`, `OnKeyDown` and `OnEvent` are called on the instance's paint thread, the rest
// on the main thread, as the plug-in contract says; `isAlive` may be read from any thread.
class PluginCallGuard {
public:
    using ErrorSink = std::function<void(const std::string &message)>;

    // Where error texts go; called synchronously on the thread whose call failed. The default
    // (and a null sink) writes the text and a newline to stderr. Any thread.
    static void setErrorSink(ErrorSink sink);

    // Upper bound on the bytes copied from a text `GetInfo` returns.
    static constexpr std::size_t kMaxInfoText = 4096;

    PluginCallGuard() = default;
    // Deletes an object that is still there (guarded `Delete`), so none is ever leaked.
    ~PluginCallGuard();
    PluginCallGuard(const PluginCallGuard &) = delete;
    PluginCallGuard &operator=(const PluginCallGuard &) = delete;

    // Guarded `Create(module, function)`. A fault or a null result leaves the guard without an
    // object and dead (its first `Paint` then draws the failure face). Returns isAlive().
    bool Create(std::shared_ptr<LoadedLibrary> library, int function);

    // Guarded `Paint` into `face` (96x96, QImage::Format_BGR888). When the object is dead and the
    // failure face has not been drawn since the last activation, draws it into `face` and returns
    // 1; otherwise the plug-in's result, or 0. The failure face dims `shown` (the face on the key,
    // when given) rather than whatever the failed call left in `face`.
    int Paint(QImage &face, const QImage *shown = nullptr);
    void OnKeyDown();
    intptr_t GetInfo(int code);
    // A text answer of `GetInfo`, copied at once and cut at kMaxInfoText bytes; nullopt when the
    // plug-in does not answer (null) or failed. A pointer the plug-in cannot back is contained.
    std::optional<std::string> GetInfoText(int code);
    // An image answer of `GetInfo` (codes 20, 21, 22), converted to QImage::Format_ARGB32 and freed;
    // a null image when not answered, malformed or failed.
    QImage GetInfoImage(int code);
    // Fills `name` and `value` from zeroed 256-byte buffers, read up to 255 bytes each whether
    // terminated or not. False when the property does not exist or the call failed.
    bool GetProperty(int index, std::string &name, std::string &value);
    int SetProperty(const std::string &name, const std::string &value);
    int ShowProperties(void *parent);
    // Guarded `OnEvent`; an activation (code 1) of a dead object re-arms the failure face.
    int OnEvent(int code);
    // Guarded `Delete` with the library's `Delete`, also for a dead object; the guard is empty
    // afterwards (no object, dead) but keeps its library reference until released.
    void Delete();
    // Drops the library reference (after `Delete`).
    void releaseLibrary();

    bool isAlive() const { return m_alive.load(std::memory_order_acquire); }
    bool failureFaceShown() const { return m_failureFaceShown; }
    PkxPlugin *object() const { return m_object; }
    const std::shared_ptr<LoadedLibrary> &library() const { return m_library; }

    // The failure face: every channel of `face` x 2 / 5, floored, and the error icon at (47, 47).
    static void drawFailureFace(QImage &face);

private:
    // Runs `call` inside the fault trap; on failure reports `operation` and marks the object dead.
    bool invoke(const char *operation, const std::function<void()> &call);

    std::shared_ptr<LoadedLibrary> m_library;
    PkxPlugin *m_object = nullptr;
    std::atomic<bool> m_alive{false};
    bool m_failureFaceShown = false; // paint thread only
};

} // namespace pixkey
