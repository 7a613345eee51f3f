#include "AppCore.h"

#include "KeypadOutput.h"
#include "PluginInstance.h"
#include "SettingsStore.h"

#include <cstdio>

namespace pixkey {

namespace {

const QString kConfigKey = QStringLiteral("Config");
const QString kGlobal = QStringLiteral("Global");
const QString kIdle = QStringLiteral("Idle");
const QString kCaption = QStringLiteral("Pixkey mini Configurator");
// Property names and values travel in the plug-ins' 256-byte buffers.
constexpr int kPropertyNameChars = 250;
constexpr int kPropertyValueChars = 255;
// A plug-in that answers every property index must not hang a save.
constexpr int kMaxProperties = 1024;

QString slotKeyName(int key)
{
    return QStringLiteral("%1").arg(key + 1, 3, 10, QLatin1Char('0'));
}

} // namespace

AppCore::AppCore(SettingsStore &store, PluginCatalogue::Folders folders, FaceSink &faces, KeypadOutput &keypad)
    : catalogue(store, std::move(folders), faces), m_store(store), m_keypad(keypad)
{
    showMessage = [](const QString &text, const QString &caption) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    };
}

AppCore::~AppCore()
{
    if (activeLayout)
        for (const InstanceRef &holder : activeLayout->slots())
            if (holder && holder->instance())
                holder->instance()->Deactivate();
    destroyAll();
}

void AppCore::destroyAll()
{
    activeLayout = nullptr;
    // Layouts first: their instances point into the catalogue's function records.
    while (!layouts.empty())
        layouts.pop_back();
    catalogue.clear();
}

KeyPath AppCore::configKey() const
{
    return SettingsStore::settingsKey(profileSuffix) + QStringList{kConfigKey};
}

// --- loading and saving ------------------------------------------------------------------------

void AppCore::loadSettings()
{
    settings.loadSettings(m_store, profileSuffix);
}

void AppCore::fullLoad(bool startDevice)
{
    loadSettings();
    catalogue.LoadCatalogue(profileSuffix);
    loadLayouts();
    if (startDevice)
        m_keypad.connect();
    m_keypad.setGamma(settings.gamma());
    m_keypad.setWhiteBalance(settings.value(Settings::WhiteBalance));
    catalogue.unloadUnused();
    modified = false;
}

void AppCore::fullReload()
{
    destroyAll();
    loadSettings();
    catalogue.LoadCatalogue(profileSuffix);
    loadLayouts();
    m_keypad.setGamma(settings.gamma());
    m_keypad.setWhiteBalance(settings.value(Settings::WhiteBalance));
    catalogue.unloadUnused();
    modified = false;
    select(-1);
}

bool AppCore::saveSettings(const std::optional<QString> &name)
{
    settings.saveValues(m_store, profileSuffix, name.value_or(QString()));
    if (!name) {
        saveLayouts();
        for (const auto &entry : catalogue.entries()) {
            if (entry->state == LayoutState::Clean)
                continue;
            catalogue.SaveEntry(*entry, profileSuffix);
            entry->state = LayoutState::Clean;
        }
        modified = false;
    }
    // One sync for everything, so a full save reaches the file as a whole or not at all.
    const bool written = m_store.sync();
    if (!name)
        catalogue.unloadUnused();
    return written;
}

void AppCore::applyImageSettings()
{
    m_keypad.setGamma(settings.gamma());
    m_keypad.setWhiteBalance(settings.value(Settings::WhiteBalance));
    m_keypad.requestRefresh();
}

void AppCore::applyBrightness()
{
    m_keypad.setBrightness(settings.brightnessLevel());
}

// --- keypad profiles -----------------------------------------------------------------------------

bool AppCore::profileExists(const QString &portName) const
{
    return !portName.isEmpty() && m_store.keyExists(SettingsStore::settingsKey(portName));
}

QString AppCore::startupProfile(const QString &portName, int otherConfigurators) const
{
    if (!portName.isEmpty() && (otherConfigurators > 0 || profileExists(portName)))
        return portName;
    return QString();
}

bool AppCore::wantsProfile(const QString &portName, int configurators) const
{
    return !portName.isEmpty() && (configurators > 1 || profileExists(portName));
}

bool AppCore::adoptProfile(const QString &portName)
{
    if (portName.isEmpty() || portName == profileSuffix)
        return false;
    profileSuffix = portName;
    if (profileExists(portName)) {
        fullReload();
        return true;
    }
    for (const auto &layout : layouts)
        if (layout)
            markModified(*layout);
    for (const auto &entry : catalogue.entries())
        entry->markModified();
    modified = true;
    return true;
}

// --- catalogue ------------------------------------------------------------------------------------

PluginCatalogue::AddResult AppCore::InstallPluginFile(const QString &file)
{
    PluginCatalogue::AddResult result = catalogue.AddPlugin(file, QString(), LayoutState::New);
    if (result.code == PluginCatalogue::Failed) {
        if (!result.error.isEmpty())
            std::fprintf(stderr, "pixkey: %s\n", qPrintable(result.error));
        showMessage(QStringLiteral("Failed to add:\n%1").arg(file), kCaption);
    } else {
        modified = true;
    }
    return result;
}

void AppCore::RemovePlugin(PluginEntry &entry)
{
    bool activeLost = false;
    if (entry.library) {
        for (auto it = layouts.rbegin(); it != layouts.rend(); ++it) {
            LayoutConfig *layout = it->get();
            if (!layout)
                continue;
            for (int row = 0; row < ModifierRow::kCount; ++row) {
                for (int key = 0; key < ModifierRow::kKeys; ++key) {
                    PluginInstance *instance = instanceAt(*layout, row, key);
                    if (!instance || !instance->function() || &instance->function()->library() != entry.library.get())
                        continue;
                    clearSlot(*layout, key, row);
                    activeLost = activeLost || layout == activeLayout;
                }
            }
        }
    }
    catalogue.releaseEntry(entry);
    modified = true;
    if (activeLost)
        sendAllFaces();
}

// --- layouts ------------------------------------------------------------------------------------

void AppCore::loadLayouts()
{
    KeyPath config = configKey();
    LayoutState state = LayoutState::Clean;
    if (!m_store.keyExists(config)) {
        config = SettingsStore::settingsKey() + QStringList{kConfigKey};
        // Inherited from the base key: written into the profile's own key at the next save.
        state = profileSuffix.isEmpty() ? LayoutState::Clean : LayoutState::Modified;
    }
    for (const QString &name : m_store.subkeys(config)) {
        const KeyPath layoutKey = config + QStringList{name};
        const QString file = m_store.readString(layoutKey, QStringLiteral("File")).value_or(QString());
        AddLayoutResult added = AddLayoutFailed;
        LayoutConfig *layout = addLayout(name, file, state, &added);
        if (!layout || added != LayoutAdded)
            continue; // a second spelling of a name already loaded
        for (int row = 0; row < ModifierRow::kCount; ++row) {
            const KeyPath rowKey = layoutKey + QStringList{ModifierRow::storageName(row)};
            if (!m_store.keyExists(rowKey))
                continue;
            for (int key = 0; key < ModifierRow::kKeys; ++key) {
                const KeyPath slotKey = rowKey + QStringList{slotKeyName(key)};
                const QString identifier = m_store.readString(slotKey, QStringLiteral("Key")).value_or(QString());
                PluginEntry *entry = catalogue.findByIdentifier(identifier);
                if (!entry)
                    continue; // no longer installed: the slot stays empty
                const int n = std::max(1, entry->library->functionCount());
                int f = 1;
                if (n > 1) {
                    f = m_store.readDword(slotKey, QStringLiteral("Function")).value_or(1);
                    if (std::min(f, n) < 2)
                        f = 1;
                    else if (f >= n)
                        f = n;
                }
                PluginFunction *function = entry->library->function(f);
                if (!function && !entry->library->load())
                    continue;
                function = entry->library->function(f);
                InstanceRef holder = function ? catalogue.CreateInstance(*function) : nullptr;
                if (!holder)
                    continue;
                // Placed directly: loading does not make the layout modified.
                layout->slotRef(row, key) = holder;
                PluginInstance &instance = *holder->instance();
                if (!instance.hasProperties())
                    continue;
                for (const QString &valueName : m_store.valueNames(slotKey)) {
                    if (!valueName.startsWith(QLatin1Char('@')))
                        continue;
                    const QString value = m_store.readString(slotKey, valueName).value_or(QString());
                    instance.SetProperty(valueName.mid(1).left(kPropertyNameChars).toStdString(),
                                         value.left(kPropertyValueChars).toStdString());
                }
            }
        }
    }
    addLayout(kGlobal, QString(), LayoutState::New);
    addLayout(kIdle, QString(), LayoutState::New);
}

LayoutConfig *AppCore::addLayout(const QString &name, const QString &path, LayoutState requestedState,
                                 AddLayoutResult *result)
{
    AddLayoutResult code = LayoutExists;
    LayoutConfig *layout = findLayout(name.isEmpty() ? QStringLiteral("Undefined") : name);
    if (layout) {
        if (layout->state == LayoutState::Deleted && requestedState == LayoutState::New) {
            layout->state = LayoutState::New;
            modified = true;
            code = LayoutAdded;
        }
    } else {
        layouts.push_back(std::make_unique<LayoutConfig>(name, path));
        layout = layouts.back().get();
        layout->state = requestedState;
        code = LayoutAdded;
    }
    if (result)
        *result = code;
    return layout;
}

LayoutConfig *AppCore::findLayout(const QString &name) const
{
    for (const auto &layout : layouts)
        if (layout && layout->isNamed(name))
            return layout.get();
    return nullptr;
}

int AppCore::indexOf(const LayoutConfig *layout) const
{
    for (std::size_t i = 0; i < layouts.size(); ++i)
        if (layout && layouts[i].get() == layout)
            return int(i);
    return -1;
}

PluginInstance *AppCore::instanceAt(const LayoutConfig &layout, int row, int key) const
{
    const InstanceRef &holder = layout.slot(row, key);
    return holder ? holder->instance() : nullptr;
}

void AppCore::setSlot(LayoutConfig &layout, int key, int row, InstanceRef holder)
{
    if (!LayoutConfig::isSlot(row, key))
        return;
    if (layout.slot(row, key))
        clearSlot(layout, key, row);
    layout.slotRef(row, key) = std::move(holder);
    PluginInstance *instance = instanceAt(layout, row, key);
    if (instance && &layout == activeLayout)
        instance->Activate();
    markModified(layout);
}

InstanceRef AppCore::assignFromCatalogue(PluginFunction &function, LayoutConfig &layout, int key)
{
    InstanceRef holder = catalogue.CreateInstance(function);
    if (!holder)
        return nullptr;
    setSlot(layout, key, currentRow, holder);
    PluginInstance &instance = *holder->instance();
    if (instance.hasProperties()) {
        if (const PluginEntry *entry = catalogue.entryFor(&function.library()))
            for (const auto &[name, value] : entry->defaultProperties)
                instance.SetProperty(name.toStdString(), value.toStdString());
    }
    return holder;
}

bool AppCore::clearSlot(LayoutConfig &layout, int key, int row)
{
    if (!layout.slot(row, key))
        return false;
    layout.slotRef(row, key).reset();
    // Only the keys on show are blanked: a key of the active layout must not go dark because a
    // slot of another layout or another row was emptied.
    if (&layout == activeLayout && row == currentRow)
        m_keypad.sendBlank(key);
    markModified(layout);
    return true;
}

InstanceRef AppCore::getSlot(const LayoutConfig &layout, int key, int row) const
{
    return layout.slot(row == ModifierRow::kCurrent ? currentRow : row, key);
}

bool AppCore::hasAnyInstance(const LayoutConfig &layout, int row) const
{
    if (row == 0)
        return true;
    for (int key = 0; key < ModifierRow::kKeys; ++key)
        if (layout.slot(row, key))
            return true;
    return false;
}

void AppCore::markModified(LayoutConfig &layout)
{
    if (layout.state == LayoutState::Clean)
        layout.state = LayoutState::Modified;
    modified = true;
}

bool AppCore::deleteLayout(LayoutConfig &layout)
{
    if (layout.isNamed(kGlobal) || layout.isNamed(kIdle))
        return false;
    if (&layout == activeLayout)
        select(-1);
    layout.state = LayoutState::Deleted;
    modified = true;
    return true;
}

void AppCore::writeLayout(LayoutConfig &layout)
{
    const KeyPath layoutKey = configKey() + QStringList{layout.name()};
    if (!m_store.createKey(layoutKey))
        return;
    for (int row = 0; row < ModifierRow::kCount; ++row) {
        // Rows are rewritten whole, so a row the user emptied disappears from the store.
        const KeyPath rowKey = layoutKey + QStringList{ModifierRow::storageName(row)};
        m_store.deleteKey(rowKey);
        for (int key = 0; key < ModifierRow::kKeys; ++key) {
            PluginInstance *instance = instanceAt(layout, row, key);
            if (!instance)
                continue;
            const KeyPath slotKey = rowKey + QStringList{slotKeyName(key)};
            if (!m_store.createKey(slotKey))
                return;
            const PluginEntry *entry =
                instance->function() ? catalogue.entryFor(&instance->function()->library()) : nullptr;
            m_store.writeString(slotKey, QStringLiteral("Key"), entry ? entry->identifier() : QString());
            m_store.writeDword(slotKey, QStringLiteral("Function"), instance->functionNumber());
            if (!instance->hasProperties())
                continue;
            std::string name, value;
            for (int i = 0; i < kMaxProperties && instance->GetProperty(i, name, value); ++i)
                m_store.writeString(slotKey, QLatin1Char('@') + QString::fromStdString(name),
                                    QString::fromStdString(value));
        }
    }
    m_store.writeString(layoutKey, QStringLiteral("File"), layout.path());
}

void AppCore::saveLayouts()
{
    for (auto &slot : layouts) {
        LayoutConfig *layout = slot.get();
        if (!layout)
            continue;
        if (layout->state == LayoutState::Deleted) {
            m_store.deleteKey(configKey() + QStringList{layout->name()});
            if (layout == activeLayout)
                activeLayout = nullptr;
            slot.reset();
        } else if (layout->state == LayoutState::Modified || layout->state == LayoutState::New) {
            writeLayout(*layout);
            layout->state = LayoutState::Clean;
        }
    }
}

void AppCore::activate(LayoutConfig *layout)
{
    if (idleActive || illuminationOff || !layout || layout == activeLayout)
        return;
    m_keypad.holdDisplayUntilAllSent();
    if (activeLayout)
        for (const InstanceRef &holder : activeLayout->slots())
            if (holder && holder->instance())
                holder->instance()->Deactivate();
    activeLayout = layout;
    for (const InstanceRef &holder : layout->slots())
        if (holder && holder->instance())
            holder->instance()->Activate();
    // Empty keys are blanked. Keys with an instance normally get their face from its first paint;
    // one whose paint thread carried on through a quick deactivation and activation paints only
    // when something changes, so the face it already has is sent now, or the key would keep
    // showing the previous layout's face.
    sendAllFaces();
    setCurrentRow(0);
    if (layoutActivated)
        layoutActivated(layout);
    if (activeChanged)
        activeChanged();
}

void AppCore::select(int index)
{
    LayoutConfig *layout = nullptr;
    if (index >= 0)
        layout = std::size_t(index) < layouts.size() ? layouts[std::size_t(index)].get() : nullptr;
    else
        layout = findLayout(index == -2 ? kIdle : kGlobal);
    if (layout)
        activate(layout);
}

int AppCore::nextManualLayout(const LayoutConfig *layout) const
{
    const int i = indexOf(layout);
    if (i < 0 || !layout->path().isEmpty())
        return -1;
    const int n = int(layouts.size());
    for (int step = 1; step <= n; ++step) {
        const int j = (i + step) % n;
        const LayoutConfig *candidate = layouts[std::size_t(j)].get();
        if (candidate && candidate->state != LayoutState::Deleted && candidate->path().isEmpty())
            return j;
    }
    return i;
}

void AppCore::setCurrentRow(int row)
{
    if (activeLayout && activeLayout->isNamed(kIdle))
        row = 0;
    if (row != currentRow)
        m_keypad.holdDisplayUntilAllSent();
    currentRow = row >= 0 && row < ModifierRow::kCount ? row : 0;
    if (activeChanged)
        activeChanged();
}

bool AppCore::usesPlugin(LayoutConfig &layout, const PluginEntry &entry)
{
    if (!entry.library)
        return false;
    for (const InstanceRef &holder : layout.slots()) {
        PluginInstance *instance = holder ? holder->instance() : nullptr;
        if (instance && instance->function() && &instance->function()->library() == entry.library.get()) {
            markModified(layout);
            return true;
        }
    }
    return false;
}

bool AppCore::matchesApplication(const LayoutConfig &layout, const PluginEntry &entry) const
{
    if (!entry.library)
        return false;
    const QString file = layout.applicationFileName();
    for (const QString &application : entry.library->applications)
        if (application.compare(file, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// --- faces --------------------------------------------------------------------------------------

bool AppCore::faceChanged(PluginInstance &instance)
{
    if (!activeLayout)
        return false;
    for (int key = 0; key < ModifierRow::kKeys; ++key) {
        if (instanceAt(*activeLayout, currentRow, key) == &instance) {
            m_keypad.sendFace(key, instance);
            return true;
        }
    }
    return false;
}

void AppCore::sendAllFaces()
{
    if (!activeLayout)
        return;
    for (int key = 0; key < ModifierRow::kKeys; ++key) {
        if (PluginInstance *instance = instanceAt(*activeLayout, currentRow, key))
            m_keypad.sendFace(key, *instance);
        else
            m_keypad.sendBlank(key);
    }
}

} // namespace pixkey
