#pragma once

#include "InstanceHolder.h"
#include "LayoutConfig.h"
#include "LayoutState.h"
#include "PluginCatalogue.h"
#include "Settings.h"
#include "SettingsStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pixkey {

class FaceSink;
class KeypadOutput;
class PluginInstance;

// The host's application core: the settings, the plug-in catalogue, the layouts with the active
// layout and its current row, and the keypad they drive. Loads and saves all of it through the
// settings store, under the profile key when `profileSuffix` is set.
//
// Owns the catalogue and the layouts (and through them every instance); the store, the face sink
// and the keypad belong to the caller and must outlive it. Main thread only: the paint threads
// reach it only through face hand-offs that the main thread delivers to `faceChanged`.
class AppCore {
public:
    AppCore(SettingsStore &store, PluginCatalogue::Folders folders, FaceSink &faces, KeypadOutput &keypad);
    ~AppCore();
    AppCore(const AppCore &) = delete;
    AppCore &operator=(const AppCore &) = delete;

    SettingsStore &store() const { return m_store; }
    KeypadOutput &keypad() const { return m_keypad; }

    Settings settings;
    PluginCatalogue catalogue;
    // In load order, then in the order added. A deleted layout stays (state Deleted) until the next
    // save empties its entry; code that walks the array skips empty entries. The index is the
    // layout's number in the tray menu.
    std::vector<std::unique_ptr<LayoutConfig>> layouts;
    LayoutConfig *activeLayout = nullptr;
    int currentRow = 0;
    bool modified = false;
    QString profileSuffix;
    // Set while inactivity shows "Idle" or switched the illumination off: `activate` then refuses.
    bool idleActive = false;
    bool illuminationOff = false;

    // Told after `activate` made a layout active (the configurator follows it).
    std::function<void(LayoutConfig *)> layoutActivated;
    // Told after the active layout or the current row may have changed (the bus interface
    // announces it).
    std::function<void()> activeChanged;
    // Shows a message the user must see: (text, caption); the configurator makes it a message box
    // with the exclamation icon. Default: one line on stderr.
    std::function<void(const QString &text, const QString &caption)> showMessage;

    // --- loading and saving ---------------------------------------------------------------------
    // Settings, catalogue and layouts; then the keypad connects (when `startDevice`) and gets the
    // colour tables; unused libraries are unloaded and `modified` is cleared.
    void fullLoad(bool startDevice);
    // Drops everything without deactivating, loads it again and activates "Global".
    void fullReload();
    void loadSettings();
    // `name` absent: the full save (all values, the layouts, the modified catalogue entries, then
    // unloading unused libraries). Empty: all twelve values. Otherwise the one value of that name.
    // False when the store could not be written.
    bool saveSettings(const std::optional<QString> &name = std::nullopt);
    // Gamma and white balance to the keypad, then a full refresh.
    void applyImageSettings();
    // The brightness level to the keypad.
    void applyBrightness();

    // --- keypad profiles ----------------------------------------------------------------------------
    // Whether the keypad on `portName` has a settings key of its own.
    bool profileExists(const QString &portName) const;
    // The profile suffix at start-up: the opened keypad's port name when it has a profile key or
    // other configurators run (each keypad then gets its own); empty otherwise.
    QString startupProfile(const QString &portName, int otherConfigurators) const;
    // Whether a keypad that connected should use its own profile: always when more than one
    // configurator runs, else only when its key exists.
    bool wantsProfile(const QString &portName, int configurators) const;
    // Switches to the profile of `portName`: everything is loaded again from its key when that
    // exists; otherwise every layout and catalogue entry is marked modified, so the next save
    // creates the key. False (nothing done) when it already is the profile.
    bool adoptProfile(const QString &portName);

    // --- catalogue --------------------------------------------------------------------------------
    // A user install of a plug-in file. On failure the user sees "Failed to add:\n<file>".
    PluginCatalogue::AddResult InstallPluginFile(const QString &file);
    // Takes every instance of the entry's library off every layout, releases the library and marks
    // the entry removed; the active layout's keys are sent again when it lost an instance.
    void RemovePlugin(PluginEntry &entry);

    // --- layouts ----------------------------------------------------------------------------------
    enum AddLayoutResult { AddLayoutFailed = 0, LayoutAdded = 1, LayoutExists = 3 };
    void loadLayouts();
    LayoutConfig *addLayout(const QString &name, const QString &path, LayoutState requestedState,
                            AddLayoutResult *result = nullptr);
    LayoutConfig *findLayout(const QString &name) const;
    int indexOf(const LayoutConfig *layout) const;
    void setSlot(LayoutConfig &layout, int key, int row, InstanceRef holder);
    // A new instance of `function` on `key` of the current row, with the entry's default properties.
    InstanceRef assignFromCatalogue(PluginFunction &function, LayoutConfig &layout, int key);
    bool clearSlot(LayoutConfig &layout, int key, int row);
    // Row ModifierRow::kCurrent (6) means the current row.
    InstanceRef getSlot(const LayoutConfig &layout, int key, int row) const;
    bool hasAnyInstance(const LayoutConfig &layout, int row) const;
    void markModified(LayoutConfig &layout);
    // "Global" and "Idle" are never deleted (false).
    bool deleteLayout(LayoutConfig &layout);
    void saveLayouts();
    void activate(LayoutConfig *layout);
    // index >= 0: that layout; -2: "Idle"; other negative values: "Global".
    void select(int index);
    int nextManualLayout(const LayoutConfig *layout) const;
    void setCurrentRow(int row);
    bool usesPlugin(LayoutConfig &layout, const PluginEntry &entry);
    bool matchesApplication(const LayoutConfig &layout, const PluginEntry &entry) const;
    static QString applicationFileName(const LayoutConfig &layout) { return layout.applicationFileName(); }

    // --- faces --------------------------------------------------------------------------------------
    // A face-changed notification, on the main thread: the first slot of the current row that holds
    // the instance gets its face. True when a face was sent.
    bool faceChanged(PluginInstance &instance);
    // Sends the current row's faces (blanks for empty slots; nothing yet for an instance that has
    // not painted).
    void sendAllFaces();

private:
    KeyPath configKey() const;
    void writeLayout(LayoutConfig &layout);
    void destroyAll();
    PluginInstance *instanceAt(const LayoutConfig &layout, int row, int key) const;

    SettingsStore &m_store;
    KeypadOutput &m_keypad;
};

} // namespace pixkey
