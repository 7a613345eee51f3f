#pragma once

#include "BusyAnimator.h"
#include "MainThreadQueue.h"
#include "PluginCallGuard.h"
#include "PluginInstance.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

namespace pixkey::test {

// The main thread of the instance tests: a queue it pumps and the faces that reached it.
class InstanceHarness : public ::testing::Test {
protected:
    void SetUp() override
    {
        PluginCallGuard::setErrorSink([this](const std::string &message) {
            std::lock_guard lock(m_errorMutex);
            m_errors.push_back(message);
        });
        queue.setFaceHandler([this](PluginInstance &instance) {
            EXPECT_TRUE(m_live.count(&instance)) << "a face arrived for an instance that is gone";
            faces.push_back({&instance, instance.face()});
        });
    }
    void TearDown() override { PluginCallGuard::setErrorSink({}); }

    std::unique_ptr<PluginInstance> make(int function = 1, PluginInstance::Options options = {})
    {
        auto library = loadPlugin("pixkey_test_scripted.pkx");
        auto instance = std::make_unique<PluginInstance>(library, function, queue, options);
        m_live.insert(instance.get());
        return instance;
    }
    void destroy(std::unique_ptr<PluginInstance> &instance)
    {
        m_live.erase(instance.get());
        instance.reset();
    }

    int property(PluginInstance &instance, int i)
    {
        std::string name, value;
        return instance.GetProperty(i, name, value) ? std::stoi(value) : -1;
    }
    int paints(PluginInstance &instance) { return property(instance, 0); }
    int keydowns(PluginInstance &instance) { return property(instance, 1); }

    std::vector<QImage> facesOf(PluginInstance *instance)
    {
        std::vector<QImage> result;
        for (auto &[who, face] : faces)
            if (who == instance)
                result.push_back(face);
        return result;
    }
    std::size_t faceCount(PluginInstance *instance) { return facesOf(instance).size(); }

    std::vector<std::string> errors()
    {
        std::lock_guard lock(m_errorMutex);
        return m_errors;
    }

    MainThreadQueue queue;
    std::vector<std::pair<PluginInstance *, QImage>> faces;

private:
    std::set<PluginInstance *> m_live;
    std::mutex m_errorMutex;
    std::vector<std::string> m_errors;
};

// A steady clock that only moves when the test says so.
class ManualClock {
public:
    std::chrono::steady_clock::time_point now() const
    {
        return m_base + std::chrono::milliseconds(m_offset.load());
    }
    void set(std::chrono::milliseconds offset) { m_offset = offset.count(); }
    BusyAnimator::Clock clock()
    {
        return [this] { return now(); };
    }

private:
    const std::chrono::steady_clock::time_point m_base = std::chrono::steady_clock::now();
    std::atomic<long long> m_offset{0};
};

} // namespace pixkey::test
