#include "ConfiguratorFixture.h"

#include "CPxkPluginListView.h"
#include "PluginInstance.h"
#include "TrayIcon.h"

#include <QDir>
#include <QMenu>
#include <QTreeWidgetItemIterator>

#include <chrono>

namespace pixkey::test {

void RecordingKeypad::sendFace(int slot, PluginInstance &instance)
{
    const QImage face = instance.face();
    if (face.isNull())
        return;
    calls.push_back("face " + std::to_string(slot));
    faces[slot] = face;
}

void RecordingKeypad::sendBlank(int slot)
{
    calls.push_back("blank " + std::to_string(slot));
    faces[slot] = QImage();
}

bool RecordingKeypad::saw(const std::string &call) const
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

void ConfiguratorFixture::SetUp()
{
    ASSERT_TRUE(QDir().mkpath(programDir.path() + QStringLiteral("/Plugins")));
    restart();
}

void ConfiguratorFixture::TearDown()
{
    window.reset();
    core.reset();
}

void ConfiguratorFixture::restart()
{
    window.reset();
    core.reset();
    if (store)
        store->sync();
    store = std::make_unique<SettingsStore>(storeDir.path() + QStringLiteral("/Vostrel"));
    core = std::make_unique<AppCore>(*store, PluginCatalogue::Folders{programDir.path(), userDir.path() + QStringLiteral("/Plugins")},
                                     queue, keypad);
    queue.setFaceHandler([this](PluginInstance &instance) {
        core->faceChanged(instance);
        if (window)
            window->onFacesChanged(&instance);
    });
    core->fullLoad(false);
    core->select(-1);
    window = std::make_unique<ConfiguratorWindow>(*core);
    window->messages().setFunction([this](QWidget *, QMessageBox::Icon icon, const QString &caption, const QString &text,
                                          QMessageBox::StandardButtons) {
        messages.push_back({icon, caption, text});
        return answer;
    });
    // The test desktop has no notification area; the tray must not wait for one.
    window->tray().setAvailabilityProbe([] { return false; });
}

QString ConfiguratorFixture::plugin(const char *name)
{
    return QStringLiteral(UI_TEST_PLUGIN_DIR "/") + QLatin1String(name) + QStringLiteral(".pkx");
}

PluginEntry &ConfiguratorFixture::install(const char *name)
{
    const auto result = core->InstallPluginFile(plugin(name));
    EXPECT_EQ(result.code, PluginCatalogue::Added) << result.error.toStdString();
    if (!result.entry)
        throw std::runtime_error("plug-in not installed");
    window->onCatalogueChanged();
    return *result.entry;
}

LayoutConfig &ConfiguratorFixture::layout(const QString &name)
{
    LayoutConfig *found = core->findLayout(name);
    if (!found)
        throw std::runtime_error("no layout " + name.toStdString());
    return *found;
}

bool ConfiguratorFixture::pumpUntil(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        queue.pumpFor(std::chrono::milliseconds(20));
    }
    return true;
}

QTreeWidgetItem *ConfiguratorFixture::treeItem(const QString &text) const
{
    for (QTreeWidgetItemIterator it(&window->pluginList()); *it; ++it)
        if ((*it)->text(0) == text)
            return *it;
    return nullptr;
}

PluginInstance *ConfiguratorFixture::instanceAt(int key, int row) const
{
    if (!core->activeLayout)
        return nullptr;
    const InstanceRef holder = core->getSlot(*core->activeLayout, key, row < 0 ? ModifierRow::kCurrent : row);
    return holder ? holder->instance() : nullptr;
}

QAction *ConfiguratorFixture::action(QMenu &menu, const QString &text) const
{
    for (QAction *a : menu.actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace pixkey::test
