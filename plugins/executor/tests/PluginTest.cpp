// The Hotkey plug-in as the host sees it: Executor.pkx loaded with dlopen, driven through its
// exports and operation table.
#include "TestSupport.h"

#include <pixkey_plugin.h>

#include <QTemporaryDir>

#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <future>
#include <cstring>
#include <memory>
#include <thread>

using executor_test::Face;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;
using executor_test::litBox;

// Qt's raster engine spreads some drawing over its own thread pool and hands the work back through
// synchronisation ThreadSanitizer cannot see in the uninstrumented Qt libraries. Only the calls Qt
// itself makes into intercepted functions (its allocations) are ignored; races in this plug-in's
// own code, including on memory it passes to Qt, are still reported.
extern "C" const char *__tsan_default_suppressions()
{
    return "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Core.so\n";
}

namespace {

class Library {
public:
    Library()
    {
        m_handle = dlopen(EXECUTOR_PKX, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        create = reinterpret_cast<PkxCreateFn>(dlsym(m_handle, "Create"));
        destroy = reinterpret_cast<PkxDeleteFn>(dlsym(m_handle, "Delete"));
    }
    ~Library()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    bool ok() const { return create && destroy; }

    PkxCreateFn create = nullptr;
    PkxDeleteFn destroy = nullptr;
    PkxModule module{EXECUTOR_PKX, nullptr};

private:
    void *m_handle = nullptr;
};

// One plug-in object, deleted through the library's Delete.
class Instance {
public:
    explicit Instance(Library &library) : m_library(library), m_object(library.create(&library.module, 1)) {}
    ~Instance() { m_library.destroy(m_object); }
    PkxPlugin *get() const { return m_object; }
    const PkxPluginOps &ops() const { return *m_object->ops; }

    int paint(Face &face) { return ops().Paint(m_object, face.surface()); }
    int activate() { return ops().OnEvent(m_object, PKX_EVENT_ACTIVATE); }
    int set(const char *name, const char *value) { return ops().SetProperty(m_object, name, value); }
    // Value of property `index`, or "<none>" when the plug-in has no such property.
    std::string get(int index, std::string *name = nullptr)
    {
        char n[PKX_PROPERTY_TEXT_SIZE] = {};
        char v[PKX_PROPERTY_TEXT_SIZE] = {};
        if (!ops().GetProperty(m_object, index, n, v))
            return "<none>";
        if (name)
            *name = n;
        return std::string(v, strnlen(v, sizeof v));
    }
    intptr_t info(int code) { return ops().GetInfo(m_object, code); }

private:
    Library &m_library;
    PkxPlugin *m_object;
};

class ExecutorPluginTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { executor_test::ensureApplication(false); }

    void SetUp() override { ASSERT_TRUE(m_library.ok()) << dlerror(); }

    // Activates, paints once into a fresh face and returns it.
    Face paintOnce(Instance &instance)
    {
        Face face;
        instance.activate();
        EXPECT_EQ(instance.paint(face), 1);
        return face;
    }

    // The plug-in's own preview (GetInfo 22), which is "DEF_IMAGE".
    QImage defaultImage(Instance &instance)
    {
        auto *image = reinterpret_cast<PkxImage *>(instance.info(PKX_INFO_PREVIEW));
        if (!image)
            return {};
        QImage copy = QImage(image->pixels, image->width, image->height, image->stride, QImage::Format_ARGB32)
                          .convertToFormat(QImage::Format_BGR888);
        pkx_image_free(image);
        return copy;
    }

    Library m_library;
    QTemporaryDir m_dir;
};

TEST_F(ExecutorPluginTest, DefaultFaceShowsCtrlCInWhiteEndingAtTheMiddleAndPaintsOnlyWhenDirty)
{
    Instance instance(m_library);
    Face face = paintOnce(instance);

    const executor_test::Box box = litBox(face);
    ASSERT_FALSE(box.empty());
    // One 20-pixel line whose bottom is row 48: the 16-pixel font's glyphs start at row 28 and
    // end some pixels above 48 (no descenders in "Ctrl+C").
    EXPECT_LE(box.bottom, 47);
    EXPECT_GE(box.bottom, 36);
    EXPECT_GE(box.top, 28);
    EXPECT_LE(box.top, 34);
    EXPECT_NEAR(box.left + box.right, 95, 3) << "centred at x = 48";
    for (int y = 0; y < PKX_FACE_SIZE; ++y)
        for (int x = 0; x < PKX_FACE_SIZE; ++x) {
            const std::uint32_t c = face.rgb(x, y);
            ASSERT_TRUE(((c >> 16) & 0xFF) == (c & 0xFF) && ((c >> 8) & 0xFF) == (c & 0xFF))
                << "white text on black, pixel " << x << "," << y;
        }
    EXPECT_EQ(face.rgb(box.left + (box.right - box.left) / 2, 0), 0u);

    // Nothing changed: the next Paint leaves the surface alone.
    Face untouched;
    EXPECT_EQ(instance.paint(untouched), 0);
    EXPECT_EQ(untouched.rgb(0, 0), 0x5a5a5au);

    // Setting a property does not mark the face; activation does.
    EXPECT_EQ(instance.set("Text", "Copy"), 1);
    EXPECT_EQ(instance.paint(untouched), 0);
    EXPECT_EQ(instance.activate(), 1);
    EXPECT_EQ(instance.paint(untouched), 1);
    EXPECT_NE(untouched.toImage(), face.toImage());
}

TEST_F(ExecutorPluginTest, NoTextAndNoPictureShowDefaultImage)
{
    Instance instance(m_library);
    const QImage expected = defaultImage(instance);
    ASSERT_EQ(expected.size(), QSize(96, 96));

    instance.set("Text", "");
    instance.set("ImagePath", "");
    EXPECT_EQ(paintOnce(instance).toImage(), expected);

    // Pictures that cannot be shown fall back the same way: a missing file, a file that is not a
    // picture, and a picture far too wide to decode.
    const std::string notPicture = m_dir.filePath(QStringLiteral("notes.png")).toStdString();
    FILE *file = std::fopen(notPicture.c_str(), "wb");
    ASSERT_TRUE(file);
    std::fputs("this is not a picture\n", file);
    std::fclose(file);
    const std::string huge = executor_test::writePng(m_dir.path(), "wide.png", 20000, 4, Qt::red);
    for (const std::string &path : {std::string("/nonexistent/picture.png"), notPicture, huge}) {
        instance.set("ImagePath", path.c_str());
        EXPECT_EQ(paintOnce(instance).toImage(), expected) << path;
    }
}

TEST_F(ExecutorPluginTest, LocalPictureFillsTheFaceOrTheSpaceAboveTheText)
{
    const std::string path = executor_test::writePng(m_dir.path(), "red.png", 40, 30, Qt::red);
    Instance instance(m_library);
    instance.set("ImagePath", path.c_str());
    instance.set("Text", "");
    Face alone = paintOnce(instance);
    EXPECT_EQ(alone.rgb(0, 0), 0xFF0000u);
    EXPECT_EQ(alone.rgb(95, 95), 0xFF0000u) << "stretched over the whole face";

    // With one line of the large font the text sits at the bottom (y = 96 - 20) and the picture
    // fills the 74 rows above it.
    instance.set("Text", "Ctrl+C");
    Face both = paintOnce(instance);
    EXPECT_EQ(both.rgb(48, 0), 0xFF0000u);
    EXPECT_EQ(both.rgb(48, 73), 0xFF0000u);
    EXPECT_EQ(both.rgb(0, 74), 0u);
    EXPECT_EQ(both.rgb(0, 75), 0u);
    const executor_test::Box text = litBox(both, 74, 95);
    ASSERT_FALSE(text.empty());
    EXPECT_GE(text.top, 76);
}

TEST_F(ExecutorPluginTest, WebAddressIsLoadedAsWebImage)
{
    LocalHttpServer server;
    ASSERT_GT(server.port(), 0);
    server.answer("/green.png", 200, executor_test::pngBytes(8, 8, Qt::green), "image/png");
    server.answer("/missing.png", 404, "not here", "image/png");

    Instance instance(m_library);
    instance.set("Text", "");
    instance.set("ImagePath", server.url("/green.png").c_str());
    Face face = paintOnce(instance);
    EXPECT_EQ(server.requestCount("/green.png"), 1);
    EXPECT_EQ(face.rgb(48, 48), 0x00FF00u);

    // The same path again keeps the picture without a second download.
    instance.activate();
    EXPECT_EQ(instance.paint(face), 1);
    EXPECT_EQ(server.requestCount("/green.png"), 1);

    // A web address that fails is tried, then falls back to no picture.
    const QImage expected = defaultImage(instance);
    instance.set("ImagePath", server.url("/missing.png").c_str());
    EXPECT_EQ(paintOnce(instance).toImage(), expected);
    EXPECT_EQ(server.requestCount("/missing.png"), 1);
}

TEST_F(ExecutorPluginTest, PropertiesRoundTripAndUnknownNamesAreRefused)
{
    Instance instance(m_library);
    std::string name;
    EXPECT_EQ(instance.get(256, &name), "");
    EXPECT_EQ(name, "ImagePath");
    EXPECT_EQ(instance.get(257, &name), "Ctrl+C");
    EXPECT_EQ(name, "Text");
    const std::string storedDefault = instance.get(258, &name);
    EXPECT_EQ(name, "Hotkey");
    EXPECT_EQ(instance.get(259), "<none>");
    EXPECT_EQ(instance.get(255), "<none>");
    EXPECT_EQ(instance.get(512), "<none>");

    EXPECT_EQ(instance.set("Hotkey", "Ctrl+Alt+F5"), 1);
    const std::string stored = instance.get(258);
    EXPECT_NE(stored, storedDefault);

    // A restored value that does not parse keeps the shortcut; so does an unknown name.
    EXPECT_EQ(instance.set("Hotkey", "Ctrl+NoSuchKey+"), 1);
    EXPECT_EQ(instance.get(258), stored);
    EXPECT_EQ(instance.set("hotkey", "Ctrl+X"), 0);
    EXPECT_EQ(instance.set("TEXT", "x"), 0);
    EXPECT_EQ(instance.get(258), stored);
    EXPECT_EQ(instance.get(257), "Ctrl+C");

    // A stored value restores the same shortcut in a new instance.
    Instance restored(m_library);
    restored.set("Hotkey", stored.c_str());
    EXPECT_EQ(restored.get(258), stored);

    // Texts longer than the host's buffer are cut at a character boundary, still terminated.
    std::string longText;
    for (int i = 0; i < 200; ++i)
        longText += "\xC3\xA9"; // é, two bytes
    instance.set("Text", longText.c_str());
    const std::string cut = instance.get(257);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_EQ(cut, longText.substr(0, 254));
}

TEST_F(ExecutorPluginTest, UnknownPropertyNameLaysTheFaceOutFromTheCurrentValues)
{
    LocalHttpServer server;
    ASSERT_GT(server.port(), 0);
    server.answer("/blue.png", 200, executor_test::pngBytes(4, 4, Qt::blue), "image/png");
    Instance instance(m_library);
    instance.set("ImagePath", server.url("/blue.png").c_str());
    EXPECT_EQ(server.requestCount("/blue.png"), 0);
    EXPECT_EQ(instance.set("Refresh", ""), 0);
    EXPECT_EQ(server.requestCount("/blue.png"), 1) << "the picture is loaded by the unknown name";
    instance.activate();
    Face face;
    instance.paint(face);
    EXPECT_EQ(server.requestCount("/blue.png"), 1);
    EXPECT_EQ(face.rgb(48, 10), 0x0000FFu);
}

TEST_F(ExecutorPluginTest, InformationCodes)
{
    Instance instance(m_library);
    auto text = [&](int code) { return std::string(reinterpret_cast<const char *>(instance.info(code))); };
    EXPECT_EQ(text(PKX_INFO_IDENTIFIER), "bsp.hotkey.mfc5");
    EXPECT_EQ(text(PKX_INFO_NAME), "Hotkey");
    EXPECT_EQ(text(PKX_INFO_DESCRIPTION), "Sends specified hotkey.");
    EXPECT_FALSE(text(PKX_INFO_AUTHOR).empty());
    EXPECT_EQ(instance.info(PKX_INFO_HAS_PROPERTIES), 1);
    EXPECT_EQ(instance.info(PKX_INFO_PAINT_PERIOD), 0);
    EXPECT_EQ(instance.info(PKX_INFO_FUNCTION_COUNT), 0);
    EXPECT_EQ(instance.info(PKX_INFO_HAS_LIBRARY_PROPERTIES), 0);
    EXPECT_EQ(instance.info(9999), 0);
    for (auto [code, size] : {std::pair{PKX_INFO_SMALL_ICON, 16}, {PKX_INFO_LARGE_ICON, 32}, {PKX_INFO_PREVIEW, 96}}) {
        auto *image = reinterpret_cast<PkxImage *>(instance.info(code));
        ASSERT_NE(image, nullptr) << code;
        EXPECT_EQ(image->width, size);
        EXPECT_EQ(image->height, size);
        bool visible = false;
        for (int i = 3; i < image->stride * image->height; i += 4)
            visible = visible || image->pixels[i] != 0;
        EXPECT_TRUE(visible) << code;
        pkx_image_free(image);
    }
}

TEST_F(ExecutorPluginTest, PropertiesDialogNeedsAWidgetApplication)
{
    // This process runs a plain QGuiApplication, as a command-line host does: no dialog, no change.
    Instance instance(m_library);
    EXPECT_EQ(instance.ops().ShowProperties(instance.get(), nullptr), 0);
    EXPECT_EQ(instance.get(257), "Ctrl+C");
}

TEST_F(ExecutorPluginTest, SlowDownloadDoesNotBlockTheMainThread)
{
    LocalHttpServer server;
    ASSERT_GT(server.port(), 0);
    server.answer("/slow.png", HttpAnswer::whenReleased(HttpAnswer::text(200, executor_test::pngBytes(4, 4, Qt::yellow), "image/png")));
    Instance instance(m_library);
    instance.set("ImagePath", server.url("/slow.png").c_str());
    instance.activate();

    Face face;
    std::thread painter([&] { instance.paint(face); });
    ASSERT_TRUE(server.waitForHeld("/slow.png", std::chrono::seconds(20)));
    // The paint thread is inside the download now; property calls still get through. Were the
    // lock held across the download, they would wait until the server is released below.
    std::future<std::string> text = std::async(std::launch::async, [&] {
        instance.set("Text", "Yellow");
        return instance.get(257);
    });
    const bool answeredDuringDownload = text.wait_for(std::chrono::seconds(15)) == std::future_status::ready;
    server.release();
    painter.join();
    EXPECT_TRUE(answeredDuringDownload);
    EXPECT_EQ(text.get(), "Yellow");
    EXPECT_EQ(face.rgb(48, 10), 0xFFFF00u);
}

TEST_F(ExecutorPluginTest, PaintAndPropertyChangesFromTwoThreads)
{
    const std::string red = executor_test::writePng(m_dir.path(), "r.png", 6, 6, Qt::red);
    const std::string blue = executor_test::writePng(m_dir.path(), "b.png", 6, 6, Qt::blue);
    Instance instance(m_library);
    std::atomic<bool> stop{false};
    std::thread painter([&] {
        Face face;
        for (int i = 0; i < 400 && !stop; ++i) {
            instance.activate();
            instance.paint(face);
            instance.ops().OnKeyDown(instance.get()); // no display here: sending fails quietly
        }
    });
    for (int i = 0; i < 200; ++i) {
        instance.set("ImagePath", (i % 2 ? red : blue).c_str());
        instance.set("Text", i % 3 ? "Ctrl+Alt+Shift+F12" : "");
        instance.set("Other", "");
        instance.get(256);
        instance.get(258);
    }
    stop = true;
    painter.join();

    // Whatever interleaving happened, the last values win.
    instance.activate();
    Face face;
    EXPECT_EQ(instance.paint(face), 1);
    EXPECT_EQ(face.rgb(48, 5), 0xFF0000u);
}

TEST_F(ExecutorPluginTest, CreateAndDeleteAcceptEveryFunctionNumberAndNull)
{
    for (int function : {0, 1, 2, -1}) {
        PkxPlugin *object = m_library.create(&m_library.module, function);
        ASSERT_NE(object, nullptr);
        m_library.destroy(object);
    }
    m_library.destroy(nullptr);
}

} // namespace
