/*
 * pixkey_plugin.h: the binary contract between the Pixkey mini host and its plug-ins.
 *
 * A plug-in is an ELF shared object with the extension ".pkx" that exports exactly two functions,
 * `Create` and `Delete`. The object `Create` returns starts with a pointer to a table of seven
 * operations in the slot order below; a plug-in may keep entries of its own after the seven, which
 * the host never calls. Every plug-in object is created and destroyed by its own library.
 *
 * Plain C11, usable from C and C++. Texts are UTF-8.
 *
 * Thread tags used on every operation:
 *   [main-thread]   the host's main (user-interface) thread.
 *   [paint-thread]  the instance's own paint thread; never two of these calls at a time for one
 *                   instance, but they may overlap with [main-thread] calls on the same object:
 *                   state shared between the two groups is the plug-in's to protect.
 *   [any-thread]    any thread.
 * Several instances, of the same or different libraries, paint at the same time on their own
 * threads; library-wide globals are shared by all of them.
 */
#ifndef PIXKEY_PLUGIN_H
#define PIXKEY_PLUGIN_H

#include <stdint.h>
#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PKX_EXPORT __attribute__((visibility("default")))

/* Size of a key face in pixels, and of one row of a PkxSurface in bytes (96 x 3). */
enum { PKX_FACE_SIZE = 96, PKX_FACE_STRIDE = 288 };

/* Size of the host's name and value buffers of the property exchange, terminator included. */
enum { PKX_PROPERTY_TEXT_SIZE = 256 };

/* Property indices: instance properties are asked for as 256 + i, library-wide ones (on the
 * describing object) as 512 + i, i = 0, 1, 2, ... until GetProperty returns 0. */
enum { PKX_PROPERTY_INSTANCE_BASE = 256, PKX_PROPERTY_LIBRARY_BASE = 512 };

/* OnEvent codes. */
enum {
    PKX_EVENT_ACTIVATE = 1,   /* the paint thread has started; load drawing resources, apply settings */
    PKX_EVENT_DEACTIVATE = 2  /* the paint thread is ending; free those resources */
};

/* GetInfo codes. "text" results are `const char*` kept alive by the plug-in and copied by the host
 * at once; "image" results are `PkxImage*` that become the host's; "integer" results are plain
 * values. Codes a plug-in does not answer return 0. */
enum {
    PKX_INFO_IDENTIFIER = 0,        /* text, describing object: unique per library ("bsp.NAME.mfc5") */
    PKX_INFO_NAME = 1,              /* text, describing object and each function object when n >= 2 */
    PKX_INFO_DESCRIPTION = 2,       /* text, as PKX_INFO_NAME */
    PKX_INFO_AUTHOR = 3,            /* text, describing object */
    PKX_INFO_EMAIL = 4,             /* text, describing object */
    PKX_INFO_WEB = 5,               /* text, describing object */
    PKX_INFO_APPLICATIONS = 6,      /* text, describing object: executable names separated by ';' */
    PKX_INFO_APPLICATION_TITLE = 7, /* text, describing object: name of the plug-in's application layout */
    PKX_INFO_FUNCTION_COUNT = 10,   /* integer, describing object: n; below 1 counts as 1 */
    PKX_INFO_PAINT_PERIOD = 11,     /* integer, each key instance: milliseconds; 0 or below means 300 */
    PKX_INFO_DEFAULT_FUNCTION = 12, /* integer, describing object: 1..n; 0 or below means 1 */
    PKX_INFO_SMALL_ICON = 20,       /* image 16x16, describing object and each function object when n >= 2 */
    PKX_INFO_LARGE_ICON = 21,       /* image 32x32, as PKX_INFO_SMALL_ICON */
    PKX_INFO_PREVIEW = 22,          /* image 96x96 (an icon is accepted), as PKX_INFO_SMALL_ICON */
    PKX_INFO_HAS_PROPERTIES = 255,  /* integer, each key instance: nonzero when it has properties */
    PKX_INFO_HAS_LIBRARY_PROPERTIES = 511 /* integer, describing object: nonzero when library-wide properties exist */
};

/* The picture a key face is painted into: 96 x 96 pixels, 24 bits, bytes blue, green, red, rows
 * top-down, `stride` (288) bytes a row. Owned by the host; valid only during the Paint call.
 * A C++ plug-in may wrap it as QImage(bits, 96, 96, 288, QImage::Format_BGR888). */
typedef struct PkxSurface {
    uint8_t *bits;
    int width;
    int height;
    int stride;
} PkxSurface;

/* A picture handed from a plug-in to the host (icons and previews of GetInfo 20, 21, 22):
 * 32 bits a pixel, bytes blue, green, red, alpha (straight alpha; QImage::Format_ARGB32 on a
 * little-endian machine), rows top-down, `stride` bytes a row. Header and pixels are one malloc
 * block made by pkx_image_alloc; the receiver frees it with pkx_image_free. */
typedef struct PkxImage {
    int width;
    int height;
    int stride;
    uint8_t *pixels; /* points into the same block, just past this header */
} PkxImage;

/* Allocates an image of width x height, pixels zeroed (fully transparent). NULL on failure or on
 * a size outside 1..4096. */
static inline PkxImage *pkx_image_alloc(int width, int height)
{
    if (width < 1 || height < 1 || width > 4096 || height > 4096)
        return NULL;
    size_t stride = (size_t)width * 4;
    PkxImage *image = (PkxImage *)calloc(1, sizeof(PkxImage) + stride * (size_t)height);
    if (!image)
        return NULL;
    image->width = width;
    image->height = height;
    image->stride = (int)stride;
    image->pixels = (uint8_t *)(image + 1);
    return image;
}

/* Frees an image made by pkx_image_alloc (in any library: the block is plain malloc memory). */
static inline void pkx_image_free(PkxImage *image)
{
    free(image);
}

/* The module record passed to Create: owned by the host, valid while the library stays loaded.
 * Plug-ins use `path` to find files beside themselves. */
typedef struct PkxModule {
    const char *path; /* full path of the .pkx file */
    void *handle;     /* the dlopen handle of the library */
} PkxModule;

typedef struct PkxPlugin PkxPlugin;

/* The operation table, in slot order. Every entry takes the object as its first argument. */
typedef struct PkxPluginOps {
    /* Slot 0 [paint-thread]. Paints the face into `surface`, which holds the picture this instance
     * drew two calls before (the host double-buffers). Returns nonzero when the plug-in drew a new
     * face that the host should send, 0 when nothing changed (the surface is then not shown). */
    int (*Paint)(PkxPlugin *self, PkxSurface *surface);

    /* Slot 1 [paint-thread]. The instance's key was pressed; Paint follows at once. */
    void (*OnKeyDown)(PkxPlugin *self);

    /* Slot 2 [main-thread]; code 11 also once at creation. Returns an integer, a text pointer or a
     * PkxImage pointer as the code says (see PKX_INFO_*), 0 for codes the plug-in does not answer. */
    intptr_t (*GetInfo)(PkxPlugin *self, int code);

    /* Slot 3 [main-thread]. Fills property `index` (PKX_PROPERTY_*_BASE + i) into the host's
     * zeroed 256-byte buffers `name` and `value` and returns nonzero; returns 0 when no such
     * property exists. The host reads at most 255 bytes of each, terminated or not. */
    int (*GetProperty)(PkxPlugin *self, int index, char *name, char *value);

    /* Slot 4 [main-thread]. Sets property `name` to `value` (texts owned by the host, valid for the
     * call only). The result is ignored. */
    int (*SetProperty)(PkxPlugin *self, const char *name, const char *value);

    /* Slot 5 [main-thread]. Shows the plug-in's settings dialog, modal to `parent` (the host's
     * active top-level QWidget*, or NULL). Returns nonzero when the user accepted new settings,
     * 0 when cancelled or when there is no dialog. */
    int (*ShowProperties)(PkxPlugin *self, void *parent);

    /* Slot 6 [paint-thread]. PKX_EVENT_ACTIVATE or PKX_EVENT_DEACTIVATE; other codes are ignored.
     * The result is ignored. */
    int (*OnEvent)(PkxPlugin *self, int code);
} PkxPluginOps;

/* Every plug-in object starts with this: its first word points to the operation table. */
struct PkxPlugin {
    const PkxPluginOps *ops;
};

/* Create [main-thread]: function 0 asks for the library's describing object, 1..n for an object
 * implementing function f (a single-function plug-in treats every value alike). `module` stays
 * valid while the library is loaded. Returns NULL on failure. */
typedef PkxPlugin *(*PkxCreateFn)(const PkxModule *module, int function);

/* Delete [main-thread]: destroys an object made by Create of the same library. */
typedef void (*PkxDeleteFn)(PkxPlugin *object);

PKX_EXPORT PkxPlugin *Create(const PkxModule *module, int function);
PKX_EXPORT void Delete(PkxPlugin *object);

#ifdef __cplusplus
}
#endif

#endif /* PIXKEY_PLUGIN_H */
