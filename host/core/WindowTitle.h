#pragma once

#include <QString>

namespace pixkey {

class AppCore;

// The program's window title and tray tip: "Pixkey mini Configurator", with the version and
// " beta" when `withVersion`, and the keypad's profile in parentheses when there is one.
// Any thread (reads the core's profile suffix: main thread).
class WindowTitle {
public:
    static QString title(const AppCore &core, bool withVersion);
    static QString title(const QString &profileSuffix, bool withVersion);
    // A file version "1, 2, 0, 7" or "1.2.0.7" as shown: dots, no blanks, cut before the last dot
    // ("1.2.0"); empty stays empty.
    static QString versionText(const QString &fileVersion);
    // The program's own version text (from the project version with a build number of 0).
    static QString programVersion();
};

} // namespace pixkey
