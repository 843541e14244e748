#include "rules/file_name_rules.h"

#include "tests/rules/print_qt.h"

#include <gtest/gtest.h>

#include <map>

using namespace skarvel;

namespace {

struct NameCase {
    const char* name;
    TableKind kind;
    int row; // the data row that receives the cells
    std::map<int, const char*> cells;
    FileNameSettings settings;
    const char* expected;
};

FileNameSettings use(int item, int letterCase = KeepCase, const char* maxLength = "40",
                     std::vector<ReplacePair> replaces = {}) {
    return {item, letterCase, QString::fromUtf8(maxLength), std::move(replaces)};
}

TEST(FileNames, ExportNameOfOneRow) {
    const QString longBase(50, u'x');
    const NameCase cases[] = {
        {"New ID is the row number",
         TableKind::Pictures,
         7,
         {{3, "/w/Pictures/3.png"}},
         use(UseNewId),
         "7.png"},
        {"Temp file name is the stored file's number",
         TableKind::Pictures,
         1,
         {{3, "/w/Pictures/12.jpg"}},
         use(UseTempFileName),
         "12.jpg"},
        {"Temp file name understands backslashes",
         TableKind::Sounds,
         1,
         {{3, "C:\\Temp\\Sounds\\12.mp3"}},
         use(UseTempFileName),
         "12.mp3"},
        {"Original name loses its own extension; the Local path gives it",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {7, "photo.final.JPG"}},
         use(UseOriginalName),
         "photo.final.jpg"},
        {"Original name without a dot gives the extension alone",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {7, "photo"}},
         use(UseOriginalName),
         ".jpg"},
        {"Texts: nothing fills Original name, so only the extension",
         TableKind::Texts,
         1,
         {{3, "/w/Text/1.txt"}},
         use(UseOriginalName),
         ".txt"},
        {"Texts read Original name from column 6",
         TableKind::Texts,
         1,
         {{3, "/w/Text/1.txt"}, {6, "page.html"}},
         use(UseOriginalName),
         "page.txt"},
        {"Empty Alt gives the extension alone", TableKind::Pictures, 1, {{3, "/w/1.png"}}, use(3), ".png"},
        {"Pictures: Title is item 4",
         TableKind::Pictures,
         1,
         {{3, "/w/1.gif"}, {8, "alt"}, {9, "title"}, {10, "parent"}},
         use(4),
         "title.gif"},
        {"Pictures: Parent is item 5",
         TableKind::Pictures,
         1,
         {{3, "/w/1.gif"}, {9, "title"}, {10, "parent"}},
         use(5),
         "parent.gif"},
        {"Sounds: Parent is item 3",
         TableKind::Sounds,
         1,
         {{3, "/w/1.ogg"}, {8, "page"}},
         use(3),
         "page.ogg"},
        {"Texts: Header is item 3", TableKind::Texts, 1, {{3, "/w/1.htm"}, {7, "News"}}, use(3), "News.htm"},
        {"An item the dialog does not have gives an empty base",
         TableKind::Sounds,
         1,
         {{3, "/w/1.ogg"}, {8, "page"}},
         use(4),
         ".ogg"},
        {"Replaces chain: (a,b) then (b,c) turn abc into ccc",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abc"}},
         use(3, KeepCase, "40", {{"a", "b"}, {"b", "c"}}),
         "ccc.jpg"},
        {"An empty To deletes; a row with an empty From does nothing",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "a-b-c"}},
         use(3, KeepCase, "40", {{"", "zz"}, {"-", ""}, {"", ""}}),
         "abc.jpg"},
        {"Replaces act on the base only, not on the extension",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "jpg"}},
         use(3, KeepCase, "40", {{"j", "J"}}),
         "Jpg.jpg"},
        {"Max length 10 cuts the base to 6",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcdefghij"}},
         use(3, KeepCase, "10"),
         "abcdef.jpg"},
        {"Max length 40 leaves a base of 36",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcdefghijabcdefghijabcdefghijabcdef"}},
         use(3),
         "abcdefghijabcdefghijabcdefghijabcdef.jpg"},
        {"Max length 40 cuts a base of 37",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcdefghijabcdefghijabcdefghijabcdefg"}},
         use(3),
         "abcdefghijabcdefghijabcdefghijabcdef.jpg"},
        {"A video extension of five characters makes the name one longer",
         TableKind::Videos,
         1,
         {{3, "/w/1.webm"}, {8, "a long parent name"}},
         use(3, KeepCase, "10"),
         "a long.webm"},
        {"A cut that ends in a blank is trimmed after the cut",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcde fgh"}},
         use(3, KeepCase, "10"),
         "abcde.jpg"},
        {"Max length that is not a number reads as 300",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcdefghij"}},
         use(3, KeepCase, "abc"),
         "abcdefghij.jpg"},
        {"Empty Max length reads as 300",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcdefghij"}},
         use(3, KeepCase, ""),
         "abcdefghij.jpg"},
        {"Max length below 4 leaves no base at all",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abcdefghij"}},
         use(3, KeepCase, "3"),
         ".jpg"},
        {"A negative Max length leaves no base either",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "abc"}},
         use(3, KeepCase, "-20"),
         ".jpg"},
        {"Blanks and control characters are trimmed, inner ones stay",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "\t my  picture\x01 "}},
         use(3),
         "my  picture.jpg"},
        {"Capitalize after trimming",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}, {8, "  my picture  "}},
         use(3, Capitalize),
         "My picture.jpg"},
        {"Capitalize lowers the rest, extension too",
         TableKind::Pictures,
         1,
         {{3, "/w/1.JPG"}, {8, "MY Photo"}},
         use(3, Capitalize),
         "My photo.jpg"},
        {"Uppercase turns the extension too",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpg"}},
         use(UseNewId, Uppercase),
         "1.JPG"},
        {"Lowercase covers letters beyond A to Z",
         TableKind::Pictures,
         1,
         {{3, "/w/1.JPG"}, {8, "ÀÉÎ Ωmega"}},
         use(3, Lowercase),
         "àéî ωmega.jpg"},
        {"Uppercase uses full case mapping",
         TableKind::Sounds,
         1,
         {{3, "/w/1.mp3"}, {8, "straße"}},
         use(3, Uppercase),
         "STRASSE.MP3"},
        {"Capitalize an accented first letter",
         TableKind::Pictures,
         1,
         {{3, "/w/1.png"}, {8, "élan VITAL"}},
         use(3, Capitalize),
         "Élan vital.png"},
        {"Pictures take the last four characters of a long extension",
         TableKind::Pictures,
         1,
         {{3, "/w/1.jpeg"}},
         use(UseNewId),
         "1jpeg"},
        {"Texts take the extension from the last dot",
         TableKind::Texts,
         2,
         {{3, "/w/2.html"}},
         use(UseNewId),
         "2.html"},
        {"A row never downloaded gets the row number alone", TableKind::Pictures, 5, {}, use(UseNewId), "5"},
        {"Temp file name of a row never downloaded is empty",
         TableKind::Videos,
         1,
         {},
         use(UseTempFileName),
         ""},
        {"A short Local path is taken whole as the extension",
         TableKind::Sounds,
         1,
         {{3, "ab"}},
         use(UseNewId),
         "1ab"},
    };
    for (const auto& c : cases) {
        CollectionTable t(c.kind);
        t.setGridRowCount(c.row + 1);
        for (const auto& [column, text] : c.cells)
            t.setCell(column, c.row, QString::fromUtf8(text));
        EXPECT_EQ(ComputeExportName(t, c.row, c.kind, c.settings), QString::fromUtf8(c.expected)) << c.name;
    }
    EXPECT_EQ(BuildExportName(longBase, ".jpg", use(3, KeepCase, "300")), longBase + ".jpg");
}

TEST(FileNames, ApplyWritesTheExportNameOfEveryRowOnly) {
    CollectionTable pictures(TableKind::Pictures);
    pictures.setGridRowCount(4);
    const char* paths[] = {"/w/1.jpg", "/w/2.png", "/w/3.gif"};
    for (int r = 1; r <= 3; ++r) {
        pictures.setCell(col::LocalPath, r, paths[r - 1]);
        pictures.setCell(col::PicExportName, r, "old");
    }
    ApplyFileNames(pictures, TableKind::Pictures, use(UseNewId));
    EXPECT_EQ((QStringList{pictures.cell(6, 1), pictures.cell(6, 2), pictures.cell(6, 3)}),
              (QStringList{"1.jpg", "2.png", "3.gif"}));
    EXPECT_EQ(pictures.cell(col::LocalPath, 2), "/w/2.png");

    CollectionTable texts(TableKind::Texts);
    texts.setGridRowCount(3);
    texts.setCell(col::LocalPath, 1, "/w/Text/1.txt");
    texts.setCell(col::Header, 1, "Front page");
    texts.setCell(col::Header, 2, "Second");
    ApplyFileNames(texts, TableKind::Texts, use(3, Lowercase, "40", {{" ", "_"}}));
    EXPECT_EQ(texts.cell(col::TextExportName, 1), "front_page.txt");
    EXPECT_EQ(texts.cell(col::TextExportName, 2), "second");
    EXPECT_EQ(texts.cell(6, 1), ""); // Original name is not touched
}

TEST(FileNames, MaxLengthIsNormalisedWhenTheFocusLeaves) {
    const std::pair<const char*, const char*> cases[] = {
        {"3", "5"},  {"abc", "300"},         {"", ""}, {"301", "300"}, {"40", "40"},
        {"-1", "5"}, {"99999999999", "300"},
    };
    for (const auto& [typed, shown] : cases)
        EXPECT_EQ(NormaliseMaxLength(typed), QString(shown)) << typed;
}

TEST(FileNames, TidyingTheReplacesGridKeepsPairsInOrderAndOneBlankRow) {
    struct Case {
        const char* name;
        std::vector<ReplacePair> rows;
        std::vector<ReplacePair> tidy;
    };
    const Case cases[] = {
        {"Pairs in rows 1 and 3 close the gap",
         {{"a", "1"}, {"", ""}, {"c", "3"}},
         {{"a", "1"}, {"c", "3"}, {"", ""}}},
        {"A row with only a To is dropped", {{"", "lost"}, {"b", ""}}, {{"b", ""}, {"", ""}}},
        {"Nothing kept: one blank row", {{"", ""}, {"", "x"}}, {{"", ""}}},
        {"No rows at all: one blank row", {}, {{"", ""}}},
        {"A pair typed into the blank last row gets a new blank row",
         {{"a", "b"}, {"c", "d"}},
         {{"a", "b"}, {"c", "d"}, {"", ""}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TidyReplaceRows(c.rows), c.tidy) << c.name;
}

TEST(FileNames, UseItemsOfEachDialog) {
    EXPECT_EQ(FileNameUseItems(TableKind::Pictures),
              (QStringList{"New ID", "Original file name (if exists)", "Temp file name", "Alt", "Title",
                           "Parent"}));
    EXPECT_EQ(FileNameUseItems(TableKind::Videos).last(), "Parent");
    EXPECT_EQ(FileNameUseItems(TableKind::Texts).last(), "Header");
    EXPECT_TRUE(FileNameUseItems(TableKind::Files).isEmpty());
    EXPECT_EQ(LetterCaseItems(), (QStringList{"Without changes", "Lowercase", "Uppercase", "Capitalize"}));
}

} // namespace
