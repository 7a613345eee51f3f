#include "FaceRouter.h"
#include "InstanceHarness.h"
#include "KeyRow.h"

#include "DeviceLink.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace pixkey {
namespace {

using test::pumpUntil;
using namespace std::chrono_literals;

struct Row : KeyRow {
    PluginInstance *slots[3] = {};
    PluginInstance *instanceAt(int slot) const override { return slots[slot]; }
};

struct Rgb {
    int r, g, b;
};

// Faces travel through the real device link to the emulated keypad.
class FaceRouterTest : public test::InstanceHarness {
protected:
    void SetUp() override
    {
        InstanceHarness::SetUp();
        ASSERT_TRUE(keypad.start());
        {
            const auto port = keypad.portVariable();
            link = std::make_unique<DeviceLink>();
        }
        link->Connect();
        ASSERT_TRUE(test::waitUntil([&] { return link->IsConnected(); })) << link->lastOpenError();
        router = std::make_unique<FaceRouter>(*link, row, 1); // turned over: slot 0 on key 3
        queue.setFaceHandler([this](PluginInstance &instance) {
            faces.push_back({&instance, instance.face()});
            sentTo.push_back(router->faceChanged(instance));
        });
    }
    void TearDown() override
    {
        router.reset();
        if (link)
            link->Disconnect();
        link.reset();
        InstanceHarness::TearDown();
    }

    Rgb shown(int key, int x, int y)
    {
        const auto rgb = emulator->shownFrameRgb(key);
        const size_t at = (size_t(y) * 96 + size_t(x)) * 3;
        return {rgb[at], rgb[at + 1], rgb[at + 2]};
    }
    bool keyShows(int key, int x, int y, const std::function<bool(Rgb)> &test)
    {
        if (pumpUntil(queue, [&] { return test(shown(key, x, y)); }))
            return true;
        const Rgb c = shown(key, x, y);
        ADD_FAILURE() << "key " << key << " shows " << c.r << "," << c.g << "," << c.b << " after "
                      << emulator->packetCount(KeypadEmulator::WriteLine) << " lines, "
                      << emulator->packetCount(KeypadEmulator::ShowFrame) << " shows, "
                      << emulator->badChecksumCount() << " bad, connected " << link->IsConnected();
        return false;
    }

    test::EmulatedKeypad keypad;
    KeypadEmulator *const emulator = &keypad.emulator();
    std::unique_ptr<DeviceLink> link;
    Row row;
    std::unique_ptr<FaceRouter> router;
    std::vector<int> sentTo;
};

auto isRed = [](Rgb c) { return c.r > 100 && c.g == 0 && c.b == 0; };
auto isBlue = [](Rgb c) { return c.b > 100 && c.r == 0 && c.g == 0; };
auto isGreen = [](Rgb c) { return c.g > 100 && c.r == 0 && c.b == 0; };
auto isBlack = [](Rgb c) { return c.r == 0 && c.g == 0 && c.b == 0; };

TEST_F(FaceRouterTest, ChangedFacesGoToTheFirstSlotHoldingTheInstance)
{
    auto left = make(20), right = make(20), elsewhere = make(20);
    left->SetProperty("colour", "0xFF0000");
    right->SetProperty("colour", "0x0000FF");
    row.slots[0] = left.get();
    row.slots[2] = right.get();
    router->SendAllFaces(); // the middle key is empty: black
    left->Activate();
    right->Activate();
    elsewhere->Activate(); // active, but on no key of this row
    EXPECT_TRUE(keyShows(3, 10, 10, isRed)) << "slot 0 is device key 3 when turned over";
    EXPECT_TRUE(keyShows(1, 10, 10, isBlue));
    EXPECT_TRUE(isBlack(shown(2, 48, 48)));

    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(elsewhere.get()) >= 2; }));
    for (size_t i = 0; i < faces.size(); ++i)
        EXPECT_EQ(sentTo[i], faces[i].first == left.get() ? 0 : faces[i].first == right.get() ? 2 : -1);

    // The same instance on two slots: only the first gets the changed face.
    row.slots[1] = left.get();
    left->SetProperty("colour", "0x00FF00");
    EXPECT_TRUE(keyShows(3, 10, 10, isGreen));
    EXPECT_TRUE(isBlack(shown(2, 48, 48)));
    router->SendAllFaces();
    EXPECT_TRUE(keyShows(2, 10, 10, isGreen));

    for (auto *instance : {left.get(), right.get(), elsewhere.get()})
        instance->Deactivate();
}

TEST_F(FaceRouterTest, ACrashingInstanceShowsItsFailureFaceWhileTheOtherKeysGoOn)
{
    auto crashing = make(20), healthy = make(20);
    row.slots[0] = healthy.get();
    row.slots[1] = crashing.get();
    crashing->SetProperty("colour", "0x00FF00");
    healthy->SetProperty("colour", "0xFF0000");
    crashing->Activate();
    healthy->Activate();
    EXPECT_TRUE(keyShows(2, 48, 10, isGreen));
    crashing->SetProperty("mode", "segv-paint");
    // Dimmed to 40 percent, with the error icon (its white mark at face (71, 71), turned over).
    EXPECT_TRUE(keyShows(2, 48, 10, [](Rgb c) { return c.g > 0 && c.g < 100 && c.r == 0; }));
    EXPECT_TRUE(keyShows(2, 24, 24, [](Rgb c) { return c.r > 150 && c.g > 150 && c.b > 150; }));
    EXPECT_EQ(errors(), std::vector<std::string>{"Plugin operation failed: Paint"});

    healthy->SetProperty("colour", "0x0000FF");
    EXPECT_TRUE(keyShows(3, 10, 10, isBlue)) << "the other instance and the link go on";
    EXPECT_TRUE(link->IsConnected());
    crashing->Deactivate();
    healthy->Deactivate();
}

} // namespace
} // namespace pixkey
