#pragma once
// A DeviceLink wired to a FakeDevice, with short time-outs and a clock that only moves by hand
// (so no keep-alive interferes unless a test moves it).

#include "DeviceLink.h"
#include "FakeDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <memory>

namespace pixkey::test {

inline LinkTimings fastTimings()
{
    LinkTimings t;
    t.ackTimeout = 150ms;
    t.recoveryWait = 1ms;
    t.idleWait = 5ms;
    t.syncEarlyWait = 0ms; // the scripted device answers before the read starts
    t.syncAnswerWait = 1ms;
    return t;
}

inline std::vector<uint8_t> solidPicture(uint8_t b, uint8_t g, uint8_t r)
{
    std::vector<uint8_t> p(kPictureBytes);
    for (int i = 0; i < kPictureBytes; i += 3) {
        p[i] = b;
        p[i + 1] = g;
        p[i + 2] = r;
    }
    return p;
}

class LinkTest : public ::testing::Test {
protected:
    void makeLink(bool registered = true, std::vector<std::string> paths = {"/dev/fake0"})
    {
        DeviceLinkOptions o;
        o.timings = timings;
        o.clock = clock;
        o.port = std::make_unique<FakeSerialPort>(device);
        auto loc = std::make_unique<FakeLocator>(registered, std::move(paths));
        locator = loc.get();
        o.locator = std::move(loc);
        o.observer = &observer;
        o.portPath = portPath;
        link = std::make_unique<DeviceLink>(&listener, std::move(o));
    }
    void connect()
    {
        if (!link)
            makeLink();
        link->Connect();
        ASSERT_TRUE(eventually([&] { return link->IsConnected(); }));
    }
    // Answers the next packets with these bytes, one entry per packet, then acknowledges again.
    void scriptAnswers(std::deque<std::vector<uint8_t>> answers)
    {
        auto queue = std::make_shared<std::deque<std::vector<uint8_t>>>(std::move(answers));
        device->setPacketHook([queue](const LinkPacket &p, bool ok) -> std::vector<uint8_t> {
            if (!queue->empty()) {
                auto a = queue->front();
                queue->pop_front();
                return a;
            }
            const uint8_t c = p[196];
            if (!ok)
                return {0x00, static_cast<uint8_t>(c ^ 0xff)};
            return c <= 1 ? std::vector<uint8_t>{0x00, c} : std::vector<uint8_t>{c};
        });
    }
    // Every WriteLine sent so far, as (key, line).
    std::vector<std::pair<int, int>> lines() const
    {
        std::vector<std::pair<int, int>> out;
        for (const LinkPacket &p : device->packets(LinkCommand::WriteLine))
            out.emplace_back(p[1], (p[2] << 8 | p[3]) / 192);
        return out;
    }
    void TearDown() override
    {
        device->release();
        link.reset();
    }

    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    LinkTimings timings = fastTimings();
    std::string portPath; // DeviceLinkOptions::portPath of the next makeLink
    RecordingListener listener;
    RecordingObserver observer;
    FakeLocator *locator = nullptr;
    std::unique_ptr<DeviceLink> link;
};

} // namespace pixkey::test
