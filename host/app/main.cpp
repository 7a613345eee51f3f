// PixkeyMiniConfigurator: the tray program that drives the keypad.
//
//   PixkeyMiniConfigurator [minimized] [FILE.pkx ...] [--virtual-keypad] [--seed-demo]
//
// minimized         start with only the tray icon (any case, with or without dashes)
// FILE.pkx          install the plug-in file (also into the copies already running)
// --virtual-keypad  run a keypad on the screen in this process and drive it over the wire protocol
// --seed-demo       when the "Global" layout is empty, put three Vegas reels on its keys
#include "AppCore.h"
#include "ApplicationGraphics.h"
#include "ConfiguratorWindowAdapter.h"
#include "MainThreadEvent.h"
#include "Runtime.h"
#include "TerminationSignals.h"
#include "VirtualKeypadWindow.h"

#include <pixkey/utility/KeySending.h>

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    // Plug-ins that render web pages load their engine later, which needs shared OpenGL contexts
    // from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    pixkey::ApplicationGraphics graphics;
    QApplication app(argc, argv);
    graphics.applicationCreated();
    QApplication::setQuitOnLastWindowClosed(false);

    QStringList arguments = QApplication::arguments().mid(1);
    const bool virtualKeypad = arguments.removeAll(QStringLiteral("--virtual-keypad")) > 0;
    const bool seedDemo = arguments.removeAll(QStringLiteral("--seed-demo")) > 0;

    std::unique_ptr<pixkey::VirtualKeypadWindow> keypad;
    if (virtualKeypad) {
        keypad = std::make_unique<pixkey::VirtualKeypadWindow>();
        QString error;
        if (!keypad->start(&error)) {
            std::fprintf(stderr, "pixkey: the virtual keypad cannot start: %s\n", qPrintable(error));
            return 1;
        }
        // The device link reads the port when it is built.
        qputenv("PIXKEY_PORT", keypad->linkPath().toLocal8Bit());
        keypad->setWindowTitle(QStringLiteral("Pixkey mini three (virtual)"));
        keypad->show();
    }

    pixkey::Runtime *self = nullptr;
    pixkey::Runtime::Options options;
    options.arguments = arguments;
    options.exportOnBus = true;
    // Sending keys is the Utility library's; its report joins the hook's.
    options.moreCapabilities = [] { return pixkey::CapabilityReports{pixkey::KeySendingCapability()}; };
    options.window = [&self](pixkey::AppCore &core) -> std::unique_ptr<pixkey::RuntimeWindow> {
        return std::make_unique<pixkey::ConfiguratorWindowAdapter>(core, *self);
    };
    pixkey::Runtime runtime(std::move(options));
    self = &runtime;
    pixkey::TerminationSignals signals([&runtime](int) {
        runtime.post(new pixkey::MainThreadEvent(pixkey::PrivateMessage::Exit));
    });
    if (!runtime.start())
        return 0; // another copy runs and shows itself
    if (keypad)
        keypad->setOrientation(runtime.core().settings.value(pixkey::Settings::Orientation));
    if (seedDemo)
        runtime.seedDemo();
    return app.exec();
}
