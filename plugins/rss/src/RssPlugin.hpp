// RssPlugin: one feed key (or the library's describing object): properties, the settings dialog,
// activation and the paint that hands the face of its FeedRunner to the host.
//
// Threads as the plug-in contract says: Paint, OnKeyDown and OnEvent on the paint thread;
// GetInfo, GetProperty, SetProperty and ShowProperties on the main thread, possibly while the
// paint thread runs. The settings live in a box shared with the runner's worker (which writes back
// the feed address it finds) and are guarded by the box's lock; m_runner is created and destroyed
// on the paint thread and read on the main thread, under m_runnerLock.
#pragma once

#include "FeedRunner.hpp"
#include "RssSettings.hpp"

#include <pixkey_plugin.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace pixkey::rss {

class RssPlugin : public pkx::Plugin<RssPlugin> {
public:
    // What an instance depends on; tests supply their own.
    struct Environment {
        FeedState::Limits limits{};
        std::chrono::milliseconds cycle{500};
        std::function<std::uint32_t()> now;                 // null: steady clock
        std::function<bool(const std::string &)> openLink;  // null: the desktop's handler
    };

    RssPlugin(const PkxModule *module, int function);
    explicit RssPlugin(Environment environment);
    ~RssPlugin();

    int Paint(PkxSurface &surface);
    void OnKeyDown();
    intptr_t GetInfo(int code);
    int GetProperty(int index, char *name, char *value);
    int SetProperty(const char *name, const char *value);
    int ShowProperties(void *parent);
    int OnEvent(int code);

    // A copy of the current settings (any thread).
    RssSettings settings() const;
    // Takes new settings as the dialog's OK does (any thread).
    void applySettings(const RssSettings &settings);
    // The running worker, for tests; null while inactive.
    FeedRunner *runner() const;

private:
    struct SettingsBox {
        std::mutex lock;
        RssSettings settings; // guarded by lock
    };

    Environment m_env;
    std::shared_ptr<SettingsBox> m_box = std::make_shared<SettingsBox>();
    mutable std::mutex m_runnerLock;
    std::unique_ptr<FeedRunner> m_runner; // guarded by m_runnerLock
};

// The settings a dialog result makes of `current`: a new "URL" forgets "RssURL".
RssSettings settingsAfter(const RssSettings &current, const RssSettings &chosen);

} // namespace pixkey::rss
