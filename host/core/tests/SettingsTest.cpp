#include "Settings.h"
#include "TempStore.h"

#include <gtest/gtest.h>

using namespace pixkey;
using pixkey::test::TempStore;

TEST(Settings, EmptyStoreGivesTheDefaults)
{
    TempStore t;
    Settings settings;
    settings.setValue(Settings::Gamma, 99);
    settings.restoreDefaults();
    settings.loadSettings(*t.store, QString());
    EXPECT_EQ(settings.value(Settings::SwitchLayoutModifier), 8); // Win
    EXPECT_EQ(settings.value(Settings::SwitchLayoutHotkey), 32);  // Space
    EXPECT_DOUBLE_EQ(settings.gamma(), 0.65);
    EXPECT_EQ(settings.value(Settings::WhiteBalance), 8500);
    EXPECT_EQ(settings.brightnessLevel(), 60);
    EXPECT_EQ(Settings::sliderDurationMs(settings.value(Settings::ScreensaverOn)), 10 * 60000);
    EXPECT_EQ(Settings::sliderDurationMs(settings.value(Settings::IlluminationOff)), 15 * 60000);
    EXPECT_EQ(settings.value(Settings::TrayIcon), 1);
    EXPECT_EQ(settings.value(Settings::AutoSwitch), 1);
    EXPECT_EQ(settings.value(Settings::Orientation), 0);
}

TEST(Settings, TimeSliderPositions)
{
    struct Case {
        int position;
        std::int64_t minutes;
        const char *text;
    };
    const Case cases[] = {
        {0, 1, "1 min"},     {4, 1, "1 min"},     {5, 2, "2 min"},     {20, 5, "5 min"},
        {21, 5, "5 min"},    {22, 6, "6 min"},    {40, 15, "15 min"},  {41, 15, "15 min"},
        {60, 30, "30 min"},  {61, 31, "31 min"},  {79, 58, "58 min"},  {80, 60, "1:00"},
        {81, 90, "1:30"},    {82, 120, "2:00"},   {99, 630, "10:30"},  {100, 0, "Never"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Settings::sliderDurationMs(c.position), c.minutes * 60000) << c.position;
        EXPECT_EQ(Settings::sliderText(c.position).toStdString(), c.text) << c.position;
    }
    // Longer positions never mean shorter times, so the two sliders' order holds for durations.
    for (int a = 1; a < 100; ++a)
        EXPECT_GE(Settings::sliderDurationMs(a), Settings::sliderDurationMs(a - 1)) << a;
}

TEST(Settings, StoredPositionsOutsideTheSliderDoNotSwitchTheFeatureOff)
{
    // A negative position would otherwise compute a duration of 0, which means "never".
    EXPECT_EQ(Settings::sliderDurationMs(-7), 60000);
    EXPECT_EQ(Settings::sliderText(-7), QStringLiteral("1 min"));
    EXPECT_EQ(Settings::sliderDurationMs(250), 0);
    EXPECT_EQ(Settings::sliderText(250), QStringLiteral("Never"));
}

TEST(Settings, ValuesAreKeptAsReadAndUnreadableOnesKeepTheirDefault)
{
    TempStore t;
    const KeyPath key = SettingsStore::settingsKey();
    t.store->writeDword(key, QStringLiteral("Gamma"), 60);
    t.store->writeString(key, QStringLiteral("WhiteBalance"), QStringLiteral("warm"));
    t.store->writeString(key, QStringLiteral("Brightness"), QStringLiteral("1"));
    t.reopen();
    Settings settings;
    settings.loadSettings(*t.store, QString());
    EXPECT_DOUBLE_EQ(settings.gamma(), 3.0);
    EXPECT_EQ(settings.value(Settings::WhiteBalance), 8500);
    EXPECT_EQ(settings.brightnessLevel(), 40);
}

TEST(Settings, ProfileReadsTheBaseKeyUntilItsOwnKeyIsSaved)
{
    TempStore t;
    const QString port = QStringLiteral("ttyUSB1");
    Settings base;
    base.setValue(Settings::Orientation, 2);
    ASSERT_TRUE(base.saveValues(*t.store, QString()));

    Settings profile;
    profile.loadSettings(*t.store, port);
    EXPECT_EQ(profile.value(Settings::Orientation), 2);
    EXPECT_FALSE(t.store->keyExists(SettingsStore::settingsKey(port)));

    profile.setValue(Settings::Orientation, 3);
    ASSERT_TRUE(profile.saveValues(*t.store, port));
    t.reopen();
    Settings again;
    again.loadSettings(*t.store, port);
    EXPECT_EQ(again.value(Settings::Orientation), 3);
    Settings unchangedBase;
    unchangedBase.loadSettings(*t.store, QString());
    EXPECT_EQ(unchangedBase.value(Settings::Orientation), 2);
}

TEST(Settings, SavingOneValueWritesOnlyThatValue)
{
    TempStore t;
    Settings settings;
    settings.setValue(Settings::SizeX, 640);
    settings.setValue(Settings::SizeY, 480);
    ASSERT_TRUE(settings.saveValues(*t.store, QString(), QStringLiteral("SizeX")));
    EXPECT_FALSE(settings.saveValues(*t.store, QString(), QStringLiteral("sizey"))); // exact names only
    t.reopen();
    EXPECT_EQ(t.store->valueNames(SettingsStore::settingsKey()), QStringList{QStringLiteral("SizeX")});

    ASSERT_TRUE(settings.saveValues(*t.store, QString()));
    t.reopen();
    QStringList all(Settings::names().begin(), Settings::names().end());
    QStringList stored = t.store->valueNames(SettingsStore::settingsKey());
    all.sort();
    stored.sort();
    EXPECT_EQ(stored, all);
    Settings loaded;
    loaded.loadSettings(*t.store, QString());
    EXPECT_EQ(loaded.values(), settings.values());
}
