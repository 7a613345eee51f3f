#pragma once

#include "SettingsStore.h"

#include <QTemporaryDir>

#include <memory>

namespace pixkey::test {

// A settings store in a fresh temporary folder, never the user's own settings.
struct TempStore {
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/Vostrel"));

    QString folder() const { return dir.path() + QStringLiteral("/Vostrel"); }
    QString basePath() const { return folder() + QStringLiteral("/PixkeyMini.ini"); }
    // Writes everything and starts over with a new store object on the same folder, as a restart
    // of the program would.
    void reopen()
    {
        store->sync();
        store = std::make_unique<SettingsStore>(folder());
    }
};

} // namespace pixkey::test
