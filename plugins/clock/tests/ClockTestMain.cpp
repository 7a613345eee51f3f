// Test entry for the clock's Qt-dependent tests: the text renderer and the dialog need an
// application object, run off-screen.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The weather host of the developer's own environment must not leak into the tests.
    unsetenv("PIXKEY_CLOCK_WEATHER_HOST");
    unsetenv("PIXKEY_CLOCK_FORECAST_URL");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
