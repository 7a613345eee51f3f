#include "DesktopApplications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace pixkey {

namespace {

constexpr qint64 kMaxEntrySize = 1 << 20; // a desktop entry is a few kilobytes; refuse oddities

QString findOnPath(const QString &program, const QString &searchPath)
{
    for (const QString &folder : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QFileInfo candidate(QDir(folder).filePath(program));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return QString();
}

} // namespace

QStringList DesktopApplications::standardDataDirs()
{
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    dirs << home;
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    dirs << system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

QString DesktopApplications::standardSearchPath()
{
    const QString path = qEnvironmentVariable("PATH");
    return path.isEmpty() ? QStringLiteral("/usr/local/bin:/usr/bin:/bin") : path;
}

QStringList DesktopApplications::splitExec(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool quoted = false, any = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            any = true;
        } else if (c.isSpace()) {
            if (any || !current.isEmpty())
                arguments << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        arguments << current;
    return arguments;
}

QString DesktopApplications::resolveExec(const QString &exec, const QString &searchPath)
{
    QStringList arguments = splitExec(exec);
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("env")) {
        arguments.removeFirst();
        while (!arguments.isEmpty() && arguments.first().contains(QLatin1Char('=')))
            arguments.removeFirst();
    }
    if (arguments.isEmpty() || arguments.first().startsWith(QLatin1Char('%')))
        return QString();
    const QString program = arguments.first();
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isAbsolute() && info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return findOnPath(program, searchPath);
}

bool DesktopApplications::readEntry(const QString &file, Row &row, bool &visible)
{
    QFile in(file);
    if (in.size() > kMaxEntrySize || !in.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&in);
    bool inGroup = false, found = false;
    QString exec, type;
    visible = true;
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            found = found || inGroup;
            continue;
        }
        if (!inGroup || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Name"))
            row.name = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("Icon"))
            row.icon = value;
        else if (key == QLatin1String("Type"))
            type = value;
        else if ((key == QLatin1String("NoDisplay") || key == QLatin1String("Hidden")) && value == QLatin1String("true"))
            visible = false;
    }
    if (!type.isEmpty() && type != QLatin1String("Application"))
        visible = false;
    row.path = exec; // the caller resolves it
    return found;
}

std::vector<DesktopApplications::Row> DesktopApplications::scan(const QStringList &dataDirs, const QString &searchPath)
{
    std::vector<Row> rows;
    QSet<QString> seenIds, seenPaths, seenNames;
    for (const QString &dataDir : dataDirs) {
        const QDir folder(QDir(dataDir).filePath(QStringLiteral("applications")));
        if (!folder.exists())
            continue;
        const QStringList files = folder.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable, QDir::Name);
        for (const QString &fileName : files) {
            if (seenIds.contains(fileName))
                continue; // hidden by an entry of an earlier folder
            seenIds.insert(fileName);
            Row row;
            bool visible = true;
            if (!readEntry(folder.filePath(fileName), row, visible) || !visible || row.name.isEmpty())
                continue;
            const QString program = resolveExec(row.path, searchPath);
            if (program.isEmpty())
                continue;
            const QString canonical = QFileInfo(program).canonicalFilePath();
            row.path = program;
            if (seenPaths.contains(canonical) || seenNames.contains(row.name.toCaseFolded()))
                continue;
            seenPaths.insert(canonical);
            seenNames.insert(row.name.toCaseFolded());
            rows.push_back(row);
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return rows;
}

} // namespace pixkey
