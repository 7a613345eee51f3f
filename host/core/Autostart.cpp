#include "Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace pixkey {

namespace {

const QString kConfiguratorName = QStringLiteral("PixkeyMiniConfigurator");
constexpr qint64 kMaxEntryBytes = 64 * 1024;

QString defaultConfigHome()
{
    const QByteArray env = qgetenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored, as XDG base directories are.
    if (!env.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(env)))
        return QString::fromLocal8Bit(env);
    return QDir::homePath() + QStringLiteral("/.config");
}

QString defaultConfigurator()
{
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QFileInfo(exe).absolutePath() + QLatin1Char('/') + kConfiguratorName;
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace

Autostart::Autostart(QString configHome, QString configurator)
    : m_configHome(configHome.isEmpty() ? defaultConfigHome() : std::move(configHome)),
      m_configurator(configurator.isEmpty() ? defaultConfigurator() : std::move(configurator))
{
}

QString Autostart::entryPath() const
{
    return m_configHome + QStringLiteral("/autostart/") + QLatin1String(kEntryName);
}

bool Autostart::isEnabled() const
{
    QFile file(entryPath());
    if (file.size() > kMaxEntryBytes || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool mainGroup = false;
    bool sawGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            mainGroup = line == QStringLiteral("[Desktop Entry]");
            sawGroup = sawGroup || mainGroup;
            continue;
        }
        if (!mainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QStringLiteral("Hidden") && value == QStringLiteral("true"))
            return false;
        if (key == QStringLiteral("X-GNOME-Autostart-enabled") && value == QStringLiteral("false"))
            return false;
    }
    // A file without the main group is no entry a desktop would start.
    return sawGroup;
}

QString Autostart::quoteExecArgument(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (const QChar c : path)
        quote = quote || reserved.contains(c);
    QString arg;
    if (quote) {
        arg = QStringLiteral("\"");
        for (const QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                arg += QLatin1Char('\\');
            arg += c;
        }
        arg += QLatin1Char('"');
    } else {
        arg = path;
    }
    // Field codes start with '%'; a literal one is doubled. Then the value's own escaping, where a
    // backslash is written twice.
    arg.replace(QLatin1Char('%'), QStringLiteral("%%"));
    arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return arg;
}

QString Autostart::execCommand() const
{
    const QString onPath = QStandardPaths::findExecutable(kConfiguratorName);
    const QString self = QFileInfo(m_configurator).canonicalFilePath();
    if (!onPath.isEmpty() && !self.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self)
        return kConfiguratorName;
    return quoteExecArgument(QFileInfo(m_configurator).absoluteFilePath());
}

bool Autostart::enable(QString *error) const
{
    const auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo program(m_configurator);
    if (!program.isFile() || !program.isExecutable())
        return failed(QStringLiteral("the program to start is missing: ") + m_configurator);
    if (hasControlCharacter(program.absoluteFilePath()))
        return failed(QStringLiteral("the program's path cannot be written into a desktop entry: ") + m_configurator);
    const QString folder = QFileInfo(entryPath()).absolutePath();
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("cannot create ") + folder);

    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return failed(QStringLiteral("cannot write ") + entryPath() + QStringLiteral(": ") + file.errorString());
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pixkey mini Configurator\n"
                                        "Comment=Keeps the keys of the Pixkey mini three keypad fed with faces\n"
                                        "Exec=") +
                         execCommand() +
                         QStringLiteral(" minimized\n"
                                        "Icon=pixkey-mini\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    file.write(text.toUtf8());
    if (!file.commit())
        return failed(QStringLiteral("cannot write ") + entryPath() + QStringLiteral(": ") + file.errorString());
    return true;
}

bool Autostart::disable(QString *error) const
{
    QFile file(entryPath());
    if (!file.exists() && !QFileInfo(entryPath()).isSymLink())
        return true;
    if (!file.remove()) {
        if (error)
            *error = QStringLiteral("cannot remove ") + entryPath() + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace pixkey
