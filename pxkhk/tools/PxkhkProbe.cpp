// pxkhk-probe: prints what the desktop hook can do in this session (capability by capability:
// working, needing a step, or unavailable, with how or what to do instead), then hooks and prints
// what it reports, one line per message, until interrupted. With "-c" it stops after the report;
// with "-k MODIFIERS,KEY" it also registers that switch hotkey (stored form, e.g. "2,67" for
// Ctrl+C); with "-i" it prints the idle time every second.
#include <pixkey/pxkhk/DesktopHook.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::atomic<bool> stopping{false};

void onSignal(int)
{
    stopping = true;
}

class PrintingSink : public pixkey::HookSink {
public:
    explicit PrintingSink(pixkey::DesktopHook &hook) : m_hook(hook) {}

    void onForegroundChanged(unsigned long window, int active) override
    {
        // A callback may query the hook; this runs on the hook thread.
        const std::string name = active ? m_hook.executableNameOfWindow(window) : std::string();
        print("foreground 0x%lx %s %s\n", window, active ? "active" : "gone", name.c_str());
    }
    void onModifierRow(int row) override { print("row %d\n", row); }
    void onHotkey(int id, std::uint32_t lParam) override
    {
        print("hotkey %d key 0x%x modifiers %u\n", id, lParam >> 16, lParam & 0xFFFF);
    }
    void onPeerMessage(const pixkey::PeerMessage &m) override
    {
        print("message %u wParam %lld lParam %lld path \"%s\"\n", m.message, (long long)m.wParam,
              (long long)m.lParam, m.path.c_str());
    }
    void onShowWindow() override { print("show window\n"); }

private:
    template <typename... Args>
    void print(const char *format, Args... args)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::printf(format, args...);
        std::fflush(stdout);
    }

    pixkey::DesktopHook &m_hook;
    std::mutex m_lock;
};

} // namespace

int main(int argc, char **argv)
{
    unsigned modifiers = 0, key = 0;
    bool idle = false;
    bool reportOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-k") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%u,%u", &modifiers, &key) != 2 || key == 0 || key > 0xFF || modifiers > 15) {
                std::fprintf(stderr, "pxkhk-probe: -k wants MODIFIERS,KEY such as 2,67\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "-i") == 0) {
            idle = true;
        } else if (std::strcmp(argv[i], "-c") == 0) {
            reportOnly = true;
        } else {
            std::fprintf(stderr, "usage: pxkhk-probe [-c] [-k MODIFIERS,KEY] [-i]\n");
            return 2;
        }
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    pixkey::DesktopHook hook;
    for (const pixkey::CapabilityReport &report : hook.capabilities()) {
        std::printf("%-14s %-13s %s\n", pixkey::capabilityName(report.capability),
                    pixkey::capabilityStateName(report.state), report.how.c_str());
        if (!report.step.empty())
            std::printf("%-14s %-13s %s: %s\n", "", "",
                        report.state == pixkey::CapabilityState::NeedsStep ? "step" : "instead", report.step.c_str());
    }
    std::fflush(stdout);
    if (reportOnly)
        return 0;
    PrintingSink sink(hook);
    if (!hook.Hook(&sink))
        std::fprintf(stderr, "pxkhk-probe: not reachable by other configurators\n");
    std::printf("configurators running: %d (folder %s)\n", hook.GetConfiguratorsCount(), hook.runtimeFolder().c_str());
    if (key != 0)
        std::printf("hotkey %s\n", hook.RegisterHotkey(1, std::uint16_t(modifiers), std::uint16_t(key)) ? "registered" : "refused");
    std::fflush(stdout);
    while (!stopping) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (idle) {
            const auto ms = hook.idleTime();
            if (ms)
                std::printf("idle %u ms\n", *ms);
            else
                std::printf("idle time not available\n");
            std::fflush(stdout);
        }
    }
    hook.UnHook();
    return 0;
}
