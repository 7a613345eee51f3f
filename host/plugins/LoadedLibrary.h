#pragma once

#include "pixkey_plugin.h"

#include <memory>
#include <string>

namespace pixkey {

// One plug-in library (.pkx) bound by its full path: its `Create` and `Delete`, and the module
// record handed to `Create`. Shared: every object made from the library holds a reference, so the
// library stays loaded until the last of them is gone; it is unloaded when the last reference
// goes. Knows nothing of catalogues. Loading happens on the main thread; the accessors may be
// called from any thread (the object is immutable once made).
class LoadedLibrary {
public:
    // Loads `path` (made absolute when relative) with RTLD_NOW | RTLD_LOCAL and binds `Create` and
    // `Delete`. On failure returns null, unloads whatever was loaded, and sets `error` (when given)
    // to one line naming the file and the reason.
    static std::shared_ptr<LoadedLibrary> load(const std::string &path, std::string *error = nullptr);

    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    const std::string &path() const { return m_path; }
    // The record passed to `Create`; valid while this object lives.
    const PkxModule *module() const { return &m_module; }
    PkxCreateFn createFunction() const { return m_create; }
    PkxDeleteFn deleteFunction() const { return m_delete; }

private:
    LoadedLibrary(std::string path, void *handle, PkxCreateFn create, PkxDeleteFn destroy);

    std::string m_path;
    void *m_handle;
    PkxModule m_module;
    PkxCreateFn m_create;
    PkxDeleteFn m_delete;
};

} // namespace pixkey
