/* A test library that exports Create but no Delete: the host must refuse it. */
#include "pixkey_plugin.h"

PkxPlugin *Create(const PkxModule *module, int function)
{
    (void)module;
    (void)function;
    return NULL;
}
