// The collection table with 100,000 rows: filling it, reading every cell the
// way a view scrolls through it, and removing rows one at a time.
#include "tables/collection_tables.h"

#include <benchmark/benchmark.h>

using namespace skarvel;

namespace {

constexpr int kRows = 100000;

void fill(CollectionTable& t) {
    t.setGridRowCount(kRows + 1);
    for (int r = 1; r <= kRows; ++r)
        t.setRow(r, {QString::number(r), "OK", "http://example.com/p/" + QString::number(r) + ".jpg",
                     "/tmp/Skarvel/Pictures/" + QString::number(r) + ".jpg", "640", "480"});
}

void BM_Fill(benchmark::State& state) {
    for (auto _ : state) {
        CollectionTable t(TableKind::Pictures);
        fill(t);
        benchmark::DoNotOptimize(t.gridRowCount());
    }
}
BENCHMARK(BM_Fill)->Unit(benchmark::kMillisecond);

void BM_ReadAllCells(benchmark::State& state) {
    CollectionTable t(TableKind::Pictures);
    fill(t);
    for (auto _ : state) {
        qsizetype total = 0;
        for (int r = 0; r < t.rowCount(); ++r)
            for (int c = 0; c < t.columnCount(); ++c)
                total += t.data(t.index(r, c), Qt::DisplayRole).toString().size();
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_ReadAllCells)->Unit(benchmark::kMillisecond);

// "Delete row" pressed 1,000 times in the middle of a 100,000-row table.
void BM_RemoveRowsOneByOne(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        CollectionTable t(TableKind::Pictures);
        fill(t);
        state.ResumeTiming();
        for (int i = 0; i < 1000; ++i)
            t.removeDataRow(kRows / 2);
        benchmark::DoNotOptimize(t.gridRowCount());
    }
}
BENCHMARK(BM_RemoveRowsOneByOne)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
