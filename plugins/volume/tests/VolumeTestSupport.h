// Helpers of the Volume tests: a face buffer, the bar read back from a face, and Volume.pkx loaded
// the way the host loads it (dlopen, Create, the operation table, Delete).
#pragma once

#include <pixkey_plugin.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace volume::test {

// A 96x96 face the plug-in paints into, filled with a colour no picture uses so that untouched
// pixels show.
struct Face {
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface surface{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};

    void fill(std::uint8_t value) { bits.fill(value); }
    // 0xRRGGBB at x, y.
    std::uint32_t rgb(int x, int y) const
    {
        const std::uint8_t *p = bits.data() + y * PKX_FACE_STRIDE + x * 3;
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
};

// The bar as text, one letter a segment: '#' lit, 'o' lit while muted (an outline), '.' unlit,
// '?' anything else (a picture where the bar belongs, a wrong colour).
inline std::string barOf(const Face &face)
{
    std::string bar;
    for (int i = 0; i < 10; ++i) {
        const int x = 18 + 6 * i;
        const std::uint32_t edge = face.rgb(x - 1, 80);
        const std::uint32_t inside = face.rgb(x + 1, 83);
        if (edge == 0xFFFFFF && inside == 0xFFFFFF)
            bar += '#';
        else if (edge == 0x8C8C8C && inside == 0x5A5A5A)
            bar += 'o';
        else if (edge == 0x5A5A5A && inside == 0x5A5A5A)
            bar += '.';
        else
            bar += '?';
    }
    return bar;
}

// Waits for `condition`, checking every 10 ms; false when `deadline` passed first.
inline bool eventually(const std::function<bool()> &condition,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Volume.pkx, opened with dlopen for the life of the object.
class Library {
public:
    explicit Library(const char *path = VOLUME_PKX_PATH) : m_module{path, nullptr}
    {
        m_handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        m_module.handle = m_handle;
        create = reinterpret_cast<PkxCreateFn>(dlsym(m_handle, "Create"));
        destroy = reinterpret_cast<PkxDeleteFn>(dlsym(m_handle, "Delete"));
    }
    ~Library()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    bool ok() const { return create && destroy; }
    const PkxModule *module() const { return &m_module; }

    PkxCreateFn create = nullptr;
    PkxDeleteFn destroy = nullptr;

private:
    PkxModule m_module;
    void *m_handle = nullptr;
};

// One object of the library, deleted through Delete. The calls are made on the test's thread,
// which plays the paint thread and the main thread in turn, as the host never overlaps them
// for the calls used here.
class Key {
public:
    Key(Library &library, int function) : m_library(library), m_object(library.create(library.module(), function)) {}
    ~Key()
    {
        if (m_object)
            m_library.destroy(m_object);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    PkxPlugin *get() const { return m_object; }
    int activate() { return m_object->ops->OnEvent(m_object, PKX_EVENT_ACTIVATE); }
    int deactivate() { return m_object->ops->OnEvent(m_object, PKX_EVENT_DEACTIVATE); }
    int paint() { return m_object->ops->Paint(m_object, &face.surface); }
    void press() { m_object->ops->OnKeyDown(m_object); }
    intptr_t info(int code) { return m_object->ops->GetInfo(m_object, code); }
    std::string text(int code)
    {
        const intptr_t value = info(code);
        return value ? reinterpret_cast<const char *>(value) : "<0>";
    }
    // Deletes the object now (Delete with the object still active, as after a failed call).
    void release()
    {
        m_library.destroy(m_object);
        m_object = nullptr;
    }

    // Paints until the bar reads `expected`; the last bar read otherwise.
    std::string waitForBar(const std::string &expected, std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        std::string last;
        eventually([&] {
            paint();
            last = barOf(face);
            return last == expected;
        }, deadline);
        return last;
    }

    Face face;

private:
    Library &m_library;
    PkxPlugin *m_object;
};

} // namespace volume::test
