// The X11 platform is told to go without OpenGL only while the application is made: programs the
// plug-ins start must not inherit that, and a choice of the user's stays as it is.
#include "ApplicationGraphics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::optional<std::string> variable()
{
    const char *value = std::getenv("QT_XCB_GL_INTEGRATION");
    return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(ApplicationGraphicsTest, LeavesOpenGlOutOnlyWhileTheApplicationIsMadeAndKeepsTheUsersChoice)
{
    ::unsetenv("QT_XCB_GL_INTEGRATION");
    {
        pixkey::ApplicationGraphics graphics;
        EXPECT_EQ(variable(), "none");
        graphics.applicationCreated();
        EXPECT_EQ(variable(), std::nullopt);
        graphics.applicationCreated(); // a second call changes nothing
        EXPECT_EQ(variable(), std::nullopt);
    }

    ::setenv("QT_XCB_GL_INTEGRATION", "xcb_glx", 1);
    {
        pixkey::ApplicationGraphics graphics;
        EXPECT_EQ(variable(), "xcb_glx");
        graphics.applicationCreated();
        EXPECT_EQ(variable(), "xcb_glx");
    }
    ::unsetenv("QT_XCB_GL_INTEGRATION");
}

} // namespace
