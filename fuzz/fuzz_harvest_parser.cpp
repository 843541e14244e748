// Fuzz target: the parser of the harvest's answer buffer, for the three media tables.
#include "fuzz/fuzz_input.h"
#include "rules/harvest_parser.h"
#include "rules/line_list.h"

#include <QSet>

namespace {

using namespace skarvel;

QString firstField(const QString& line) {
    const qsizetype tab = line.indexOf(u'\t');
    return tab < 0 ? line : line.left(tab);
}

void parseAndCheck(const QString& input, TableKind tableKind, HarvestKind kind) {
    CollectionTable table(tableKind);
    QString buffer = input;
    const int n = ParseHarvest(buffer, table, kind);

    // The kept lines are the first of each distinct URL, in input order, each ended by CR LF.
    const QStringList lines = SplitLines(buffer);
    FUZZ_CHECK(lines.size() == n);
    FUZZ_CHECK(buffer == JoinLines(lines));
    QSet<QString> urls;
    for (const QString& line : lines) {
        FUZZ_CHECK(!urls.contains(firstField(line)));
        urls.insert(firstField(line));
    }
    QSet<QString> inputUrls;
    for (const QString& line : SplitLines(input))
        inputUrls.insert(firstField(line));
    FUZZ_CHECK(urls == inputUrls);

    FUZZ_CHECK(table.gridRowCount() == (n == 0 ? 2 : n + 1));
    for (int row = 1; row <= n; ++row) {
        FUZZ_CHECK(table.cell(col::Number, row) == QString::number(row));
        FUZZ_CHECK(table.cell(col::Url, row) == firstField(lines[row - 1]));
        FUZZ_CHECK(table.cell(col::Status, row).isEmpty());
    }

    // A buffer the parser wrote reads back unchanged.
    CollectionTable again(tableKind);
    QString rewritten = buffer;
    FUZZ_CHECK(ParseHarvest(rewritten, again, kind) == n);
    FUZZ_CHECK(rewritten == buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    parseAndCheck(input, TableKind::Pictures, HarvestKind::Pictures);
    parseAndCheck(input, TableKind::Sounds, HarvestKind::Sounds);
    parseAndCheck(input, TableKind::Videos, HarvestKind::Videos);
    return 0;
}
