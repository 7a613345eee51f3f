#include "CoreFixture.h"

#include "LayoutKind.h"
#include "PluginInstance.h"

#include <algorithm>

using namespace pixkey;
using namespace pixkey::test;

namespace {

KeyPath configKey(const QString &suffix = QString())
{
    return SettingsStore::settingsKey(suffix) + QStringList{QStringLiteral("Config")};
}

QStringList liveNames(const AppCore &core)
{
    QStringList names;
    for (const auto &layout : core.layouts)
        if (layout)
            names << layout->name();
    return names;
}

// The calls without faces: a freshly activated instance may or may not have painted by the time
// activation looks at it, so whether its face goes out at once is up to its thread.
std::vector<std::string> withoutFaces(std::vector<std::string> calls)
{
    std::erase_if(calls, [](const std::string &call) { return call.rfind("face ", 0) == 0; });
    return calls;
}

std::size_t countOf(const std::vector<std::string> &calls, const std::string &call)
{
    return std::size_t(std::count(calls.begin(), calls.end(), call));
}

} // namespace

using Layouts = CoreFixture;

TEST_F(Layouts, EmptyStoreGivesGlobalAndIdle)
{
    EXPECT_EQ(liveNames(*core), (QStringList{QStringLiteral("Global"), QStringLiteral("Idle")}));
    EXPECT_EQ(layout(QStringLiteral("Global")).state, LayoutState::New);
    EXPECT_EQ(layout(QStringLiteral("Idle")).state, LayoutState::New);
    EXPECT_FALSE(core->modified);
    core->select(-1);
    EXPECT_EQ(core->activeLayout, &layout(QStringLiteral("Global")));
    // The next save writes both.
    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(t.store->subkeys(configKey()), (QStringList{QStringLiteral("Global"), QStringLiteral("Idle")}));
}

TEST_F(Layouts, StoredNamesCompareWithoutRegardToCase)
{
    t.store->writeString(configKey() + QStringList{QStringLiteral("global")}, QStringLiteral("File"), QString());
    restart();
    EXPECT_EQ(liveNames(*core), (QStringList{QStringLiteral("global"), QStringLiteral("Idle")}));
    EXPECT_EQ(layout(QStringLiteral("Global")).state, LayoutState::Clean);
    core->select(-1);
    EXPECT_EQ(core->activeLayout->name(), QStringLiteral("global"));
}

TEST_F(Layouts, StoredFunctionIsClampedToTheLibrary)
{
    install("core_test_three");
    install("core_test_alpha");
    ASSERT_TRUE(core->saveSettings());
    const KeyPath row = configKey() + QStringList{QStringLiteral("Clamp"), QStringLiteral("_Default")};
    const KeyPath shift = configKey() + QStringList{QStringLiteral("Clamp"), QStringLiteral("Shift")};
    struct Case {
        KeyPath rowKey;
        const char *slot;
        const char *identifier;
        int stored;
        int expected;
    };
    const Case cases[] = {
        {row, "001", "test.three", 0, 1},    {row, "002", "test.three", -1, 1},
        {row, "003", "test.three", 2, 2},    {shift, "001", "TEST.THREE", 3, 3},
        {shift, "002", "test.three", 7, 3},  {shift, "003", "test.alpha", 5, 1},
    };
    for (const Case &c : cases) {
        const KeyPath slot = c.rowKey + QStringList{QLatin1String(c.slot)};
        t.store->writeString(slot, QStringLiteral("Key"), QLatin1String(c.identifier));
        t.store->writeDword(slot, QStringLiteral("Function"), c.stored);
    }
    // A slot whose plug-in is no longer installed stays empty.
    t.store->writeString(configKey() + QStringList{QStringLiteral("Clamp"), QStringLiteral("Alt"), QStringLiteral("001")},
                         QStringLiteral("Key"), QStringLiteral("test.gone"));
    restart();
    LayoutConfig &clamp = layout(QStringLiteral("Clamp"));
    for (const Case &c : cases) {
        const int rowIndex = c.rowKey == row ? 0 : 2;
        const int key = QLatin1String(c.slot).back().toLatin1() - '1';
        InstanceRef holder = core->getSlot(clamp, key, rowIndex);
        ASSERT_TRUE(holder) << c.slot;
        EXPECT_EQ(holder->instance()->functionNumber(), c.expected) << c.stored;
    }
    EXPECT_FALSE(core->getSlot(clamp, 0, 3));
    EXPECT_EQ(clamp.state, LayoutState::Clean);
}

TEST_F(Layouts, RowsAreRewrittenWholeAndEmptiedRowsVanish)
{
    PluginEntry &three = install("core_test_three");
    LayoutConfig *work = core->addLayout(QStringLiteral("Work"), QString(), LayoutState::New);
    core->setSlot(*work, 0, 2, core->catalogue.CreateInstance(*three.library->function(1)));
    core->setSlot(*work, 2, 0, core->catalogue.CreateInstance(*three.library->function(3)));
    ASSERT_TRUE(core->saveSettings());
    const KeyPath workKey = configKey() + QStringList{QStringLiteral("Work")};
    EXPECT_EQ(t.store->subkeys(workKey), (QStringList{QStringLiteral("_Default"), QStringLiteral("Shift")}));
    EXPECT_EQ(t.store->subkeys(workKey + QStringList{QStringLiteral("_Default")}), QStringList{QStringLiteral("003")});
    EXPECT_EQ(t.store->readDword(workKey + QStringList{QStringLiteral("_Default"), QStringLiteral("003")}, QStringLiteral("Function")), 3);
    // No properties for an instance that has none.
    EXPECT_EQ(t.store->valueNames(workKey + QStringList{QStringLiteral("_Default"), QStringLiteral("003")}),
              (QStringList{QStringLiteral("Function"), QStringLiteral("Key")}));

    EXPECT_TRUE(core->clearSlot(*work, 0, 2));
    EXPECT_FALSE(core->clearSlot(*work, 0, 2));
    EXPECT_EQ(work->state, LayoutState::Modified);
    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(t.store->subkeys(workKey), QStringList{QStringLiteral("_Default")});
}

TEST_F(Layouts, InstancePropertiesAreStoredOneValueEach)
{
    PluginEntry &alpha = install("core_test_alpha");
    alpha.defaultProperties = {{QStringLiteral("Colour"), QStringLiteral("teal")}};
    LayoutConfig &global = layout(QStringLiteral("Global"));
    InstanceRef holder = core->assignFromCatalogue(*alpha.library->function(1), global, 1);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(core->saveSettings());
    const KeyPath slot = configKey() + QStringList{QStringLiteral("Global"), QStringLiteral("_Default"), QStringLiteral("002")};
    EXPECT_EQ(t.store->readString(slot, QStringLiteral("@Colour")), QStringLiteral("teal"));
    EXPECT_EQ(t.store->readString(slot, QStringLiteral("Key")), QStringLiteral("test.alpha"));

    // Other values of the slot key are not properties.
    t.store->writeString(slot, QStringLiteral("Note"), QStringLiteral("ignored"));
    t.store->writeString(slot, QStringLiteral("@Shape"), QStringLiteral("round"));
    holder.reset();
    restart();
    PluginInstance *instance = core->getSlot(layout(QStringLiteral("Global")), 1, 0)->instance();
    std::string name, value;
    std::vector<std::string> properties;
    for (int i = 0; instance->GetProperty(i, name, value); ++i)
        properties.push_back(name + "=" + value);
    EXPECT_EQ(properties, (std::vector<std::string>{"Colour=teal", "Shape=round"}));
}

TEST_F(Layouts, DeletedLayoutLeavesTheStoreOnlyAtSaveAndCanBeRevived)
{
    PluginEntry &three = install("core_test_three");
    LayoutConfig *work = core->addLayout(QStringLiteral("Work"), QString(), LayoutState::New);
    core->setSlot(*work, 1, 0, core->catalogue.CreateInstance(*three.library->function(2)));
    ASSERT_TRUE(core->saveSettings());
    core->select(core->indexOf(work));
    ASSERT_EQ(core->activeLayout, work);

    EXPECT_TRUE(core->deleteLayout(*work));
    EXPECT_EQ(core->activeLayout, &layout(QStringLiteral("Global")));
    EXPECT_EQ(work->state, LayoutState::Deleted);
    EXPECT_TRUE(t.store->keyExists(configKey() + QStringList{QStringLiteral("Work")}));
    EXPECT_FALSE(core->deleteLayout(layout(QStringLiteral("Global"))));
    EXPECT_FALSE(core->deleteLayout(layout(QStringLiteral("idle"))));

    AppCore::AddLayoutResult result = AppCore::AddLayoutFailed;
    EXPECT_EQ(core->addLayout(QStringLiteral("WORK"), QStringLiteral("/ignored"), LayoutState::New, &result), work);
    EXPECT_EQ(result, AppCore::LayoutAdded);
    EXPECT_EQ(work->state, LayoutState::New);
    EXPECT_TRUE(work->path().isEmpty());
    EXPECT_TRUE(core->getSlot(*work, 1, 0));
    EXPECT_EQ(core->addLayout(QStringLiteral("work"), QString(), LayoutState::New, &result), work);
    EXPECT_EQ(result, AppCore::LayoutExists);

    EXPECT_TRUE(core->deleteLayout(*work));
    const int index = core->indexOf(work);
    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(core->layouts[std::size_t(index)], nullptr);
    EXPECT_FALSE(t.store->keyExists(configKey() + QStringList{QStringLiteral("Work")}));
    EXPECT_EQ(core->findLayout(QStringLiteral("Work")), nullptr);
}

TEST_F(Layouts, ProfileReadsTheBaseKeyAndWritesItsOwnAtTheNextSave)
{
    PluginEntry &three = install("core_test_three");
    LayoutConfig *work = core->addLayout(QStringLiteral("Work"), QString(), LayoutState::New);
    core->setSlot(*work, 0, 0, core->catalogue.CreateInstance(*three.library->function(2)));
    core->settings.setValue(Settings::Orientation, 1);
    ASSERT_TRUE(core->saveSettings());
    const QStringList base = dump(SettingsStore::settingsKey());

    const QString port = QStringLiteral("ttyACM0");
    restart(port);
    EXPECT_EQ(core->settings.value(Settings::Orientation), 1);
    EXPECT_EQ(layout(QStringLiteral("Work")).state, LayoutState::Modified);
    EXPECT_FALSE(t.store->keyExists(SettingsStore::settingsKey(port)));
    ASSERT_TRUE(core->saveSettings());

    // The profile now holds what the base key held, under its own name; the base is untouched.
    QStringList profile = dump(SettingsStore::settingsKey(port));
    profile.replaceInStrings(QStringLiteral("PixkeyMini - ttyACM0"), QStringLiteral("PixkeyMini"));
    EXPECT_EQ(profile, base);
    EXPECT_EQ(dump(SettingsStore::settingsKey()), base);
}

TEST_F(Layouts, AFullStoreRoundTripsUnchanged)
{
    PluginEntry &alpha = install("core_test_alpha");
    PluginEntry &three = install("core_test_three_default2");
    alpha.defaultProperties = {{QStringLiteral("Colour"), QStringLiteral("amber")}};
    LayoutConfig *app = core->addLayout(QStringLiteral("Editor"), QStringLiteral("/usr/bin/alpha.bin"), LayoutState::New);
    EXPECT_TRUE(core->matchesApplication(*app, alpha));
    EXPECT_FALSE(core->matchesApplication(layout(QStringLiteral("Global")), alpha));
    EXPECT_EQ(AppCore::applicationFileName(*app), QStringLiteral("alpha.bin"));
    for (int row = 0; row < ModifierRow::kCount; ++row)
        core->setSlot(*app, row % 3, row, core->catalogue.CreateInstance(*three.library->function(row % 3 + 1)));
    core->assignFromCatalogue(*alpha.library->function(1), layout(QStringLiteral("Idle")), 2);
    for (int i = 0; i < Settings::Count; ++i)
        core->settings.setValue(Settings::Index(i), 1000 + i);
    ASSERT_TRUE(core->saveSettings());
    const QStringList first = dump(SettingsStore::settingsKey());
    ASSERT_GT(first.size(), 30);

    restart();
    EXPECT_EQ(core->settings.value(Settings::TrayIcon), 1011);
    for (const auto &layout : core->layouts)
        core->markModified(*layout);
    for (const auto &entry : core->catalogue.entries())
        entry->markModified();
    ASSERT_TRUE(core->saveSettings());
    EXPECT_EQ(dump(SettingsStore::settingsKey()), first);
}

TEST_F(Layouts, HostileLayoutNamesKeepTheirOwnKey)
{
    const QStringList names = {QStringLiteral("../../etc"), QStringLiteral("a\\b"), QStringLiteral("x/y"),
                               QStringLiteral("tab\there"), QString(10000, QLatin1Char('n'))};
    for (const QString &name : names)
        core->addLayout(name, QString(), LayoutState::New);
    ASSERT_TRUE(core->saveSettings());
    restart();
    QStringList expected = names;
    expected << QStringLiteral("Global") << QStringLiteral("Idle");
    QStringList loaded = liveNames(*core);
    expected.sort();
    loaded.sort();
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(t.store->subkeys(SettingsStore::settingsKey()), QStringList{QStringLiteral("Config")});
}

TEST_F(Layouts, ActivationDrivesTheKeypad)
{
    PluginEntry &three = install("core_test_three");
    LayoutConfig &global = layout(QStringLiteral("Global"));
    LayoutConfig *work = core->addLayout(QStringLiteral("Work"), QString(), LayoutState::New);
    InstanceRef onGlobal = core->catalogue.CreateInstance(*three.library->function(1));
    core->setSlot(global, 0, 0, onGlobal);
    InstanceRef onWork = core->catalogue.CreateInstance(*three.library->function(2));
    core->setSlot(*work, 1, 0, onWork);
    InstanceRef onWorkShift = core->catalogue.CreateInstance(*three.library->function(3));
    core->setSlot(*work, 0, 2, onWorkShift);
    keypad.calls.clear();

    std::vector<LayoutConfig *> told;
    core->layoutActivated = [&](LayoutConfig *layout) { told.push_back(layout); };
    core->select(-1);
    EXPECT_TRUE(onGlobal->instance()->IsActive());
    EXPECT_EQ(withoutFaces(keypad.calls), (std::vector<std::string>{"hold", "blank 1", "blank 2"}));
    // Function 1 paints blue 40, and its "red" colour property green 30.
    EXPECT_TRUE(pumpUntil([&] { return keypad.faces.count(0) && (keypad.faces[0].pixel(5, 5) & 0xffffff) == 0xc81e28u; }));

    keypad.calls.clear();
    core->currentRow = 2;
    core->select(core->indexOf(work));
    EXPECT_FALSE(onGlobal->instance()->IsActive());
    EXPECT_TRUE(onWork->instance()->IsActive());
    EXPECT_TRUE(onWorkShift->instance()->IsActive()); // every row of the active layout paints
    EXPECT_EQ(core->currentRow, 0);
    EXPECT_EQ(withoutFaces(keypad.calls), (std::vector<std::string>{"hold", "blank 1", "blank 2", "hold"}));
    EXPECT_EQ(told, (std::vector<LayoutConfig *>{&global, work}));

    // Activating the active layout again, or while idle, changes nothing.
    keypad.calls.clear();
    core->select(core->indexOf(work));
    core->idleActive = true;
    core->select(-1);
    EXPECT_EQ(core->activeLayout, work);
    EXPECT_TRUE(keypad.calls.empty());
    core->idleActive = false;
}

TEST_F(Layouts, OnlyKeysOnShowAreBlanked)
{
    PluginEntry &three = install("core_test_three");
    LayoutConfig &global = layout(QStringLiteral("Global"));
    LayoutConfig *work = core->addLayout(QStringLiteral("Work"), QString(), LayoutState::New);
    core->setSlot(*work, 0, 0, core->catalogue.CreateInstance(*three.library->function(1)));
    core->setSlot(global, 0, 1, core->catalogue.CreateInstance(*three.library->function(1)));
    core->select(-1);
    keypad.calls.clear();
    core->clearSlot(*work, 0, 0);   // another layout
    core->clearSlot(global, 0, 1);  // another row
    EXPECT_EQ(countOf(keypad.calls, "blank 0"), 0u);
    core->setSlot(global, 0, 0, core->catalogue.CreateInstance(*three.library->function(1)));
    keypad.calls.clear();
    core->clearSlot(global, 0, 0);
    EXPECT_EQ(keypad.calls, std::vector<std::string>{"blank 0"});
}

TEST_F(Layouts, RemovingAPluginEmptiesItsSlotsEverywhere)
{
    PluginEntry &three = install("core_test_three");
    PluginEntry &alpha = install("core_test_alpha");
    LayoutConfig &global = layout(QStringLiteral("Global"));
    LayoutConfig &idle = layout(QStringLiteral("Idle"));
    core->setSlot(global, 0, 0, core->catalogue.CreateInstance(*three.library->function(1)));
    core->setSlot(global, 1, 4, core->catalogue.CreateInstance(*three.library->function(2)));
    core->setSlot(idle, 2, 0, core->catalogue.CreateInstance(*three.library->function(3)));
    core->setSlot(global, 2, 0, core->catalogue.CreateInstance(*alpha.library->function(1)));
    ASSERT_TRUE(core->saveSettings());
    core->select(-1);

    EXPECT_TRUE(core->usesPlugin(idle, three));
    EXPECT_EQ(idle.state, LayoutState::Modified);
    core->RemovePlugin(three);
    EXPECT_FALSE(core->getSlot(global, 0, 0));
    EXPECT_FALSE(core->getSlot(global, 1, 4));
    EXPECT_FALSE(core->getSlot(idle, 2, 0));
    EXPECT_TRUE(core->getSlot(global, 2, 0));
    EXPECT_FALSE(three.library->isLoaded());
    EXPECT_TRUE(three.removed);
}

TEST_F(Layouts, HotkeyCycleAndRows)
{
    core->addLayout(QStringLiteral("App"), QStringLiteral("/usr/bin/app"), LayoutState::New);  // 2
    LayoutConfig *manual = core->addLayout(QStringLiteral("Manual"), QString(), LayoutState::New); // 3
    LayoutConfig *gone = core->addLayout(QStringLiteral("Gone"), QString(), LayoutState::New);     // 4
    core->deleteLayout(*gone);
    const LayoutConfig &global = layout(QStringLiteral("Global"));
    const LayoutConfig &idle = layout(QStringLiteral("Idle"));
    EXPECT_EQ(core->nextManualLayout(&global), 1);
    EXPECT_EQ(core->nextManualLayout(&idle), 3);
    EXPECT_EQ(core->nextManualLayout(manual), 0); // wraps past the deleted one
    EXPECT_EQ(core->nextManualLayout(core->findLayout(QStringLiteral("App"))), -1);
    EXPECT_EQ(core->nextManualLayout(nullptr), -1);

    EXPECT_TRUE(layoutListsBefore(&global, &idle));
    EXPECT_TRUE(layoutListsBefore(&idle, manual));
    EXPECT_TRUE(layoutListsBefore(manual, nullptr));
    EXPECT_TRUE(layoutListsBefore(nullptr, core->findLayout(QStringLiteral("App"))));

    core->select(-2);
    EXPECT_EQ(core->activeLayout, &idle);
    core->setCurrentRow(3);
    EXPECT_EQ(core->currentRow, 0); // "Idle" shows row 0 only
    core->select(core->indexOf(manual));
    keypad.calls.clear();
    core->setCurrentRow(4);
    EXPECT_EQ(core->currentRow, 4);
    core->setCurrentRow(9);
    EXPECT_EQ(core->currentRow, 0);
    EXPECT_EQ(keypad.calls, (std::vector<std::string>{"hold", "hold"}));
    EXPECT_TRUE(core->hasAnyInstance(*manual, 0));
    EXPECT_FALSE(core->hasAnyInstance(*manual, 4));
}

TEST_F(Layouts, SettingsReachTheKeypad)
{
    EXPECT_EQ(keypad.calls, (std::vector<std::string>{"gamma 65", "white 8500"}));
    keypad.calls.clear();
    core->settings.setValue(Settings::Gamma, 20);
    core->settings.setValue(Settings::Brightness, 0);
    core->applyImageSettings();
    core->applyBrightness();
    EXPECT_EQ(keypad.calls, (std::vector<std::string>{"gamma 100", "white 8500", "refresh", "brightness 20"}));
}

TEST_F(Layouts, FullReloadDiscardsUnsavedChanges)
{
    PluginEntry &three = install("core_test_three");
    ASSERT_TRUE(core->saveSettings());
    LayoutConfig *scratch = core->addLayout(QStringLiteral("Scratch"), QString(), LayoutState::New);
    core->setSlot(*scratch, 0, 0, core->catalogue.CreateInstance(*three.library->function(1)));
    core->select(core->indexOf(scratch));
    core->settings.setValue(Settings::Brightness, 0);

    core->fullReload();
    EXPECT_EQ(core->findLayout(QStringLiteral("Scratch")), nullptr);
    EXPECT_EQ(core->activeLayout, core->findLayout(QStringLiteral("Global")));
    EXPECT_EQ(core->settings.value(Settings::Brightness), 2); // the stored value
    EXPECT_FALSE(core->modified);
    ASSERT_EQ(core->catalogue.entries().size(), 1u);
    EXPECT_FALSE(core->catalogue.entries().front()->library->isLoaded());
}

TEST_F(Layouts, KeypadProfiles)
{
    const QString port = QStringLiteral("ttyUSB3");
    EXPECT_EQ(core->startupProfile(port, 0), QString());
    EXPECT_EQ(core->startupProfile(port, 1), port);
    EXPECT_EQ(core->startupProfile(QString(), 1), QString());
    EXPECT_FALSE(core->wantsProfile(port, 1));
    EXPECT_TRUE(core->wantsProfile(port, 2));

    // A keypad without a profile key: everything is marked for the next save, which creates it.
    install("core_test_three");
    ASSERT_TRUE(core->saveSettings());
    EXPECT_TRUE(core->adoptProfile(port));
    EXPECT_FALSE(core->adoptProfile(port));
    EXPECT_EQ(layout(QStringLiteral("Global")).state, LayoutState::Modified);
    EXPECT_EQ(core->catalogue.entries().front()->state, LayoutState::Modified);
    ASSERT_TRUE(core->saveSettings());
    EXPECT_TRUE(core->profileExists(port));
    EXPECT_TRUE(core->wantsProfile(port, 1));
    EXPECT_EQ(core->startupProfile(port, 0), port);
    EXPECT_TRUE(t.store->keyExists(SettingsStore::settingsKey(port) + QStringList{QStringLiteral("Plugins"), QStringLiteral("test.three")}));

    // A keypad with a profile key: loaded from it.
    LayoutConfig *only = core->addLayout(QStringLiteral("OnlyInProfile"), QString(), LayoutState::New);
    ASSERT_TRUE(only);
    ASSERT_TRUE(core->saveSettings());
    restart();
    EXPECT_EQ(core->findLayout(QStringLiteral("OnlyInProfile")), nullptr);
    EXPECT_TRUE(core->adoptProfile(port));
    EXPECT_NE(core->findLayout(QStringLiteral("OnlyInProfile")), nullptr);
    EXPECT_EQ(core->activeLayout, core->findLayout(QStringLiteral("Global")));
}

// An instance whose paint thread never stopped (deactivated and activated again while its Paint
// was still running) paints nothing new: activation itself must put its face back on the key.
TEST_F(Layouts, ReactivatedInstanceGetsItsFaceBackAtOnce)
{
    PluginEntry &alpha = install("core_test_alpha");
    PluginEntry &three = install("core_test_three");
    LayoutConfig &global = layout(QStringLiteral("Global"));
    LayoutConfig *work = core->addLayout(QStringLiteral("Work"), QString(), LayoutState::New);
    InstanceRef x = core->catalogue.CreateInstance(*alpha.library->function(1));
    core->setSlot(global, 0, 0, x);
    core->setSlot(*work, 0, 0, core->catalogue.CreateInstance(*three.library->function(2)));
    const unsigned xColour = 0xc81e28, yColour = 0xc81e50; // blue: function x 40, green: "red" x 10
    const auto shown = [&](unsigned colour) {
        return keypad.faces.count(0) && (keypad.faces[0].pixel(5, 5) & 0xffffff) == colour;
    };

    core->select(-1);
    ASSERT_TRUE(pumpUntil([&] { return shown(xColour); }));
    x->instance()->SetProperty("Block", "1");
    ASSERT_TRUE(pumpUntil([&] { return x->instance()->infoText(1000) == std::optional<std::string>("1"); }));

    core->select(core->indexOf(work));
    ASSERT_TRUE(pumpUntil([&] { return shown(yColour); }));
    core->select(-1); // x's thread is still inside Paint: it carries on
    EXPECT_TRUE(shown(xColour));
    x->instance()->SetProperty("Block", "0");
}
