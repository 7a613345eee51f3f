// DesktopApplications: the applications a layout can be made for, read from the desktop entries
// ("applications/*.desktop") of the XDG data folders: one row per executable, named by its entry,
// with the entry's icon. An entry whose program cannot be found on disk is left out; an entry in an
// earlier folder hides one with the same file name in a later folder, as desktops do.
//
// Reads files; [any-thread], no shared state.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace pixkey {

class DesktopApplications {
public:
    struct Row {
        QString name; // display name
        QString path; // full path of the executable
        QString icon; // theme icon name or picture file; may be empty
    };

    // Every application of the folders, one row per executable (by canonical path, then by name
    // without regard to case; the first wins), sorted by name without regard to case.
    // `searchPath`: the PATH used to find programs named without a folder.
    static std::vector<Row> scan(const QStringList &dataDirs, const QString &searchPath);
    // $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
    static QStringList standardDataDirs();
    static QString standardSearchPath();

    // The executable an Exec line starts (quotes, "env VAR=value" prefixes and PATH resolved);
    // empty when it names nothing that exists and can be run.
    static QString resolveExec(const QString &exec, const QString &searchPath);
    // The [Desktop Entry] group of a file as key=value pairs (unlocalised keys only); false when the
    // file cannot be read or has no such group.
    static bool readEntry(const QString &file, Row &row, bool &visible);
    // Splits an Exec value into arguments (double quotes and backslash escapes).
    static QStringList splitExec(const QString &exec);
};

} // namespace pixkey
