#include "ClockTestSupport.hpp"

#include "ClockDialog.hpp"

#include <QApplication>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using namespace pixkey::clock;
using clocktest::Face;
using clocktest::Fixture;

namespace {

struct Property {
    int result;
    std::string name;
    std::string value;
};

Property property(ClockPlugin &plugin, int index)
{
    char name[256] = {};
    char value[256] = {};
    const int result = plugin.GetProperty(index, name, value);
    return {result, name, value};
}

} // namespace

TEST(ClockPlugin, PropertiesByIndexAndName)
{
    Fixture fixture;
    ClockPlugin plugin(fixture.environment());
    const char *names[] = {"CityId", "Degrees", "TextColor", "ClockView", "Hour24", "UseLocalTime"};
    const char *defaults[] = {"-1", "0", "16777215", "0", "1", "0"};
    for (int i = 0; i < 6; ++i) {
        const Property p = property(plugin, 256 + i);
        EXPECT_EQ(p.result, 1);
        EXPECT_EQ(p.name, names[i]);
        EXPECT_EQ(p.value, defaults[i]);
    }

    EXPECT_EQ(plugin.SetProperty("CityId", "27612"), 1);
    EXPECT_EQ(plugin.SetProperty("Degrees", "1"), 1);
    EXPECT_EQ(plugin.SetProperty("TextColor", "65280"), 1);
    EXPECT_EQ(plugin.SetProperty("ClockView", "1"), 1);
    EXPECT_EQ(plugin.SetProperty("Hour24", "0"), 1);
    EXPECT_EQ(plugin.SetProperty("UseLocalTime", "1"), 1);
    const ClockSettings s = plugin.settings();
    EXPECT_EQ(s.cityId, 27612);
    EXPECT_EQ(s.degrees, 1);
    EXPECT_EQ(s.textColor, 0x00FF00u);
    EXPECT_EQ(s.clockView, 1);
    EXPECT_EQ(s.hour24, 0);
    EXPECT_EQ(s.useLocalTime, 1);
    EXPECT_EQ(property(plugin, 256).value, "27612");

    // Unknown names change nothing; names must match whole.
    EXPECT_EQ(plugin.SetProperty("CityIdX", "5"), 0);
    EXPECT_EQ(plugin.SetProperty("cityid", "5"), 0);
    EXPECT_EQ(plugin.SetProperty("", "5"), 0);
    EXPECT_EQ(plugin.SetProperty(nullptr, "5"), 0);
    EXPECT_EQ(plugin.settings(), s);
    // Values that are not numbers read as 0; a null value too.
    EXPECT_EQ(plugin.SetProperty("Degrees", "hot"), 1);
    EXPECT_EQ(plugin.settings().degrees, 0);
    EXPECT_EQ(plugin.SetProperty("Degrees", nullptr), 1);
    EXPECT_EQ(plugin.settings().degrees, 0);
    EXPECT_EQ(plugin.SetProperty("CityId", " -7"), 1);
    EXPECT_EQ(plugin.settings().cityId, -7);
}

TEST(ClockPlugin, AskingPastTheLastPropertyTurnsOnLocalTimeOnlyWithoutCity)
{
    Fixture fixture;
    ClockPlugin plugin(fixture.environment());
    EXPECT_EQ(property(plugin, 262).result, 0);
    EXPECT_EQ(plugin.settings().useLocalTime, 1);
    EXPECT_EQ(property(plugin, 261).value, "1");

    ClockPlugin withCity(fixture.environment());
    withCity.SetProperty("CityId", "27612");
    EXPECT_EQ(property(withCity, 262).result, 0);
    EXPECT_EQ(property(withCity, 255).result, 0);
    EXPECT_EQ(property(withCity, 512).result, 0);
    EXPECT_EQ(withCity.settings().useLocalTime, 0);
}

TEST(ClockPlugin, PaintsOncePerUtcSecondAndOnlyWhileActive)
{
    Fixture fixture;
    ClockPlugin plugin(fixture.environment());
    Face face;
    PkxSurface surface = face.surface();
    EXPECT_EQ(plugin.Paint(surface), 0); // not active yet

    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    EXPECT_EQ(plugin.Paint(surface), 1);
    fixture.nowMs += 700; // 09:30:15.950, same second
    EXPECT_EQ(plugin.Paint(surface), 0);
    fixture.nowMs += 100; // 09:30:16.050
    EXPECT_EQ(plugin.Paint(surface), 1);
    fixture.nowMs += 60'000; // the same second of the next minute is a new second
    EXPECT_EQ(plugin.Paint(surface), 1);

    // Activating again paints at once, even within the same second.
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
    EXPECT_EQ(plugin.Paint(surface), 0);
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    EXPECT_EQ(plugin.Paint(surface), 1);
    EXPECT_EQ(plugin.OnEvent(99), 1);

    // A surface of the wrong shape is refused rather than overrun.
    fixture.nowMs += 1000;
    PkxSurface small{face.bytes.data(), 48, 48, 144};
    EXPECT_EQ(plugin.Paint(small), 0);
}

TEST(ClockPlugin, MissingCityDrawsTheLocalTimeFace)
{
    Fixture fixture;
    ClockSettings local;
    local.useLocalTime = 1;
    ClockSettings missing;
    missing.cityId = 12345; // not in the table
    ClockSettings moscow;
    moscow.cityId = 27612;
    for (int view = 0; view < 2; ++view) {
        local.clockView = missing.clockView = moscow.clockView = view;
        const Face a = fixture.paint(local);
        const Face b = fixture.paint(missing);
        EXPECT_EQ(a.bytes, b.bytes) << "view " << view;
        EXPECT_TRUE(b.darkIn(3, 1, 14, 12)) << "no moon without a city";
        const Face c = fixture.paint(moscow);
        EXPECT_FALSE(c.darkIn(3, 1, 14, 12)) << "the moon shows with a city";
        EXPECT_FALSE(c.sameIn(b, 20, 0, 96, 16)) << "the city name shows with a city";
    }
}

TEST(ClockPlugin, LocalTimeSettingHidesTheCity)
{
    Fixture fixture;
    ClockSettings s;
    s.cityId = 27612;
    s.useLocalTime = 1;
    const Face face = fixture.paint(s);
    EXPECT_TRUE(face.darkIn(3, 1, 14, 12));
}

TEST(ClockPlugin, TemperatureShowsOnlyWhenKnown)
{
    Fixture fixture;
    City &moscow = *fixture.table.find(27612);
    ClockSettings s;
    s.cityId = 27612;
    s.clockView = 1;
    const Face unknown = fixture.paint(s);

    moscow.temperature = 20;
    moscow.fetchedAtMs = fixture.nowMs - 1000;
    const Face celsius = fixture.paint(s);
    s.degrees = 1;
    const Face fahrenheit = fixture.paint(s);

    // Only the lower right corner (the temperature's place) differs.
    EXPECT_TRUE(celsius.sameIn(unknown, 0, 0, 96, 78));
    EXPECT_FALSE(celsius.sameIn(unknown, 60, 78, 96, 96));
    EXPECT_FALSE(celsius.sameIn(fahrenheit, 60, 78, 96, 96));

    // A stale value counts as unknown.
    moscow.fetchedAtMs = fixture.nowMs - 901'000;
    s.degrees = 0;
    const Face stale = fixture.paint(s);
    EXPECT_TRUE(stale.sameIn(unknown, 0, 0, 96, 96));
}

TEST(ClockPlugin, ZoneOfTheCityDecidesTheHands)
{
    Fixture fixture;
    ClockSettings moscow;
    moscow.cityId = 27612; // UTC+3
    ClockSettings tokyo;
    tokyo.cityId = 47662;  // UTC+9
    ClockSettings noZone;
    noZone.cityId = 55555; // a city line without a zone: the computer's zone, with the city shown
    const Face m = fixture.paint(moscow);
    const Face t = fixture.paint(tokyo);
    // Six hours apart: the dials differ in the hands, not just in the name.
    EXPECT_FALSE(m.sameIn(t, 20, 20, 76, 76));
    const Face n = fixture.paint(noZone);
    EXPECT_FALSE(n.darkIn(3, 1, 14, 12));
}

TEST(ClockPlugin, InformationCodes)
{
    Fixture fixture;
    ClockPlugin plugin(fixture.environment());
    EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(0)), "bsp.clock.mfc5");
    EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(1)), "Time and Weather");
    EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(2)),
                 "Displays date, time, day of the week, moon phase, weather.");
    for (int code : {3, 4, 5})
        EXPECT_NE(plugin.GetInfo(code), 0);
    EXPECT_EQ(plugin.GetInfo(11), 200);
    EXPECT_EQ(plugin.GetInfo(255), 1);
    for (int code : {6, 7, 10, 12, 23, 511, -1})
        EXPECT_EQ(plugin.GetInfo(code), 0) << code;

    const int sizes[] = {16, 32, 96};
    const int codes[] = {20, 21, 22};
    for (int i = 0; i < 3; ++i) {
        auto *image = reinterpret_cast<PkxImage *>(plugin.GetInfo(codes[i]));
        ASSERT_NE(image, nullptr) << codes[i];
        EXPECT_EQ(image->width, sizes[i]);
        EXPECT_EQ(image->height, sizes[i]);
        int opaque = 0;
        for (int p = 0; p < image->width * image->height; ++p)
            opaque += image->pixels[p * 4 + 3] > 0;
        EXPECT_GT(opaque, image->width * image->height / 3) << codes[i];
        pkx_image_free(image);
    }
}

TEST(ClockPlugin, ShowPropertiesCopiesBackOnOkOnly)
{
    Fixture fixture;
    ClockPlugin plugin(fixture.environment());
    plugin.SetProperty("TextColor", "255");
    plugin.OnEvent(PKX_EVENT_ACTIVATE);

    QTimer::singleShot(0, [] {
        auto *dialog = dynamic_cast<ClockDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->digitalButton()->setChecked(true);
        dialog->reject();
    });
    EXPECT_EQ(plugin.ShowProperties(nullptr), 0);
    EXPECT_EQ(plugin.settings().clockView, 0);
    EXPECT_EQ(plugin.settings().cityId, -1);

    QTimer::singleShot(0, [] {
        auto *dialog = dynamic_cast<ClockDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->digitalButton()->setChecked(true);
        dialog->fahrenheitButton()->setChecked(true);
        dialog->accept();
    });
    EXPECT_EQ(plugin.ShowProperties(nullptr), 1);
    const ClockSettings s = plugin.settings();
    EXPECT_EQ(s.clockView, 1);
    EXPECT_EQ(s.degrees, 1);
    EXPECT_EQ(s.cityId, 27612);     // the dialog's default city
    EXPECT_EQ(s.useLocalTime, 1);   // the box stayed ticked
    EXPECT_EQ(s.textColor, 255u);   // no control edits the colour
    Face face;
    PkxSurface surface = face.surface();
    EXPECT_EQ(plugin.Paint(surface), 1);
}

TEST(ClockPlugin, LibraryFindsItsTableBesideThePluginFile)
{
    // A folder with its own table, and a module record that names a plug-in file inside it.
    const auto folder = std::filesystem::temp_directory_path() / ("clock_module_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(folder / "ClockTimezones.txt");
        out << "@Test\n424242\tTestville\tAsia/Tokyo\n";
    }
    const std::string pluginPath = (folder / "Clock.pkx").string();

    void *library = dlopen(CLOCK_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto create = reinterpret_cast<PkxCreateFn>(dlsym(library, "Create"));
    auto destroy = reinterpret_cast<PkxDeleteFn>(dlsym(library, "Delete"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);

    PkxModule module{pluginPath.c_str(), library};
    PkxPlugin *info = create(&module, 0);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(info->ops->GetInfo(info, 0)), "bsp.clock.mfc5");

    auto moonShown = [&](const char *cityId) {
        PkxPlugin *key = create(&module, 1);
        key->ops->SetProperty(key, "CityId", cityId);
        key->ops->OnEvent(key, PKX_EVENT_ACTIVATE);
        Face face;
        PkxSurface surface = face.surface();
        EXPECT_EQ(key->ops->Paint(key, &surface), 1);
        key->ops->OnEvent(key, PKX_EVENT_DEACTIVATE);
        destroy(key);
        return !face.darkIn(3, 1, 14, 12);
    };
    EXPECT_TRUE(moonShown("424242"));
    EXPECT_FALSE(moonShown("27612")); // not in this folder's table
    destroy(info);
    EXPECT_EQ(dlclose(library), 0);
    std::filesystem::remove_all(folder);
}
