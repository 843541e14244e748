#include "tables/collection_tables.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

void fill(CollectionTable& t, int rows) {
    t.setGridRowCount(rows + 1);
    for (int r = 1; r <= rows; ++r)
        t.setRow(r, {QString::number(r), "", "http://x/" + QString::number(r), "/p/" + QString::number(r)});
}

QStringList urls(const CollectionTable& t) {
    QStringList out;
    for (int r = 1; r < t.gridRowCount(); ++r)
        out << t.cell(0, r) + ":" + t.cell(2, r);
    return out;
}

TEST(CollectionTable, HeadersAndWidthsOfTheFiveTables) {
    EXPECT_EQ(tableColumns(TableKind::Pictures).size(), 15u);
    EXPECT_EQ(tableColumns(TableKind::Sounds).size(), 9u);
    EXPECT_EQ(tableColumns(TableKind::Videos).size(), 10u);
    EXPECT_EQ(tableColumns(TableKind::Texts).size(), 8u);
    EXPECT_EQ(tableColumns(TableKind::Files).size(), 5u);
    CollectionTable t(TableKind::Sounds);
    EXPECT_EQ(t.cell(0, 0), QString(QChar(0x2116)));
    EXPECT_EQ(t.cell(5, 0), "Duration (sec)");
    EXPECT_EQ(tableColumns(TableKind::Files)[3].width, 300);
    EXPECT_TRUE(t.isEmptyTable());
    EXPECT_FALSE(CollectionTable(TableKind::Files).isEditable());
}

TEST(CollectionTable, RemovingTheOnlyFilledRowLeavesOneBlankRow) {
    CollectionTable t(TableKind::Pictures);
    fill(t, 1);
    t.removeDataRow(1);
    EXPECT_EQ(t.gridRowCount(), 2);
    for (int c = 0; c < t.colCount(); ++c)
        EXPECT_EQ(t.cell(c, 1), "");
    EXPECT_TRUE(t.isEmptyTable());
}

TEST(CollectionTable, RemovingMovesLaterRowsUpButKeepsTheNumbers) {
    CollectionTable t(TableKind::Texts);
    fill(t, 5);
    t.removeDataRow(2);
    EXPECT_EQ(t.gridRowCount(), 5);
    EXPECT_EQ(urls(t), (QStringList{"1:http://x/1", "2:http://x/3", "3:http://x/4", "4:http://x/5"}));
    EXPECT_EQ(t.cell(3, 2), "/p/3"); // the local path moves with its row
    t.removeDataRow(4);              // last row: only the count drops
    EXPECT_EQ(urls(t), (QStringList{"1:http://x/1", "2:http://x/3", "3:http://x/4"}));
}

TEST(CollectionTable, BatchRemovalEqualsRemovingOneRowAtATimeFromTheBottom) {
    for (int rows : {1, 2, 7, 50}) {
        for (unsigned seed = 0; seed < 20; ++seed) {
            CollectionTable a(TableKind::Files), b(TableKind::Files);
            fill(a, rows);
            fill(b, rows);
            std::vector<int> doomed;
            for (int r = 1; r <= rows; ++r)
                if (((r * 2654435761u) ^ seed) % 3 == 0)
                    doomed.push_back(r);
            for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
                a.removeDataRow(*it);
            b.removeDataRows(doomed);
            ASSERT_EQ(a.gridRowCount(), b.gridRowCount());
            for (int r = 0; r < a.gridRowCount(); ++r)
                for (int c = 0; c < a.colCount(); ++c)
                    ASSERT_EQ(a.cell(c, r), b.cell(c, r)) << rows << " " << seed;
        }
    }
}

TEST(CollectionTable, WritesOutsideTheTableAreIgnored) {
    CollectionTable t(TableKind::Pictures);
    fill(t, 2);
    t.setCell(1, 3, "OK");
    t.setCell(99, 1, "x");
    EXPECT_EQ(t.gridRowCount(), 3);
    EXPECT_EQ(t.cell(1, 3), "");
}

} // namespace

TEST(CollectionTableRowIdentity, AnIdFollowsItsRowWhenOtherRowsAreRemoved) {
    CollectionTable t(TableKind::Pictures);
    fill(t, 5);
    const std::vector<RowId> ids = t.rowIds(5);
    ASSERT_EQ(ids.size(), 5u);
    t.removeDataRows({1, 3});
    EXPECT_EQ(t.rowOf(ids[0]), 0); // removed
    EXPECT_EQ(t.rowOf(ids[1]), 1);
    EXPECT_EQ(t.rowOf(ids[2]), 0); // removed
    EXPECT_EQ(t.rowOf(ids[3]), 2);
    EXPECT_EQ(t.rowOf(ids[4]), 3);
    EXPECT_EQ(t.cell(col::Url, t.rowOf(ids[3])), "http://x/4");
    t.removeDataRow(3); // the last row
    EXPECT_EQ(t.rowOf(ids[4]), 0);
    EXPECT_EQ(t.rowOf(ids[1]), 1);
    EXPECT_EQ(t.rowOf(0), 0);
    EXPECT_EQ(t.rowIds(99).size(), 2u);
}

TEST(CollectionTableRowIdentity, RowsThatReplaceTheItemsGetNewIds) {
    struct Case {
        const char* name;
        void (*change)(CollectionTable&);
        bool firstRowKeepsItsId;
    };
    const Case cases[] = {
        {"clearing to one blank row", [](CollectionTable& t) { t.clearToOneEmptyRow(); }, false},
        {"removing the sole filled row",
         [](CollectionTable& t) {
             t.setGridRowCount(2);
             t.removeDataRow(1);
         },
         false},
        {"shrinking and growing the table",
         [](CollectionTable& t) {
             t.setGridRowCount(2);
             t.setGridRowCount(4);
         },
         true},
        {"rewriting a row's cells",
         [](CollectionTable& t) {
             t.setRow(1, {"1", "", "http://y/1"});
         },
         true},
        {"editing a cell", [](CollectionTable& t) { t.setCell(col::Url, 1, "http://y/1"); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CollectionTable t(TableKind::Sounds);
        fill(t, 3);
        const std::vector<RowId> before = t.rowIds(3);
        c.change(t);
        EXPECT_EQ(t.rowOf(before[0]) == 1, c.firstRowKeepsItsId);
        const std::vector<RowId> after = t.rowIds(t.gridRowCount() - 1);
        for (size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(t.rowOf(after[i]), int(i) + 1);
            if (i > 0) {
                EXPECT_LT(after[i - 1], after[i]); // ids grow in row order
            }
        }
        if (!c.firstRowKeepsItsId) {
            EXPECT_GT(after[0], before[2]); // never a recycled id
        }
    }
}

TEST(CollectionTableFailureReason, TheReasonIsTheStatusTooltipAndMovesWithItsRow) {
    CollectionTable t(TableKind::Pictures);
    fill(t, 3);
    t.setStatus(2, kStatusDownloadError, "HTTP 404");
    t.setStatus(3, kStatusOK);
    EXPECT_EQ(t.cell(col::Status, 2), kStatusDownloadError);
    EXPECT_EQ(t.data(t.index(1, col::Status), Qt::ToolTipRole).toString(), "HTTP 404");
    EXPECT_EQ(t.data(t.index(1, col::Status), Qt::DisplayRole).toString(), kStatusDownloadError);
    EXPECT_FALSE(t.data(t.index(1, col::Url), Qt::ToolTipRole).isValid());
    EXPECT_FALSE(t.data(t.index(2, col::Status), Qt::ToolTipRole).isValid());

    t.removeDataRow(1);
    EXPECT_EQ(t.statusReason(1), "HTTP 404");
    EXPECT_EQ(t.statusReason(2), "");

    // A new status word, by a job or by hand, drops the old reason.
    t.setCell(col::Status, 1, kStatusDownloadError);
    EXPECT_EQ(t.statusReason(1), "");
    t.setStatus(1, kStatusDownloadError, "time-out");
    t.setRow(1, {"1", "", "http://z/"});
    EXPECT_EQ(t.statusReason(1), "");
}

TEST(CollectionTableFingerprint, AFingerprintMovesWithItsRowAndGoesWithIt) {
    CollectionTable t(TableKind::Pictures);
    fill(t, 5);
    const auto print = [](const char* path) {
        auto f = std::make_shared<ContentFingerprint>();
        f->path = path;
        return std::shared_ptr<const ContentFingerprint>(f);
    };
    const auto paths = [&t] {
        QStringList out;
        for (int r = 1; r < t.gridRowCount(); ++r)
            out << (t.fingerprint(r) ? t.fingerprint(r)->path : QStringLiteral("-"));
        return out;
    };
    t.setFingerprint(2, print("/p/2"));
    t.setFingerprint(4, print("/p/4"));
    t.setFingerprint(5, print("/p/5"));
    t.setFingerprint(6, print("/p/6")); // past the last row: ignored
    EXPECT_EQ(paths(), QStringList({"-", "/p/2", "-", "/p/4", "/p/5"}));

    t.removeDataRows({1, 4});
    EXPECT_EQ(urls(t), QStringList({"1:http://x/2", "2:http://x/3", "3:http://x/5"}));
    EXPECT_EQ(paths(), QStringList({"/p/2", "-", "/p/5"}));

    // A row written whole is another item; new rows have none.
    t.setRow(1, {"1", "", "http://y/"});
    t.setGridRowCount(6);
    EXPECT_EQ(paths(), QStringList({"-", "-", "/p/5", "-", "-"}));
    t.clearToOneEmptyRow();
    EXPECT_EQ(t.fingerprint(1), nullptr);
}
