// The library's two exports. Create makes a key of the kind the function number asks for, with
// the volume back end this machine offers.
#include "VolumePlugin.h"

extern "C" PKX_EXPORT PkxPlugin *Create(const PkxModule *, int function)
{
    try {
        return new volume::VolumePlugin(function, volume::CreateVolumeControl());
    } catch (...) {
        return nullptr;
    }
}

extern "C" PKX_EXPORT void Delete(PkxPlugin *object)
{
    pkx::destroy(object);
}
