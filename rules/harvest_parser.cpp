#include "rules/harvest_parser.h"

#include "common/text_ops.h"
#include "rules/line_list.h"

#include <QHashFunctions>

#include <algorithm>
#include <unordered_set>

namespace skarvel {

namespace {

struct ViewHash {
    size_t operator()(QStringView v) const noexcept { return qHash(v); }
};

QStringView firstField(QStringView line) {
    const qsizetype tab = line.indexOf(u'\t');
    return tab < 0 ? line : line.left(tab);
}

} // namespace

int ParseHarvest(QString& buffer, CollectionTable& table, HarvestKind kind) {
    const QString source = buffer; // the views below point into this copy
    std::vector<QStringView> kept;
    {
        const auto lines = SplitLineViews(source);
        std::unordered_set<QStringView, ViewHash> seen;
        seen.reserve(lines.size());
        kept.reserve(lines.size());
        for (const QStringView line : lines)
            if (seen.insert(firstField(line)).second)
                kept.push_back(line);
    }

    QString out;
    qsizetype total = 0;
    for (const QStringView line : kept)
        total += line.size() + 2;
    out.reserve(total);
    for (const QStringView line : kept) {
        out.append(line);
        out.append(QLatin1String("\r\n"));
    }

    const int n = int(kept.size());
    table.setGridRowCount(n == 0 ? 2 : n + 1);
    const QString tab = QStringLiteral("\t");
    // Room for the picture columns even when the table is narrower; setRow drops the rest.
    const int columns = std::max(table.colCount(), col::PicParent + 1);
    for (int i = 0; i < n; ++i) {
        const QString line = kept[size_t(i)].toString();
        QStringList cells(columns);
        cells[col::Number] = QString::number(i + 1);
        cells[col::Url] = GetField(line, 0, tab);
        if (kind == HarvestKind::Pictures) {
            cells[col::PicOriginalName] = GetField(line, 1, tab);
            cells[col::Alt] = GetField(line, 2, tab);
            cells[col::Title] = GetField(line, 3, tab);
            cells[col::PicParent] = GetField(line, 4, tab);
        } else {
            cells[col::MediaOriginalName] = GetField(line, 1, tab);
            cells[col::MediaParent] = GetField(line, 2, tab);
        }
        table.setRow(i + 1, cells);
    }
    buffer = std::move(out);
    return n;
}

} // namespace skarvel
