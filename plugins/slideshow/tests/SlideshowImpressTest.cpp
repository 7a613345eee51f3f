// Slideshow.pkx as the host loads it, against a real LibreOffice Impress started by the test on a
// private X server with a fresh profile that listens on a pipe of its own. The test watches and
// moves the show through a helper of its own (the same pixkey-impress-bridge the plug-in uses).
//
// One office for the whole program; the cases run in order on the same keys: the deck opened
// without a show, the show started by a key, slides 1, 2, 9 and 10 of 10, a killed helper, a
// one-slide deck, a portrait deck, a modal dialog in the office, and last the office killed under
// the keys.
#include "BridgeProcess.h"
#include "SlideshowProtocol.h"
#include "SlideshowResources.h"
#include "SlideshowTestSupport.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/XServer.h>

#include <pixkey/utility/DesktopOpener.h>

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;
using pixkey::test::XServerEnvironment;
using slideshow_test::eventually;
using slideshow_test::Face;
using slideshow_test::near;

namespace {

const char kOffice[] = "/usr/lib/libreoffice/program/soffice.bin";
const std::uint32_t kColours[] = {0xe6194b, 0x3cb44b, 0xffe119, 0x4363d8, 0xf58231,
                                  0x911eb4, 0x46f0f0, 0xf032e6, 0xbcf60c, 0xfabebe};

std::string hex(std::uint32_t colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", colour);
    return text;
}

// A flat presentation of `slides` pages of the given size, each filled with its own colour. (The
// office takes the page layout only from a document that has an office:styles element.)
void writeDeck(const std::string &path, int slides, const char *width, const char *height)
{
    std::ofstream out(path);
    out << R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:styles/><office:automatic-styles><style:page-layout style:name="PM1"><style:page-layout-properties fo:margin-top="0cm" fo:margin-bottom="0cm" fo:margin-left="0cm" fo:margin-right="0cm" fo:page-width=")"
        << width << R"(" fo:page-height=")" << height << R"("/></style:page-layout>)";
    for (int i = 0; i < slides; ++i)
        out << R"(<style:style style:name="dp)" << i + 1
            << R"(" style:family="drawing-page"><style:drawing-page-properties draw:background-size="full" draw:fill="solid" draw:fill-color=")"
            << hex(kColours[i % 10]) << R"("/></style:style>)";
    out << R"(</office:automatic-styles><office:master-styles><style:master-page style:name="Default" style:page-layout-name="PM1"/></office:master-styles><office:body><office:presentation>)";
    for (int i = 0; i < slides; ++i)
        out << R"(<draw:page draw:name="page)" << i + 1 << R"(" draw:style-name="dp)" << i + 1
            << R"(" draw:master-page-name="Default"/>)";
    out << "</office:presentation></office:body></office:document>\n";
}

// A fresh profile: no first-run dialogs or tips, no presenter console, and the UNO pipe.
void writeProfile(const std::string &folder, const std::string &pipe)
{
    std::ofstream out(folder + "/user/registrymodifications.xcu");
    auto item = [&](const char *path, const char *name, const std::string &value) {
        out << "<item oor:path=\"" << path << "\"><prop oor:name=\"" << name << "\" oor:op=\"fuse\"><value>" << value
            << "</value></prop></item>\n";
    };
    out << R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
)";
    item("/org.openoffice.Setup/Office", "ooSetupConnectionURL", "pipe,name=" + pipe + ";urp;");
    item("/org.openoffice.Office.Common/Misc", "FirstRun", "false");
    item("/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay", "false");
    item("/org.openoffice.Office.Impress/Misc/Start", "EnableSdremote", "false");
    item("/org.openoffice.Office.Impress/Misc/Start", "StartWithTemplate", "false");
    item("/org.openoffice.Office.Impress/Misc", "UsePresenterScreen", "false");
    item("/org.openoffice.Office.PresenterScreen/Presenter", "StartAlways", "false");
    out << "</oor:items>\n";
}

struct Library {
    void *handle = nullptr;
    PkxCreateFn create = nullptr;
    PkxDeleteFn destroy = nullptr;
    PkxModule module{SLIDESHOW_PKX, nullptr};
};

struct Key {
    Key(Library &library, int kind) : library(library), object(library.create(&library.module, kind)) {}
    ~Key()
    {
        object->ops->OnEvent(object, PKX_EVENT_DEACTIVATE);
        library.destroy(object);
    }
    int paint() { return object->ops->Paint(object, face.surface()); }
    void press()
    {
        object->ops->OnKeyDown(object);
        paint();
    }
    // Paints until a new face passes `check`.
    bool shows(const std::function<bool(const Face &)> &check, std::chrono::milliseconds deadline = 30s)
    {
        return eventually([&] { return paint() == 1 && check(face); }, deadline) || check(face);
    }
    bool showsSlide(int number, int x = 48, int y = 80)
    {
        return shows([&](const Face &f) { return near(f.rgb(x, y), kColours[number - 1]); });
    }

    Library &library;
    PkxPlugin *object;
    Face face;
};

class SlideshowImpressTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        slideshow_test::ensureApplication();
        if (!XServerEnvironment::running()) {
            s_skip = XServerEnvironment::skipReason();
            return;
        }
        if (access(kOffice, X_OK) != 0) {
            s_skip = "LibreOffice Impress is not installed (apt-get install libreoffice-impress)";
            return;
        }
        s_dir = std::make_unique<QTemporaryDir>();
        const std::string dir = s_dir->path().toStdString();
        s_pipe = "pixkey-slideshow-test-" + std::to_string(getpid());
        std::filesystem::create_directories(dir + "/profile/user");
        writeProfile(dir + "/profile", s_pipe);
        writeDeck(dir + "/ten.fodp", 10, "28cm", "15.75cm");
        writeDeck(dir + "/one.fodp", 1, "28cm", "15.75cm");
        writeDeck(dir + "/portrait.fodp", 3, "15.75cm", "28cm");
        writeDeck(dir + "/locked.fodp", 2, "28cm", "15.75cm");
    
        ServiceProcess::Options options;
        options.program = kOffice;
        options.arguments = {"-env:UserInstallation=file://" + dir + "/profile", "--norestore", "--nologo",
                             "--nolockcheck", "--nodefault", dir + "/ten.fodp"};
        options.environment = {"SAL_USE_VCLPLUGIN=gen", "DISPLAY=" + XServerEnvironment::display(), "HOME=" + dir};
        options.name = "impress";
        s_driver = std::make_unique<slideshow::BridgeProcess>(SLIDESHOW_BRIDGE_PROGRAM, std::vector<std::string>{s_pipe});
        // The first start with a new profile ends with code 81 and asks to be started again.
        for (int attempt = 0; attempt < 2; ++attempt) {
            s_office = std::make_unique<ServiceProcess>(options);
            const auto started = s_office->start(Probe::when([] { return state().stage >= 2; }, "the deck is open"), 120s);
            if (started)
                break;
            if (attempt == 1 || s_office->running() || s_office->exitStatus().value_or(0) != (81 << 8)) {
                s_skip = "Impress did not open the deck: " + std::string(started.message());
                return;
            }
        }

        setenv("PIXKEY_IMPRESS_PIPE", s_pipe.c_str(), 1);
        s_library.handle = dlopen(SLIDESHOW_PKX, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(s_library.handle, nullptr) << dlerror();
        s_library.create = reinterpret_cast<PkxCreateFn>(dlsym(s_library.handle, "Create"));
        s_library.destroy = reinterpret_cast<PkxDeleteFn>(dlsym(s_library.handle, "Delete"));
        for (int kind = 1; kind <= 3; ++kind) {
            s_keys.push_back(std::make_unique<Key>(s_library, kind));
            s_keys.back()->object->ops->OnEvent(s_keys.back()->object, PKX_EVENT_ACTIVATE);
            s_keys.back()->paint();
        }
    }

    static void TearDownTestSuite()
    {
        s_keys.clear();
        if (s_library.handle)
            dlclose(s_library.handle);
        s_driver.reset();
        s_office.reset();
        s_dir.reset();
    }

    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        ASSERT_EQ(s_keys.size(), 3u);
    }

    static slideshow::protocol::State state()
    {
        slideshow::protocol::State result;
        if (auto answer = s_driver->request("state", 10s))
            slideshow::protocol::parseState(*answer, &result);
        return result;
    }
    static std::string ask(const std::string &request)
    {
        // The test's own line to the office: a helper that was killed, or whose office connection
        // the office dropped, is started again for another try.
        std::string answer = "<no answer>";
        for (int attempt = 0; attempt < 3; ++attempt) {
            answer = s_driver->request(request, 20s).value_or("<no answer>");
            if (answer != "<no answer>" && answer.rfind("err disconnected", 0) != 0)
                break;
        }
        return answer;
    }
    static int current() { return state().stage == 3 ? state().current : 0; }

    static QProcessEnvironment officeEnvironment()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SAL_USE_VCLPLUGIN"), QStringLiteral("gen"));
        environment.insert(QStringLiteral("DISPLAY"), QString::fromStdString(XServerEnvironment::display()));
        environment.insert(QStringLiteral("HOME"), s_dir->path());
        return environment;
    }
    // A window of the test's X server whose title contains `title`.
    static bool windowShown(const QString &title)
    {
        QProcess search;
        search.setProcessEnvironment(officeEnvironment());
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"), title});
        return search.waitForFinished(10000) && search.exitStatus() == QProcess::NormalExit && search.exitCode() == 0;
    }
    // Paints every key until none changes.
    static bool settled()
    {
        return eventually([] {
            bool changed = false;
            for (auto &key : s_keys)
                changed |= key->paint() == 1;
            return !changed;
        }, 30s);
    }

    // Ends the show and opens `file` of the test's folder, a deck of `slides` slides.
    static void openDeck(const std::string &file, int slides)
    {
        ASSERT_EQ(ask("end"), "ok");
        const std::string path = s_dir->path().toStdString() + "/" + file;
        const std::vector<std::string> opened = slideshow::protocol::split(ask("open\t" + path));
        ASSERT_EQ(opened.size(), 2u) << opened[0];
        ASSERT_TRUE(eventually([slides] { return state().count == slides; }, 30s));
    }

    Key &previous() { return *s_keys[0]; }
    Key &next() { return *s_keys[1]; }
    Key &nearest() { return *s_keys[2]; }
    static bool showsFace(const Face &face, int kind)
    {
        return face.toImage() == slideshow::facePicture(slideshow::picturesOf(kind).face);
    }

    static inline std::string s_skip;
    static inline std::string s_pipe;
    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<ServiceProcess> s_office;
    static inline std::unique_ptr<slideshow::BridgeProcess> s_driver;
    static inline Library s_library;
    static inline std::vector<std::unique_ptr<Key>> s_keys;
};

TEST_F(SlideshowImpressTest, OpenDeckOffersStartAndAKeyStartsTheShow)
{
    EXPECT_TRUE(next().shows([](const Face &f) { return f.whitePixels(0, 16) > 20; })) << "\"start\"";
    // A show started in the first moments after Impress first answers a new connection may end
    // again at once; a presenter never presses that early.
    std::this_thread::sleep_for(3s);
    previous().press();
    EXPECT_TRUE(eventually([] { return current() == 1; }, 30s))
        << "the previous key started the show: " << ask("presentations") << " / " << ask("show") << " / "
        << slideshow::protocol::formatState(state()) << " / start: " << ask("start") << " / "
        << (std::this_thread::sleep_for(3s), slideshow::protocol::formatState(state()));
}

TEST_F(SlideshowImpressTest, FirstOfTen)
{
    ASSERT_TRUE(eventually([] { return current() == 1; }, 30s));
    EXPECT_TRUE(next().showsSlide(2));
    EXPECT_TRUE(nearest().showsSlide(3));
    EXPECT_TRUE(previous().shows([](const Face &f) { return showsFace(f, 1); }));
}

TEST_F(SlideshowImpressTest, NextKeyMovesTheShowAndAllKeysFollow)
{
    ASSERT_TRUE(eventually([] { return current() == 1; }, 30s));
    const auto pressed = std::chrono::steady_clock::now();
    next().press();
    ASSERT_TRUE(eventually([] { return current() == 2; }, 30s));
    const auto moved = std::chrono::steady_clock::now();
    EXPECT_TRUE(previous().showsSlide(1));
    EXPECT_TRUE(next().showsSlide(3));
    EXPECT_TRUE(nearest().showsSlide(4));
    // Figures for the record (the keys paint here as fast as the test asks, not every 500 ms).
    const auto ms = [](auto d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
    std::printf("press to slide in Impress: %lld ms; to all three keys' new faces: %lld ms\n",
                static_cast<long long>(ms(moved - pressed)),
                static_cast<long long>(ms(std::chrono::steady_clock::now() - pressed)));
}

TEST_F(SlideshowImpressTest, NinthAndTenthSlides)
{
    ASSERT_EQ(ask("goto\t9"), "ok");
    EXPECT_TRUE(nearest().shows([](const Face &f) { return showsFace(f, 3); }));
    nearest().press();
    ASSERT_TRUE(eventually([] { return current() == 10; }, 30s));
    EXPECT_TRUE(nearest().showsSlide(1)) << "restart shows the first slide";
    EXPECT_GT(nearest().face.whitePixels(0, 16, 20, 76), 20) << "\"restart\"";
    nearest().press();
    EXPECT_TRUE(eventually([] { return current() == 1; }, 30s));
}

TEST_F(SlideshowImpressTest, KilledHelperIsReplaced)
{
    // The helper may be killed in the middle of the last key command (the previous case's press
    // to the first slide): it is not repeated after the test's own move.
    ASSERT_GE(slideshow_test::killChildren("pixkey-impress-bridge"), 1);
    ASSERT_EQ(ask("goto\t5"), "ok");
    EXPECT_TRUE(next().showsSlide(6));
    EXPECT_TRUE(previous().showsSlide(4));
}

TEST_F(SlideshowImpressTest, OneSlideDeck)
{
    ASSERT_NO_FATAL_FAILURE(openDeck("one.fodp", 1));
    next().press();
    ASSERT_TRUE(eventually([] { return state().stage == 3 && state().count == 1; }, 30s));
    EXPECT_TRUE(previous().shows([](const Face &f) { return f.whitePixels(40, 58) > 20 && f.rgb(48, 90) == 0; }))
        << "\"The End.\"";
}

TEST_F(SlideshowImpressTest, PortraitDeck)
{
    ASSERT_NO_FATAL_FAILURE(openDeck("portrait.fodp", 3));
    next().press();
    ASSERT_TRUE(eventually([] { return current() == 1 && state().count == 3; }, 30s));
    ASSERT_EQ(state().width, 15750);
    // Slide 2 stands upright in the middle of the key, 54 of 96 pixels wide, black beside it.
    EXPECT_TRUE(next().showsSlide(2, 30, 60));
    EXPECT_TRUE(near(next().face.rgb(66, 60), kColours[1]));
    EXPECT_EQ(next().face.rgb(10, 60), 0u);
    EXPECT_EQ(next().face.rgb(86, 60), 0u);
}

TEST_F(SlideshowImpressTest, DialogOpenInImpress)
{
    if (pixkey::FindProgram("xdotool").empty())
        GTEST_SKIP() << "xdotool is not installed";
    ASSERT_EQ(current(), 1) << "the portrait deck's show";
    ASSERT_TRUE(settled());
    std::vector<QImage> before;
    for (auto &key : s_keys)
        before.push_back(key->face.toImage());

    // A deck another presenter has open: handed to the running office by its launcher, like a
    // second start by the user, it is held up by a modal dialog asking how to open it.
    const std::string dir = s_dir->path().toStdString();
    std::ofstream(dir + "/.~lock.locked.fodp#") << ",Another Presenter,elsewhere,01.01.2026 09:00,file:///nonexistent;";
    ServiceProcess::Options options;
    options.program = "/usr/lib/libreoffice/program/soffice";
    options.arguments = {"-env:UserInstallation=file://" + dir + "/profile", dir + "/locked.fodp"};
    options.environment = {"SAL_USE_VCLPLUGIN=gen", "DISPLAY=" + XServerEnvironment::display(), "HOME=" + dir};
    options.name = "office launcher";
    ServiceProcess launcher(options);
    ASSERT_TRUE(launcher.start(
        Probe::when([] { return windowShown(QStringLiteral("Document in Use")); }, "the office shows its dialog"), 60s));

    // The keys keep their faces, and neither Paint nor a press waits for the office.
    const auto timed = [](const std::function<void()> &call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::steady_clock::now() - start;
    };
    std::chrono::steady_clock::duration longest{};
    for (int round = 0; round < 10; ++round) {
        for (auto &key : s_keys)
            longest = std::max(longest, timed([&] { EXPECT_EQ(key->paint(), 0); }));
        std::this_thread::sleep_for(100ms);
    }
    for (std::size_t i = 0; i < s_keys.size(); ++i)
        EXPECT_EQ(s_keys[i]->face.toImage(), before[i]) << "key " << i + 1;
    longest = std::max(longest, timed([&] { next().object->ops->OnKeyDown(next().object); }));
    EXPECT_LT(longest, 1s) << "a key waited for the office";
    // This office answers its automation while the dialog waits, so the keys still follow.
    EXPECT_TRUE(eventually([] { return current() == 2; }, 30s));
    EXPECT_TRUE(next().showsSlide(3, 30, 60));
}

TEST_F(SlideshowImpressTest, OfficeKilledUnderTheKeys)
{
    s_office->kill();
    for (int kind = 1; kind <= 3; ++kind)
        EXPECT_TRUE(s_keys[kind - 1]->shows([kind](const Face &f) { return showsFace(f, kind); }));
    // The connection's loss may show as two stages in turn (both the face); then nothing changes.
    EXPECT_TRUE(eventually([&] { return next().paint() == 0 && next().paint() == 0; }, 10s));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(next().paint(), 0) << "nothing changes while no office runs";
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XServerEnvironment(pixkey::test::XServer::Options{.windowManager = true}));
    return RUN_ALL_TESTS();
}
