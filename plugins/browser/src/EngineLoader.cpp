#include "EngineLoader.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace browser {

namespace {

std::mutex g_lock;
std::string g_pluginFile; // guarded by g_lock
std::string g_enginePath; // guarded by g_lock
bool g_tried = false;     // guarded by g_lock
const EngineApi *g_api = nullptr; // guarded by g_lock
std::string g_error;      // guarded by g_lock
std::atomic<bool> g_loaded{false};

std::string folderOf(const std::string &file)
{
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

std::string ownFile()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ownFile), &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

} // namespace

void EngineLoader::pinPluginLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string self = ownFile();
        if (!self.empty())
            dlopen(self.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

void EngineLoader::setPluginFile(const std::string &pluginFile)
{
    std::lock_guard lock(g_lock);
    if (g_pluginFile.empty())
        g_pluginFile = pluginFile;
}

void EngineLoader::setEnginePath(const std::string &path)
{
    std::lock_guard lock(g_lock);
    g_enginePath = path;
}

bool EngineLoader::loaded()
{
    return g_loaded.load();
}

const EngineApi *EngineLoader::engine(std::string *error)
{
    std::lock_guard lock(g_lock);
    if (!g_tried) {
        g_tried = true;
        std::string path = g_enginePath;
        if (path.empty())
            path = folderOf(g_pluginFile.empty() ? ownFile() : g_pluginFile) + "/" + kEngineFileName;
        pinPluginLibrary();
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) {
            const char *why = dlerror();
            g_error = "the web engine part cannot be loaded: " + std::string(why ? why : path.c_str());
        } else {
            g_loaded = true;
            auto entry = reinterpret_cast<EngineEntry>(dlsym(handle, kEngineEntryName));
            const EngineApi *api = entry ? entry() : nullptr;
            if (!api) {
                g_error = "the web engine part has no entry point: " + path;
            } else {
                g_error = api->start();
                if (g_error.empty())
                    g_api = api;
            }
        }
    }
    if (error)
        *error = g_error;
    return g_api;
}

} // namespace browser
