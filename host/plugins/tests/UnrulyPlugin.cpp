// A test plug-in that breaks the rules of texts, property buffers and images: overlong and
// unterminated texts, a text pointer into nowhere, property buffers filled to the last byte, and
// images with impossible headers.
#include "pixkey_plugin.hpp"

#include <cstring>
#include <string>

namespace {

class Unruly : public pkx::Plugin<Unruly> {
public:
    Unruly(const PkxModule *, int) : m_long(100000, 'x') {}

    intptr_t GetInfo(int code)
    {
        switch (code) {
        case PKX_INFO_NAME: return reinterpret_cast<intptr_t>(m_long.c_str());
        case PKX_INFO_DESCRIPTION: return 0x10; // not a pointer anyone can read
        case PKX_INFO_SMALL_ICON: {
            PkxImage *image = pkx_image_alloc(16, 16);
            image->width = 100000; // header lies about its size
            return reinterpret_cast<intptr_t>(image);
        }
        case PKX_INFO_LARGE_ICON: {
            PkxImage *image = pkx_image_alloc(32, 32);
            for (int i = 0; i < 32 * 32; ++i)
                std::memcpy(image->pixels + 4 * i, "\x10\x20\x30\xFF", 4);
            return reinterpret_cast<intptr_t>(image);
        }
        default: return 0;
        }
    }

    int GetProperty(int index, char *name, char *value)
    {
        if (index != PKX_PROPERTY_INSTANCE_BASE)
            return 0;
        std::memset(name, 'n', PKX_PROPERTY_TEXT_SIZE); // no terminator at all
        std::memset(value, 'v', PKX_PROPERTY_TEXT_SIZE);
        return 1;
    }

private:
    std::string m_long;
};

} // namespace

PKX_DEFINE_EXPORTS(Unruly)
