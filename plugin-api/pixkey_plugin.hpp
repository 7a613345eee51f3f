// pixkey_plugin.hpp: writes the C operation table of pixkey_plugin.h for a C++ plug-in class.
//
// A plug-in derives from pkx::Plugin<Self> and defines, as plain (non-virtual) members, only the
// operations it answers; the rest fall back to the defaults below:
//
//   class Reel : public pkx::Plugin<Reel> {
//   public:
//       int Paint(PkxSurface &surface);
//       void OnKeyDown();
//       intptr_t GetInfo(int code);
//   };
//   PKX_DEFINE_EXPORTS(Reel)           // or write Create yourself and call pkx::destroy in Delete
//
// Exceptions thrown by a member travel to the host, which contains them and marks the object dead.
// Thread tags and ownership are those of pixkey_plugin.h.
#pragma once

#include "pixkey_plugin.h"

#include <cstdint>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

namespace pkx {

namespace detail {
// The seven slots the host calls, followed by an eighth of our own that destroys the object with
// its real type, so Delete needs no knowledge of which class Create made.
struct Table {
    PkxPluginOps ops;
    void (*destroy)(PkxPlugin *self);
};
} // namespace detail

template <class Self>
class Plugin : public PkxPlugin {
public:
    Plugin() { ops = &kTable.ops; }
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    // Defaults, hidden by members of the same name in Self.
    int Paint(PkxSurface &) { return 0; }
    void OnKeyDown() {}
    intptr_t GetInfo(int) { return 0; }
    int GetProperty(int, char *, char *) { return 0; }
    int SetProperty(const char *, const char *) { return 0; }
    int ShowProperties(void *) { return 0; }
    int OnEvent(int) { return 1; }

private:
    static Self *self(PkxPlugin *p) { return static_cast<Self *>(p); }

    static int paint(PkxPlugin *p, PkxSurface *s) { return self(p)->Paint(*s); }
    static void onKeyDown(PkxPlugin *p) { self(p)->OnKeyDown(); }
    static intptr_t getInfo(PkxPlugin *p, int code) { return self(p)->GetInfo(code); }
    static int getProperty(PkxPlugin *p, int index, char *name, char *value)
    {
        return self(p)->GetProperty(index, name, value);
    }
    static int setProperty(PkxPlugin *p, const char *name, const char *value)
    {
        return self(p)->SetProperty(name, value);
    }
    static int showProperties(PkxPlugin *p, void *parent) { return self(p)->ShowProperties(parent); }
    static int onEvent(PkxPlugin *p, int code) { return self(p)->OnEvent(code); }
    static void destroy(PkxPlugin *p) { delete self(p); }

    static constexpr detail::Table kTable = {
        {paint, onKeyDown, getInfo, getProperty, setProperty, showProperties, onEvent}, destroy};
};

// Deletes any object made from a pkx::Plugin<...> class, whatever its type.
inline void destroy(PkxPlugin *object)
{
    if (object)
        reinterpret_cast<const detail::Table *>(object->ops)->destroy(object);
}

// The length of the longest start of UTF-8 `text` that fits in `limit` bytes without splitting a
// character.
inline std::size_t utf8PrefixLength(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text.size();
    std::size_t length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

// Copies `text` into a 256-byte property buffer, cut to fit at a character boundary (so the stored
// text stays valid UTF-8) and always terminated.
inline void copyProperty(char *buffer, std::string_view text)
{
    const std::size_t length = utf8PrefixLength(text, PKX_PROPERTY_TEXT_SIZE - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}
inline void copyProperty(char *buffer, const char *text)
{
    copyProperty(buffer, std::string_view(text ? text : ""));
}

} // namespace pkx

// Exports Create and Delete for a single-class plug-in whose constructor takes
// (const PkxModule *module, int function).
#define PKX_DEFINE_EXPORTS(Class)                                                  \
    extern "C" PKX_EXPORT PkxPlugin *Create(const PkxModule *module, int function) \
    {                                                                              \
        return new (std::nothrow) Class(module, function);                        \
    }                                                                              \
    extern "C" PKX_EXPORT void Delete(PkxPlugin *object) { pkx::destroy(object); }
