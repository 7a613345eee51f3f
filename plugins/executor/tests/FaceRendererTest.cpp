// Text fitting and line breaking of the Hotkey face.
#include "FaceRenderer.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

using executor::FaceRenderer;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;
using executor_test::Face;
using executor_test::litBox;

namespace {

class ExecutorFaceRendererTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { executor_test::ensureApplication(true); }
    void SetUp() override { m_renderer.load(); }

    Face draw(const std::string &text)
    {
        m_renderer.layoutText(text);
        Face face;
        m_renderer.draw(*face.surface());
        return face;
    }

    FaceRenderer m_renderer;
};

TEST_F(ExecutorFaceRendererTest, TextPicksTheLargestFontThatFitsOrTwoLines)
{
    struct Case {
        const char *text;
        bool small;
        bool twoLines;
    };
    for (const Case &c : {Case{"Ctrl+C", false, false}, Case{"", false, false}, Case{"Ctrl+Alt+F12", false, false},
                          Case{"Ctrl+Shift+Num 5", true, false}, Case{"Win+Ctrl+Alt+Shift+PgDown", true, true}}) {
        m_renderer.layoutText(c.text);
        EXPECT_EQ(m_renderer.small(), c.small) << c.text;
        EXPECT_EQ(m_renderer.twoLines(), c.twoLines) << c.text;
        EXPECT_EQ(m_renderer.text(), c.text);
    }
}

TEST_F(ExecutorFaceRendererTest, OneLineEndsAtTheMiddleTwoLinesStartHigher)
{
    const executor_test::Box one = litBox(draw("Ctrl+Shift+Num 5"));
    ASSERT_TRUE(m_renderer.small());
    ASSERT_FALSE(one.empty());
    EXPECT_GE(one.top, 48 - 16);
    EXPECT_LE(one.bottom, 47);

    // Two lines: "Win+Ctrl+Alt+Shift" above, "PgDown" 15 pixels lower.
    const Face face = draw("Win+Ctrl+Alt+Shift+PgDown");
    ASSERT_TRUE(m_renderer.twoLines());
    const int lineHeight = m_renderer.small() ? 16 : 20;
    const int y = 48 - 2 * lineHeight;
    const executor_test::Box all = litBox(face);
    EXPECT_GE(all.top, y);
    EXPECT_LE(all.bottom, 47);
    const executor_test::Box second = litBox(face, y + 15 + lineHeight / 2, 47);
    ASSERT_FALSE(second.empty());
    EXPECT_LT(second.right - second.left, 70) << "only \"PgDown\" is on the second line";
}

TEST_F(ExecutorFaceRendererTest, TwoLinesBreakAtTheLastPlusThatIsNotTheKeyItself)
{
    EXPECT_EQ(FaceRenderer::lineBreak("Ctrl+Alt+Shift+F12"), 14u);
    EXPECT_EQ(FaceRenderer::lineBreak("Ctrl+Alt+Shift+Num +"), 14u);
    EXPECT_EQ(FaceRenderer::lineBreak("Ctrl++"), 4u);
    EXPECT_EQ(FaceRenderer::lineBreak("+"), std::string::npos);
    EXPECT_EQ(FaceRenderer::lineBreak("Ctrl+"), std::string::npos);
    EXPECT_EQ(FaceRenderer::lineBreak("no plus at all"), std::string::npos);
}

TEST_F(ExecutorFaceRendererTest, TextWithoutAFittingEndingOrPlusIsStillDrawn)
{
    const std::string word(40, 'W');
    const Face face = draw(word);
    EXPECT_TRUE(m_renderer.twoLines());
    EXPECT_FALSE(litBox(face).empty());

    // Multi-byte characters are dropped whole while fitting: no crash, no broken text.
    const Face accented = draw("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                               "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_FALSE(litBox(accented).empty());
}

TEST_F(ExecutorFaceRendererTest, LargePicturesAreKeptAtFaceSizeSmallOnesAsTheyAre)
{
    QTemporaryDir dir;
    const auto wide = FaceRenderer::loadPicture(executor_test::writePng(dir.path(), "w.png", 1000, 500, Qt::red));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->GetWidth(), 192);
    EXPECT_EQ(wide->GetHeight(), 96);
    const auto strip = FaceRenderer::loadPicture(executor_test::writePng(dir.path(), "s.png", 3000, 40, Qt::red));
    ASSERT_TRUE(strip);
    EXPECT_EQ(strip->GetWidth(), 3000);
    EXPECT_EQ(strip->GetHeight(), 40);
    EXPECT_FALSE(FaceRenderer::loadPicture(""));
    EXPECT_FALSE(FaceRenderer::loadPicture(dir.path().toStdString())) << "a folder is no picture";
}

TEST_F(ExecutorFaceRendererTest, SlowWebServerIsGivenUpAtTheRenderersTimeout)
{
    LocalHttpServer server;
    ASSERT_GT(server.port(), 0);
    server.answer("/slow.png", HttpAnswer::whenReleased(HttpAnswer::text(200, executor_test::pngBytes(4, 4, Qt::red), "image/png")));
    // The server holds the answer far longer than this renderer waits.
    m_renderer.setWebTimeouts(std::chrono::milliseconds(200), std::chrono::milliseconds(400));
    m_renderer.update(server.url("/slow.png"), "");
    server.release();
    EXPECT_EQ(server.requestCount("/slow.png"), 1);
    EXPECT_FALSE(m_renderer.hasPicture());
}

TEST_F(ExecutorFaceRendererTest, ResetDropsPictureAndTextSoTheNextUpdateReloads)
{
    QTemporaryDir dir;
    const std::string path = executor_test::writePng(dir.path(), "p.png", 3, 3, Qt::red);
    m_renderer.update(path, "x");
    EXPECT_TRUE(m_renderer.hasPicture());
    EXPECT_TRUE(m_renderer.holdsPictureFor(path));
    m_renderer.reset();
    EXPECT_FALSE(m_renderer.hasPicture());
    EXPECT_FALSE(m_renderer.holdsPictureFor(path));
    EXPECT_EQ(m_renderer.text(), "");
    m_renderer.update(path, "");
    EXPECT_TRUE(m_renderer.hasPicture());
}

} // namespace
