// The Slideshow keys against a scripted stand-in for the helper: a shell script that answers from
// files the test writes, so that each stage, a helper that dies or hangs, and the key commands'
// fallbacks can be set up exactly. The real office is in SlideshowImpressTest.
#include "SlideshowDialog.h"
#include "SlideshowPlugin.h"
#include "SlideshowResources.h"
#include "SlideshowTestSupport.h"

#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <signal.h>
#include <sys/stat.h>

using namespace slideshow;
using namespace std::chrono_literals;
using slideshow_test::eventually;
using slideshow_test::Face;
using slideshow_test::near;

namespace {

// Answers "state" from the file "state", "show" from "show", exports slide N by copying
// "slide-N.png", and every other request with "ok" (or the file "answer-VERB"). Every request is
// logged; while the file "hang" exists it answers nothing, and a request whose file "end-VERB"
// exists ends the helper without an answer (as many times as the file says).
const char kFakeHelper[] = R"SH(#!/bin/bash
dir="$(dirname "$0")"
while IFS= read -r line; do
  echo "$line" >> "$dir/requests.log"
  while [ -f "$dir/hang" ]; do sleep 0.05; done
  IFS=$'\t' read -r -a f <<< "$line"
  if [ -f "$dir/end-${f[0]}" ]; then
    n=$(cat "$dir/end-${f[0]}"); if [ "$n" -gt 1 ]; then echo $((n - 1)) > "$dir/end-${f[0]}"; else rm "$dir/end-${f[0]}"; fi
    exit 1
  fi
  case "${f[0]}" in
    state) cat "$dir/state" ;;
    show) cat "$dir/show" ;;
    export) if [ -f "$dir/slide-${f[2]}.png" ]; then cp "$dir/slide-${f[2]}.png" "${f[5]}"; echo ok; else echo "err no picture"; fi ;;
    *) if [ -f "$dir/answer-${f[0]}" ]; then cat "$dir/answer-${f[0]}"; else echo ok; fi ;;
  esac
done
)SH";

const std::uint32_t kSlideColours[] = {0xe6194b, 0x3cb44b, 0xffe119, 0x4363d8, 0xf58231,
                                       0x911eb4, 0x46f0f0, 0xf032e6, 0xbcf60c, 0xfabebe};

class FakeOffice {
public:
    FakeOffice()
    {
        helper = path("bridge.sh");
        write("bridge.sh", kFakeHelper);
        chmod(helper.c_str(), 0755);
        for (int i = 0; i < 10; ++i) {
            QImage slide(160, 90, QImage::Format_RGB32);
            slide.fill(QColor::fromRgb(kSlideColours[i]));
            slide.save(QString::fromStdString(path("slide-" + std::to_string(i + 1) + ".png")));
        }
        setState(2, 10, 0);
        write("show", "err no slide show runs\n");
        write("answer-presentations", "ok\t1\n");
    }

    std::string path(const std::string &name) const { return m_dir.filePath(QString::fromStdString(name)).toStdString(); }
    void write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path(name) + ".new") << text;
        std::rename((path(name) + ".new").c_str(), path(name).c_str());
    }
    void setState(int stage, int count, int current, long width = 28000, long height = 15750,
                  const std::string &name = "deck.odp") const
    {
        write("state", "ok\t" + std::to_string(stage) + "\t" + std::to_string(count) + "\t" + std::to_string(current)
                           + "\t" + std::to_string(width) + "\t" + std::to_string(height) + "\t1\t0\t" + name + "\n");
    }
    std::string requests() const
    {
        std::ifstream in(path("requests.log"));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void clearRequests() const { std::remove(path("requests.log").c_str()); }

    MonitorOptions options()
    {
        MonitorOptions options;
        options.helperPath = helper;
        options.pipeName = "unused";
        options.pollInterval = 40ms;
        options.stateTimeout = 1500ms;
        options.exportTimeout = 1500ms;
        options.commandTimeout = 1500ms;
        options.retryPause = 200ms;
        options.findProgram = [this] { return program.load(); };
        options.requestPipe = [this](pid_t, const std::string &) {
            ++handovers;
            return true;
        };
        return options;
    }

    std::string helper;
    std::atomic<pid_t> program{4242};
    std::atomic<int> handovers{0};

private:
    QTemporaryDir m_dir;
};

class SlideshowPluginTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { slideshow_test::ensureApplication(); }

    void SetUp() override { monitor = std::make_shared<ImpressMonitor>(office.options()); }

    std::unique_ptr<SlideshowPlugin> key(int kind)
    {
        auto plugin = std::make_unique<SlideshowPlugin>(kind, [this] { return monitor; });
        plugin->OnEvent(PKX_EVENT_ACTIVATE);
        Face face;
        EXPECT_EQ(plugin->Paint(*face.surface()), 1); // the first Paint shows the face
        return plugin;
    }

    // Paints until `check` holds for a freshly drawn face.
    bool paintUntil(SlideshowPlugin &plugin, Face &face, const std::function<bool(const Face &)> &check)
    {
        return eventually([&] { return plugin.Paint(*face.surface()) == 1 && check(face); }, 10s);
    }

    // Waits until the monitor has published the office in this state (and made its thumbnails),
    // then paints until nothing changes; `face` then holds what the key shows.
    void settle(SlideshowPlugin &plugin, Face &face, int stage, int current, int count)
    {
        ASSERT_TRUE(eventually([&] {
            const protocol::State s = monitor->snapshot().state;
            return s.stage == stage && s.current == current && s.count == count;
        }, 10s));
        ASSERT_TRUE(monitor->waitForPublication(monitor->snapshot().serial, 10s));
        while (plugin.Paint(*face.surface()) == 1) {
        }
    }

    static QImage facePicture(int kind) { return slideshow::facePicture(picturesOf(kind).face); }
    static bool showsFace(const Face &face, int kind) { return face.toImage() == facePicture(kind); }

    FakeOffice office;
    std::shared_ptr<ImpressMonitor> monitor;
};

TEST_F(SlideshowPluginTest, DescribesItselfPerKind)
{
    SlideshowPlugin describing(0, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(describing.GetInfo(0)), "prt.sld.mfc5");
    EXPECT_STREQ(reinterpret_cast<const char *>(describing.GetInfo(2)), "Slideshow slide show controls.");
    EXPECT_EQ(describing.GetInfo(10), 3);
    EXPECT_EQ(describing.GetInfo(11), 500);
    EXPECT_EQ(describing.GetInfo(12), 2);
    EXPECT_EQ(describing.GetInfo(255), 0);
    EXPECT_EQ(describing.GetInfo(6), 0);
    const char *const names[] = {"Slideshow", "Previous slide", "Next slide", "Next nearest", "Goto", "Goto"};
    for (int function = 0; function <= 5; ++function) {
        SlideshowPlugin plugin(function, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(1)), names[function]);
        for (int code : {20, 21, 22}) {
            auto *image = reinterpret_cast<PkxImage *>(plugin.GetInfo(code));
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(image->width, code == 20 ? 16 : code == 21 ? 32 : 96);
            pkx_image_free(image);
        }
    }
    // Each kind's thumbnail file lies in a folder of its own, named after the process and key.
    SlideshowPlugin plugin(2, nullptr);
    const std::string file = plugin.thumbnailFile();
    EXPECT_NE(file.find("/prt" + std::to_string(getpid())), std::string::npos) << file;
    struct stat folder {};
    ASSERT_EQ(stat(file.substr(0, file.rfind('/')).c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
}

TEST_F(SlideshowPluginTest, PropertiesRoundTrip)
{
    SlideshowPlugin plugin(4, nullptr);
    char name[PKX_PROPERTY_TEXT_SIZE] = {}, value[PKX_PROPERTY_TEXT_SIZE] = {};
    ASSERT_EQ(plugin.GetProperty(256, name, value), 1);
    EXPECT_STREQ(name, "Caption");
    EXPECT_STREQ(value, "");
    ASSERT_EQ(plugin.GetProperty(257, name, value), 1);
    EXPECT_STREQ(name, "Index");
    EXPECT_STREQ(value, "7");
    EXPECT_EQ(plugin.GetProperty(258, name, value), 0);

    EXPECT_EQ(plugin.SetProperty("Index", "12abc"), 1);
    EXPECT_EQ(plugin.SetProperty("Caption", "Summary"), 1);
    EXPECT_EQ(plugin.SetProperty("index", "3"), 0); // names are exact
    plugin.GetProperty(257, name, value);
    EXPECT_STREQ(value, "12");
    plugin.GetProperty(256, name, value);
    EXPECT_STREQ(value, "Summary");
    plugin.SetProperty("Index", "99999999999999999999"); // kept within an int
    plugin.GetProperty(257, name, value);
    EXPECT_STREQ(value, "2147483647");

    // A caption of more than 255 bytes comes back cut at a character boundary.
    std::string longCaption;
    for (int i = 0; i < 200; ++i)
        longCaption += "\xc3\xa9";
    plugin.SetProperty("Caption", longCaption.c_str());
    plugin.GetProperty(256, name, value);
    EXPECT_EQ(std::strlen(value), 254u);
}

TEST_F(SlideshowPluginTest, NoProgramShowsTheFaceThenNothingChanges)
{
    office.program = 0;
    auto plugin = key(KindNext);
    Face face;
    ASSERT_TRUE(monitor->waitForPublication(0, 5s));
    plugin->Paint(*face.surface()); // activation asked for one redraw
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(plugin->Paint(*face.surface()), 0);
    EXPECT_EQ(monitor->helperStarts(), 0) << "no helper runs while the office does not";
    plugin->OnKeyDown();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(office.requests(), "");
}

TEST_F(SlideshowPluginTest, OpenButNotRunningOffersStart)
{
    office.setState(2, 10, 0);
    auto next = key(KindNext);
    auto previous = key(KindPrevious);
    Face face;
    settle(*next, face, StageNoShow, 0, 10);
    EXPECT_EQ(next->shown().stage, StageNoShow);
    const QImage plain = facePicture(KindNext);
    EXPECT_NE(face.toImage().copy(0, 0, 96, 16), plain.copy(0, 0, 96, 16)) << "\"start\" at the top";
    EXPECT_EQ(face.toImage().copy(0, 20, 96, 76), plain.copy(0, 20, 96, 76)) << "over the face";
    Face previousFace;
    settle(*previous, previousFace, StageNoShow, 0, 10);
    EXPECT_TRUE(showsFace(previousFace, KindPrevious)) << "no label on the previous key before the show";

    previous->OnKeyDown();
    EXPECT_TRUE(eventually([&] { return office.requests().find("start") != std::string::npos; }, 5s))
        << office.requests();
}

TEST_F(SlideshowPluginTest, FirstOfTenShowsTheNextSlides)
{
    office.setState(3, 10, 1);
    auto previous = key(KindPrevious);
    auto next = key(KindNext);
    auto nearest = key(KindNextNearest);

    Face nextFace;
    ASSERT_TRUE(paintUntil(*next, nextFace, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[1]); }));
    EXPECT_EQ(next->shown().targetNumber, 2);
    EXPECT_EQ(next->shown().count, 10);
    EXPECT_TRUE(near(nextFace.rgb(1, 60), 0xff7726, 2)) << "orange bar on the left";
    EXPECT_GT(nextFace.whitePixels(0, 14, 50, 95), 10) << "\"next\" and its arrow";
    EXPECT_EQ(nextFace.rgb(48, 30), 0u) << "black above a 16:9 slide";

    Face nearestFace;
    ASSERT_TRUE(paintUntil(*nearest, nearestFace, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[2]); }));
    EXPECT_EQ(nearest->shown().targetNumber, 3);
    EXPECT_FALSE(near(nearestFace.rgb(1, 60), 0xff7726, 2)) << "no bar on the next-nearest key";

    Face previousFace;
    settle(*previous, previousFace, StageCurrentSlide, 1, 10);
    EXPECT_TRUE(showsFace(previousFace, KindPrevious));

    // The thumbnail was asked for at twice its size (2 x 96 by 2 x 54).
    EXPECT_NE(office.requests().find("export\t1\t2\t192\t108\t" + next->thumbnailFile()), std::string::npos)
        << office.requests();
    // Nothing changed: nothing to draw.
    EXPECT_EQ(next->Paint(*nextFace.surface()), 0);
}

TEST_F(SlideshowPluginTest, EndOfTheShow)
{
    office.setState(3, 10, 9);
    auto nearest = key(KindNextNearest);
    Face face;
    settle(*nearest, face, StageCurrentSlide, 9, 10);
    EXPECT_TRUE(showsFace(face, KindNextNearest)) << "nothing two ahead of slide 9 of 10";

    office.setState(3, 10, 10);
    ASSERT_TRUE(paintUntil(*nearest, face, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[0]); }));
    EXPECT_GT(face.whitePixels(0, 16, 20, 76), 20) << "\"restart\"";

    // A one-slide show: the previous key says "The End." on black.
    office.setState(3, 1, 1);
    auto previous = key(KindPrevious);
    settle(*previous, face, StageCurrentSlide, 1, 1);
    EXPECT_GT(face.whitePixels(40, 58), 20);
    EXPECT_EQ(face.rgb(2, 2), 0u);
    EXPECT_EQ(face.rgb(48, 90), 0u);
}

TEST_F(SlideshowPluginTest, PortraitSlideKeepsItsProportions)
{
    office.setState(3, 10, 1, 10000, 20000);
    auto next = key(KindNext);
    Face face;
    ASSERT_TRUE(paintUntil(*next, face, [](const Face &f) { return near(f.rgb(48, 60), kSlideColours[1]); }));
    EXPECT_NE(office.requests().find("export\t1\t2\t96\t192\t"), std::string::npos) << office.requests();
    EXPECT_EQ(face.rgb(10, 60), 0u) << "black beside a slide 48 wide";
    EXPECT_TRUE(near(face.rgb(30, 60), kSlideColours[1]));
}

TEST_F(SlideshowPluginTest, KeyCommands)
{
    struct Case {
        int kind, current, count;
        const char *expected;
    };
    const Case cases[] = {
        {KindPrevious, 5, 10, "previous"},
        {KindNext, 5, 10, "next"},
        {KindNextNearest, 5, 10, "goto\t7"},
        {KindNextNearest, 9, 10, "next"},
        {KindNextNearest, 10, 10, "first"},
        {KindGoto, 5, 10, "goto\t7"},
    };
    for (const Case &c : cases) {
        office.setState(3, c.count, c.current);
        office.write("show", "ok\t" + std::to_string(c.current) + "\t" + std::to_string(c.count) + "\n");
        auto plugin = key(c.kind);
        ASSERT_TRUE(eventually([&] { return monitor->snapshot().state.current == c.current; }, 5s));
        office.clearRequests();
        plugin->OnKeyDown();
        EXPECT_TRUE(eventually([&] { return office.requests().find("show\n" + std::string(c.expected) + "\n") != std::string::npos; }, 5s))
            << "kind " << c.kind << ": " << office.requests();
    }
}

TEST_F(SlideshowPluginTest, FailedStepsFallBack)
{
    office.setState(3, 10, 10);
    office.write("show", "ok\t10\t10\n");
    auto nearest = key(KindNextNearest);
    auto jump = key(KindGoto);
    jump->SetProperty("Index", "50");
    ASSERT_TRUE(eventually([&] { return monitor->snapshot().state.current == 10; }, 5s));

    // Two ahead that fails goes to the first slide.
    office.write("answer-first", "err first failed once\n");
    office.clearRequests();
    nearest->OnKeyDown();
    EXPECT_TRUE(eventually([&] { return office.requests().find("first\nfirst\n") != std::string::npos; }, 5s))
        << office.requests();

    // A slide the show does not have leaves a running show where it is: no start over.
    std::remove(office.path("answer-first").c_str());
    office.write("answer-goto", "err no such slide\n");
    office.clearRequests();
    jump->OnKeyDown();
    ASSERT_TRUE(eventually([&] { return office.requests().find("goto\t50") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(office.requests().find("start"), std::string::npos) << office.requests();

    // Without a running show any key starts it.
    office.write("show", "err no slide show runs\n");
    office.clearRequests();
    jump->OnKeyDown();
    EXPECT_TRUE(eventually([&] { return office.requests().find("show\nstart\n") != std::string::npos; }, 5s))
        << office.requests();

    // No presentation open: nothing at all.
    office.write("answer-presentations", "ok\t0\n");
    office.clearRequests();
    nearest->OnKeyDown();
    ASSERT_TRUE(eventually([&] { return office.requests().find("presentations") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(office.requests().find("show"), std::string::npos) << office.requests();
}

TEST_F(SlideshowPluginTest, HelperThatDiesIsRestarted)
{
    office.setState(3, 10, 1);
    auto next = key(KindNext);
    Face face;
    ASSERT_TRUE(paintUntil(*next, face, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[1]); }));
    const int starts = monitor->helperStarts();
    ASSERT_EQ(slideshow_test::killChildren(office.helper), 1);
    office.setState(3, 10, 2);
    ASSERT_TRUE(paintUntil(*next, face, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[2]); }));
    EXPECT_GT(monitor->helperStarts(), starts);
}

TEST_F(SlideshowPluginTest, StepWhoseHelperEndsIsNotRepeated)
{
    office.setState(3, 10, 5);
    office.write("show", "ok\t5\t10\n");
    auto next = key(KindNext);
    auto nearest = key(KindNextNearest);
    ASSERT_TRUE(eventually([&] { return monitor->snapshot().state.current == 5; }, 5s));
    struct Case {
        SlideshowPlugin *key;
        const char *ends;      // the request the helpers end on
        const char *times;     // how many helpers end on it
        const char *sent;      // what the office saw of the press
        const char *forbidden; // what must not follow
    };
    const Case cases[] = {
        {next.get(), "next", "1", "show\nnext\nstate\n", "next\nnext"},
        {nearest.get(), "goto", "1", "show\ngoto\t7\nstate\n", "first"}, // no fallback either
        // A question is asked again; still no answer is not "no show runs".
        {nearest.get(), "show", "2", "presentations\nshow\nshow\nstate\n", "start"},
    };
    for (const Case &c : cases) {
        office.clearRequests();
        office.write(std::string("end-") + c.ends, std::string(c.times) + "\n");
        const int starts = monitor->helperStarts();
        c.key->OnKeyDown();
        // The next state comes from a new helper, after the command was given up.
        EXPECT_TRUE(eventually([&] {
            return office.requests().find(c.sent) != std::string::npos && monitor->helperStarts() > starts;
        }, 5s)) << c.ends << ": " << office.requests();
        EXPECT_EQ(office.requests().find(c.forbidden), std::string::npos) << c.ends << ": " << office.requests();
    }
}

TEST(SlideshowBridgeProcessTest, TellsAnUndeliveredRequestFromOneThatWasSent)
{
    // cat answers each line with itself.
    BridgeProcess echo("/bin/cat", {});
    ASSERT_EQ(echo.request("state", 5s).value_or(""), "state");
    // A helper that ended while idle: the request never reached it, so it may be sent again.
    const pid_t pid = echo.pid();
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(eventually([&] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        return text.find(") Z ") != std::string::npos;
    }, 5s));
    EXPECT_FALSE(echo.request("next", 5s));
    EXPECT_EQ(echo.lastFailure(), BridgeProcess::Failure::Undelivered);
    EXPECT_EQ(echo.request("next", 5s).value_or(""), "next") << "a new helper";
    EXPECT_EQ(echo.starts(), 2);

    // One that ends after reading it may have acted on it.
    BridgeProcess once("/bin/sh", {"-c", "read line"});
    EXPECT_FALSE(once.request("next", 5s));
    EXPECT_EQ(once.lastFailure(), BridgeProcess::Failure::Ended);
}

TEST_F(SlideshowPluginTest, HelperThatHangsLeavesTheFace)
{
    office.setState(3, 10, 1);
    auto next = key(KindNext);
    Face face;
    ASSERT_TRUE(paintUntil(*next, face, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[1]); }));
    office.write("hang", "");
    const unsigned long serial = monitor->snapshot().serial;
    // The next state request times out (1.5 s); Paint meanwhile answers at once and keeps the face.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(next->Paint(*face.surface()), 0);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2900ms) << "Paint never waits for the helper";
    EXPECT_LE(monitor->snapshot().serial, serial + 1);
    std::remove(office.path("hang").c_str());
    office.setState(3, 10, 3);
    EXPECT_TRUE(paintUntil(*next, face, [](const Face &f) { return near(f.rgb(48, 80), kSlideColours[3]); }));
}

TEST_F(SlideshowPluginTest, OfficeWithoutPipeIsAskedOnceToOpenIt)
{
    office.setState(0, 0, 0);
    auto next = key(KindNext);
    ASSERT_TRUE(eventually([&] { return monitor->snapshot().serial > 3; }, 5s));
    EXPECT_EQ(office.handovers.load(), 1);
}

TEST_F(SlideshowPluginTest, DialogStoresValuesAndRefusesANonNumber)
{
    SlideshowDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Slideshow"));
    EXPECT_EQ(dialog.size(), dialog.dialogRect(0, 0, 195, 127).size());
    dialog.setValues(3, QStringLiteral("Agenda"));
    QString warning;
    dialog.setWarning([&](QWidget *, const QString &text) { warning = text; });
    dialog.indexField()->setText(QStringLiteral("-"));
    dialog.accept();
    EXPECT_EQ(warning, QStringLiteral("Please enter an integer."));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.indexField()->setText(QStringLiteral("12"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.gotoIndex(), 12);
    EXPECT_EQ(dialog.caption(), QStringLiteral("Agenda"));
}

} // namespace
