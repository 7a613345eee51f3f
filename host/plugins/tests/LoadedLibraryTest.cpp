#include "LoadedLibrary.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace pixkey {
namespace {

using test::pluginPath;

// Whether a library with this path is currently mapped (RTLD_NOLOAD never loads it).
bool isMapped(const std::string &path)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

TEST(LoadedLibrary, BindsCreateAndDeleteAndUnloadsWithTheLastReference)
{
    const std::string path = pluginPath("pixkey_test_three.pkx");
    std::string error;
    auto library = LoadedLibrary::load(path, &error);
    ASSERT_TRUE(library) << error;
    EXPECT_EQ(library->path(), path);
    EXPECT_STREQ(library->module()->path, path.c_str());
    EXPECT_NE(library->module()->handle, nullptr);

    PkxPlugin *object = library->createFunction()(library->module(), 2);
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(object->ops->GetInfo(object, PKX_INFO_NAME)), "Second");
    library->deleteFunction()(object);

    auto second = library;
    library.reset();
    EXPECT_TRUE(isMapped(path));
    second.reset();
    EXPECT_FALSE(isMapped(path));
}

TEST(LoadedLibrary, RelativePathsBecomeAbsolute)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(PIXKEY_TEST_PLUGIN_DIR);
    auto library = LoadedLibrary::load("pixkey_test_three.pkx");
    std::filesystem::current_path(previous);
    ASSERT_TRUE(library);
    EXPECT_EQ(library->path(), pluginPath("pixkey_test_three.pkx"));
}

TEST(LoadedLibrary, RefusesWhatIsNotAPluginWithTheFileAndTheReason)
{
    const std::string noDelete = pluginPath("pixkey_test_nodelete.pkx");
    std::string error;
    EXPECT_FALSE(LoadedLibrary::load(noDelete, &error));
    EXPECT_EQ(error, "cannot load plug-in " + noDelete + ": it does not export Delete");
    EXPECT_FALSE(isMapped(noDelete)) << "a refused library must be unloaded";

    const auto text = std::filesystem::temp_directory_path() / "pixkey-not-a-plugin.pkx";
    std::ofstream(text) << "this is not a shared object\n";
    EXPECT_FALSE(LoadedLibrary::load(text.string(), &error));
    EXPECT_EQ(error.rfind("cannot load plug-in " + text.string() + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), ("cannot load plug-in " + text.string() + ": ").size()) << "no reason given";
    std::filesystem::remove(text);

    EXPECT_FALSE(LoadedLibrary::load("/nonexistent/Missing.pkx", &error));
    EXPECT_NE(error.find("/nonexistent/Missing.pkx"), std::string::npos);
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    EXPECT_FALSE(LoadedLibrary::load(PIXKEY_TEST_PLUGIN_DIR, &error));
    EXPECT_NE(error.find("directory"), std::string::npos) << error;

    EXPECT_FALSE(LoadedLibrary::load("", &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace pixkey
