// The keypad fixture with the host's real device link on it, and the test plug-in as the host
// loads it (dlopen, Create, the operation table) in its two flavours.
#include <pixkey/test/EmulatedKeypad.h>

#include "DeviceLink.h"
#include "pixkey_plugin.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using pixkey::test::EmulatedKeypad;

namespace {

TEST(EmulatedKeypad, DeviceLinkFindsItThroughThePortVariableAndItsPicturesArrive)
{
    ::unsetenv("PIXKEY_PORT");
    std::string folder;
    {
        EmulatedKeypad keypad;
        folder = keypad.folder();
        ASSERT_TRUE(keypad.start());
        ASSERT_TRUE(std::filesystem::exists(keypad.linkPath()));
        std::unique_ptr<pixkey::DeviceLink> link;
        {
            const auto port = keypad.portVariable();
            EXPECT_EQ(std::getenv("PIXKEY_PORT"), keypad.linkPath());
            link = std::make_unique<pixkey::DeviceLink>();
        }
        EXPECT_EQ(std::getenv("PIXKEY_PORT"), nullptr) << "the variable goes with its guard";
        link->Connect();
        ASSERT_TRUE(keypad->waitUntil([&] { return link->IsConnected(); }, 10s)) << link->lastOpenError();

        std::vector<uint8_t> picture(pixkey::kPictureBytes);
        for (std::size_t i = 0; i < picture.size(); i += 3)
            picture[i + 1] = 255; // B, G, R: green
        ASSERT_EQ(link->SubmitFrame(2, picture.data(), true), 0);
        // Colours pass the keypad's pixel tables on the way: green stays green, not 255 exactly.
        EXPECT_TRUE(keypad.waitForShown(2, [](EmulatedKeypad::Rgb c) { return c.g > 100 && c.r < 30 && c.b < 30; }))
            << keypad.shown(2).r << "," << keypad.shown(2).g << "," << keypad.shown(2).b;
        EXPECT_EQ(keypad.shown(1), (EmulatedKeypad::Rgb{0, 0, 0}));
        EXPECT_EQ(keypad.shown(4), (EmulatedKeypad::Rgb{0, 0, 0})) << "no such key";
        link.reset();
    }
    EXPECT_FALSE(std::filesystem::exists(folder)) << "its folder goes with it";
}

struct LoadedPlugin {
    explicit LoadedPlugin(const std::string &path) : module{path.c_str(), ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)}
    {
        if (module.handle) {
            create = reinterpret_cast<PkxCreateFn>(::dlsym(module.handle, "Create"));
            destroy = reinterpret_cast<PkxDeleteFn>(::dlsym(module.handle, "Delete"));
        }
    }
    ~LoadedPlugin()
    {
        for (PkxPlugin *object : objects)
            destroy(object);
        if (module.handle)
            ::dlclose(module.handle);
    }
    PkxPlugin *make(int function)
    {
        objects.push_back(create(&module, function));
        return objects.back();
    }
    static std::string text(PkxPlugin *p, int code)
    {
        const auto value = p->ops->GetInfo(p, code);
        return value ? reinterpret_cast<const char *>(value) : "(none)";
    }
    static std::string property(PkxPlugin *p, int index)
    {
        char name[256] = {}, value[256] = {};
        return p->ops->GetProperty(p, index, name, value) ? std::string(name) + "=" + value : "(none)";
    }
    static std::vector<uint8_t> paint(PkxPlugin *p, int *result)
    {
        std::vector<uint8_t> bytes(PKX_FACE_SIZE * PKX_FACE_STRIDE);
        PkxSurface surface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
        *result = p->ops->Paint(p, &surface);
        return bytes;
    }

    PkxModule module;
    PkxCreateFn create = nullptr;
    PkxDeleteFn destroy = nullptr;
    std::vector<PkxPlugin *> objects;
};

TEST(TestPlugin, PlainFlavourHasLibraryPropertiesAndPaintsOnce)
{
    LoadedPlugin plugin(TESTING_PLAIN_PLUGIN);
    ASSERT_TRUE(plugin.create && plugin.destroy) << ::dlerror();
    PkxPlugin *library = plugin.make(0);
    PkxPlugin *second = plugin.make(2);
    EXPECT_EQ(LoadedPlugin::text(library, PKX_INFO_IDENTIFIER), "test.support.plain");
    EXPECT_EQ(LoadedPlugin::text(second, PKX_INFO_NAME), "Plain function 2");
    EXPECT_EQ(library->ops->GetInfo(library, PKX_INFO_FUNCTION_COUNT), 3);
    EXPECT_EQ(library->ops->GetInfo(library, PKX_INFO_DEFAULT_FUNCTION), 2);
    EXPECT_EQ(library->ops->GetInfo(library, PKX_INFO_HAS_LIBRARY_PROPERTIES), 1);
    EXPECT_EQ(second->ops->GetInfo(second, PKX_INFO_HAS_LIBRARY_PROPERTIES), 0);
    EXPECT_EQ(LoadedPlugin::text(library, PKX_INFO_APPLICATIONS), "a.bin;B App.exe");
    EXPECT_EQ(LoadedPlugin::text(library, PKX_INFO_DESCRIPTION), "(none)");
    EXPECT_EQ(LoadedPlugin::property(library, PKX_PROPERTY_LIBRARY_BASE), "Server=default");
    EXPECT_EQ(LoadedPlugin::property(second, PKX_PROPERTY_LIBRARY_BASE), "(none)");
    EXPECT_EQ(LoadedPlugin::property(second, PKX_PROPERTY_INSTANCE_BASE), "Colour=red");
    EXPECT_EQ(LoadedPlugin::property(second, PKX_PROPERTY_INSTANCE_BASE + 1), "(none)");
    EXPECT_EQ(second->ops->ShowProperties(second, nullptr), 0);

    int drew = 0;
    std::vector<uint8_t> face = LoadedPlugin::paint(second, &drew);
    EXPECT_EQ(drew, 1);
    EXPECT_EQ(face[0], 80);      // blue: function x 40
    EXPECT_EQ(face[1], 30);      // green: "red" x 10
    EXPECT_EQ(face[2], 200);
    LoadedPlugin::paint(second, &drew);
    EXPECT_EQ(drew, 0) << "painted once";
    second->ops->SetProperty(second, "Colour", "indigo");
    face = LoadedPlugin::paint(second, &drew);
    EXPECT_EQ(drew, 1) << "a property change repaints";
    EXPECT_EQ(face[1], 60);
    second->ops->OnEvent(second, PKX_EVENT_ACTIVATE);
    LoadedPlugin::paint(second, &drew);
    EXPECT_EQ(drew, 1) << "activation repaints";
}

TEST(TestPlugin, DialogFlavourObeysItsMode)
{
    LoadedPlugin plugin(TESTING_DIALOG_PLUGIN);
    ASSERT_TRUE(plugin.create) << ::dlerror();
    PkxPlugin *one = plugin.make(1);
    EXPECT_EQ(LoadedPlugin::text(one, PKX_INFO_NAME), "Dialog 1");
    EXPECT_EQ(LoadedPlugin::text(one, PKX_INFO_DESCRIPTION), "Describes Dialog 1");
    EXPECT_EQ(LoadedPlugin::text(one, PKX_INFO_APPLICATION_TITLE), "Dialog App");
    EXPECT_EQ(LoadedPlugin::property(one, PKX_PROPERTY_INSTANCE_BASE + 1), "Mode=accept");
    EXPECT_EQ(one->ops->ShowProperties(one, nullptr), 1);
    EXPECT_EQ(LoadedPlugin::property(one, PKX_PROPERTY_INSTANCE_BASE), "Colour=changed");
    one->ops->SetProperty(one, "Mode", "cancel");
    EXPECT_EQ(one->ops->ShowProperties(one, nullptr), 0);
}

} // namespace
