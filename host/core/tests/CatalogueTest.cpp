#include "CoreFixture.h"

#include "PluginInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace pixkey;
using namespace pixkey::test;

namespace {

const KeyPath kPlugins = SettingsStore::settingsKey() + QStringList{QStringLiteral("Plugins")};

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

using Catalogue = CoreFixture;

TEST_F(Catalogue, InstallCopiesOnceAndStoresTheRelativePath)
{
    PluginEntry &entry = install("core_test_alpha");
    const QString copy = folders().userPluginsFolder + QStringLiteral("/core_test_alpha.pkx");
    EXPECT_EQ(entry.path, QStringLiteral("Plugins\\core_test_alpha.pkx"));
    EXPECT_EQ(entry.state, LayoutState::New);
    EXPECT_EQ(entry.fileName(), QStringLiteral("core_test_alpha.pkx"));
    EXPECT_EQ(entry.library->fullPath(), copy);
    EXPECT_EQ(contentOf(copy), contentOf(plugin("core_test_alpha")));
    EXPECT_TRUE(core->modified);

    // Installing the installed file again copies nothing and finds the entry.
    const auto inode = QFileInfo(copy).lastModified();
    const auto again = core->InstallPluginFile(copy);
    EXPECT_EQ(again.code, PluginCatalogue::AlreadyPresent);
    EXPECT_EQ(again.entry, &entry);
    EXPECT_EQ(QFileInfo(copy).lastModified(), inode);
    EXPECT_EQ(QDir(folders().userPluginsFolder).entryList(QDir::Files), QStringList{QStringLiteral("core_test_alpha.pkx")});

    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(t.store->readString(kPlugins + QStringList{QStringLiteral("test.alpha")}, QStringLiteral("Path")),
              QStringLiteral("Plugins\\core_test_alpha.pkx"));
}

TEST_F(Catalogue, BundledPluginIsFoundInTheProgramFolderAndNotCopied)
{
    bundle("core_test_three");
    restart();
    ASSERT_EQ(core->catalogue.entries().size(), 1u);
    PluginEntry &entry = *core->catalogue.entries().front();
    EXPECT_EQ(entry.path, QStringLiteral("Plugins\\core_test_three.pkx"));
    EXPECT_EQ(entry.state, LayoutState::Modified); // found in the folder: saved at the next save

    const auto result = core->InstallPluginFile(programDir.path() + QStringLiteral("/Plugins/core_test_three.pkx"));
    EXPECT_EQ(result.code, PluginCatalogue::AlreadyPresent);
    EXPECT_FALSE(QFileInfo::exists(folders().userPluginsFolder + QStringLiteral("/core_test_three.pkx")));
}

TEST_F(Catalogue, SameIdentifierKeepsTheFirstEntry)
{
    PluginEntry &first = install("core_test_alpha");
    const auto twin = core->InstallPluginFile(plugin("core_test_alpha_twin"));
    EXPECT_EQ(twin.code, PluginCatalogue::AlreadyPresent);
    EXPECT_EQ(twin.entry, &first);
    EXPECT_EQ(core->catalogue.entries().size(), 1u);
    // The file copied for it stays in the folder.
    EXPECT_TRUE(QFileInfo::exists(folders().userPluginsFolder + QStringLiteral("/core_test_alpha_twin.pkx")));
    EXPECT_TRUE(messages.empty());
}

TEST_F(Catalogue, RemovedPluginStaysRemovedAcrossARestartAndReinstallRevivesIt)
{
    PluginEntry &entry = install("core_test_alpha");
    core->RemovePlugin(entry);
    EXPECT_TRUE(entry.removed);
    EXPECT_FALSE(entry.library->isLoaded());
    ASSERT_TRUE(core->saveSettings());

    restart();
    ASSERT_EQ(core->catalogue.entries().size(), 1u); // the file in the folder is not added again
    PluginEntry &loaded = *core->catalogue.entries().front();
    EXPECT_TRUE(loaded.removed);

    const auto revived = core->InstallPluginFile(plugin("core_test_alpha"));
    EXPECT_EQ(revived.code, PluginCatalogue::Added);
    EXPECT_EQ(revived.entry, &loaded);
    EXPECT_FALSE(loaded.removed);
    EXPECT_EQ(loaded.state, LayoutState::New);
}

TEST_F(Catalogue, FunctionCountsAndTheDefaultFunction)
{
    struct Case {
        const char *file;
        int functions;
        int defaultFunction;
    };
    for (const Case c : {Case{"core_test_alpha", 1, 1}, Case{"core_test_three", 3, 1},
                         Case{"core_test_three_default2", 3, 2}, Case{"core_test_three_default5", 3, 3}}) {
        PluginLibrary &library = *install(c.file).library;
        EXPECT_EQ(library.functionCount(), c.functions) << c.file;
        EXPECT_EQ(library.defaultFunction(), c.defaultFunction) << c.file;
        EXPECT_EQ(library.function(c.functions)->number(), c.functions);
        EXPECT_EQ(library.function(c.functions + 1), nullptr);
    }
    PluginLibrary &three = *core->catalogue.findByIdentifier(QStringLiteral("TEST.THREE"))->library;
    EXPECT_EQ(three.function(2)->name, QStringLiteral("core_test_three function 2"));
    EXPECT_EQ(three.applications, (QStringList{QStringLiteral("alpha.bin"), QStringLiteral("Other App.exe")}));
    // A single-function library's function stands for the library itself.
    PluginLibrary &alpha = *core->catalogue.findByIdentifier(QStringLiteral("test.alpha"))->library;
    EXPECT_EQ(alpha.function(1)->name, QStringLiteral("core_test_alpha"));
}

TEST_F(Catalogue, FilesThatAreNotPluginsAreRefused)
{
    QTemporaryDir elsewhere;
    const QString bad = elsewhere.path() + QStringLiteral("/broken.pkx");
    {
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a shared object");
    }
    const auto result = core->InstallPluginFile(bad);
    EXPECT_EQ(result.code, PluginCatalogue::Failed);
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("Pixkey mini Configurator|Failed to add:\n") + bad});
    EXPECT_FALSE(QFileInfo::exists(folders().userPluginsFolder + QStringLiteral("/broken.pkx")));

    // A broken file in the folder is skipped silently; one in the store too.
    QFile::copy(bad, programDir.path() + QStringLiteral("/Plugins/broken.pkx"));
    t.store->writeString(kPlugins + QStringList{QStringLiteral("gone")}, QStringLiteral("Path"), QStringLiteral("/nonexistent/gone.pkx"));
    messages.clear();
    restart();
    EXPECT_TRUE(core->catalogue.entries().empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Catalogue, AFailedReinstallKeepsThePreviousFile)
{
    install("core_test_alpha");
    const QString installed = folders().userPluginsFolder + QStringLiteral("/core_test_alpha.pkx");
    const QByteArray good = contentOf(installed);
    QTemporaryDir elsewhere;
    const QString bad = elsewhere.path() + QStringLiteral("/core_test_alpha.pkx");
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("truncated download");
    file.close();

    EXPECT_EQ(core->InstallPluginFile(bad).code, PluginCatalogue::Failed);
    EXPECT_EQ(contentOf(installed), good);
    EXPECT_EQ(QDir(folders().userPluginsFolder).entryList(QDir::Files), QStringList{QStringLiteral("core_test_alpha.pkx")});
}

TEST_F(Catalogue, NamesAndPathsCannotLeaveThePluginsFolder)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir().mkpath(elsewhere.path() + QStringLiteral("/sub")));
    const QString backslashed = elsewhere.path() + QStringLiteral("/..\\..\\evil.pkx");
    QFile::copy(plugin("core_test_alpha"), backslashed);
    EXPECT_EQ(core->InstallPluginFile(backslashed).code, PluginCatalogue::Failed);
    EXPECT_EQ(core->InstallPluginFile(elsewhere.path() + QStringLiteral("/sub/..")).code, PluginCatalogue::Failed);
    EXPECT_EQ(QDir(userDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});

    // A stored path that climbs out of the folder is not followed.
    QFile::copy(plugin("core_test_alpha"), programDir.path() + QStringLiteral("/outside.pkx"));
    t.store->writeString(kPlugins + QStringList{QStringLiteral("climber")}, QStringLiteral("Path"),
                         QStringLiteral("Plugins\\..\\outside.pkx"));
    restart();
    EXPECT_TRUE(core->catalogue.entries().empty());
    EXPECT_EQ(core->catalogue.resolvePath(QStringLiteral("Plugins\\..")), QString());
    EXPECT_EQ(core->catalogue.resolvePath(QStringLiteral("relative.pkx")), QString());
}

TEST_F(Catalogue, HostileIdentifierKeepsItsOwnKey)
{
    PluginEntry &entry = install("core_test_hostile");
    const QString identifier = QStringLiteral("../up\\down/x\\..\\General");
    EXPECT_EQ(entry.identifier(), identifier);
    entry.defaultProperties.emplace_back(QStringLiteral("Colour"), QStringLiteral("blue"));
    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(t.store->subkeys(kPlugins), QStringList{identifier});
    EXPECT_EQ(t.store->subkeys(SettingsStore::settingsKey()), (QStringList{QStringLiteral("Config"), QStringLiteral("Plugins")}));

    restart();
    ASSERT_EQ(core->catalogue.entries().size(), 1u);
    EXPECT_EQ(core->catalogue.entries().front()->identifier(), identifier);
    EXPECT_EQ(core->catalogue.entries().front()->defaultProperties.size(), 1u);
}

TEST_F(Catalogue, PropertiesAndStateSurviveARestart)
{
    PluginEntry &entry = install("core_test_alpha");
    entry.library->SetProperty(QStringLiteral("Server"), QStringLiteral("example.org"));
    entry.defaultProperties = {{QStringLiteral("Colour"), QStringLiteral("green")},
                               {QStringLiteral("Zoom"), QString(300, QLatin1Char('z'))}};
    entry.collapsed = false;
    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(entry.state, LayoutState::Clean);
    EXPECT_FALSE(entry.library->isLoaded()); // unused libraries go after the save

    restart();
    PluginEntry &loaded = *core->catalogue.findByIdentifier(QStringLiteral("test.alpha"));
    EXPECT_EQ(loaded.state, LayoutState::Clean);
    EXPECT_FALSE(loaded.collapsed);
    EXPECT_EQ(loaded.displayName(), QStringLiteral("core_test_alpha"));
    QString name, value;
    ASSERT_TRUE(loaded.library->GetProperty(0, name, value)); // loads the library again on demand
    EXPECT_EQ(name, QStringLiteral("Server"));
    EXPECT_EQ(value, QStringLiteral("example.org"));
    // Stored pairs in order; values cut to what the plug-in's buffers hold.
    ASSERT_GE(loaded.defaultProperties.size(), 3u);
    EXPECT_EQ(loaded.defaultProperties[0].first, QStringLiteral("Colour"));
    EXPECT_EQ(loaded.defaultProperties[2].first, QStringLiteral("Zoom"));
    EXPECT_EQ(loaded.defaultProperties[2].second.size(), 255);
}

TEST_F(Catalogue, ANewProfileStartsFromTheBaseCatalogue)
{
    install("core_test_three");
    ASSERT_TRUE(core->saveSettings());
    const QString port = QStringLiteral("ttyUSB7");
    restart(port);
    ASSERT_EQ(core->catalogue.entries().size(), 1u);
    EXPECT_EQ(core->catalogue.entries().front()->state, LayoutState::Modified);
    ASSERT_TRUE(core->saveSettings());
    EXPECT_TRUE(t.store->keyExists(SettingsStore::settingsKey(port) + QStringList{QStringLiteral("Plugins"), QStringLiteral("test.three")}));
}

TEST_F(Catalogue, LibrariesLoadOnDemandAndUnloadWhenUnused)
{
    PluginEntry &entry = install("core_test_three");
    core->catalogue.unloadUnused();
    ASSERT_FALSE(entry.library->isLoaded());
    InstanceRef holder = core->catalogue.CreateInstance(*entry.library->function(2));
    ASSERT_TRUE(holder);
    EXPECT_TRUE(entry.library->isLoaded());
    EXPECT_EQ(holder->instance()->functionNumber(), 2);
    EXPECT_EQ(holder->instance()->function(), entry.library->function(2));
    core->catalogue.unloadUnused();
    EXPECT_TRUE(entry.library->isLoaded()); // still in use
    holder.reset();
    core->catalogue.unloadUnused();
    EXPECT_FALSE(entry.library->isLoaded());
}

TEST_F(Catalogue, DisplayAndFileNames)
{
    PluginEntry entry;
    entry.path = QStringLiteral("Plugins\\Clock.pkx");
    EXPECT_EQ(entry.fileName(), QStringLiteral("Clock.pkx"));
    EXPECT_EQ(entry.displayName(), QStringLiteral("Unnamed"));
    entry.path = QStringLiteral("/opt/pixkey/Clock.pkx");
    EXPECT_EQ(entry.fileName(), QStringLiteral("Clock.pkx"));
    entry.library = std::make_unique<PluginLibrary>(entry.path);
    entry.library->name = QStringLiteral("Clock");
    EXPECT_EQ(entry.displayName(), QStringLiteral("Clock"));
    entry.name = QStringLiteral("My clock");
    EXPECT_EQ(entry.displayName(), QStringLiteral("My clock"));
}
