#pragma once
// ApplicationGraphics: what the host's programs (the configurator, pixkeyctl run) set up around the
// creation of their QApplication. Main thread only, before and right after the QApplication.
//
// The programs share OpenGL contexts because plug-ins that render web pages need that, and with it
// Qt's X11 platform makes a global OpenGL context as the application starts. Nothing here draws
// with OpenGL (web pages are drawn by Qt Quick's software back end), yet that context loads the
// OpenGL driver: with a software driver some 50 MB of resident memory, half of the program's.
// So the X11 platform is told to go without OpenGL, unless the user set QT_XCB_GL_INTEGRATION.
// The variable is removed again once the application exists, so that programs the plug-ins start
// (a key that launches a Qt application) keep their OpenGL.

#include <QByteArray>
#include <QtGlobal>

namespace pixkey {

class ApplicationGraphics {
public:
    // Call before the QApplication is made.
    ApplicationGraphics()
    {
        if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")) {
            qputenv("QT_XCB_GL_INTEGRATION", QByteArray("none"));
            m_set = true;
        }
    }
    // Call once the QApplication exists: its platform has read the variable.
    void applicationCreated()
    {
        if (m_set)
            qunsetenv("QT_XCB_GL_INTEGRATION");
        m_set = false;
    }

private:
    bool m_set = false;
};

} // namespace pixkey
