// Sysmeter.pkx as the host loads it: dlopen, the two exports, the operation table, on the real
// /proc; both keys painting at once on threads of their own, as the host runs them.
#include "FaceSupport.h"

#include <pixkey_plugin.h>

#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using sysmeter_test::Face;

// Qt's raster engine hands work between its own threads through synchronisation ThreadSanitizer
// cannot see in the uninstrumented Qt libraries; races in the plug-in's own code are still reported.
extern "C" const char *__tsan_default_suppressions()
{
    return "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Core.so\n";
}

namespace {

class SysmeterLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sysmeter_test::ensureApplication(); }

    void SetUp() override
    {
        m_handle = dlopen(SYSMETER_PKX, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        m_create = reinterpret_cast<PkxCreateFn>(dlsym(m_handle, "Create"));
        m_delete = reinterpret_cast<PkxDeleteFn>(dlsym(m_handle, "Delete"));
        ASSERT_TRUE(m_create && m_delete);
    }
    void TearDown() override
    {
        if (m_handle)
            dlclose(m_handle);
    }

    // Whether any pixel of rows top..bottom has the big figures' green.
    static bool hasFigure(const Face &face, int top, int bottom)
    {
        for (int y = top; y <= bottom; ++y)
            for (int x = 0; x < PKX_FACE_SIZE; ++x)
                if (face.rgb(x, y) == 0x67A335)
                    return true;
        return false;
    }

    void *m_handle = nullptr;
    PkxCreateFn m_create = nullptr;
    PkxDeleteFn m_delete = nullptr;
    PkxModule m_module{SYSMETER_PKX, nullptr};
};

TEST_F(SysmeterLibraryTest, DescribingObjectAndKeys)
{
    for (int function : {0, 1, 2}) {
        PkxPlugin *object = m_create(&m_module, function);
        ASSERT_NE(object, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char *>(object->ops->GetInfo(object, PKX_INFO_IDENTIFIER)), "bsp.sysmon.mfc5");
        EXPECT_EQ(object->ops->GetInfo(object, PKX_INFO_FUNCTION_COUNT), 2);
        m_delete(object);
    }
}

TEST_F(SysmeterLibraryTest, BothKeysPaintTheRealSystemAtOnce)
{
    PkxPlugin *memory = m_create(&m_module, 1);
    PkxPlugin *processor = m_create(&m_module, 2);
    ASSERT_TRUE(memory && processor);
    Face memoryFace, processorFace;
    auto run = [](PkxPlugin *key, Face *face) {
        key->ops->OnEvent(key, PKX_EVENT_ACTIVATE);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(key->ops->Paint(key, face->surface()), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    std::thread a(run, memory, &memoryFace);
    std::thread b(run, processor, &processorFace);
    a.join();
    b.join();

    EXPECT_TRUE(hasFigure(memoryFace, 32, 53)) << "the available memory";
    EXPECT_TRUE(hasFigure(processorFace, 32, 53)) << "the processor load";
    // The memory key's rows: the largest processes of this system are listed.
    int dark = 0;
    for (int y = 17; y < 29; ++y)
        for (int x = 0; x < 40; ++x)
            dark += (memoryFace.rgb(x, y) & 0xFFFFFF) <= 0x606060;
    EXPECT_GT(dark, 10) << "the first row's name";
    if (const char *keep = std::getenv("SYSMETER_TEST_FACES")) {
        QImage(memoryFace.bytes.data(), 96, 96, PKX_FACE_STRIDE, QImage::Format_BGR888).save(QString::fromUtf8(keep) + QStringLiteral("/memory.png"));
        QImage(processorFace.bytes.data(), 96, 96, PKX_FACE_STRIDE, QImage::Format_BGR888).save(QString::fromUtf8(keep) + QStringLiteral("/processor.png"));
    }
    // The processor key's newest load has at least its first segment.
    EXPECT_EQ(processorFace.rgb(94, 95) == 0x00BE00 || processorFace.rgb(94, 95) == 0xC2131F, true);

    for (PkxPlugin *key : {memory, processor}) {
        key->ops->OnEvent(key, PKX_EVENT_DEACTIVATE);
        m_delete(key);
    }
}

} // namespace
