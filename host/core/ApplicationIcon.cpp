#include "ApplicationIcon.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace pixkey {

namespace {

constexpr qint64 kMaxDesktopFileBytes = 64 * 1024;
constexpr int kMaxDesktopFiles = 5000;

struct DesktopEntry {
    QString exec;
    QString tryExec;
    QString icon;
};

DesktopEntry readDesktopEntry(const QString &path)
{
    DesktopEntry entry;
    QFile file(path);
    if (file.size() > kMaxDesktopFileBytes || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QStringLiteral("Exec"))
            entry.exec = value;
        else if (key == QStringLiteral("TryExec"))
            entry.tryExec = value;
        else if (key == QStringLiteral("Icon"))
            entry.icon = value;
    }
    return entry;
}

// The program an Exec line starts, without quotes and arguments.
QString execProgram(const QString &exec)
{
    QString program = exec.trimmed();
    if (program.startsWith(QLatin1Char('"'))) {
        const qsizetype end = program.indexOf(QLatin1Char('"'), 1);
        return end > 0 ? program.mid(1, end - 1) : program.mid(1);
    }
    return program.section(QLatin1Char(' '), 0, 0);
}

bool runs(const QString &program, const QString &executablePath, const QString &fileName)
{
    if (program.isEmpty())
        return false;
    if (program.contains(QLatin1Char('/')))
        return program == executablePath;
    return program.compare(fileName, Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList ApplicationIcon::standardDataDirs()
{
    return QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
}

QString ApplicationIcon::find(const QString &executablePath, const QStringList &dataDirs)
{
    const QString fileName = executablePath.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    if (fileName.isEmpty())
        return QString();
    int seen = 0;
    for (const QString &dir : dataDirs) {
        QDirIterator it(dir + QStringLiteral("/applications"), {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && seen++ < kMaxDesktopFiles) {
            const DesktopEntry entry = readDesktopEntry(it.next());
            if (entry.icon.isEmpty())
                continue;
            if (runs(execProgram(entry.exec), executablePath, fileName) ||
                runs(entry.tryExec, executablePath, fileName))
                return entry.icon;
        }
    }
    // No desktop entry: an icon named after the program, where the icon folders have one.
    const QString &base = fileName;
    for (const QString &dir : dataDirs) {
        for (const char *suffix : {".png", ".svg", ".xpm"}) {
            const QString pixmap = dir + QStringLiteral("/pixmaps/") + base + QLatin1String(suffix);
            if (QFileInfo::exists(pixmap))
                return pixmap;
        }
        QDirIterator themed(dir + QStringLiteral("/icons/hicolor"),
                            {base + QStringLiteral(".png"), base + QStringLiteral(".svg")}, QDir::Files,
                            QDirIterator::Subdirectories);
        if (themed.hasNext())
            return base;
    }
    return QString();
}

} // namespace pixkey
