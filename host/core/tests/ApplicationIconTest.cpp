#include "ApplicationIcon.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pixkey;

namespace {

void write(const QString &path, const QByteArray &content)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

TEST(ApplicationIcon, FromTheDesktopEntryThatRunsTheProgram)
{
    QTemporaryDir data;
    write(data.path() + QStringLiteral("/applications/editor.desktop"),
          "[Desktop Entry]\nName=Editor\nExec=\"/opt/My Editor/editor\" %F\nIcon=accessories-text-editor\n"
          "[Desktop Action New]\nExec=other\nIcon=wrong\n");
    write(data.path() + QStringLiteral("/applications/sub/player.desktop"),
          "[Desktop Entry]\nExec=player --play\nIcon=/usr/share/player/player.png\n");
    write(data.path() + QStringLiteral("/pixmaps/lonely.xpm"), "/* XPM */");
    const QStringList dirs{data.path()};

    EXPECT_EQ(ApplicationIcon::find(QStringLiteral("/opt/My Editor/editor"), dirs), QStringLiteral("accessories-text-editor"));
    EXPECT_EQ(ApplicationIcon::find(QStringLiteral("/usr/bin/Player"), dirs), QStringLiteral("/usr/share/player/player.png"));
    EXPECT_EQ(ApplicationIcon::find(QStringLiteral("/usr/local/bin/lonely"), dirs), data.path() + QStringLiteral("/pixmaps/lonely.xpm"));
    EXPECT_EQ(ApplicationIcon::find(QStringLiteral("/usr/bin/other"), dirs), QString()); // only the main group counts
    EXPECT_EQ(ApplicationIcon::find(QString(), dirs), QString());
}
