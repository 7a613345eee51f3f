// A test plug-in whose behaviour the tests set through properties.
//
// Function numbers from 10 up give that paint period (GetInfo 11); others answer 0.
// Properties set: "mode" (normal, throw-paint, segv-paint, fpe-paint, overflow-paint, throw-keydown), "result"
// (what Paint returns, default 1), "colour" (0xRRGGBB the face is filled with), "period" (the
// answer to GetInfo 11), "hold" (1: Paint waits while the library-wide gate is closed), "gate"
// (closed/open: the library-wide gate; every object of the library shares it).
// Properties read (index 256 + i): paints, keydowns, activations, deactivations, then the
// library-wide ones: held (objects waiting at the gate), deletes (objects deleted so far); then
// returned (steady-clock nanoseconds when the last Paint returned).
#include "pixkey_plugin.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

std::mutex g_gateMutex;
std::condition_variable g_gateChanged;
bool g_gateClosed = false; // guarded by g_gateMutex
std::atomic<int> g_held{0};
std::atomic<int> g_deletes{0};

volatile int g_zero = 0;

// Recurses until the stack is gone (no stack holds a billion frames).
volatile int g_recursionLimit = 1000000000;

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[512];
    frame[depth % 512] = static_cast<char>(depth);
    if (depth == g_recursionLimit)
        return 0;
    return recurse(depth + 1) + frame[(depth + 1) % 512];
}

// A real division fault (SIGFPE), not a sanitizer's report of it.
__attribute__((no_sanitize_undefined, noinline)) int divide(int a, int b)
{
    return a / b;
}
// An address no process maps, read through a global so the compiler cannot see it coming.
volatile uintptr_t g_badAddress = 16;

// The faulting write itself is kept out of ThreadSanitizer's view: several threads faulting at
// once would otherwise be reported as racing on the unmapped address.
__attribute__((noinline, no_sanitize_thread)) void writeToBadAddress()
{
    *reinterpret_cast<volatile int *>(g_badAddress) = 1;
}

class Scripted : public pkx::Plugin<Scripted> {
public:
    Scripted(const PkxModule *, int function) : m_period(function >= 10 ? function : 0) {}
    ~Scripted() { ++g_deletes; }

    int Paint(PkxSurface &surface)
    {
        ++m_paints;
        const std::string mode = this->mode();
        if (m_hold.load()) {
            std::unique_lock lock(g_gateMutex);
            ++g_held;
            // Bounded, so a broken test can never hang the plug-in forever.
            g_gateChanged.wait_for(lock, std::chrono::seconds(20), [] { return !g_gateClosed; });
            --g_held;
        }
        if (mode == "throw-paint")
            throw std::runtime_error("paint failed");
        if (mode == "segv-paint")
            writeToBadAddress();
        if (mode == "overflow-paint")
            recurse(0);
        if (mode == "fpe-paint")
            std::printf("%d", divide(7, g_zero));
        const unsigned colour = m_cycle.load() ? m_colour += 0x0F070B : m_colour.load();
        for (int y = 0; y < surface.height; ++y) {
            uint8_t *line = surface.bits + y * surface.stride;
            for (int x = 0; x < surface.width; ++x) {
                line[3 * x] = colour & 0xFF;
                line[3 * x + 1] = (colour >> 8) & 0xFF;
                line[3 * x + 2] = (colour >> 16) & 0xFF;
            }
        }
        m_returned = std::chrono::steady_clock::now().time_since_epoch().count();
        return m_result.load();
    }

    void OnKeyDown()
    {
        ++m_keydowns;
        if (const long long pressed = m_pressed.load(); pressed >= 0)
            m_colour = static_cast<unsigned>(pressed);
        if (mode() == "throw-keydown")
            throw 42;
    }

    intptr_t GetInfo(int code)
    {
        switch (code) {
        case PKX_INFO_NAME: return reinterpret_cast<intptr_t>("Scripted");
        case PKX_INFO_PAINT_PERIOD: return m_period.load();
        case PKX_INFO_HAS_PROPERTIES: return 1;
        default: return 0;
        }
    }

    int GetProperty(int index, char *name, char *value)
    {
        static const char *const names[] = {"paints", "keydowns", "activations", "deactivations", "held",
                                            "deletes", "returned"};
        const long long values[] = {m_paints.load(), m_keydowns.load(), m_activations.load(), m_deactivations.load(),
                                    g_held.load(), g_deletes.load(), m_returned.load()};
        const int i = index - PKX_PROPERTY_INSTANCE_BASE;
        if (i < 0 || i >= 7)
            return 0;
        pkx::copyProperty(name, names[i]);
        pkx::copyProperty(value, std::to_string(values[i]).c_str());
        return 1;
    }

    int SetProperty(const char *name, const char *value)
    {
        const std::string key = name, text = value;
        if (key == "mode") {
            std::lock_guard lock(m_modeMutex);
            m_mode = text;
        } else if (key == "result") {
            m_result = std::stoi(text);
        } else if (key == "colour") {
            m_colour = static_cast<unsigned>(std::stoul(text, nullptr, 0));
        } else if (key == "period") {
            m_period = std::stoi(text);
        } else if (key == "pressed") {
            m_pressed = static_cast<long long>(std::stoul(text, nullptr, 0));
        } else if (key == "cycle") {
            m_cycle = text == "1";
        } else if (key == "hold") {
            m_hold = text == "1";
        } else if (key == "gate") {
            {
                std::lock_guard lock(g_gateMutex);
                g_gateClosed = text == "closed";
            }
            g_gateChanged.notify_all();
        }
        return 1;
    }

    int OnEvent(int code)
    {
        if (code == PKX_EVENT_ACTIVATE)
            ++m_activations;
        if (code == PKX_EVENT_DEACTIVATE)
            ++m_deactivations;
        return 1;
    }

private:
    std::string mode()
    {
        std::lock_guard lock(m_modeMutex);
        return m_mode;
    }

    std::mutex m_modeMutex;
    std::string m_mode = "normal";
    std::atomic<int> m_result{1};
    std::atomic<unsigned> m_colour{0x204060};
    std::atomic<int> m_period;
    std::atomic<bool> m_hold{false};
    std::atomic<bool> m_cycle{false};
    std::atomic<long long> m_pressed{-1};
    std::atomic<long long> m_returned{0};
    std::atomic<int> m_paints{0}, m_keydowns{0}, m_activations{0}, m_deactivations{0};
};

} // namespace

PKX_DEFINE_EXPORTS(Scripted)
