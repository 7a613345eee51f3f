// The library's two exports: Create(module, f) makes the instance of kind f (0 describes the
// library, 1 previous, 2 play/pause, 3 next; other values are clamped).
#include "PlayersPlugin.h"

extern "C" PKX_EXPORT PkxPlugin *Create(const PkxModule *, int function)
{
    try {
        return new players::PlayersPlugin(function);
    } catch (...) {
        return nullptr;
    }
}

extern "C" PKX_EXPORT void Delete(PkxPlugin *object)
{
    pkx::destroy(object);
}
