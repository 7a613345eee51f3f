/* Compiled as strict C11 so the contract header stays usable from C. */
#include "pixkey_plugin.h"

_Static_assert(sizeof(PkxPlugin) == sizeof(void *), "the object's first word is the table");
_Static_assert(sizeof(PkxPluginOps) == 7 * sizeof(void (*)(void)), "seven slots");

int pkx_check_c(void)
{
    PkxImage *image = pkx_image_alloc(16, 16);
    int ok = image != NULL && image->stride == 64;
    pkx_image_free(image);
    return ok;
}
