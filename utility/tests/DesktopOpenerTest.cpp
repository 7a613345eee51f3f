#include "pixkey/utility/DesktopOpener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// A folder put in front of PATH with an `xdg-open` that records its arguments, one per line.
class RecorderOnPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pixkey-opener-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_record = m_folder / "record.txt";
        std::ofstream script(m_folder / "xdg-open");
        script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << m_record.string()
               << ".part'\nmv '" << m_record.string() << ".part' '" << m_record.string() << "'\n";
        script.close();
        fs::permissions(m_folder / "xdg-open", fs::perms::owner_all);
        const char *path = std::getenv("PATH");
        m_oldPath = path ? path : "";
        setenv("PATH", (m_folder.string() + ":" + m_oldPath).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", m_oldPath.c_str(), 1);
        fs::remove_all(m_folder);
    }
    // What the recorder was given, or "(none)" when it did not run within ten seconds.
    std::string recorded()
    {
        for (int i = 0; i < 1000 && !fs::exists(m_record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(m_record);
        if (!in)
            return "(none)";
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path m_folder;
    fs::path m_record;
    std::string m_oldPath;
};

TEST_F(RecorderOnPath, OpensTheTargetAsOneArgumentWithoutAShell)
{
    const std::string address = "https://example.org/a b?c=1&d=$(touch /tmp/x);e";
    ASSERT_TRUE(pixkey::OpenWithDesktop(address));
    EXPECT_EQ(recorded(), address + "\n");
}

TEST_F(RecorderOnPath, StartsAProgramWithItsArguments)
{
    ASSERT_TRUE(pixkey::StartDetached(m_folder / "xdg-open", {"one", "two words"}));
    EXPECT_EQ(recorded(), "one\ntwo words\n");
}

TEST_F(RecorderOnPath, RefusesTargetsThatWouldReadAsOptions)
{
    EXPECT_FALSE(pixkey::OpenWithDesktop(""));
    EXPECT_FALSE(pixkey::OpenWithDesktop("--help"));
}

TEST(DesktopOpener, MissingProgramIsAFailure)
{
    EXPECT_FALSE(pixkey::StartDetached("pixkey-no-such-program-here"));
    EXPECT_FALSE(pixkey::StartDetached("/nonexistent/folder/program"));
    EXPECT_EQ(pixkey::FindProgram("pixkey-no-such-program-here"), "");
    EXPECT_FALSE(pixkey::FindProgram("sh").empty());
}

TEST(DesktopOpener, OnlyWebAddressesCountAsWeb)
{
    EXPECT_TRUE(pixkey::IsWebAddress("http://a"));
    EXPECT_TRUE(pixkey::IsWebAddress("HTTPS://a/b"));
    for (const char *other : {"file:///etc/passwd", "javascript:alert(1)", "ftp://a", "ls; rm -rf ~",
                              "", "http:", " https://a"})
        EXPECT_FALSE(pixkey::IsWebAddress(other)) << other;
}

} // namespace
