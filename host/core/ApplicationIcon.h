#pragma once

#include <QString>
#include <QStringList>

namespace pixkey {

// Finds the icon of an application layout's executable: the Icon of the desktop entry that runs
// it, else a themed or pixmap icon named after the executable. The result is an icon name or a
// file path for the user interface to draw; empty when nothing is found. Main thread; reads files.
class ApplicationIcon {
public:
    // `dataDirs`: the XDG data folders to look in (default: the system's).
    static QString find(const QString &executablePath, const QStringList &dataDirs = standardDataDirs());
    static QStringList standardDataDirs();
};

} // namespace pixkey
