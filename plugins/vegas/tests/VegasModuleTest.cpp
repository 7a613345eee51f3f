// Vegas.pkx as the host sees it: loaded with dlopen, reached only through Create, Delete and the
// operation table, with its pictures compiled in and the system clock.
#include "ReelFaces.h"
#include "pixkey_plugin.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

namespace vegas {
namespace {

using test::cellIndex;
using test::Face;

std::vector<Face> artCells(const char *file)
{
    return test::cellsOf((std::string(VEGAS_ART_DIR "/") + file).c_str());
}

class VegasModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_handle = dlopen(VEGAS_PKX_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        m_create = reinterpret_cast<PkxCreateFn>(dlsym(m_handle, "Create"));
        m_delete = reinterpret_cast<PkxDeleteFn>(dlsym(m_handle, "Delete"));
        ASSERT_NE(m_create, nullptr);
        ASSERT_NE(m_delete, nullptr);
        m_module = PkxModule{VEGAS_PKX_PATH, m_handle};
    }
    void TearDown() override
    {
        for (PkxPlugin *object : m_objects)
            m_delete(object);
        if (m_handle)
            dlclose(m_handle);
    }

    PkxPlugin *create(int function)
    {
        PkxPlugin *object = m_create(&m_module, function);
        if (object)
            m_objects.push_back(object);
        return object;
    }

    int paint(PkxPlugin *reel)
    {
        m_face.fill(0x55);
        PkxSurface surface = m_face.surface();
        return reel->ops->Paint(reel, &surface);
    }

    void *m_handle = nullptr;
    PkxCreateFn m_create = nullptr;
    PkxDeleteFn m_delete = nullptr;
    PkxModule m_module{};
    std::vector<PkxPlugin *> m_objects;
    Face m_face;
};

TEST_F(VegasModuleTest, KeepsItsInsidesPrivate)
{
    EXPECT_EQ(dlsym(m_handle, "_ZN5vegas13spinRequestedE"), nullptr);
    m_delete(nullptr);
}

TEST_F(VegasModuleTest, DescribesItselfThroughTheTable)
{
    PkxPlugin *info = create(0);
    ASSERT_NE(info, nullptr);
    auto text = [&](int code) {
        return std::string(reinterpret_cast<const char *>(info->ops->GetInfo(info, code)));
    };
    EXPECT_EQ(text(PKX_INFO_IDENTIFIER), "bsp.vegas.mfc5");
    EXPECT_EQ(text(PKX_INFO_NAME), "Vegas");
    EXPECT_EQ(text(PKX_INFO_DESCRIPTION), "Personal Vegas");
    EXPECT_EQ(info->ops->GetInfo(info, PKX_INFO_FUNCTION_COUNT), 1);
    for (int code : {6, 7, 11})
        EXPECT_EQ(info->ops->GetInfo(info, code), 0) << "code " << code;
    for (int code : {PKX_INFO_LARGE_ICON, PKX_INFO_PREVIEW}) {
        auto *icon = reinterpret_cast<PkxImage *>(info->ops->GetInfo(info, code));
        ASSERT_NE(icon, nullptr) << "code " << code;
        EXPECT_EQ(icon->width, 32);
        EXPECT_EQ(icon->height, 32);
        pkx_image_free(icon);
    }
}

TEST_F(VegasModuleTest, PaintsItsOwnPicturesOnlyWhileActive)
{
    const std::vector<Face> spins = artCells("8006.png");
    ASSERT_EQ(spins.size(), 2u);
    Face untouched;
    untouched.fill(0x55);

    PkxSurface nothing{nullptr, 96, 96, 288};
    PkxPlugin *idle = create(7);
    ASSERT_NE(idle, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(paint(idle), 0);
        EXPECT_EQ(m_face, untouched) << "no pictures before activation";
        EXPECT_EQ(idle->ops->Paint(idle, &nothing), 0);
    }

    PkxPlugin *reel = create(1);
    ASSERT_NE(reel, nullptr);
    EXPECT_EQ(reel->ops->OnEvent(reel, PKX_EVENT_ACTIVATE), 1);
    EXPECT_EQ(paint(reel), 0);
    EXPECT_GE(cellIndex(spins, m_face), 0) << "the compiled-in spinning pictures";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(paint(reel), 0) << "warm-up and rest are quiet";
    EXPECT_EQ(reel->ops->OnEvent(reel, PKX_EVENT_DEACTIVATE), 1);
    EXPECT_EQ(reel->ops->OnEvent(reel, 42), 1);
}

// Keep last: it leaves the plug-in's spin request set for the rest of the process.
TEST_F(VegasModuleTest, PressOnOneReelStartsAnotherAtRest)
{
    PkxPlugin *pressed = create(1);
    PkxPlugin *other = create(1);
    ASSERT_TRUE(pressed && other);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(paint(other), 0);
    pressed->ops->OnKeyDown(pressed);
    EXPECT_EQ(paint(pressed), 1);
    EXPECT_EQ(paint(other), 1);
}

} // namespace
} // namespace vegas
