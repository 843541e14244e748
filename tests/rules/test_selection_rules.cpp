#include "rules/selection_rules.h"

#include "tests/rules/print_qt.h"

#include <gtest/gtest.h>

#include <random>

using namespace skarvel;

namespace {

// One data row as the selection sees it: Local path, column 4, column 5.
struct Row {
    const char* path;
    const char* first;
    const char* second;
};

// Fills a table; the URL cell names the row ("u1", "u2", ...) so that survivors can be listed.
void fill(CollectionTable& t, const std::vector<Row>& rows) {
    t.setGridRowCount(int(rows.size()) + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int r = int(i) + 1;
        t.setCell(0, r, QString::number(r));
        t.setCell(col::Url, r, "u" + QString::number(r));
        t.setCell(col::LocalPath, r, QString::fromUtf8(rows[i].path));
        t.setCell(4, r, QString::fromUtf8(rows[i].first));
        t.setCell(5, r, QString::fromUtf8(rows[i].second));
    }
}

QStringList survivors(const CollectionTable& t) {
    QStringList out;
    for (int r = 1; r < t.gridRowCount(); ++r)
        out << t.cell(col::Url, r);
    return out;
}

SelectionSettings settings(std::array<const char*, 4> bounds, bool deleteEmpty = false,
                           std::array<bool, 4> keep = {true, true, true, true}) {
    SelectionSettings s;
    for (size_t i = 0; i < 4; ++i)
        s.bounds[i] = QString::fromUtf8(bounds[i]);
    s.keepType = keep;
    s.deleteEmptyLines = deleteEmpty;
    return s;
}

struct SelectionCase {
    const char* name;
    TableKind kind;
    SelectionSettings settings;
    std::vector<Row> rows;
    QStringList kept;
};

TEST(Selection, DeletesTheRowsTheBoundsTypesAndEmptyCellsCondemn) {
    const SelectionCase cases[] = {
        {"No bounds, all types, empty lines kept: nothing goes",
         TableKind::Pictures,
         settings({"", "", "", ""}),
         {{"/p/1.jpg", "5", "5"}, {"/p/2.png", "", ""}, {"/p/3.gif", "99999", "1"}},
         {"u1", "u2", "u3"}},
        {"Picture width bounds are inclusive",
         TableKind::Pictures,
         settings({"100", "200", "", ""}),
         {{"/p/1.jpg", "99", "50"},
          {"/p/2.jpg", "100", "50"},
          {"/p/3.jpg", "200", "50"},
          {"/p/4.jpg", "201", "50"}},
         {"u2", "u3"}},
        {"Picture height bounds are inclusive",
         TableKind::Pictures,
         settings({"", "", "100", "200"}),
         {{"/p/1.jpg", "1", "99"},
          {"/p/2.jpg", "1", "100"},
          {"/p/3.jpg", "1", "200"},
          {"/p/4.jpg", "1", "201"}},
         {"u2", "u3"}},
        {"Lower bound above the upper one deletes every downloaded row",
         TableKind::Pictures,
         settings({"500", "300", "", ""}),
         {{"/p/1.jpg", "400", "1"}, {"", "400", "1"}, {"/p/3.bmp", "100", "1"}, {"", "", ""}},
         {"u2", "u4"}},
        {"All picture types unticked: jpg, png and gif go whatever their case",
         TableKind::Pictures,
         settings({"", "", "", ""}, false, {false, false, false, true}),
         {{"/p/1.jpg", "1", "1"},
          {"/p/2.PNG", "1", "1"},
          {"/p/3.gif", "1", "1"},
          {"/p/4.bmp", "1", "1"},
          {"/p/5.???", "1", "1"},
          {"", "1", "1"},
          {"/p/7.jpeg", "1", "1"}},
         {"u4", "u5", "u6", "u7"}},
        {"Empty width goes when empty lines are deleted",
         TableKind::Pictures,
         settings({"", "", "", ""}, true),
         {{"/p/1.jpg", "", "50"}, {"/p/2.jpg", "50", ""}, {"", "", ""}},
         {"u2", "u3"}},
        {"Empty width counts as 100 when empty lines are kept",
         TableKind::Pictures,
         settings({"100", "", "", ""}),
         {{"/p/1.jpg", "", "1"}, {"/p/2.jpg", "x", "1"}},
         {"u1", "u2"}},
        {"Empty width under a lower bound of 101 goes",
         TableKind::Pictures,
         settings({"101", "", "", ""}),
         {{"/p/1.jpg", "", "1"}, {"/p/2.jpg", "101", "1"}},
         {"u2"}},
        {"A bound text that is not a number reads as 100 for pictures",
         TableKind::Pictures,
         settings({"abc", "", "", ""}),
         {{"/p/1.jpg", "99", "1"}, {"/p/2.jpg", "100", "1"}},
         {"u2"}},
        {"Sound size bounds are strict",
         TableKind::Sounds,
         settings({"1000", "5000", "", ""}),
         {{"/s/1.mp3", "1000", "60"},
          {"/s/2.mp3", "1001", "60"},
          {"/s/3.mp3", "4999", "60"},
          {"/s/4.mp3", "5000", "60"}},
         {"u2", "u3"}},
        {"Sound duration bounds are strict",
         TableKind::Sounds,
         settings({"", "", "10", "3600"}),
         {{"/s/1.ogg", "9", "10"},
          {"/s/2.ogg", "9", "11"},
          {"/s/3.ogg", "9", "3599"},
          {"/s/4.ogg", "9", "3600"}},
         {"u2", "u3"}},
        {"A duration that is not a number counts as 100",
         TableKind::Sounds,
         settings({"", "", "99", "101"}),
         {{"/s/1.wav", "9", ""}, {"/s/2.wav", "9", "100"}, {"/s/3.wav", "9", "101"}},
         {"u1", "u2"}},
        {"All sound types unticked: only unknown types and rows never downloaded stay",
         TableKind::Sounds,
         settings({"", "", "", ""}, false, {false, false, false, false}),
         {{"/s/1.mp3", "1", "1"},
          {"/s/2.ogg", "1", "1"},
          {"/s/3.WAV", "1", "1"},
          {"/s/4.aac", "1", "1"},
          {"/s/5.???", "1", "1"},
          {"", "1", "1"}},
         {"u5", "u6"}},
        {"A sound with an emptied size goes only when empty lines are deleted",
         TableKind::Sounds,
         settings({"", "", "", ""}, true),
         {{"/s/1.mp3", "", "5"}, {"/s/2.mp3", "7", "5"}},
         {"u2"}},
        {"An emptied size counts as 1000 bytes: kept above 999, gone at 1000",
         TableKind::Sounds,
         settings({"999", "", "", ""}),
         {{"/s/1.mp3", "", "5"}},
         {"u1"}},
        {"An emptied size at a lower bound of 1000 goes",
         TableKind::Sounds,
         settings({"1000", "", "", ""}),
         {{"/s/1.mp3", "", "5"}, {"/s/2.mp3", "1001", "5"}},
         {"u2"}},
        {"Sound bound texts that are not numbers read as 1000, 1000000, 10 and 3600",
         TableKind::Sounds,
         settings({"x", "x", "x", "x"}),
         {{"/s/1.mp3", "1000", "50"},
          {"/s/2.mp3", "1001", "50"},
          {"/s/3.mp3", "999999", "50"},
          {"/s/4.mp3", "1000000", "50"},
          {"/s/5.mp3", "5000", "10"},
          {"/s/6.mp3", "5000", "3600"}},
         {"u2", "u3"}},
        {"A video is typed from its last dot, so .webm is known",
         TableKind::Videos,
         settings({"", "", "", ""}, false, {false, true, true, true}),
         {{"/v/1.webm", "5000", ""},
          {"/v/2.WEBM", "5000", ""},
          {"/v/3.mp4", "5000", ""},
          {"/v/4", "5000", ""}},
         {"u3", "u4"}},
        {"Video types mp4 and ogv, and no duration pair",
         TableKind::Videos,
         settings({"1000", "", "50", "60"}, false, {true, false, false, true}),
         {{"/v/1.mp4", "5000", "1"},
          {"/v/2.ogv", "5000", "1"},
          {"/v/3.webm", "5000", "1"},
          {"/v/4.webm", "1000", "1"}},
         {"u3"}},
        {"A sound is typed by its last four characters, so .webm is not a sound type",
         TableKind::Sounds,
         settings({"", "", "", ""}, false, {false, false, false, false}),
         {{"/s/1.webm", "5000", "5"}, {"/s/2.mp3", "5000", "5"}},
         {"u1"}},
    };
    for (const auto& c : cases) {
        CollectionTable t(c.kind);
        fill(t, c.rows);
        ApplySelection(t, c.settings);
        EXPECT_EQ(survivors(t), c.kept) << c.name;
    }
}

TEST(Selection, DeletingTheOnlyDataRowLeavesOneBlankRow) {
    CollectionTable t(TableKind::Pictures);
    fill(t, {{"/p/1.jpg", "50", "50"}});
    t.setCell(col::Alt, 1, "alt");
    ApplySelection(t, settings({"100", "", "", ""}));
    ASSERT_EQ(t.gridRowCount(), 2);
    for (int c = 0; c < t.colCount(); ++c)
        EXPECT_EQ(t.cell(c, 1), "") << "column " << c;
}

TEST(Selection, DeletingRowsTwoAndFourOfFiveKeepsTheNumbersInColumnZero) {
    CollectionTable t(TableKind::Pictures);
    fill(t, {{"/p/1.jpg", "150", "1"},
             {"/p/2.jpg", "50", "1"},
             {"/p/3.jpg", "150", "1"},
             {"/p/4.jpg", "50", "1"},
             {"/p/5.jpg", "150", "1"}});
    ApplySelection(t, settings({"100", "", "", ""}));
    ASSERT_EQ(t.gridRowCount(), 4);
    EXPECT_EQ((QStringList{t.cell(0, 1), t.cell(0, 2), t.cell(0, 3)}), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(survivors(t), (QStringList{"u1", "u3", "u5"}));
    EXPECT_EQ(t.cell(col::LocalPath, 3), "/p/5.jpg");
}

// The rule as written: walk up from the last row and remove a condemned row at
// once, copying every row below it one up, column 0 excepted.
void naiveSelection(CollectionTable& t, const SelectionSettings& s) {
    for (int r = t.gridRowCount() - 1; r >= 1; --r) {
        if (!SelectionDeletesRow(t, s, r))
            continue;
        for (int i = r; i < t.gridRowCount() - 1; ++i)
            for (int c = 1; c < t.colCount(); ++c)
                t.setCell(c, i, t.cell(c, i + 1));
        if (t.gridRowCount() == 2) {
            for (int c = 0; c < t.colCount(); ++c)
                t.setCell(c, 1, QString());
        } else {
            t.setGridRowCount(t.gridRowCount() - 1);
        }
    }
}

TEST(Selection, OnePassEqualsRemovingRowByRowFromTheBottom) {
    const char* paths[] = {"",          "/w/a.jpg", "/w/b.PNG", "/w/c.gif", "/w/d.bmp",
                           "/w/e.???",  "/w/f.mp3", "/w/g.ogg", "/w/h.wav", "/w/i.aac",
                           "/w/j.webm", "/w/k.mp4", "/w/l.ogv", "x"};
    const char* values[] = {"",    "abc",  "0",    "99",   "100",  "101",
                            "999", "1000", "1001", "3600", "5000", "1000000"};
    const char* bounds[] = {"", "", "", "10", "100", "200", "1000", "1001", "3600", "1000000", "zz"};
    std::mt19937 rng(20240611);
    auto pick = [&](const auto& list) { return list[rng() % std::size(list)]; };
    int deletedSomewhere = 0;
    for (const TableKind kind : {TableKind::Pictures, TableKind::Sounds, TableKind::Videos}) {
        for (int round = 0; round < 150; ++round) {
            std::vector<Row> rows(size_t(1 + rng() % 25));
            for (auto& row : rows)
                row = {pick(paths), pick(values), pick(values)};
            SelectionSettings s =
                settings({pick(bounds), pick(bounds), pick(bounds), pick(bounds)}, rng() % 2,
                         {bool(rng() % 2), bool(rng() % 2), bool(rng() % 2), bool(rng() % 2)});
            CollectionTable fast(kind), naive(kind);
            fill(fast, rows);
            fill(naive, rows);
            ApplySelection(fast, s);
            naiveSelection(naive, s);
            ASSERT_EQ(fast.gridRowCount(), naive.gridRowCount()) << int(kind) << " round " << round;
            for (int r = 1; r < fast.gridRowCount(); ++r)
                for (int c = 0; c < fast.colCount(); ++c)
                    ASSERT_EQ(fast.cell(c, r), naive.cell(c, r)) << int(kind) << " round " << round;
            deletedSomewhere += fast.gridRowCount() - 1 < int(rows.size());
        }
    }
    EXPECT_GT(deletedSomewhere, 100); // the random settings really delete rows
}

struct NormaliseCase {
    TableKind kind;
    BoundField field;
    const char* typed;
    const char* shown;
};

TEST(Selection, BoundFieldsAreNormalisedWhenTheFocusLeaves) {
    using F = BoundField;
    const NormaliseCase cases[] = {
        {TableKind::Pictures, F::FirstLower, "5", "10"},
        {TableKind::Pictures, F::FirstLower, "", ""},
        {TableKind::Pictures, F::FirstLower, "2000", "1000"},
        {TableKind::Pictures, F::FirstLower, "abc", "100"},
        {TableKind::Pictures, F::FirstUpper, "abc", "200"},
        {TableKind::Pictures, F::SecondLower, "-7", "10"},
        {TableKind::Pictures, F::SecondUpper, "20000", "10000"},
        {TableKind::Pictures, F::SecondUpper, " 640 ", "640"},
        {TableKind::Sounds, F::FirstLower, "500", "1000"},
        {TableKind::Sounds, F::FirstLower, "1500000000", "1000000000"},
        {TableKind::Sounds, F::FirstUpper, "2100000000", "2000000000"},
        {TableKind::Sounds, F::FirstUpper, "99999999999", "1000000"},
        {TableKind::Sounds, F::SecondLower, "20000", "10000"},
        {TableKind::Sounds, F::SecondLower, "x", "10"},
        {TableKind::Sounds, F::SecondUpper, "5", "10"},
        {TableKind::Sounds, F::SecondUpper, "50000", "50000"},
        {TableKind::Sounds, F::SecondUpper, "200000", "100000"},
        {TableKind::Sounds, F::SecondUpper, "x", "3600"},
        {TableKind::Videos, F::FirstLower, "1", "1000"},
        {TableKind::Videos, F::FirstUpper, "3000000000", "1000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseSelectionField(c.kind, c.field, QString::fromUtf8(c.typed)),
                  QString::fromUtf8(c.shown))
            << int(c.kind) << " field " << int(c.field) << " typed " << c.typed;
    EXPECT_FALSE(SelectionFieldLimits(TableKind::Videos, F::SecondLower));
    EXPECT_FALSE(SelectionFieldLimits(TableKind::Texts, F::FirstLower));
}

TEST(Selection, TypeBoxesOfEachDialog) {
    auto extensions = [](TableKind k) {
        QStringList out;
        for (const auto& box : SelectionTypeBoxes(k))
            out << box.caption + "=" + box.extension;
        return out;
    };
    EXPECT_EQ(extensions(TableKind::Pictures), (QStringList{"JPEG=.jpg", "PNG=.png", "GIF=.gif"}));
    EXPECT_EQ(extensions(TableKind::Sounds), (QStringList{"MP3=.mp3", "OGG=.ogg", "WAV=.wav", "AAC=.aac"}));
    EXPECT_EQ(extensions(TableKind::Videos), (QStringList{"WEBM=.webm", "MP4=.mp4", "OGV=.ogv"}));
}

} // namespace
