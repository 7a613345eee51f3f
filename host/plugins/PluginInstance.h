#pragma once

#include "PluginCallGuard.h"

#include <QImage>

#include <chrono>
#include <memory>
#include <string>

namespace pixkey {

class BusyAnimator;
class FaceSink;
class LoadedLibrary;
class PluginFunction; // the catalogue's record of the function an instance implements

// One plug-in object placed on a key: the guarded object, its own paint thread with a
// double-buffered 96x96 face (QImage::Format_BGR888, rows top-down), the busy overlay, and the
// press and face-changed paths.
//
// Owned by the main thread (through the catalogue's reference-counted holder). Every method is
// for the main thread, except `KeyPressed` and `face` (any thread) and `PaintInto` (the paint
// thread). The paint thread calls `OnEvent(1)`, then `Paint` at once and every paint period,
// `OnKeyDown` on presses (followed at once by `Paint`), and `OnEvent(2)` when it ends. A changed
// face is announced through the `FaceSink` as a hand-off the paint thread waits for; a stop
// request abandons it.
//
// Destruction stops the paint thread and waits up to `destroyWait` for it. A thread still inside
// the plug-in then is left to finish that call on its own: the object is deleted (guarded
// `Delete`) by that thread once the call returns, and the library stays loaded until then.
class PluginInstance {
public:
    struct Options {
        BusyAnimator *animator = nullptr; // null: BusyAnimator::instance(); must outlive the paint thread
        std::chrono::milliseconds destroyWait{1000};
    };

    static constexpr std::chrono::milliseconds kDefaultPaintPeriod{300};

    // Guarded `Create(module, function)` and `GetInfo(11)` for the paint period. A failed Create
    // leaves a dead instance that shows the failure face when activated. `sink` must outlive it.
    PluginInstance(std::shared_ptr<LoadedLibrary> library, int function, FaceSink &sink);
    PluginInstance(std::shared_ptr<LoadedLibrary> library, int function, FaceSink &sink,
                   Options options);
    ~PluginInstance();
    PluginInstance(const PluginInstance &) = delete;
    PluginInstance &operator=(const PluginInstance &) = delete;

    // Starts painting (a paint thread; a thread still winding down from a quick `Deactivate` is kept).
    void Activate();
    // Stops painting; the paint thread ends on its own after `OnEvent(2)`.
    void Deactivate();
    bool IsActive() const;
    // [any-thread] Asks the paint thread for `OnKeyDown` and an immediate `Paint`. Presses that
    // arrive while a call is running count as one.
    void KeyPressed();

    // [any-thread] A copy of the face to show: the busy overlay while shown, else the front
    // picture; a null image while the paint thread has no face.
    QImage face() const;

    const std::shared_ptr<LoadedLibrary> &library() const;
    int functionNumber() const { return m_function; }
    PluginFunction *function() const { return m_descriptor; }
    void setFunction(PluginFunction *descriptor) { m_descriptor = descriptor; }

    // Property interface (guarded calls on the main thread).
    bool hasProperties();
    // Instance property i (the plug-in's index 256 + i).
    bool GetProperty(int i, std::string &name, std::string &value);
    void SetProperty(const std::string &name, const std::string &value);
    bool ShowProperties(void *parent);
    // Guarded text answer of `GetInfo` (any code asked of a key instance on the main thread).
    std::optional<std::string> infoText(int code);

    // [paint-thread] Guarded `Paint` into `picture` with the busy indicator around it.
    int PaintInto(QImage &picture);

    std::chrono::milliseconds paintPeriod() const { return m_paintPeriod; }
    bool isAlive() const;

    struct Shared; // state shared with the paint thread, which may outlive the instance

private:
    std::shared_ptr<Shared> m_shared;
    int m_function;
    PluginFunction *m_descriptor = nullptr;
    std::chrono::milliseconds m_paintPeriod{kDefaultPaintPeriod};
    std::chrono::milliseconds m_destroyWait;
};

} // namespace pixkey
