#include "ClockTestSupport.hpp"

#include "ClockDialog.hpp"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace pixkey::clock;
using clocktest::Fixture;

namespace {

std::unique_ptr<ClockDialog> makeDialog(Fixture &fixture, const ClockSettings &settings,
                                        const CityTable *table = nullptr)
{
    return std::make_unique<ClockDialog>(nullptr, settings, fixture.art, table ? *table : fixture.table,
                                         fixture.weather.get(), [&fixture] { return fixture.nowMs; });
}

int comboIndexOf(QComboBox *box, const QString &text)
{
    return box->findText(text);
}

} // namespace

TEST(ClockDialog, NoCityStartsTickedWithTheDefaultCity)
{
    Fixture fixture;
    auto dialog = makeDialog(fixture, ClockSettings{});
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Time and Weather"));
    EXPECT_TRUE(dialog->localTimeBox()->isChecked());
    EXPECT_EQ(dialog->regionBox()->currentText(), QStringLiteral("All inhabited"));
    EXPECT_EQ(dialog->regionBox()->count(), 4); // All inhabited + three regions
    EXPECT_EQ(dialog->cityBox()->currentText(), QStringLiteral("Moscow"));
    EXPECT_EQ(dialog->chosenSettings().cityId, ClockDialog::kDefaultCityId);
    EXPECT_EQ(dialog->chosenSettings().useLocalTime, 1);
    // Ticked: the city controls are off; analog: the 12/24 choice is off.
    EXPECT_FALSE(dialog->regionBox()->isEnabled());
    EXPECT_FALSE(dialog->cityBox()->isEnabled());
    EXPECT_FALSE(dialog->regionLabel()->isEnabled());
    EXPECT_FALSE(dialog->cityLabel()->isEnabled());
    EXPECT_FALSE(dialog->hour12Button()->isEnabled());
    EXPECT_FALSE(dialog->hour24Button()->isEnabled());
    EXPECT_FALSE(dialog->previewLabel()->pixmap().isNull());
}

TEST(ClockDialog, ControlsEnableEachOther)
{
    Fixture fixture;
    ClockSettings s;
    s.cityId = 47662;
    auto dialog = makeDialog(fixture, s);
    EXPECT_FALSE(dialog->localTimeBox()->isChecked());
    EXPECT_EQ(dialog->cityBox()->currentText(), QStringLiteral("Tokyo"));
    EXPECT_TRUE(dialog->cityBox()->isEnabled());
    EXPECT_TRUE(dialog->regionLabel()->isEnabled());

    dialog->digitalButton()->setChecked(true);
    EXPECT_TRUE(dialog->hour12Button()->isEnabled());
    dialog->hour12Button()->setChecked(true);
    dialog->fahrenheitButton()->setChecked(true);
    dialog->localTimeBox()->setChecked(true);
    EXPECT_FALSE(dialog->cityBox()->isEnabled());

    const ClockSettings chosen = dialog->chosenSettings();
    EXPECT_EQ(chosen.clockView, 1);
    EXPECT_EQ(chosen.hour24, 0);
    EXPECT_EQ(chosen.degrees, 1);
    EXPECT_EQ(chosen.useLocalTime, 1);
    EXPECT_EQ(chosen.cityId, 47662);
}

TEST(ClockDialog, RegionFiltersTheCitiesSortedWithAnEmptyEntryFirst)
{
    Fixture fixture;
    ClockSettings s;
    s.cityId = 27612;
    auto dialog = makeDialog(fixture, s);
    QComboBox *cities = dialog->cityBox();
    ASSERT_EQ(cities->count(), 5); // empty + four cities
    EXPECT_EQ(cities->itemText(0), QString());
    EXPECT_EQ(cities->itemText(1), QStringLiteral("London"));
    EXPECT_EQ(cities->itemText(2), QStringLiteral("Moscow"));

    dialog->regionBox()->setCurrentIndex(comboIndexOf(dialog->regionBox(), QStringLiteral("Europe")));
    ASSERT_EQ(cities->count(), 3);
    EXPECT_EQ(cities->currentText(), QStringLiteral("Moscow"));
    EXPECT_EQ(dialog->chosenSettings().cityId, 27612);

    // Moscow is not in Asia: the empty entry is chosen, which means no city.
    dialog->regionBox()->setCurrentIndex(comboIndexOf(dialog->regionBox(), QStringLiteral("Asia")));
    ASSERT_EQ(cities->count(), 2);
    EXPECT_EQ(cities->currentIndex(), 0);
    EXPECT_EQ(dialog->chosenSettings().cityId, -1);
    cities->setCurrentIndex(1);
    EXPECT_EQ(dialog->chosenSettings().cityId, 47662);
}

TEST(ClockDialog, WithoutATableOnlyTheEmptyChoicesRemain)
{
    Fixture fixture;
    const CityTable empty;
    auto dialog = makeDialog(fixture, ClockSettings{}, &empty);
    EXPECT_EQ(dialog->regionBox()->count(), 1);
    EXPECT_EQ(dialog->cityBox()->count(), 1);
    EXPECT_EQ(dialog->chosenSettings().cityId, -1);
    dialog->localTimeBox()->setChecked(false);
    dialog->redrawPreview();
    EXPECT_EQ(dialog->chosenSettings().cityId, -1);
}

TEST(ClockDialog, WeatherSourceIsSetOnOkAndOnlyWhenItIsAHost)
{
    Fixture fixture;
    ClockSettings settings;
    settings.cityId = 27612;
    auto dialog = makeDialog(fixture, settings);
    QComboBox *source = dialog->weatherSourceBox();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->currentText(), QStringLiteral("Open-Meteo"));
    dialog->show();
#ifdef CLOCK_SCREENSHOT_DIR
    QDir().mkpath(QStringLiteral(CLOCK_SCREENSHOT_DIR));
    dialog->grab().save(QStringLiteral(CLOCK_SCREENSHOT_DIR "/clock-dialog.png"));
#endif
    QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);

    // Not a host: the dialog stays open and the source is unchanged.
    source->setCurrentText(QStringLiteral("http://weather.example/x"));
    ok->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 0);
    EXPECT_EQ(fixture.weather->source(), "Open-Meteo");

    source->setCurrentText(QStringLiteral("weather.example:8080"));
    ok->click();
    EXPECT_EQ(dialog->result(), int(QDialog::Accepted));
    EXPECT_EQ(fixture.weather->source(), "weather.example:8080");
}
