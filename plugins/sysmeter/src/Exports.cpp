// The library's two exports: Create makes the describing object (0), the "Free memory" key (1) or
// the "CPU usage" key (2); Delete frees any of them.
#include "SysmeterPlugin.h"

extern "C" PKX_EXPORT PkxPlugin *Create(const PkxModule *, int function)
{
    try {
        return new sysmeter::SysmeterPlugin(function);
    } catch (...) {
        return nullptr;
    }
}

extern "C" PKX_EXPORT void Delete(PkxPlugin *object)
{
    pkx::destroy(object);
}
