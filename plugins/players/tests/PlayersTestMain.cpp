// The tests' main: the QGuiApplication the plug-in expects from its host (fonts, the bus thread),
// on the offscreen platform.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
