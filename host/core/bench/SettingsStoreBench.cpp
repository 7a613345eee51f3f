// The settings store with a large configuration: 50 layouts, every slot filled, five properties a
// slot (6,300 values), written, saved and read back as the full load does.
#include "SettingsStore.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace pixkey;

namespace {

const KeyPath kConfig = SettingsStore::settingsKey() + QStringList{QStringLiteral("Config")};

void fill(SettingsStore &store)
{
    for (int layout = 0; layout < 50; ++layout)
        for (int row = 0; row < 6; ++row)
            for (int key = 1; key <= 3; ++key) {
                const KeyPath slot = kConfig + QStringList{QStringLiteral("Layout %1").arg(layout),
                                                           QStringLiteral("Row%1").arg(row),
                                                           QStringLiteral("%1").arg(key, 3, 10, QLatin1Char('0'))};
                store.writeString(slot, QStringLiteral("Key"), QStringLiteral("bsp.vegas.mfc5"));
                store.writeDword(slot, QStringLiteral("Function"), 1);
                for (int p = 0; p < 5; ++p)
                    store.writeString(slot, QStringLiteral("@Property%1").arg(p), QStringLiteral("value %1").arg(p));
            }
}

void BM_WriteAndSync(benchmark::State &state)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        fill(store);
        benchmark::DoNotOptimize(store.sync());
    }
    state.SetItemsProcessed(state.iterations() * 6300);
}
BENCHMARK(BM_WriteAndSync)->Unit(benchmark::kMillisecond);

void BM_OpenAndReadAll(benchmark::State &state)
{
    QTemporaryDir dir;
    {
        SettingsStore store(dir.path());
        fill(store);
    }
    for (auto _ : state) {
        SettingsStore store(dir.path());
        int read = 0;
        for (const QString &layout : store.subkeys(kConfig))
            for (const QString &row : store.subkeys(kConfig + QStringList{layout}))
                for (const QString &key : store.subkeys(kConfig + QStringList{layout, row})) {
                    const KeyPath slot = kConfig + QStringList{layout, row, key};
                    for (const QString &name : store.valueNames(slot))
                        read += store.readString(slot, name).has_value();
                }
        benchmark::DoNotOptimize(read);
    }
    state.SetItemsProcessed(state.iterations() * 6300);
}
BENCHMARK(BM_OpenAndReadAll)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
