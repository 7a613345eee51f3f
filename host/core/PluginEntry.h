#pragma once

#include "LayoutState.h"
#include "PluginLibrary.h"

#include <QString>

#include <memory>
#include <utility>
#include <vector>

namespace pixkey {

// One installed plug-in library in the catalogue, as stored under "\Plugins": where its file is,
// what the user did with it, and the default properties given to new instances. Owned by the
// catalogue; main thread only.
class PluginEntry {
public:
    using Property = std::pair<QString, QString>;

    LayoutState state = LayoutState::Clean; // Clean, Modified or New
    QString name;                           // as stored; may be empty
    QString path;                           // "Plugins\FILE.pkx" or a full path, as stored
    std::unique_ptr<PluginLibrary> library; // null when the file could not be found or bound
    int loadStatus = 0;                     // 0 loaded, 1 not loadable
    bool removed = false;                   // removed by the user; kept so the folder scan skips it
    bool collapsed = true;                  // its node in the configurator's plug-in tree
    std::vector<Property> defaultProperties;

    // The stored name, else the library's name, else "Unnamed".
    QString displayName() const;
    // The part of the path after its last "\" (or "/" for a full path of this system).
    QString fileName() const;
    // The library's identifier, empty without a library.
    QString identifier() const { return library ? library->identifier : QString(); }
    void markModified()
    {
        if (state == LayoutState::Clean)
            state = LayoutState::Modified;
    }
};

} // namespace pixkey
