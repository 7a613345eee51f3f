// Calls.pkx as the host loads it (dlopen, Create, the operation table): what it tells about
// itself, the key without the phone program installed, and the phone started by a press.
#include "FaceSupport.h"

#include <pixkey_plugin.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using calls_test::Face;
using namespace std::chrono_literals;

class Module : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_handle = dlopen(CALLS_PKX, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        m_create = reinterpret_cast<PkxCreateFn>(dlsym(m_handle, "Create"));
        m_delete = reinterpret_cast<PkxDeleteFn>(dlsym(m_handle, "Delete"));
        ASSERT_TRUE(m_create && m_delete);
        char pattern[] = "/tmp/calls-module-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        m_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    }
    void TearDown() override
    {
        ::setenv("PATH", m_path.c_str(), 1);
        ::setenv("HOME", m_home.c_str(), 1);
        if (m_handle)
            dlclose(m_handle);
        std::filesystem::remove_all(m_folder);
    }

    PkxPlugin *create() { return m_create(&m_module, 1); }

    void *m_handle = nullptr;
    PkxCreateFn m_create = nullptr;
    PkxDeleteFn m_delete = nullptr;
    PkxModule m_module{CALLS_PKX, nullptr};
    std::filesystem::path m_folder;
    std::string m_path, m_home;
};

TEST_F(Module, DescribesItself)
{
    PkxPlugin *plugin = create();
    ASSERT_NE(plugin, nullptr);
    auto info = [&](int code) { return plugin->ops->GetInfo(plugin, code); };
    EXPECT_STREQ(reinterpret_cast<const char *>(info(0)), "prt.calls4com.mfc5");
    EXPECT_STREQ(reinterpret_cast<const char *>(info(1)), "Calls");
    for (int code : {3, 4, 5})
        EXPECT_GT(std::strlen(reinterpret_cast<const char *>(info(code))), 0u) << code;
    for (int code : {2, 6, 7, 10, 11, 12, 255, 511, 9999})
        EXPECT_EQ(info(code), 0) << code;
    for (auto [code, size] : {std::pair{20, 16}, {21, 32}, {22, 96}}) {
        auto *image = reinterpret_cast<PkxImage *>(info(code));
        ASSERT_NE(image, nullptr) << code;
        EXPECT_EQ(image->width, size);
        EXPECT_EQ(image->height, size);
        pkx_image_free(image);
    }
    char name[PKX_PROPERTY_TEXT_SIZE] = {}, value[PKX_PROPERTY_TEXT_SIZE] = {};
    EXPECT_EQ(plugin->ops->GetProperty(plugin, 256, name, value), 0);
    EXPECT_EQ(plugin->ops->ShowProperties(plugin, nullptr), 0);
    EXPECT_EQ(plugin->ops->OnEvent(plugin, 77), 1);
    m_delete(plugin);
    m_delete(nullptr);
}

TEST_F(Module, WithoutThePhoneProgramTheKeySaysWhatIsRequired)
{
    ::setenv("PATH", m_folder.c_str(), 1); // an empty folder: no phone program anywhere
    PkxPlugin *plugin = create();
    ASSERT_EQ(plugin->ops->OnEvent(plugin, PKX_EVENT_ACTIVATE), 1);
    Face face;
    EXPECT_EQ(plugin->ops->Paint(plugin, face.surface()), 1);
    EXPECT_TRUE(face.shows(8019, 24, 24));
    EXPECT_TRUE(face.litIn(0, 4, 60, 12)) << "\"Calls 3+ required\"";
    plugin->ops->OnKeyDown(plugin); // does nothing
    EXPECT_EQ(plugin->ops->Paint(plugin, face.surface()), 0);
    EXPECT_EQ(plugin->ops->OnEvent(plugin, PKX_EVENT_DEACTIVATE), 1);
    m_delete(plugin);
}

TEST_F(Module, APressStartsThePhoneInTheBackgroundWhenItDoesNotAnswer)
{
    // A stand-in phone program that records how it was started; the user's configuration names
    // a control port nobody listens on.
    const auto record = m_folder / "started";
    const auto program = m_folder / "baresip";
    {
        std::ofstream script(program);
        script << "#!/bin/sh\necho \"$@\" > '" << record.string() << "'\n";
    }
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(m_folder / "home/.baresip");
    std::ofstream(m_folder / "home/.baresip/config") << "ctrl_tcp_listen 127.0.0.1:1\n";
    ::setenv("PATH", m_folder.c_str(), 1);
    ::setenv("HOME", (m_folder / "home").c_str(), 1);

    PkxPlugin *plugin = create();
    plugin->ops->OnEvent(plugin, PKX_EVENT_ACTIVATE);
    Face face;
    EXPECT_EQ(plugin->ops->Paint(plugin, face.surface()), 1);
    EXPECT_TRUE(face.shows(8019, 24, 24));
    EXPECT_FALSE(face.litIn(0, 0, 96, 20)) << "installed: no \"required\" text";
    plugin->ops->OnKeyDown(plugin);
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!std::filesystem::exists(record) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(50ms);
    std::ifstream in(record);
    std::string arguments;
    std::getline(in, arguments);
    EXPECT_EQ(arguments, "-d");
    plugin->ops->OnEvent(plugin, PKX_EVENT_DEACTIVATE);
    m_delete(plugin);
}

} // namespace
