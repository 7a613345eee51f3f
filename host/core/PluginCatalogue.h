#pragma once

#include "InstanceHolder.h"
#include "LayoutState.h"
#include "PluginEntry.h"

#include <QString>

#include <memory>
#include <vector>

namespace pixkey {

class FaceSink;
class SettingsStore;

// The list of installed plug-in libraries: loaded from "\Plugins" under the settings key and from
// the "Plugins" folders, extended by installs, saved entry by entry, and the factory of key
// instances. Entries are never destroyed while the program runs (a removed one keeps its place), so
// pointers to them stay valid until `clear`. Owned by `AppCore`; main thread only.
//
// Plug-in files live in two "Plugins" folders: the program's own (bundled plug-ins, possibly
// read-only) and the user's ($XDG_DATA_HOME/Vostrel/PixkeyMini/Plugins), where installs go. A stored
// path "Plugins\NAME.pkx" means the user's file when it exists, else the program's.
class PluginCatalogue {
public:
    struct Folders {
        QString programFolder;     // the folder of the program; plug-ins in its "Plugins" subfolder
        QString userPluginsFolder; // where installed plug-ins are copied
        QString programPlugins() const { return programFolder + QStringLiteral("/Plugins"); }
        // The running program's folder and the user's data folder.
        static Folders standard();
    };

    enum AddCode { Failed = 0, Added = 1, AlreadyPresent = 3 };
    struct AddResult {
        PluginEntry *entry = nullptr;
        AddCode code = Failed;
        QString error; // why it failed, one line (for logs; the user sees the file name only)
    };

    PluginCatalogue(SettingsStore &store, Folders folders, FaceSink &sink);
    ~PluginCatalogue();
    PluginCatalogue(const PluginCatalogue &) = delete;
    PluginCatalogue &operator=(const PluginCatalogue &) = delete;

    const Folders &folders() const { return m_folders; }
    const std::vector<std::unique_ptr<PluginEntry>> &entries() const { return m_entries; }

    // Reads "\Plugins" under the settings key of `profileSuffix` (or the base key's, making every
    // entry Modified), then adds the "*.pkx" files of both folders that no entry names.
    void LoadCatalogue(const QString &profileSuffix);
    // Adds a library. With `requestedState` New (a user install) the file is first copied into the
    // user's "Plugins" folder unless it already lies in a "Plugins" folder, and the path becomes
    // "Plugins\" + its name. A library whose identifier is already present is not added again:
    // code AlreadyPresent with the existing entry (a removed one is revived by an install, Added).
    AddResult AddPlugin(const QString &path, const QString &name, LayoutState requestedState);
    // Writes the entry under "\Plugins\<identifier>" of the settings key: path, name, author,
    // state bits, library-wide properties and default properties. False when skipped (no library,
    // empty path or identifier) or the key could not be created.
    bool SaveEntry(PluginEntry &entry, const QString &profileSuffix);
    // A new instance of `function`, loading its library when needed; null when it cannot load.
    InstanceRef CreateInstance(PluginFunction &function);
    // The release part of removing a plug-in: forgets its instances (the layouts have dropped theirs
    // already), unloads it when nothing uses it, marks it removed and modified.
    void releaseEntry(PluginEntry &entry);
    // Unloads every library that no instance uses.
    void unloadUnused();
    // Destroys every entry, last first.
    void clear();

    // The last entry (searching from the end, skipping entries without a library) whose identifier
    // equals `identifier` without regard to case; null for an empty identifier.
    PluginEntry *findByIdentifier(const QString &identifier) const;
    PluginEntry *entryFor(const PluginLibrary *library) const;
    // The file a stored path stands for; empty when a "Plugins\" path names something that is not a
    // plain file name.
    QString resolvePath(const QString &storedPath) const;

    // The stored form of a file placed in a "Plugins" folder.
    static QString pluginsPath(const QString &fileName);

private:
    // Copies `source` into the user's folder unless it already lies in a "Plugins" folder. Sets
    // `copied` when a file was written; `backup` names a file it replaced, kept until the install
    // is settled. Empty result on failure.
    QString placeInPluginsFolder(const QString &source, bool &copied, QString &backup, QString &error);

    SettingsStore &m_store;
    Folders m_folders;
    FaceSink &m_sink;
    std::vector<std::unique_ptr<PluginEntry>> m_entries;
};

} // namespace pixkey
