// The library's two exports. Create(module, f) answers with a key of kind f (clamped to 0..4);
// the describing object is the plain "Slideshow" key. All keys of the process share one monitor,
// which starts the helper pixkey-impress-bridge from the folder of this library.
#include "SlideshowPlugin.h"

#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

slideshow::MonitorOptions monitorOptions(const PkxModule *module)
{
    slideshow::MonitorOptions options;
    std::string folder;
    if (module && module->path) {
        folder = module->path;
        folder = folder.substr(0, folder.rfind('/') + 1);
    }
    options.helperPath = folder + "pixkey-impress-bridge";
    const char *pipe = std::getenv("PIXKEY_IMPRESS_PIPE");
    options.pipeName = pipe && *pipe ? pipe : "pixkey-impress";
    options.findProgram = [probe = std::make_shared<slideshow::ProgramProbe>()] { return probe->find(); };
    options.requestPipe = slideshow::ProgramProbe::requestPipe;
    return options;
}

} // namespace

extern "C" PKX_EXPORT PkxPlugin *Create(const PkxModule *module, int function)
{
    try {
        const slideshow::MonitorOptions options = monitorOptions(module);
        return new slideshow::SlideshowPlugin(function, [options] { return slideshow::ImpressMonitor::shared(options); });
    } catch (...) {
        return nullptr;
    }
}

extern "C" PKX_EXPORT void Delete(PkxPlugin *object)
{
    pkx::destroy(object);
}
