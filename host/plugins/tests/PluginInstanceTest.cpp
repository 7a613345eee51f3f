#include "InstanceHarness.h"

#include "FaceHandOff.h"

#include <thread>

namespace pixkey {
namespace {

using test::pixelAt;
using test::pumpUntil;
using test::waitUntil;
using namespace std::chrono_literals;

using PluginInstanceTest = test::InstanceHarness;

TEST_F(PluginInstanceTest, PaintPeriodComesFromTheInstanceAndDefaultsTo300)
{
    EXPECT_EQ(make(1)->paintPeriod(), 300ms) << "GetInfo(11) answered 0";
    EXPECT_EQ(make(200)->paintPeriod(), 200ms);

    // A short period really repaints, and the thread ends with OnEvent(2) on deactivation.
    auto instance = make(20);
    instance->SetProperty("result", "0");
    instance->Activate();
    EXPECT_TRUE(instance->IsActive());
    ASSERT_TRUE(pumpUntil(queue, [&] { return paints(*instance) >= 4; }));
    instance->Deactivate();
    EXPECT_FALSE(instance->IsActive());
    ASSERT_TRUE(pumpUntil(queue, [&] { return property(*instance, 3) == 1; })) << "OnEvent(2)";
    EXPECT_EQ(property(*instance, 2), 1) << "OnEvent(1) once";
    EXPECT_TRUE(pumpUntil(queue, [&] { return instance->face().isNull(); })) << "no face while stopped";
    EXPECT_EQ(faceCount(instance.get()), 1u) << "only the first pass sends a face when Paint returns 0";
}

TEST_F(PluginInstanceTest, ChangedFacesReachTheMainThread)
{
    auto instance = make(20);
    instance->SetProperty("colour", "0x112233");
    instance->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(instance.get()) >= 1; }));
    EXPECT_EQ(pixelAt(facesOf(instance.get())[0], 10, 10), 0x112233u);

    instance->SetProperty("colour", "0x445566");
    ASSERT_TRUE(pumpUntil(queue, [&] {
        auto all = facesOf(instance.get());
        return pixelAt(all.back(), 95, 95) == 0x445566u;
    }));
    EXPECT_EQ(pixelAt(instance->face(), 0, 0), 0x445566u);
    instance->Deactivate();
}

TEST_F(PluginInstanceTest, PressesDuringOneLongPaintGiveOneKeyDown)
{
    auto instance = make(20);
    instance->SetProperty("result", "0");
    instance->SetProperty("hold", "1");
    instance->SetProperty("gate", "closed");
    instance->Activate();
    ASSERT_TRUE(waitUntil([&] { return property(*instance, 4) == 1; })) << "inside Paint";
    instance->KeyPressed();
    instance->KeyPressed();
    instance->KeyPressed();
    instance->SetProperty("gate", "open");
    ASSERT_TRUE(pumpUntil(queue, [&] { return paints(*instance) >= 5; }));
    EXPECT_EQ(keydowns(*instance), 1);

    // An idle instance answers a press at once with OnKeyDown and a paint.
    instance->KeyPressed();
    ASSERT_TRUE(pumpUntil(queue, [&] { return keydowns(*instance) == 2; }));
    instance->Deactivate();
}

TEST_F(PluginInstanceTest, FailureFaceDimsTheShownFaceOnceAndAgainAfterReactivation)
{
    auto instance = make(20);
    instance->SetProperty("colour", "0xC86432");
    instance->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(instance.get()) >= 2; }));
    instance->SetProperty("mode", "throw-paint");
    ASSERT_TRUE(pumpUntil(queue, [&] { return !instance->isAlive(); }));
    ASSERT_TRUE(pumpUntil(queue, [&] { return pixelAt(facesOf(instance.get()).back(), 0, 0) == 0x502814u; }));
    const QImage failure = facesOf(instance.get()).back();
    EXPECT_NE(pixelAt(failure, 71, 71), 0x502814u) << "error icon";
    EXPECT_EQ(errors(), std::vector<std::string>{"Plugin operation failed: Paint"});

    // Nothing more is sent while it stays active: a healthy instance serves as the clock.
    const std::size_t sent = faceCount(instance.get());
    auto healthy = make(20);
    healthy->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return paints(*healthy) >= 6; }));
    EXPECT_EQ(faceCount(instance.get()), sent);

    instance->Deactivate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return instance->face().isNull(); }));
    instance->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(instance.get()) > sent; }));
    const QImage again = facesOf(instance.get()).back();
    EXPECT_EQ(pixelAt(again, 0, 0), 0u) << "fresh black pictures, dimmed";
    EXPECT_EQ(pixelAt(again, 71, 71), pixelAt(failure, 71, 71));
    healthy->Deactivate();
    instance->Deactivate();
}

TEST_F(PluginInstanceTest, ACrashingInstanceLeavesTheOthersPainting)
{
    auto crashing = make(20);
    auto healthy = make(20);
    crashing->SetProperty("mode", "segv-paint");
    healthy->Activate();
    crashing->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return !crashing->isAlive(); }));
    const std::size_t before = faceCount(healthy.get());
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(healthy.get()) >= before + 5; }));
    EXPECT_TRUE(healthy->isAlive());
    EXPECT_EQ(faceCount(crashing.get()), 1u) << "only the failure face";
    crashing->Deactivate();
    healthy->Deactivate();
}

TEST_F(PluginInstanceTest, QuickDeactivateAndActivateKeepTheRunningThread)
{
    auto instance = make(20);
    instance->SetProperty("result", "0");
    instance->SetProperty("hold", "1");
    instance->SetProperty("gate", "closed");
    instance->Activate();
    ASSERT_TRUE(waitUntil([&] { return property(*instance, 4) == 1; }));
    instance->Deactivate();
    instance->Activate();
    instance->SetProperty("gate", "open");
    ASSERT_TRUE(pumpUntil(queue, [&] { return paints(*instance) >= 4; }));
    EXPECT_EQ(property(*instance, 2), 1) << "no second OnEvent(1)";
    EXPECT_EQ(property(*instance, 3), 0) << "no OnEvent(2)";
    EXPECT_TRUE(instance->IsActive());

    // Deactivated again, then activated while the thread winds down: one thread, sessions in order.
    instance->Deactivate();
    instance->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return paints(*instance) >= 8; }));
    EXPECT_EQ(property(*instance, 2) - property(*instance, 3), 1) << "sessions never overlap";
    instance->Deactivate();
}

TEST_F(PluginInstanceTest, DestructionDuringAHangingPaintDeletesOnlyAfterTheCallReturns)
{
    auto library = test::loadPlugin("pixkey_test_scripted.pkx");
    std::weak_ptr<LoadedLibrary> weak = library;
    PluginCallGuard probe; // another object of the library: opens the gate, reads the counters
    ASSERT_TRUE(probe.Create(library, 1));
    auto probeValue = [&](int i) {
        std::string name, value;
        return probe.GetProperty(PKX_PROPERTY_INSTANCE_BASE + i, name, value) ? std::stoi(value) : -1;
    };

    PluginInstance::Options options;
    options.destroyWait = 20ms;
    auto instance = std::make_unique<PluginInstance>(library, 1, queue, options);
    library.reset();
    instance->SetProperty("hold", "1");
    instance->SetProperty("gate", "closed");
    instance->Activate();
    ASSERT_TRUE(waitUntil([&] { return probeValue(4) == 1; }));

    instance.reset(); // gives up after 20 ms with the thread inside Paint
    EXPECT_EQ(probeValue(5), 0) << "nothing deleted under a running call";
    EXPECT_EQ(weak.use_count(), 2) << "the paint thread keeps the library loaded";

    probe.SetProperty("gate", "open");
    ASSERT_TRUE(waitUntil([&] { return probeValue(5) == 1; })) << "deleted once the call returned";
    ASSERT_TRUE(waitUntil([&] { return weak.use_count() == 1; }));
    queue.pump();
    EXPECT_TRUE(faces.empty()) << "no face is delivered for the destroyed instance";
    probe.Delete();
    probe.releaseLibrary();
    EXPECT_TRUE(weak.expired());
}

TEST_F(PluginInstanceTest, DestructionReleasesAPaintThreadWaitingForTheMainThread)
{
    PluginInstance::Options options;
    options.destroyWait = 10s; // must not be needed: the stop abandons the hand-off at once
    auto instance = make(1, options);
    instance->Activate();
    // The first face is posted and the paint thread waits for a main thread that never pumps.
    ASSERT_TRUE(waitUntil([&] { return paints(*instance) == 1; }));
    const auto start = std::chrono::steady_clock::now();
    destroy(instance);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    queue.pump(); // the abandoned hand-off is dropped, the handler never sees the instance
    EXPECT_TRUE(faces.empty());
}

TEST(FaceHandOff, AbandonReleasesTheSenderAndCancelsDelivery)
{
    auto handOff = std::make_shared<FaceHandOff>(nullptr);
    std::thread sender([&] { handOff->wait(); });
    handOff->abandon();
    sender.join();
    bool ran = false;
    EXPECT_FALSE(handOff->deliver([&](PluginInstance &) { ran = true; }));
    EXPECT_FALSE(ran);

    MainThreadQueue queue;
    int delivered = 0;
    queue.setFaceHandler([&](PluginInstance &) { ++delivered; });
    // Any non-null address will do: this handler never touches the instance.
    auto kept = std::make_shared<FaceHandOff>(reinterpret_cast<PluginInstance *>(&queue));
    std::thread waiter([&] { kept->wait(); });
    queue.post(kept);
    EXPECT_EQ(queue.pumpFor(5s), 1u);
    waiter.join();
    EXPECT_EQ(delivered, 1);
    kept->abandon(); // too late: nothing changes
    EXPECT_TRUE(kept->isFinished());
}

} // namespace
} // namespace pixkey
