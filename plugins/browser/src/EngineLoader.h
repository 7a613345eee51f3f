// EngineLoader: loads the engine part (libpixkey_browser_engine.so, beside the plug-in file) the
// first time a page is needed, and keeps it for the rest of the process: the web engine's
// libraries cannot be unloaded safely, so both the engine part and the plug-in library that
// queued work for it are marked never to be unloaded (RTLD_NODELETE).
//
// [main-thread] for `engine`; the path setters and `loaded` are [any-thread]. Process-wide.
#pragma once

#include "PageRenderer.h"

#include <string>

namespace browser {

class EngineLoader {
public:
    // Where to look for the engine part: the folder of `pluginFile` (the .pkx being created).
    // The first call wins; without one, the folder of the library this code is linked into.
    static void setPluginFile(const std::string &pluginFile);
    // Replaces the engine part's full path (tests, measuring tools).
    static void setEnginePath(const std::string &path);

    // The loaded and started engine, or null with `error` set (the same error on every later
    // call: a failed load is not retried).
    static const EngineApi *engine(std::string *error = nullptr);

    // Keeps the library this code is linked into loaded for the rest of the process: work it
    // queues on the main thread points into its code. Done before the first such work. [any-thread]
    static void pinPluginLibrary();

    // Whether the engine part has been loaded in this process.
    static bool loaded();
};

} // namespace browser
