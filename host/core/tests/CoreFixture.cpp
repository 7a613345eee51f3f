#include "CoreFixture.h"

#include "PluginInstance.h"

#include <QDir>
#include <QFile>

namespace pixkey::test {

void RecordingKeypad::sendFace(int slot, PluginInstance &instance)
{
    const QImage face = instance.face();
    if (face.isNull())
        return; // nothing to send before the first paint, as on the keypad
    calls.push_back("face " + std::to_string(slot));
    faces[slot] = face;
}

void CoreFixture::SetUp()
{
    ASSERT_TRUE(QDir().mkpath(programDir.path() + QStringLiteral("/Plugins")));
    restart();
}

void CoreFixture::TearDown()
{
    core.reset();
}

PluginCatalogue::Folders CoreFixture::folders() const
{
    return {programDir.path(), userDir.path() + QStringLiteral("/Plugins")};
}

void CoreFixture::restart(const QString &profileSuffix)
{
    core.reset();
    t.reopen();
    core = std::make_unique<AppCore>(*t.store, folders(), queue, keypad);
    core->profileSuffix = profileSuffix;
    core->showMessage = [this](const QString &text, const QString &caption) {
        messages.push_back(caption + QLatin1Char('|') + text);
    };
    queue.setFaceHandler([this](PluginInstance &instance) { core->faceChanged(instance); });
    core->fullLoad(false);
}

QString CoreFixture::plugin(const char *name)
{
    return QStringLiteral(CORE_TEST_PLUGIN_DIR "/") + QLatin1String(name) + QStringLiteral(".pkx");
}

QString CoreFixture::bundle(const char *name)
{
    const QString target = programDir.path() + QStringLiteral("/Plugins/") + QLatin1String(name) + QStringLiteral(".pkx");
    EXPECT_TRUE(QFile::copy(plugin(name), target));
    return target;
}

PluginEntry &CoreFixture::install(const char *name)
{
    const auto result = core->InstallPluginFile(plugin(name));
    EXPECT_EQ(result.code, PluginCatalogue::Added) << result.error.toStdString();
    if (!result.entry)
        throw std::runtime_error("plug-in not installed");
    return *result.entry;
}

QStringList CoreFixture::dump(const KeyPath &key) const
{
    QStringList lines;
    for (const QString &value : t.store->valueNames(key))
        lines << key.join(QLatin1Char('|')) + QLatin1Char('=') + value + QLatin1Char('=') +
                     t.store->readString(key, value).value_or(QStringLiteral("<unreadable>"));
    for (const QString &sub : t.store->subkeys(key))
        lines << dump(key + QStringList{sub});
    return lines;
}

bool CoreFixture::pumpUntil(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        queue.pumpFor(std::chrono::milliseconds(20));
    }
    return true;
}

LayoutConfig &CoreFixture::layout(const QString &name)
{
    LayoutConfig *found = core->findLayout(name);
    if (!found)
        throw std::runtime_error("no layout " + name.toStdString());
    return *found;
}

} // namespace pixkey::test
