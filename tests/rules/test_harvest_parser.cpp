#include "rules/harvest_parser.h"

#include "common/text_ops.h"

#include "tests/rules/print_qt.h"

#include <gtest/gtest.h>

#include <random>

using namespace skarvel;

namespace {

QStringList row(const CollectionTable& t, int r) {
    QStringList cells;
    for (int c = 0; c < t.colCount(); ++c)
        cells << t.cell(c, r);
    return cells;
}

TEST(HarvestParser, KeepsTheFirstRecordOfEveryPictureUrl) {
    CollectionTable t(TableKind::Pictures);
    t.setGridRowCount(9);
    t.setCell(col::Width, 3, "stale");
    QString buffer = "http://a/1.jpg\t1.jpg\tone\tTitle 1\thttp://page1\r\n"
                     "http://a/2.png\t2.png\r\n"
                     "http://a/1.jpg\tother.jpg\tlater\tT\thttp://page2\r\n" // same URL: dropped
                     "HTTP://a/1.jpg\tupper\n"                               // other case: kept
                     "\r"                                                    // first empty line: kept
                     "http://a/3.gif\n"
                     "\r\n" // second empty line: dropped
                     "http://a/2.png\tagain\n"
                     "http://a/4.gif\tx\ty\tz\tp\textra"; // no final line break
    const int n = ParseHarvest(buffer, t, HarvestKind::Pictures);
    EXPECT_EQ(n, 6);
    EXPECT_EQ(buffer, "http://a/1.jpg\t1.jpg\tone\tTitle 1\thttp://page1\r\n"
                      "http://a/2.png\t2.png\r\n"
                      "HTTP://a/1.jpg\tupper\r\n"
                      "\r\n"
                      "http://a/3.gif\r\n"
                      "http://a/4.gif\tx\ty\tz\tp\textra\r\n");
    ASSERT_EQ(t.gridRowCount(), 7);
    EXPECT_EQ(row(t, 1), (QStringList{"1", "", "http://a/1.jpg", "", "", "", "", "1.jpg", "one", "Title 1",
                                      "http://page1", "", "", "", ""}));
    EXPECT_EQ(row(t, 2),
              (QStringList{"2", "", "http://a/2.png", "", "", "", "", "2.png", "", "", "", "", "", "", ""}));
    EXPECT_EQ(row(t, 3)[2], "HTTP://a/1.jpg");
    EXPECT_EQ(row(t, 3)[col::Width], ""); // stale cells of a reused row are cleared
    EXPECT_EQ(row(t, 4), (QStringList{"4", "", "", "", "", "", "", "", "", "", "", "", "", "", ""}));
    EXPECT_EQ(row(t, 5).mid(0, 3), (QStringList{"5", "", "http://a/3.gif"}));
    EXPECT_EQ(row(t, 6).mid(7, 4), (QStringList{"x", "y", "z", "p"}));
    // Alt is field 2, Title field 3, Parent field 4; a sixth field is ignored.
    EXPECT_EQ(row(t, 6)[col::PicParent], "p");
}

TEST(HarvestParser, SoundAndVideoRecordsHaveOriginalNameAndParent) {
    for (const auto& [tableKind, kind] : {std::pair{TableKind::Sounds, HarvestKind::Sounds},
                                          std::pair{TableKind::Videos, HarvestKind::Videos}}) {
        CollectionTable t(tableKind);
        QString buffer = "http://s/a.mp3\ta.mp3\thttp://page1\r\nhttp://s/a.mp3\tb\thttp://page2\r\n"
                         "http://s/b.ogg\r\n";
        EXPECT_EQ(ParseHarvest(buffer, t, kind), 2);
        ASSERT_EQ(t.gridRowCount(), 3);
        QStringList first{"1", "", "http://s/a.mp3", "", "", "", "", "a.mp3", "http://page1"};
        if (tableKind == TableKind::Videos)
            first << "";
        EXPECT_EQ(row(t, 1), first);
        EXPECT_EQ(row(t, 2)[col::Url], "http://s/b.ogg");
        EXPECT_EQ(row(t, 2)[col::MediaOriginalName], "");
        EXPECT_EQ(buffer, "http://s/a.mp3\ta.mp3\thttp://page1\r\nhttp://s/b.ogg\r\n");
    }
}

TEST(HarvestParser, AnEmptyBufferLeavesOneDataRow) {
    CollectionTable t(TableKind::Pictures);
    t.setGridRowCount(5);
    QString buffer;
    EXPECT_EQ(ParseHarvest(buffer, t, HarvestKind::Pictures), 0);
    EXPECT_EQ(t.gridRowCount(), 2);
    EXPECT_EQ(buffer, "");

    QString onlyBreak = "\r\n"; // one empty line is a record with an empty URL
    EXPECT_EQ(ParseHarvest(onlyBreak, t, HarvestKind::Pictures), 1);
    EXPECT_EQ(onlyBreak, "\r\n");
    EXPECT_EQ(t.gridRowCount(), 2);
    EXPECT_EQ(t.cell(0, 1), "1");
}

// The rule as written: split the memo text character by character and look every
// key up in the list of kept lines.
int naiveParse(QString& buffer, CollectionTable& table, HarvestKind kind) {
    QStringList lines;
    QString current;
    bool pending = false;
    for (qsizetype i = 0; i < buffer.size(); ++i) {
        const QChar c = buffer[i];
        if (c == u'\r' || c == u'\n') {
            lines << current;
            current.clear();
            pending = false;
            if (c == u'\r' && i + 1 < buffer.size() && buffer[i + 1] == u'\n')
                ++i;
        } else {
            current += c;
            pending = true;
        }
    }
    if (pending)
        lines << current;
    QStringList kept;
    for (const QString& line : lines) {
        bool seen = false;
        for (const QString& k : kept)
            if (GetField(k, 0, "\t") == GetField(line, 0, "\t"))
                seen = true;
        if (!seen)
            kept << line;
    }
    buffer.clear();
    for (const QString& line : kept)
        buffer += line + "\r\n";
    const int n = int(kept.size());
    table.setGridRowCount(n + 1);
    for (int i = 0; i < n; ++i) {
        const QString& l = kept[i];
        const int r = i + 1;
        for (int c = 0; c < table.colCount(); ++c)
            table.setCell(c, r, "");
        table.setCell(0, r, QString::number(r));
        table.setCell(2, r, GetField(l, 0, "\t"));
        table.setCell(7, r, GetField(l, 1, "\t"));
        if (kind == HarvestKind::Pictures) {
            table.setCell(8, r, GetField(l, 2, "\t"));
            table.setCell(9, r, GetField(l, 3, "\t"));
            table.setCell(10, r, GetField(l, 4, "\t"));
        } else {
            table.setCell(8, r, GetField(l, 2, "\t"));
        }
    }
    return n;
}

TEST(HarvestParser, EqualsTheQuadraticRuleOnRandomBuffers) {
    const char* pieces[] = {"http://a/1", "http://a/2", "http://A/1", "http://a/3", "", "x", "é"};
    const char* breaks[] = {"\r\n", "\r\n", "\n", "\r", "\t", "\t", "\t\t"};
    std::mt19937 rng(77);
    for (const auto& [tableKind, kind] : {std::pair{TableKind::Pictures, HarvestKind::Pictures},
                                          std::pair{TableKind::Sounds, HarvestKind::Sounds},
                                          std::pair{TableKind::Videos, HarvestKind::Videos}}) {
        for (int round = 0; round < 300; ++round) {
            QString buffer;
            const int parts = int(rng() % 40);
            for (int i = 0; i < parts; ++i)
                buffer += QString::fromUtf8(pieces[rng() % std::size(pieces)]) +
                          QString::fromUtf8(breaks[rng() % std::size(breaks)]);
            QString fastBuffer = buffer, naiveBuffer = buffer;
            CollectionTable fast(tableKind), naive(tableKind);
            const int n = ParseHarvest(fastBuffer, fast, kind);
            ASSERT_EQ(n, naiveParse(naiveBuffer, naive, kind)) << round;
            ASSERT_EQ(fastBuffer, naiveBuffer) << round;
            ASSERT_EQ(fast.gridRowCount(), naive.gridRowCount()) << round;
            for (int r = 1; r < fast.gridRowCount(); ++r)
                ASSERT_EQ(row(fast, r), row(naive, r)) << round << " row " << r;
        }
    }
}

} // namespace
