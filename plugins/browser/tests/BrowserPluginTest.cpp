// The plug-in object without a web engine: what it tells the host, and a key whose engine cannot
// run (here: no widget application and no engine file) shows so once instead of failing.
#include "BrowserPlugin.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <string>

using browser::BrowserPlugin;

TEST(BrowserPlugin, DescribesItself)
{
    BrowserPlugin describing(nullptr, 0);
    auto text = [&](int code) { return std::string(reinterpret_cast<const char *>(describing.GetInfo(code))); };
    EXPECT_EQ(text(0), "prt.browser.mfc5");
    EXPECT_EQ(text(1), "Browser");
    EXPECT_EQ(text(2), "MSIE on button.");
    EXPECT_FALSE(text(3).empty());
    EXPECT_EQ(describing.GetInfo(11), 0) << "the host's 300 ms period applies";
    EXPECT_EQ(describing.GetInfo(255), 1);
    EXPECT_EQ(describing.GetInfo(10), 0);
    for (const auto &[code, side] : {std::pair{20, 16}, std::pair{21, 32}, std::pair{22, 96}}) {
        auto *image = reinterpret_cast<PkxImage *>(describing.GetInfo(code));
        ASSERT_NE(image, nullptr) << code;
        EXPECT_EQ(image->width, side);
        EXPECT_EQ(image->height, side);
        pkx_image_free(image);
    }
    // The describing object never starts a page.
    EXPECT_EQ(describing.OnEvent(PKX_EVENT_ACTIVATE), 1);
    std::uint8_t bits[96 * 288] = {};
    PkxSurface surface{bits, 96, 96, 288};
    EXPECT_EQ(describing.Paint(surface), 0);
}

TEST(BrowserPlugin, KeyWithoutAWebEngineSaysSoOnce)
{
    BrowserPlugin key(nullptr, 1);
    key.SetProperty("URL", "http://127.0.0.1:1/");
    EXPECT_EQ(key.OnEvent(PKX_EVENT_ACTIVATE), 1);
    QImage face(96, 96, QImage::Format_BGR888);
    PkxSurface surface{face.bits(), 96, 96, static_cast<int>(face.bytesPerLine())};
    EXPECT_EQ(key.Paint(surface), 1);
    EXPECT_EQ(face.pixelColor(95, 95), QColor(77, 0, 0));
    EXPECT_EQ(key.Paint(surface), 0);
    key.OnKeyDown(); // nothing to open, nothing breaks
    EXPECT_EQ(key.OnEvent(PKX_EVENT_DEACTIVATE), 1);
    // Settings survive all of it.
    char name[256] = {}, value[256] = {};
    ASSERT_EQ(key.GetProperty(258, name, value), 1);
    EXPECT_STREQ(value, "http://127.0.0.1:1/");
    // No widget application: no dialog either.
    EXPECT_EQ(key.ShowProperties(nullptr), 0);
}
