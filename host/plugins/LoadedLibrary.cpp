#include "LoadedLibrary.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

namespace pixkey {

namespace {

// dlerror() is per thread, but dlopen and dlerror pairs from several threads would still
// interleave in the text they leave; loading is rare, so one lock keeps each pair together.
std::mutex g_dlMutex;

// dlerror() texts usually begin with the file name; drop it, as the caller's line names the file.
std::string reasonFrom(const char *text, const std::string &path)
{
    std::string reason = text ? text : "unknown error";
    const std::string prefix = path + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0)
        reason.erase(0, prefix.size());
    return reason;
}

} // namespace

std::shared_ptr<LoadedLibrary> LoadedLibrary::load(const std::string &path, std::string *error)
{
    auto fail = [&](const std::string &full, const std::string &reason) {
        if (error)
            *error = "cannot load plug-in " + full + ": " + reason;
        return std::shared_ptr<LoadedLibrary>();
    };
    if (path.empty())
        return fail("\"\"", "no file name given");

    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    const std::string full = ec ? path : absolute.lexically_normal().string();
    if (std::filesystem::is_directory(full, ec))
        return fail(full, "it is a directory");

    std::lock_guard lock(g_dlMutex);
    dlerror();
    void *handle = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return fail(full, reasonFrom(dlerror(), full));

    auto create = reinterpret_cast<PkxCreateFn>(dlsym(handle, "Create"));
    auto destroy = reinterpret_cast<PkxDeleteFn>(dlsym(handle, "Delete"));
    if (!create || !destroy) {
        dlclose(handle);
        return fail(full, std::string("it does not export ") + (!create ? "Create" : "Delete"));
    }
    return std::shared_ptr<LoadedLibrary>(new LoadedLibrary(full, handle, create, destroy));
}

LoadedLibrary::LoadedLibrary(std::string path, void *handle, PkxCreateFn create, PkxDeleteFn destroy)
    : m_path(std::move(path)), m_handle(handle), m_create(create), m_delete(destroy)
{
    m_module.path = m_path.c_str();
    m_module.handle = m_handle;
}

LoadedLibrary::~LoadedLibrary()
{
    std::lock_guard lock(g_dlMutex);
    dlclose(m_handle);
}

} // namespace pixkey
