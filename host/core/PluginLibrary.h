#pragma once

#include "InstanceHolder.h"
#include "PluginCallGuard.h"
#include "PluginFunction.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace pixkey {

class FaceSink;
class LoadedLibrary;

// A plug-in library known to the catalogue: its file, what its describing object told about it,
// its functions, and the instances made from it. The library is loaded on demand and unloaded when
// no instance uses it; the record, its texts and its `PluginFunction` objects stay meanwhile.
// Owned by its `PluginEntry`; main thread only.
class PluginLibrary {
public:
    explicit PluginLibrary(QString fullPath);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary &) = delete;
    PluginLibrary &operator=(const PluginLibrary &) = delete;

    const QString &fullPath() const { return m_fullPath; }
    bool isLoaded() const { return m_binding != nullptr; }

    // Binds the file, creates the describing object and reads the library's information and
    // functions. True when loaded (also when it already was). False when the file does not load or
    // lacks `Create` or `Delete`, with one line naming the file and the reason in `error`.
    bool load(QString *error = nullptr);
    // Forgets the instance list, deletes the describing object and releases the library. Instances
    // still alive keep the code mapped until they are gone.
    void unload();
    // True when an instance made from this library is still referenced.
    bool inUse() const;

    // `Create(module, function)` of a new key instance, wrapped in a holder the library tracks;
    // loads the library first. Null when the library cannot be loaded.
    InstanceRef createInstance(PluginFunction &function, FaceSink &sink);

    // Library-wide properties through the describing object (indices 512 + i); both load first.
    // What was set is given to the library again whenever it is loaded anew, so unloading an unused
    // library does not lose the user's library-wide settings.
    bool hasLibraryProperties() const { return m_libraryProperties != 0; }
    bool GetProperty(int i, QString &name, QString &value);
    void SetProperty(const QString &name, const QString &value);

    // Information copied from the describing object (empty when it failed).
    QString identifier;
    QString name;
    QString description;
    QString author;
    QString email;
    QString web;
    QString applicationTitle;
    QStringList applications; // executable file names the plug-in belongs to
    QImage smallIcon;
    QImage largeIcon;
    QImage preview;

    // n, at least 1 once the library was loaded.
    int functionCount() const { return m_functionCount; }
    // Function 1..n, or null.
    PluginFunction *function(int number) const;
        // min(n, answer to code 12), or 1 when that answer is 0 or below.
    int defaultFunction() const { return m_defaultFunction; }

private:
    void readInformation();
    PluginFunction &functionRecord(int number);

    QString m_fullPath;
    std::shared_ptr<LoadedLibrary> m_binding; // null while unloaded
    PluginCallGuard m_describing;
    std::intptr_t m_libraryProperties = 0;
    int m_defaultFunction = 1;
    int m_functionCount = 0;
    std::vector<std::unique_ptr<PluginFunction>> m_functions; // at least one once loaded
    std::vector<std::weak_ptr<InstanceHolder>> m_instances;
    std::vector<std::pair<std::string, std::string>> m_propertiesSet; // library-wide, in order set
};

} // namespace pixkey
