// The library's two exports. Every call of Create answers with a "Calls" instance: the library has
// one function, and its describing object is an instance like any other.
#include "CallsPlugin.h"

extern "C" PKX_EXPORT PkxPlugin *Create(const PkxModule *, int)
{
    try {
        return new calls::CallsPlugin();
    } catch (...) {
        return nullptr;
    }
}

extern "C" PKX_EXPORT void Delete(PkxPlugin *object)
{
    pkx::destroy(object);
}
