// Downloads and web pictures against a local server on 127.0.0.1.
#include <pixkey/test/LocalHttpServer.h>
#include <pixkey/utility/CWebFile.h>
#include <pixkey/utility/CWebImage.h>

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace std::chrono_literals;
using pixkey::CWebFile;
using pixkey::CWebImage;
using pixkey::test::HttpAnswer;
using pixkey::test::HttpRequest;
using pixkey::test::LocalHttpServer;

namespace {

std::string pngBytes(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class WebFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // A proxy from the environment must not take the loopback requests elsewhere.
        ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    }

    void SetUp() override
    {
        server.answer("/ok", 200, "hello world");
        server.answer("/auth", 401, "no");
        server.answer("/error", 500, "boom");
        server.answer("/missing", 404, "");
        server.answer("/redirect", HttpAnswer::redirect("/ok"));
        server.answer("/to-file", HttpAnswer::redirect("file:///etc/hostname"));
        server.answer("/binary", 200, std::string("a\0b\0c", 5));
        server.answer("/picture.png", 200, pngBytes(40, 20, Qt::red), "image/png");
        server.answer("/not-a-picture.png", 200, "<html>not a picture</html>", "image/png");
        // Headers and part of the body sent, then silence until the server stops: only the
        // time-out can end it.
        HttpAnswer slow = HttpAnswer::text(200, "partial");
        slow.contentLength = 100;
        slow.hang = HttpAnswer::Hang::AfterBody;
        server.answer("/slow", slow);
        // No answer at all until the server stops.
        server.answer("/silent", HttpAnswer::hanging());
        // An endless body without a length, streamed until the client gives up.
        server.answer("/endless", HttpAnswer::endlessBody());
        server.answer("/large", 200, std::string(64 * 1024, 'y'));
        server.route("/basic", [](const HttpRequest &request) {
            // "user:secret" in base64.
            return request.header("Authorization") == "Basic dXNlcjpzZWNyZXQ=" ? HttpAnswer::text(200, "in")
                                                                                : HttpAnswer::text(401, "");
        });
    }

    LocalHttpServer server;
};

TEST_F(WebFileTest, SuccessfulAnswerIsTerminatedAndOwned)
{
    CWebFile file;
    ASSERT_TRUE(file.Retrieve(server.url("/ok").c_str(), nullptr, nullptr));
    EXPECT_EQ(file.status, 200);
    ASSERT_NE(file.data, nullptr);
    EXPECT_EQ(file.size, 11u);
    EXPECT_STREQ(file.data, "hello world");

    // Bodies with NULs keep their full size; the terminator comes after them.
    ASSERT_TRUE(file.Retrieve(server.url("/binary").c_str()));
    ASSERT_EQ(file.size, 5u);
    EXPECT_EQ(std::memcmp(file.data, "a\0b\0c", 6), 0);
}

TEST_F(WebFileTest, HttpErrorsFailWithTheirStatusAndNoData)
{
    CWebFile file;
    ASSERT_TRUE(file.Retrieve(server.url("/ok").c_str()));
    const struct {
        const char *path;
        int status;
    } cases[] = {{"/auth", 401}, {"/error", 500}, {"/missing", 404}, {"/unknown-route", 404}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(file.Retrieve(server.url(c.path).c_str()));
        EXPECT_EQ(file.status, c.status);
        EXPECT_EQ(file.data, nullptr); // the previous document is gone
        EXPECT_EQ(file.size, 0u);
    }
}

TEST_F(WebFileTest, RedirectsAreFollowedOnlyToWebAddresses)
{
    CWebFile file;
    ASSERT_TRUE(file.Retrieve(server.url("/redirect").c_str()));
    EXPECT_EQ(file.status, 200);
    EXPECT_STREQ(file.data, "hello world");

    // A server must not be able to make us read a local file.
    EXPECT_FALSE(file.Retrieve(server.url("/to-file").c_str()));
    EXPECT_EQ(file.data, nullptr);
}

TEST_F(WebFileTest, NoListenerAndNonWebAddressesGive900)
{
    CWebFile file;
    const std::string closed = "http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort()) + "/";
    EXPECT_FALSE(file.Retrieve(closed.c_str()));
    EXPECT_EQ(file.status, CWebFile::kStatusNoConnection);
    EXPECT_EQ(file.data, nullptr);

    for (const char *url : {"", "file:///etc/hostname", "/etc/hostname", "ftp://127.0.0.1/x", "not a url"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(file.Retrieve(url));
        EXPECT_EQ(file.status, 900);
    }
    EXPECT_FALSE(file.Retrieve(nullptr));
    EXPECT_EQ(file.status, 900);
}

TEST_F(WebFileTest, StalledServersAreCutOffByTheTimeOut)
{
    CWebFile file;
    file.setTimeouts(2000ms, 300ms);
    EXPECT_FALSE(file.Retrieve(server.url("/slow").c_str()));
    EXPECT_EQ(file.status, 200); // the status line arrived, the body never did
    EXPECT_EQ(file.data, nullptr);

    EXPECT_FALSE(file.Retrieve(server.url("/silent").c_str()));
    EXPECT_EQ(file.status, 900);
}

TEST_F(WebFileTest, AnswersOverTheSizeLimitAreRefused)
{
    CWebFile file;
    file.setMaxSize(32 * 1024);
    file.setTimeouts(5000ms, 20000ms); // the endless body must end by the size limit, not the clock
    EXPECT_FALSE(file.Retrieve(server.url("/endless").c_str()));
    EXPECT_EQ(file.data, nullptr);
    EXPECT_FALSE(file.Retrieve(server.url("/large").c_str())); // announced length over the limit
    EXPECT_EQ(file.data, nullptr);

    file.setMaxSize(64 * 1024); // exactly the size fits
    ASSERT_TRUE(file.Retrieve(server.url("/large").c_str()));
    EXPECT_EQ(file.size, 64u * 1024);
}

TEST_F(WebFileTest, CredentialsAreSentAsBasicAuthentication)
{
    CWebFile file;
    EXPECT_FALSE(file.Retrieve(server.url("/basic").c_str(), nullptr, nullptr));
    EXPECT_EQ(file.status, 401);
    ASSERT_TRUE(file.Retrieve(server.url("/basic").c_str(), "user", "secret"));
    EXPECT_STREQ(file.data, "in");
}

TEST_F(WebFileTest, SeveralThreadsDownloadAtOnce)
{
    constexpr int kThreads = 4;
    int successes[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                CWebFile file;
                if (file.Retrieve(server.url(i % 2 ? "/ok" : "/redirect").c_str()) && std::strcmp(file.data, "hello world") == 0)
                    ++successes[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(successes[t], 5) << "thread " << t;
}

TEST_F(WebFileTest, WebImageDownloadsAndDecodes)
{
    CWebImage image;
    ASSERT_TRUE(image.Load(server.url("/picture.png").c_str()));
    EXPECT_EQ(image.GetWidth(), 40);
    EXPECT_EQ(image.GetHeight(), 20);
    ASSERT_NE(image.bits, nullptr);
    EXPECT_EQ(image.bits[2], 255); // red, in B, G, R, A order
    EXPECT_EQ(image.bits[0], 0);
    EXPECT_TRUE(image.Fit(96, 96));
    EXPECT_EQ(image.GetWidth(), 96);
    EXPECT_EQ(image.GetHeight(), 48);
}

TEST_F(WebFileTest, WebImageFailsOnNonAddressesAndBadAnswers)
{
    CWebImage image;
    EXPECT_FALSE(image.Load(server.url("/not-a-picture.png").c_str()));
    EXPECT_EQ(image.bits, nullptr);
    EXPECT_FALSE(image.Load(server.url("/error").c_str()));
    EXPECT_EQ(image.webFile().status, 500);

    // A local file is not an address: the caller falls back to a plain file picture.
    const std::string path = ::testing::TempDir() + "/utility_local.png";
    QImage(4, 4, QImage::Format_RGB32).save(QString::fromStdString(path));
    EXPECT_FALSE(image.Load(path.c_str()));
    pixkey::CFileImage local;
    EXPECT_TRUE(local.Load(path.c_str()));
}

} // namespace
