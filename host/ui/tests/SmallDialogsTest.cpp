// The application list of "Add Layout" from desktop entries, the dialog's enabling rules, and the
// two panels.

#include "AddLayoutDialog.h"
#include "DesktopApplications.h"
#include "LayoutConfig.h"
#include "LayoutInfoPanel.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace pixkey::test {
namespace {

class DesktopApplicationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/home/applications")));
        ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/system/applications")));
        ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/bin")));
        program(QStringLiteral("player"));
        program(QStringLiteral("editor"));
    }
    QString program(const QString &name)
    {
        const QString path = dir.path() + QStringLiteral("/bin/") + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    void entry(const QString &folder, const QString &file, const QString &text)
    {
        QFile out(dir.path() + QLatin1Char('/') + folder + QStringLiteral("/applications/") + file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
    }
    std::vector<DesktopApplications::Row> scan() const
    {
        return DesktopApplications::scan({dir.path() + QStringLiteral("/home"), dir.path() + QStringLiteral("/system")},
                                         dir.path() + QStringLiteral("/bin"));
    }
    QTemporaryDir dir;
};

TEST_F(DesktopApplicationsTest, OneRowPerExecutableNamedByItsEntry)
{
    entry(QStringLiteral("system"), QStringLiteral("a.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=Media Player\nExec=player %U\nIcon=media\n"));
    entry(QStringLiteral("system"), QStringLiteral("b.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=Player (second entry)\nExec=\"%1\" --new\n")
              .arg(dir.path() + QStringLiteral("/bin/player")));
    entry(QStringLiteral("system"), QStringLiteral("c.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=Gone\nExec=not-installed\n"));
    entry(QStringLiteral("system"), QStringLiteral("d.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=Helper\nExec=editor\nNoDisplay=true\n"));
    entry(QStringLiteral("system"), QStringLiteral("e.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=Editor\nExec=env LANG=C editor --x\n"
                         "[Desktop Action new]\nName=Other\nExec=player\n"));
    entry(QStringLiteral("system"), QStringLiteral("f.desktop"), QString(3000, QLatin1Char('\x01')));
    const auto rows = scan();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, QStringLiteral("Editor"));
    EXPECT_EQ(rows[0].path, dir.path() + QStringLiteral("/bin/editor"));
    EXPECT_EQ(rows[1].name, QStringLiteral("Media Player"));
    EXPECT_EQ(rows[1].icon, QStringLiteral("media"));
}

TEST_F(DesktopApplicationsTest, AnEarlierFolderHidesTheSameEntry)
{
    entry(QStringLiteral("system"), QStringLiteral("p.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=System Player\nExec=player\n"));
    entry(QStringLiteral("home"), QStringLiteral("p.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=My Player\nExec=player\n"));
    const auto rows = scan();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, QStringLiteral("My Player"));
}

TEST_F(DesktopApplicationsTest, AddLayoutDialogEnablesOkOnlyForACompleteChoice)
{
    AddLayoutDialog dialog({{QStringLiteral("Media Player"), dir.path() + QStringLiteral("/bin/player"), QString()},
                            {QStringLiteral("Missing"), dir.path() + QStringLiteral("/bin/missing"), QString()}});
    EXPECT_EQ(dialog.rowCount(), 1);
    EXPECT_TRUE(dialog.applicationButton().isChecked());
    EXPECT_FALSE(dialog.nameBox().isEnabled());
    EXPECT_EQ(dialog.nameBox().text(), QStringLiteral("Untitled"));
    EXPECT_FALSE(dialog.okButton().isEnabled());

    dialog.list().topLevelItem(0)->setSelected(true);
    EXPECT_TRUE(dialog.okButton().isEnabled());

    dialog.chooseManual();
    EXPECT_TRUE(dialog.nameBox().isEnabled());
    EXPECT_FALSE(dialog.list().isEnabled());
    EXPECT_FALSE(dialog.browseButton().isEnabled());
    dialog.nameBox().clear();
    EXPECT_FALSE(dialog.okButton().isEnabled());
    dialog.nameBox().setText(QStringLiteral("Evening"));
    EXPECT_TRUE(dialog.okButton().isEnabled());
    dialog.accept();
    EXPECT_EQ(dialog.result().applicationName, QString());
    EXPECT_EQ(dialog.result().name, QStringLiteral("Evening"));
}

TEST_F(DesktopApplicationsTest, BrowseAddsAnyFileAndFindsAListedOne)
{
    AddLayoutDialog dialog({{QStringLiteral("Media Player"), dir.path() + QStringLiteral("/bin/player"), QString()}});
    QString chosen = dir.path() + QStringLiteral("/bin/player");
    dialog.setBrowseChooser([&] { return chosen; });
    dialog.browse();
    EXPECT_EQ(dialog.rowCount(), 1);
    EXPECT_TRUE(dialog.okButton().isEnabled());
    chosen = dir.path() + QStringLiteral("/notes.txt"); // not a program, but the user chose it
    dialog.browse();
    EXPECT_EQ(dialog.rowCount(), 2);
    dialog.accept();
    EXPECT_EQ(dialog.result().applicationName, QStringLiteral("notes.txt"));
    EXPECT_EQ(dialog.result().applicationPath, chosen);
}

TEST(LayoutInfoPanelTest, ShowsNameAndPathOrNothing)
{
    LayoutInfoPanel panel;
    LayoutConfig layout(QStringLiteral("Editor"), QStringLiteral("/usr/bin/editor"));
    panel.showLayout(&layout);
    EXPECT_EQ(panel.name(), QStringLiteral("Editor"));
    EXPECT_EQ(panel.path(), QStringLiteral("/usr/bin/editor"));
    panel.showLayout(nullptr);
    EXPECT_EQ(panel.name(), QString());
    EXPECT_EQ(panel.path(), QString());
}

} // namespace
} // namespace pixkey::test
