// pixkey-virtual-keypad: a keypad on the screen. Prints the link path to hand to the host as
// PIXKEY_PORT and shows the keypad until the window is closed or the process gets SIGINT/SIGTERM.
// With --snapshot, SIGUSR1 writes a picture of the window to that file (for headless machines).
//
//   pixkey-virtual-keypad [--orientation 0..3] [--link PATH] [--snapshot FILE.png]

#include "VirtualKeypadWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

int g_signalPipe[2] = {-1, -1};

// The handler only writes which signal came; the event loop does the work.
void onSignal(int signal)
{
    const char byte = signal == SIGUSR1 ? 'S' : 'Q';
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pixkey-virtual-keypad"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A Pixkey mini three keypad on the screen, reached over a pseudo-terminal."));
    parser.addHelpOption();
    const QCommandLineOption orientationOption(QStringLiteral("orientation"),
        QStringLiteral("Keypad orientation 0..3 (0, 1 horizontal; 2, 3 vertical)."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Where to make the keypad's link (default: a private temporary folder)."), QStringLiteral("path"));
    const QCommandLineOption snapshotOption(QStringLiteral("snapshot"),
        QStringLiteral("On SIGUSR1, write a picture of the window to this PNG file."), QStringLiteral("file"));
    parser.addOption(orientationOption);
    parser.addOption(linkOption);
    parser.addOption(snapshotOption);
    parser.process(app);

    bool ok = false;
    const int orientation = parser.value(orientationOption).toInt(&ok);
    if (!ok || orientation < 0 || orientation > 3) {
        std::fprintf(stderr, "pixkey-virtual-keypad: orientation must be 0, 1, 2 or 3\n");
        return 2;
    }

    pixkey::VirtualKeypadWindow window(parser.value(linkOption));
    window.setOrientation(orientation);
    QString error;
    if (!window.start(&error)) {
        std::fprintf(stderr, "pixkey-virtual-keypad: %s\n", qPrintable(error));
        return 1;
    }

    // Signals end the event loop, so the window and its link are cleaned up on the way out.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        const QString snapshot = parser.value(snapshotOption);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&window, snapshot] {
            char byte = 0;
            if (::read(g_signalPipe[0], &byte, 1) != 1 || byte == 'Q') {
                QApplication::quit();
                return;
            }
            window.refresh();
            if (!window.grab().save(snapshot))
                std::fprintf(stderr, "pixkey-virtual-keypad: cannot write %s\n", qPrintable(snapshot));
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        if (!snapshot.isEmpty())
            ::sigaction(SIGUSR1, &action, nullptr);
    }

    const QByteArray path = window.linkPath().toLocal8Bit();
    std::printf("%s\n", path.constData());
    std::printf("Drive it from another terminal, for example:\n  PIXKEY_PORT=%s pixkeyctl run Vegas.pkx Vegas.pkx Vegas.pkx\n",
                path.constData());
    std::fflush(stdout);

    window.resize(window.sizeHint());
    window.show();
    const int result = app.exec();
    window.stop();
    return result;
}
