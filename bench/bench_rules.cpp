// The table rules on 100,000 rows beside the plain algorithm each rule is written
// as (quadratic de-duplication, row-by-row removal that copies the rows below),
// and the text rules on a 5 MB page. Prints the naive/fast time ratios at the end.
#include "common/text_ops.h"
#include "rules/file_name_rules.h"
#include "rules/harvest_parser.h"
#include "rules/selection_rules.h"
#include "rules/text_rules.h"

#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include <unistd.h>

using namespace skarvel;

namespace {

// Harvest answers: 100,000 records naming about 57,000 distinct pictures.
QString harvestBuffer(int records) {
    std::mt19937 rng(1);
    QString buffer;
    for (int i = 0; i < records; ++i) {
        const QString k = QString::number(10000 + rng() % unsigned(records * 7 / 10));
        buffer += "http://example.com/images/photo_" + k + ".jpg\tphoto_" + k + ".jpg\tAlt text " + k +
                  "\tTitle " + k + "\thttp://example.com/page/" + QString::number(i / 40) + "\r\n";
    }
    return buffer;
}

void parseFast(benchmark::State& state) {
    const QString source = harvestBuffer(int(state.range(0)));
    for (auto _ : state) {
        QString buffer = source;
        CollectionTable table(TableKind::Pictures);
        benchmark::DoNotOptimize(ParseHarvest(buffer, table, HarvestKind::Pictures));
    }
}

// Every line compared with every kept line, the rows then filled as the fast parser does.
void parseNaive(benchmark::State& state) {
    const QString source = harvestBuffer(int(state.range(0)));
    const QString tab = "\t";
    for (auto _ : state) {
        const QStringList lines = source.split("\r\n", Qt::SkipEmptyParts);
        QStringList kept, keptKeys;
        for (const QString& line : lines) {
            const QString key = GetField(line, 0, tab);
            bool seen = false;
            for (const QString& k : keptKeys)
                if (k == key) {
                    seen = true;
                    break;
                }
            if (!seen) {
                kept << line;
                keptKeys << key;
            }
        }
        QString buffer;
        for (const QString& line : kept)
            buffer += line + "\r\n";
        CollectionTable table(TableKind::Pictures);
        table.setGridRowCount(int(kept.size()) + 1);
        for (int i = 0; i < kept.size(); ++i) {
            const QString& l = kept[i];
            table.setRow(i + 1, {QString::number(i + 1), "", GetField(l, 0, tab), "", "", "", "",
                                 GetField(l, 1, tab), GetField(l, 2, tab), GetField(l, 3, tab),
                                 GetField(l, 4, tab)});
        }
        benchmark::DoNotOptimize(buffer.size());
    }
}

// Picture rows; about `percent` of them fall under a lower width bound of 100.
std::vector<QStringList> pictureRows(int rows, int percent) {
    std::mt19937 rng(2);
    const char* types[] = {".jpg", ".png", ".gif"};
    std::vector<QStringList> out;
    out.reserve(size_t(rows));
    for (int r = 1; r <= rows; ++r) {
        const bool small = int(rng() % 100) < percent;
        const QString n = QString::number(r);
        out.push_back({n, "OK", "http://example.com/images/" + n, "/tmp/w/Pictures/" + n + types[rng() % 3],
                       QString::number(small ? 16 + rng() % 80 : 100 + rng() % 1500),
                       QString::number(100 + rng() % 900), "", "photo_" + n + ".jpg", "Alt text " + n,
                       "Title " + n, "http://example.com/page/" + n, "", "", "", ""});
    }
    return out;
}

void fillTable(CollectionTable& table, const std::vector<QStringList>& rows) {
    table.setGridRowCount(int(rows.size()) + 1);
    for (size_t i = 0; i < rows.size(); ++i)
        table.setRow(int(i) + 1, rows[i]);
}

SelectionSettings widthAtLeast100() {
    SelectionSettings s;
    s.bound(BoundField::FirstLower) = "100";
    return s;
}

void selectFast(benchmark::State& state) {
    const auto rows = pictureRows(int(state.range(0)), int(state.range(1)));
    const SelectionSettings s = widthAtLeast100();
    for (auto _ : state) {
        state.PauseTiming();
        CollectionTable table(TableKind::Pictures);
        fillTable(table, rows);
        state.ResumeTiming();
        ApplySelection(table, s);
        benchmark::DoNotOptimize(table.gridRowCount());
    }
}

// The walk as written on a plain grid of cells: bottom-up, and each condemned row
// removed at once by copying every cell of the rows below it one row up.
void selectNaive(benchmark::State& state) {
    const auto rows = pictureRows(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<QStringList> grid = rows;
        state.ResumeTiming();
        for (int r = int(grid.size()) - 1; r >= 0; --r) {
            const QString& path = grid[size_t(r)][col::LocalPath];
            if (path.isEmpty() || ReadInt(grid[size_t(r)][col::Width], 100) >= 100)
                continue;
            for (size_t i = size_t(r); i + 1 < grid.size(); ++i)
                for (int c = 1; c < grid[i].size(); ++c)
                    grid[i][c] = grid[i + 1][c];
            if (grid.size() > 1)
                grid.pop_back();
        }
        benchmark::DoNotOptimize(grid.size());
    }
}

void fileNames(benchmark::State& state) {
    const auto rows = pictureRows(int(state.range(0)), 0);
    CollectionTable table(TableKind::Pictures);
    fillTable(table, rows);
    FileNameSettings s{3, Capitalize, "40", {{" ", "_"}, {"text", "Text"}, {"", ""}}};
    for (auto _ : state)
        ApplyFileNames(table, TableKind::Pictures, s);
}

// A page of about 5 MB: a title, navigation, then paragraphs with tags,
// advertising lines and runs of empty lines inside the content block.
QString bigPage() {
    QString page = "<html>\r\n<head><title>Daily News</title></head>\r\n<body>\r\n<nav>menu</nav>\r\n"
                   "<div id=\"content\">\r\n";
    std::mt19937 rng(3);
    int i = 0;
    while (page.size() < 5'000'000) {
        page += "<p class=\"text\">Paragraph " + QString::number(++i) +
                " with <b>bold</b> words, <a href=\"http://example.com/x\">a link</a> and &nbsp; "
                "entities.</p>\r\n";
        if (rng() % 7 == 0)
            page += "<div class=\"ad\">Advertisement: buy now</div>\r\n";
        if (rng() % 5 == 0)
            page += "\r\n\r\n\r\n";
    }
    page += "</div>\r\n<footer>(c)</footer>\r\n</body>\r\n</html>\r\n";
    return page;
}

void textRules(benchmark::State& state) {
    const QString page = bigPage();
    const TextRules rules{.blockBegin = "<div id=\"content\">\r\n",
                          .blockEnd = "</div>\r\n<footer>",
                          .replacements = {{"&nbsp;", " "}, {"<br>", "\r\n"}, {"Paragraph", "Para"}},
                          .stripTags = true,
                          .deleteLinesContaining = "advertisement\r\nsponsored",
                          .emptyLines = TextRules::DoubleAndMore,
                          .headerBegin = "<title>",
                          .headerEnd = "</title>"};
    for (auto _ : state) {
        const TextResult r = ApplyTextRules(page, rules);
        benchmark::DoNotOptimize(r.text.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * page.size() * 2);
    state.counters["page_MB"] = double(page.size()) / 1e6;
}

void decodePage(benchmark::State& state) {
    const QByteArray bytes = ("<meta charset=\"windows-1251\">\n" + bigPage()).toLatin1();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePageText(bytes).size());
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

// Console output as usual, and the mean CPU time of every run kept to compare
// "<name>/naive/<args>" with "<name>/fast/<args>" at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                m_seconds[stripIterations(run.benchmark_name())] =
                    run.cpu_accumulated_time / double(run.iterations);
    }

    void printRatios() const {
        std::printf("\nnaive / fast (CPU time per run):\n");
        for (const auto& [name, naive] : m_seconds) {
            const auto at = name.find("/naive/");
            if (at == std::string::npos)
                continue;
            std::string fastName = name;
            fastName.replace(at, 7, "/fast/");
            const auto fast = m_seconds.find(fastName);
            if (fast == m_seconds.end() || fast->second <= 0)
                continue;
            std::printf("  %-32s fast %10.3f ms  naive %12.3f ms  ratio %10.1f\n", fastName.c_str(),
                        fast->second * 1e3, naive * 1e3, naive / fast->second);
        }
    }

private:
    static std::string stripIterations(std::string name) {
        const auto at = name.find("/iterations:");
        if (at != std::string::npos)
            name.erase(at);
        return name;
    }
    std::map<std::string, double> m_seconds;
};

} // namespace

int main(int argc, char** argv) {
    using benchmark::RegisterBenchmark;
    for (const int rows : {10000, 100000}) {
        RegisterBenchmark("parse_harvest/fast", parseFast)->Arg(rows)->Unit(benchmark::kMillisecond);
        RegisterBenchmark("parse_harvest/naive", parseNaive)
            ->Arg(rows)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        // 5 % and 30 % of the rows condemned.
        for (const int percent : {5, 30}) {
            if (rows == 100000 && percent == 30)
                continue; // the naive walk would copy about 10^10 cells
            RegisterBenchmark("selection/fast", selectFast)
                ->Args({rows, percent})
                ->Unit(benchmark::kMillisecond);
            RegisterBenchmark("selection/naive", selectNaive)
                ->Args({rows, percent})
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        }
    }
    RegisterBenchmark("file_names", fileNames)->Arg(100000)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("text_rules_5MB", textRules)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("decode_page_5MB_cp1251", decodePage)->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
