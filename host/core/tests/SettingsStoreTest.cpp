#include "TempStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pixkey;
using pixkey::test::TempStore;

namespace {

KeyPath configKey(const QStringList &below = {})
{
    return SettingsStore::settingsKey() + QStringList{QStringLiteral("Config")} + below;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(SettingsStore, RoundTripsKeysAndValuesAcrossARestart)
{
    TempStore t;
    const KeyPath layout = configKey({QStringLiteral("Global")});
    const QString awkward = QStringLiteral("a, b; \"quoted\"\nnext line @Variant(x) \u00fc\u4e2d");
    ASSERT_TRUE(t.store->writeString(layout, QStringLiteral("File"), awkward));
    ASSERT_TRUE(t.store->writeDword(layout + QStringList{QStringLiteral("_Default"), QStringLiteral("001")},
                                    QStringLiteral("Function"), -7));
    ASSERT_TRUE(t.store->writeString(layout + QStringList{QStringLiteral("_Default"), QStringLiteral("001")},
                                     QStringLiteral("@Text"), QString()));
    ASSERT_TRUE(t.store->createKey(configKey({QStringLiteral("Empty")})));
    t.reopen();

    EXPECT_EQ(t.store->subkeys(configKey()), (QStringList{QStringLiteral("Empty"), QStringLiteral("Global")}));
    EXPECT_TRUE(t.store->keyExists(configKey({QStringLiteral("Empty")})));
    EXPECT_TRUE(t.store->valueNames(configKey({QStringLiteral("Empty")})).isEmpty());
    EXPECT_EQ(t.store->readString(layout, QStringLiteral("File")), awkward);
    const KeyPath slot = layout + QStringList{QStringLiteral("_Default"), QStringLiteral("001")};
    EXPECT_EQ(t.store->valueNames(slot), (QStringList{QStringLiteral("@Text"), QStringLiteral("Function")}));
    EXPECT_EQ(t.store->readDword(slot, QStringLiteral("Function")), -7);
    EXPECT_EQ(t.store->readString(slot, QStringLiteral("@Text")), QString());
    EXPECT_FALSE(t.store->readString(slot, QStringLiteral("Missing")).has_value());

    ASSERT_TRUE(t.store->deleteKey(layout));
    t.reopen();
    EXPECT_FALSE(t.store->keyExists(layout));
    EXPECT_FALSE(t.store->keyExists(slot));
    EXPECT_TRUE(t.store->keyExists(configKey({QStringLiteral("Empty")})));
}

TEST(SettingsStore, NamesAndValuesAreLookedUpWithoutRegardToCase)
{
    TempStore t;
    ASSERT_TRUE(t.store->writeDword(configKey({QStringLiteral("Global")}), QStringLiteral("Function"), 2));
    const KeyPath other = {QStringLiteral("software"), QStringLiteral("VOSTREL"), QStringLiteral("pixkeymini"),
                           QStringLiteral("CONFIG"), QStringLiteral("global")};
    EXPECT_EQ(t.store->readDword(other, QStringLiteral("FUNCTION")), 2);
    ASSERT_TRUE(t.store->writeDword(other, QStringLiteral("function"), 3));
    EXPECT_EQ(t.store->valueNames(configKey({QStringLiteral("Global")})), QStringList{QStringLiteral("Function")});
    EXPECT_EQ(t.store->subkeys(configKey()), QStringList{QStringLiteral("Global")});
    EXPECT_EQ(t.store->readDword(configKey({QStringLiteral("Global")}), QStringLiteral("Function")), 3);
}

TEST(SettingsStore, KeysOutsideTheProgramsBranchAreRefused)
{
    TempStore t;
    EXPECT_FALSE(t.store->createKey({QStringLiteral("SOFTWARE"), QStringLiteral("Other"), QStringLiteral("X")}));
    EXPECT_FALSE(t.store->writeDword({QStringLiteral("SOFTWARE")}, QStringLiteral("v"), 1));
    EXPECT_FALSE(t.store->keyExists(SettingsStore::settingsKey()));
}

TEST(SettingsStore, HostileNamesStayInsideTheirKey)
{
    TempStore t;
    const QStringList hostile = {
        QStringLiteral(".."), QStringLiteral("."), QStringLiteral("a/b"), QStringLiteral("a\\b"),
        QStringLiteral("../../escape"), QStringLiteral("ctl\x01\n\t\x7f"), QStringLiteral("%41%"),
        QStringLiteral("General"), QString(), QString(10000, QLatin1Char('x')), QStringLiteral("a")};
    for (const QString &name : hostile) {
        ASSERT_TRUE(t.store->writeString(configKey({name}), QStringLiteral("File"), name));
        ASSERT_TRUE(t.store->writeString(configKey({QStringLiteral("keep")}), name, name));
    }
    t.reopen();

    QStringList expected = hostile;
    expected << QStringLiteral("keep");
    QStringList stored = t.store->subkeys(configKey());
    expected.sort();
    stored.sort();
    EXPECT_EQ(stored, expected);
    for (const QString &name : hostile) {
        EXPECT_EQ(t.store->readString(configKey({name}), QStringLiteral("File")), name) << name.left(20).toStdString();
        EXPECT_EQ(t.store->readString(configKey({QStringLiteral("keep")}), name), name);
        EXPECT_EQ(t.store->subkeys(configKey({name})), QStringList{});
    }
    // Nothing reached the parent keys or the file system.
    EXPECT_EQ(t.store->subkeys(SettingsStore::settingsKey()), QStringList{QStringLiteral("Config")});
    EXPECT_EQ(filesIn(t.folder()), QStringList{QStringLiteral("PixkeyMini.ini")});
    EXPECT_EQ(filesIn(t.dir.path()), QStringList{});

    // Deleting "a" leaves "a/b" and "a\b" alone.
    ASSERT_TRUE(t.store->deleteKey(configKey({QStringLiteral("a")})));
    EXPECT_TRUE(t.store->keyExists(configKey({QStringLiteral("a/b")})));
    EXPECT_TRUE(t.store->keyExists(configKey({QStringLiteral("a\\b")})));
}

TEST(SettingsStore, ProfileNamesCannotLeaveTheFolder)
{
    TempStore t;
    ASSERT_TRUE(t.store->writeDword(SettingsStore::settingsKey(QStringLiteral("../../x")), QStringLiteral("v"), 1));
    ASSERT_TRUE(t.store->sync());
    EXPECT_EQ(filesIn(t.dir.path()), QStringList{});
    EXPECT_EQ(filesIn(t.folder()).size(), 1);
    EXPECT_EQ(t.store->readDword(SettingsStore::settingsKey(QStringLiteral("../../x")), QStringLiteral("v")), 1);
}

TEST(SettingsStore, DwordsOfTheWrongTypeOrSizeAreUnreadable)
{
    TempStore t;
    const KeyPath key = SettingsStore::settingsKey();
    t.store->writeString(key, QStringLiteral("text"), QStringLiteral("abc"));
    t.store->writeString(key, QStringLiteral("unsigned"), QStringLiteral("4294967295"));
    t.store->writeString(key, QStringLiteral("huge"), QStringLiteral("99999999999"));
    t.store->writeString(key, QStringLiteral("list"), QStringLiteral("1, 2"));
    t.store->writeString(key, QStringLiteral("long"), QString(SettingsStore::kMaxValueChars + 1, QLatin1Char('7')));
    t.reopen();
    EXPECT_FALSE(t.store->readDword(key, QStringLiteral("text")));
    EXPECT_EQ(t.store->readDword(key, QStringLiteral("unsigned")), -1);
    EXPECT_FALSE(t.store->readDword(key, QStringLiteral("huge")));
    EXPECT_FALSE(t.store->readDword(key, QStringLiteral("list")));
    EXPECT_FALSE(t.store->readString(key, QStringLiteral("long")));
}

TEST(SettingsStore, DamagedFileIsKeptAsideAndWhatCanBeReadIsUsed)
{
    TempStore t;
    QDir().mkpath(t.folder());
    const QByteArray damaged("[Config]\nkept=5\n\x01\x02garbage[[[\n=\n[half\n");
    {
        QFile file(t.basePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(damaged);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(t.store->readDword(SettingsStore::settingsKey() + QStringList{QStringLiteral("Config")},
                                 QStringLiteral("kept")),
              5);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("damaged"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    // A later save rewrites the file, but the original stays beside it untouched.
    t.store->writeDword(SettingsStore::settingsKey(), QStringLiteral("Gamma"), 13);
    ASSERT_TRUE(t.store->sync());
    QStringList aside = QDir(t.folder()).entryList({QStringLiteral("PixkeyMini.ini.damaged-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile copy(t.folder() + QLatin1Char('/') + aside.first());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), damaged);
}

TEST(SettingsStore, OversizedFileIsMovedAsideUnread)
{
    TempStore t;
    QDir().mkpath(t.folder());
    {
        QFile file(t.basePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nGamma=20\n");
        ASSERT_TRUE(file.resize(SettingsStore::kMaxFileBytes + 1));
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(t.store->readDword(SettingsStore::settingsKey(), QStringLiteral("Gamma")));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("too large"), std::string::npos);
    EXPECT_EQ(QDir(t.folder()).entryList({QStringLiteral("PixkeyMini.ini.damaged-*")}, QDir::Files).size(), 1);
}

// A writer killed right after taking the file's lock leaves an empty lock file behind; the next
// save must not wait it out (QSettings would, for half a minute).
TEST(SettingsStore, EmptyLockOfAKilledWriterDoesNotHoldUpTheNextSave)
{
    TempStore t;
    QDir().mkpath(t.folder());
    QFile lock(t.basePath() + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    t.store->writeDword(SettingsStore::settingsKey(), QStringLiteral("Gamma"), 13);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(t.store->sync());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    t.reopen();
    EXPECT_EQ(t.store->readDword(SettingsStore::settingsKey(), QStringLiteral("Gamma")), 13);
}

// The file is never written in place: a save writes a new file and renames it over the old one,
// so the old inode (seen here through a hard link) keeps the previous content whole.
TEST(SettingsStore, SaveReplacesTheFileInsteadOfWritingIntoIt)
{
    TempStore t;
    const KeyPath key = SettingsStore::settingsKey();
    t.store->writeDword(key, QStringLiteral("Gamma"), 13);
    ASSERT_TRUE(t.store->sync());
    const QString link = t.dir.path() + QStringLiteral("/previous.ini");
    ASSERT_EQ(::link(QFile::encodeName(t.basePath()).constData(), QFile::encodeName(link).constData()), 0);
    QFile before(link);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray previous = before.readAll();
    before.close();

    t.store->writeDword(key, QStringLiteral("Gamma"), 20);
    ASSERT_TRUE(t.store->sync());
    QFile after(link);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), previous);
    t.reopen();
    EXPECT_EQ(t.store->readDword(key, QStringLiteral("Gamma")), 20);
}

// A writer killed at any moment of a save leaves either the previous or the new file: every
// value of one generation, never a mix, a torn line or an empty file.
TEST(SettingsStore, WriterKilledMidSaveLeavesAWholeFile)
{
    TempStore t;
    constexpr int kValues = 300;
    const QString filler(12000, QLatin1Char('f')); // a file of some size, so a kill often lands mid-write
    const KeyPath key = SettingsStore::settingsKey() + QStringList{QStringLiteral("Config")};
    for (int i = 0; i < kValues; ++i)
        t.store->writeString(key, QStringLiteral("v%1").arg(i), QStringLiteral("generation-0") + filler);
    ASSERT_TRUE(t.store->sync());
    t.store.reset();

    // Ends the writer on every way out of a round.
    struct Writer {
        pid_t pid = -1;
        ~Writer()
        {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    };
    for (int round = 0; round < 12; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        Writer writer;
        writer.pid = fork();
        const pid_t child = writer.pid;
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            SettingsStore store(t.folder());
            for (int generation = 1;; ++generation) {
                for (int i = 0; i < kValues; ++i)
                    store.writeString(key, QStringLiteral("v%1").arg(i), QStringLiteral("generation-%1").arg(generation) + filler);
                store.sync();
                if (generation == 1) {
                    const char byte = 1;
                    (void)!write(ready[1], &byte, 1);
                }
            }
        }
        close(ready[1]);
        pollfd pfd{ready[0], POLLIN, 0};
        ASSERT_EQ(poll(&pfd, 1, 30000), 1) << "the writer never finished its first save";
        usleep(1000 * (round * 7 % 40));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        writer.pid = -1;
        close(ready[0]);

        SettingsStore check(t.folder());
        const QStringList names = check.valueNames(key);
        ASSERT_EQ(names.size(), kValues) << "round " << round;
        const auto first = check.readString(key, QStringLiteral("v0"));
        ASSERT_TRUE(first.has_value());
        for (int i = 0; i < kValues; i += 7)
            ASSERT_EQ(check.readString(key, QStringLiteral("v%1").arg(i)), first) << "round " << round;
        ASSERT_EQ(check.readString(key, QStringLiteral("v%1").arg(kValues - 1)), first);
    }
}
