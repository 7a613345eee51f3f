#include "PluginCatalogue.h"

#include "SettingsStore.h"

#include "LoadedLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace pixkey {

namespace {

const QString kPluginsKey = QStringLiteral("Plugins");
const QString kPluginsPrefix = QStringLiteral("Plugins\\");
// Property exchange limits of the plug-in contract: names and values travel in 256-byte buffers.
constexpr int kPropertyNameBytes = 250;
constexpr int kPropertyValueBytes = 255;
// A plug-in that answers every property index is not allowed to hang a save.
constexpr int kMaxProperties = 1024;

// A plain file name that stays inside the folder it is joined to.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QString cutUtf8(const QString &text, int maxBytes)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes)
        return text;
    bytes.truncate(maxBytes);
    while (!bytes.isEmpty() && (uchar(bytes.back()) & 0xC0) == 0x80)
        bytes.chop(1); // a cut multi-byte character goes as a whole
    if (!bytes.isEmpty() && uchar(bytes.back()) >= 0xC0)
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

PluginCatalogue::Folders PluginCatalogue::Folders::standard()
{
    Folders folders;
    folders.programFolder = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    folders.userPluginsFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                QStringLiteral("/Vostrel/PixkeyMini/Plugins");
    return folders;
}

PluginCatalogue::PluginCatalogue(SettingsStore &store, Folders folders, FaceSink &sink)
    : m_store(store), m_folders(std::move(folders)), m_sink(sink)
{
}

PluginCatalogue::~PluginCatalogue()
{
    clear();
}

QString PluginCatalogue::pluginsPath(const QString &fileName)
{
    return kPluginsPrefix + fileName;
}

QString PluginCatalogue::resolvePath(const QString &storedPath) const
{
    if (storedPath.startsWith(kPluginsPrefix, Qt::CaseInsensitive)) {
        const QString name = storedPath.mid(kPluginsPrefix.size());
        if (!isPlainFileName(name))
            return QString();
        const QString user = m_folders.userPluginsFolder + QLatin1Char('/') + name;
        if (QFileInfo(user).isFile())
            return user;
        return m_folders.programPlugins() + QLatin1Char('/') + name;
    }
    return QDir::isAbsolutePath(storedPath) ? storedPath : QString();
}

QString PluginCatalogue::placeInPluginsFolder(const QString &source, bool &copied, QString &backup, QString &error)
{
    copied = false;
    const QFileInfo info(source);
    const QString name = info.fileName();
    if (!isPlainFileName(name) || !info.isFile()) {
        error = QStringLiteral("%1: not a plug-in file").arg(source);
        return QString();
    }
    const QString target = m_folders.userPluginsFolder + QLatin1Char('/') + name;
    const QString self = canonical(source);
    if (self == canonical(target) || self == canonical(m_folders.programPlugins() + QLatin1Char('/') + name))
        return pluginsPath(name);

    // Bound once where it lies before it may replace an installed file of the same name: that
    // library may be loaded right now, and binding the target path would then find the loaded
    // library instead of judging the new file.
    std::string why;
    if (!LoadedLibrary::load(source.toStdString(), &why)) {
        error = QString::fromStdString(why);
        return QString();
    }

    // Written beside the target and renamed over it: a library of that name that is loaded right
    // now keeps its old file, which a copy in place would overwrite under the running code.
    if (!QDir().mkpath(m_folders.userPluginsFolder)) {
        error = QStringLiteral("%1: cannot create %2").arg(source, m_folders.userPluginsFolder);
        return QString();
    }
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(source, part)) {
        error = QStringLiteral("%1: cannot copy to %2").arg(source, m_folders.userPluginsFolder);
        return QString();
    }
    if (QFileInfo::exists(target)) {
        backup = target + QStringLiteral(".previous");
        QFile::remove(backup);
        if (!QFile::rename(target, backup)) {
            QFile::remove(part);
            backup.clear();
            error = QStringLiteral("%1: cannot replace %2").arg(source, target);
            return QString();
        }
    }
    if (!QFile::rename(part, target)) {
        QFile::remove(part);
        if (!backup.isEmpty())
            QFile::rename(backup, target);
        backup.clear();
        error = QStringLiteral("%1: cannot write %2").arg(source, target);
        return QString();
    }
    copied = true;
    return pluginsPath(name);
}

PluginCatalogue::AddResult PluginCatalogue::AddPlugin(const QString &path, const QString &name,
                                                      LayoutState requestedState)
{
    AddResult result;
    QString storedPath = path;
    bool copied = false;
    QString backup;
    if (requestedState == LayoutState::New) {
        storedPath = placeInPluginsFolder(path, copied, backup, result.error);
        if (storedPath.isEmpty())
            return result;
    }
    const QString target = resolvePath(storedPath);
    // Settles a copy made above: kept when `keep`, else the file it replaced comes back.
    const auto settleCopy = [&](bool keep) {
        if (keep) {
            if (!backup.isEmpty())
                QFile::remove(backup);
        } else if (copied) {
            QFile::remove(target);
            if (!backup.isEmpty())
                QFile::rename(backup, target);
        }
    };

    auto entry = std::make_unique<PluginEntry>();
    entry->path = storedPath;
    entry->name = name;
    if (target.isEmpty()) {
        result.error = QStringLiteral("%1: not a usable plug-in path").arg(storedPath);
        settleCopy(false);
        return result;
    }
    entry->library = std::make_unique<PluginLibrary>(target);
    if (!entry->library->load(&result.error)) {
        entry.reset();
        settleCopy(false);
        return result;
    }
    settleCopy(true);

    const QString identifier = entry->library->identifier;
    if (!identifier.isEmpty()) {
        for (const auto &existing : m_entries) {
            if (!existing->library || existing->library->identifier.compare(identifier, Qt::CaseInsensitive) != 0)
                continue;
            entry.reset();
            if (existing->removed && requestedState == LayoutState::New) {
                existing->removed = false;
                existing->state = LayoutState::New;
                return {existing.get(), Added, QString()};
            }
            return {existing.get(), AlreadyPresent, QString()};
        }
    }
    entry->state = requestedState;
    m_entries.push_back(std::move(entry));
    return {m_entries.back().get(), Added, QString()};
}

void PluginCatalogue::LoadCatalogue(const QString &profileSuffix)
{
    KeyPath key = SettingsStore::settingsKey(profileSuffix) + QStringList{kPluginsKey};
    LayoutState state = LayoutState::Clean;
    if (!profileSuffix.isEmpty() && !m_store.keyExists(key)) {
        key = SettingsStore::settingsKey() + QStringList{kPluginsKey};
        state = LayoutState::Modified; // written under the profile's own key at the next save
    }
    for (const QString &identifier : m_store.subkeys(key)) {
        const KeyPath entryKey = key + QStringList{identifier};
        const QString path = m_store.readString(entryKey, QStringLiteral("Path")).value_or(QString());
        const QString name = m_store.readString(entryKey, QStringLiteral("Name")).value_or(QString()).left(255);
        const AddResult added = AddPlugin(path, name, state);
        if (added.code != Added)
            continue;
        PluginEntry &entry = *added.entry;
        if (const auto bits = m_store.readDword(entryKey, QStringLiteral("State"))) {
            entry.collapsed = (*bits & 2) != 0;
            if (*bits & 1)
                releaseEntry(entry);
        }
        const bool libraryWide = entry.library->hasLibraryProperties();
        for (const QString &valueName : m_store.valueNames(entryKey)) {
            if (!valueName.startsWith(QLatin1Char('@')))
                continue;
            const QString property = cutUtf8(valueName.mid(1), kPropertyNameBytes);
            const QString value =
                cutUtf8(m_store.readString(entryKey, valueName).value_or(QString()), kPropertyValueBytes);
            if (libraryWide)
                entry.library->SetProperty(property, value);
            entry.defaultProperties.emplace_back(property, value);
        }
    }

    for (const QString &folder : {m_folders.programPlugins(), m_folders.userPluginsFolder}) {
        const QStringList files = QDir(folder).entryList({QStringLiteral("*.pkx")}, QDir::Files, QDir::Name);
        for (const QString &file : files) {
            const bool known = std::any_of(m_entries.begin(), m_entries.end(),
                                           [&](const auto &entry) { return entry->fileName() == file; });
            if (!known && isPlainFileName(file))
                AddPlugin(pluginsPath(file), QString(), LayoutState::Modified);
        }
    }
}

bool PluginCatalogue::SaveEntry(PluginEntry &entry, const QString &profileSuffix)
{
    if (entry.path.isEmpty() || !entry.library || entry.library->identifier.isEmpty())
        return false;
    PluginLibrary &library = *entry.library;
    const KeyPath key = SettingsStore::settingsKey(profileSuffix) + QStringList{kPluginsKey, library.identifier};
    // Rewritten whole, so properties the plug-in no longer has do not linger.
    m_store.deleteKey(key);
    if (!m_store.createKey(key))
        return false;
    m_store.writeString(key, QStringLiteral("Path"), entry.path);
    m_store.writeString(key, QStringLiteral("Author"), library.author);
    m_store.writeString(key, QStringLiteral("Name"), library.name);
    m_store.writeDword(key, QStringLiteral("State"), (entry.removed ? 1 : 0) + (entry.collapsed ? 2 : 0));
    if (library.hasLibraryProperties()) {
        QString name, value;
        for (int i = 0; i < kMaxProperties && library.GetProperty(i, name, value); ++i)
            m_store.writeString(key, QLatin1Char('@') + name, value);
    }
    for (const auto &[name, value] : entry.defaultProperties)
        m_store.writeString(key, QLatin1Char('@') + name, value);
    return true;
}

InstanceRef PluginCatalogue::CreateInstance(PluginFunction &function)
{
    return function.library().createInstance(function, m_sink);
}

void PluginCatalogue::releaseEntry(PluginEntry &entry)
{
    if (entry.library && !entry.library->inUse())
        entry.library->unload();
    entry.removed = true;
    entry.markModified();
}

void PluginCatalogue::unloadUnused()
{
    for (const auto &entry : m_entries)
        if (entry->library && entry->library->isLoaded() && !entry->library->inUse())
            entry->library->unload();
}

void PluginCatalogue::clear()
{
    while (!m_entries.empty())
        m_entries.pop_back();
}

PluginEntry *PluginCatalogue::findByIdentifier(const QString &identifier) const
{
    if (identifier.isEmpty())
        return nullptr;
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        const PluginEntry &entry = **it;
        if (entry.library && entry.library->identifier.compare(identifier, Qt::CaseInsensitive) == 0)
            return it->get();
    }
    return nullptr;
}

PluginEntry *PluginCatalogue::entryFor(const PluginLibrary *library) const
{
    for (const auto &entry : m_entries)
        if (entry->library.get() == library)
            return entry.get();
    return nullptr;
}

} // namespace pixkey
