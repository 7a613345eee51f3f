// Test entry for the feed tests that draw text or show the dialog: an application object on the
// offscreen platform, as the host provides a real one.
#include "FeedRunner.hpp"

#include <QApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        // Workers a test left to finish a download unattended end before the application object
        // goes, as the host outlives them: a test that stopped its server ended their downloads.
        for (int i = 0; i < 2000 && pixkey::rss::FeedRunner::liveWorkers() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (pixkey::rss::FeedRunner::liveWorkers() > 0) {
            std::fprintf(stderr, "rss tests: %d feed workers still running at exit\n",
                         pixkey::rss::FeedRunner::liveWorkers());
            result = 1;
        }
    }
    return result;
}
