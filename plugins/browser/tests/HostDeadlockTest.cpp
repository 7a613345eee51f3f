// Browser keys inside the host's own instances: the host may stop a paint thread while it waits
// for the main thread, and may give up waiting and leave the instance to its paint thread.
#include "EngineSupport.h"

#include "EngineLoader.h"

#include "LoadedLibrary.h"
#include "MainThreadQueue.h"
#include "PluginInstance.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace browsertest;

namespace {

int liveRenderers()
{
    const browser::EngineApi *api = browser::EngineLoader::engine();
    return api ? api->liveRenderers() : -1;
}

struct HostKey {
    pixkey::MainThreadQueue queue;
    std::shared_ptr<pixkey::LoadedLibrary> library = pixkey::LoadedLibrary::load(BROWSER_PLUGIN_FILE);
    std::unique_ptr<pixkey::PluginInstance> instance;
    std::atomic<int> faces{0};

    explicit HostKey(std::chrono::milliseconds destroyWait)
    {
        queue.setFaceHandler([this](pixkey::PluginInstance &) { ++faces; });
        pixkey::PluginInstance::Options options;
        options.destroyWait = destroyWait;
        instance = std::make_unique<pixkey::PluginInstance>(library, 1, queue, options);
        instance->SetProperty("URL", pages().url("/blocks.html"));
        instance->SetProperty("Animation", "1");
    }
    bool showsPage()
    {
        const QImage face = instance->face();
        return !face.isNull() && near(face.pixelColor(48, 48), blockColour(0, 0));
    }
    bool run(const std::function<bool()> &done, std::chrono::milliseconds deadline = 30s)
    {
        return waitUntil(done, deadline, [this] { queue.pump(); });
    }
};

} // namespace

TEST(BrowserInHost, DestroyingWhileTheMainThreadIsBusyNeverWaitsTheWholeDeadline)
{
    SKIP_WITHOUT_ENGINE();
    const int before = liveRenderers();
    auto key = std::make_unique<HostKey>(std::chrono::milliseconds(1000));
    ASSERT_TRUE(key->library);
    key->instance->Activate();
    ASSERT_TRUE(key->run([&] { return key->showsPage(); })) << "the page never reached the key";
    ASSERT_EQ(liveRenderers(), before + 1);

    // The main thread stops serving (as when it is about to switch layouts); the animated key's
    // paint thread is then waiting for it, for a capture or for its face to be sent.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    QElapsedTimer timer;
    timer.start();
    key->instance.reset();
    EXPECT_LT(timer.elapsed(), 900) << "the paint thread held the main thread";

    // The queued work of the deleted key runs harmlessly, and its page goes.
    EXPECT_TRUE(key->run([&] { return liveRenderers() == before; }, 10s));
    key.reset();
}

TEST(BrowserInHost, InstanceLeftToItsPaintThreadIsDeletedSafely)
{
    SKIP_WITHOUT_ENGINE();
    const int before = liveRenderers();
    for (int round = 0; round < 3; ++round) {
        auto key = std::make_unique<HostKey>(std::chrono::milliseconds(0));
        key->instance->Activate();
        ASSERT_TRUE(key->run([&] { return key->showsPage(); }));
        // Give up at once, whatever the paint thread is doing: it deletes the object when its call
        // returns, and the page is handed back to this thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(100 * round));
        key->instance.reset();
        EXPECT_TRUE(key->run([&] { return liveRenderers() == before; }, 10s)) << "round " << round;
    }
}

TEST(BrowserInHost, DeactivateAndActivateAgainKeepsShowingThePage)
{
    SKIP_WITHOUT_ENGINE();
    HostKey key(std::chrono::milliseconds(1000));
    key.instance->Activate();
    ASSERT_TRUE(key.run([&] { return key.showsPage(); }));
    key.instance->Deactivate();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // deactivation while blocked
    ASSERT_TRUE(key.run([&] { return key.instance->face().isNull(); }, 10s));
    key.instance->Activate();
    EXPECT_TRUE(key.run([&] { return key.showsPage(); }));
}
