// The whole road on the emulated keypad: pixkeyctl runs RSS.pkx on key 1 against the local HTTP
// server; the key shows the first item's picture, a press opens its link through xdg-open (a
// recorder on PATH), and the slide show moves on to the next item.
#include "RssTestSupport.hpp"

#include <pixkey/test/EmulatedKeypad.h>
#include <pixkey/test/LocalHttpServer.h>
#include <pixkey/test/ServiceProcess.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using pixkey::test::EmulatedKeypad;
using pixkey::test::LocalHttpServer;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;
namespace fs = std::filesystem;

TEST(RssKeypadTest, PixkeyctlRunShowsThePictureOpensTheLinkAndSteps)
{
    EmulatedKeypad keypad;
    ASSERT_TRUE(keypad.start());
    LocalHttpServer server;
    server.answer("/a.png", 200, rsstest::png(96, 48, Qt::red), "image/png");
    server.answer("/feed.xml", 200,
                  rsstest::rss2({{"Red picture", "https://news.example/red", server.url("/a.png")},
                                 {"Words only", "https://news.example/words", ""}}),
                  "application/rss+xml");

    const fs::path record = fs::path(keypad.folder()) / "opened.txt";
    {
        std::ofstream script(fs::path(keypad.folder()) / "xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << record.string() << "'\n";
    }
    fs::permissions(fs::path(keypad.folder()) / "xdg-open", fs::perms::owner_all);
    const char *path = std::getenv("PATH");

    ServiceProcess::Options options;
    options.program = PIXKEYCTL_PROGRAM;
    // A minute between downloads: a slide every 8.6 s.
    options.arguments = {"--port", keypad.linkPath(), "run",
                         std::string(RSS_PLUGIN_FILE) + "@URL=" + server.url("/feed.xml") + "@RefreshPeriod=60"};
    options.environment = {"PATH=" + keypad.folder() + ":" + (path ? path : "/usr/bin:/bin"), "QT_QPA_PLATFORM=offscreen"};
    ServiceProcess ctl(options);
    ASSERT_TRUE(ctl.start(Probe::outputContains("running on the keypad")));

    auto red = [](EmulatedKeypad::Rgb c) { return c.r > 150 && c.g < 80 && c.b < 80; };
    ASSERT_TRUE(keypad.waitForShown(1, red, 15s, 48, 80));
    EXPECT_EQ(keypad.shown(1, 48, 20), (EmulatedKeypad::Rgb{0, 0, 0}));

    keypad->press(1);
    std::string opened;
    for (int i = 0; i < 500 && opened.empty(); ++i) {
        std::this_thread::sleep_for(20ms);
        std::ifstream in(record);
        std::stringstream text;
        text << in.rdbuf();
        opened = text.str();
    }
    EXPECT_EQ(opened, "https://news.example/red\n");

    // The next slide: the second item's title, no picture.
    EXPECT_TRUE(keypad.waitForShown(1, [&](EmulatedKeypad::Rgb c) { return !red(c); }, 20s, 48, 80));
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);
}
