#include "rules/line_list.h"
#include "rules/text_rules.h"

#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include "tests/rules/print_qt.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

struct RulesCase {
    const char* name;
    QString page;
    TextRules rules;
    QString text;
    QString header;
};

TEST(TextRules, BlocksReplacementsTagsLinesAndHeaders) {
    const QString blankRuns =
        "[\r\n\r\na\r\n\r\n\r\n\r\nb\r\n\r\n"; // after "[": 8 lines, "" "" a "" "" "" b ""
    const RulesCase cases[] = {
        {"Block between markers, neither included",
         "aaa<b>X</b>zzz",
         {.blockBegin = "<b>", .blockEnd = "</b>"},
         "X",
         ""},
        {"Begin marker included",
         "aaa<b>X</b>zzz",
         {.blockBegin = "<b>", .blockEnd = "</b>", .includeBegin = true},
         "<b>X",
         ""},
        {"Both markers included",
         "aaa<b>X</b>zzz",
         {.blockBegin = "<b>", .blockEnd = "</b>", .includeBegin = true, .includeEnd = true},
         "<b>X</b>",
         ""},
        {"End marker before the begin marker gives nothing",
         "a</b>b<b>c",
         {.blockBegin = "<b>", .blockEnd = "</b>"},
         "",
         ""},
        {"Markers that touch give nothing", "a<b></b>c", {.blockBegin = "<b>", .blockEnd = "</b>"}, "", ""},
        {"The end marker is searched from the start of the page",
         "</b>a<b>X</b>",
         {.blockBegin = "<b>", .blockEnd = "</b>"},
         "",
         ""},
        {"Only a begin marker: to the very end",
         "aa<b>rest\r\nmore\r\n",
         {.blockBegin = "<b>"},
         "rest\r\nmore\r\n",
         ""},
        {"Only a begin marker, included",
         "aa<b>rest",
         {.blockBegin = "<b>", .includeBegin = true},
         "<b>rest",
         ""},
        {"Only an end marker: from the start", "head</b>tail", {.blockEnd = "</b>"}, "head", ""},
        {"End marker found, begin marker given but absent",
         "head</b>tail",
         {.blockBegin = "<nope>", .blockEnd = "</b>", .includeEnd = true},
         "head</b>",
         ""},
        {"Neither marker found", "plain page", {.blockBegin = "<b>", .blockEnd = "</b>"}, "", ""},
        {"Both marker memos empty", "<title>t</title>plain page", {}, "", ""},
        {"A marker over two lines carries CR LF",
         "x\r\nBEGIN\r\nHERE\r\nbody\r\nEND\r\n",
         {.blockBegin = "BEGIN\r\nHERE\r\n", .blockEnd = "\r\nEND"},
         "body",
         ""},
        {"A two-line marker with a bare LF is not found in a CR LF page",
         "x\r\nBEGIN\r\nHERE\r\nbody",
         {.blockBegin = "BEGIN\nHERE"},
         "",
         ""},
        {"Markers are case-sensitive",
         "aaa<B>X</b>zzz",
         {.blockBegin = "<b>", .blockEnd = "</b>"},
         "aaa<B>X",
         ""},
        {"Replacement rows act in order on the previous result",
         "[abc",
         {.blockBegin = "[", .replacements = {{"a", "b"}, {"b", "c"}, {"c", "d"}}},
         "ddd",
         ""},
        {"Row 1 blank: no replacement acts at all",
         "[abc",
         {.blockBegin = "[", .replacements = {{"", ""}, {"a", "z"}}},
         "abc",
         ""},
        {"A later blank row is passed over",
         "[abc",
         {.blockBegin = "[", .replacements = {{"a", "x"}, {"", "q"}, {"c", "y"}}},
         "xby",
         ""},
        {"Replacements act on tags before they are stripped",
         "[<i>a</i>",
         {.blockBegin = "[", .replacements = {{"<i>", "&lt;"}}, .stripTags = true},
         "&lt;a",
         ""},
        {"Strip tags", "[a<br>b>c<d", {.blockBegin = "[", .stripTags = true}, "abc", ""},
        {"Delete lines containing a text, any letter case",
         "[keep\r\nsee advert here\nAdvertising\rlast",
         {.blockBegin = "[", .deleteLinesContaining = "ADVERT"},
         "keep\r\nlast\r\n",
         ""},
        {"Empty search lines match nothing",
         "[keep\r\nAD\r\n\r\nx",
         {.blockBegin = "[", .deleteLinesContaining = "\r\nad\r\n\r\n"},
         "keep\r\n\r\nx\r\n",
         ""},
        {"Only empty search lines still rewrite the line breaks",
         "[a\nb",
         {.blockBegin = "[", .deleteLinesContaining = "\r\n"},
         "a\r\nb\r\n",
         ""},
        {"Line deletion sees the text after tag removal",
         "[<p class=ad>x</p>\r\ny",
         {.blockBegin = "[", .stripTags = true, .deleteLinesContaining = "ad"},
         "x\r\ny\r\n",
         ""},
        {"Double and more: leading run gone, later runs to one",
         blankRuns,
         {.blockBegin = "[", .emptyLines = TextRules::DoubleAndMore},
         "a\r\n\r\nb\r\n\r\n",
         ""},
        {"All: every empty line goes",
         blankRuns,
         {.blockBegin = "[", .emptyLines = TextRules::All},
         "a\r\nb\r\n",
         ""},
        {"A line of blanks is not empty",
         "[ \r\n\r\nx",
         {.blockBegin = "[", .emptyLines = TextRules::All},
         " \r\nx\r\n",
         ""},
        {"Lone CR and lone LF split lines; a NUL ends the text",
         QString("[a\rb\nc\r\n") + QChar(0) + "junk\r\nmore",
         {.blockBegin = "[", .emptyLines = TextRules::All},
         "a\r\nb\r\nc\r\n",
         ""},
        {"Rules that do not run leave the line breaks alone", "[a\nb", {.blockBegin = "["}, "a\nb", ""},
        {"Header from the page as loaded, whatever the text rules cut",
         "<html><title>News</title><body>X</body>",
         {.blockBegin = "<body>", .blockEnd = "</body>", .headerBegin = "<title>", .headerEnd = "</title>"},
         "X",
         "News"},
        {"Header markers included",
         "<title>News</title>",
         {.headerBegin = "<title>",
          .headerEnd = "</title>",
          .includeHeaderBegin = true,
          .includeHeaderEnd = true},
         "",
         "<title>News</title>"},
        {"Header with one marker missing is empty",
         "<title>News</title>",
         {.headerBegin = "<title>", .headerEnd = "</h1>"},
         "",
         ""},
        {"Header with only one marker given is empty",
         "<title>News</title>",
         {.headerBegin = "<title>"},
         "",
         ""},
        {"Header end before header begin is empty",
         "</title><title>News",
         {.headerBegin = "<title>", .headerEnd = "</title>"},
         "",
         ""},
        {"Header tags stripped",
         "<h1><b>Big</b> news</h1>",
         {.headerBegin = "<h1>", .headerEnd = "</h1>", .stripHeaderTags = true},
         "",
         "Big news"},
        {"Header tags kept without the box",
         "<h1><b>Big</b></h1>",
         {.headerBegin = "<h1>", .headerEnd = "</h1>"},
         "",
         "<b>Big</b>"},
    };
    for (const auto& c : cases) {
        const TextResult r = ApplyTextRules(c.page, c.rules);
        EXPECT_EQ(r.text, c.text) << c.name;
        EXPECT_EQ(r.header, c.header) << c.name;
    }
}

TEST(TextRules, ApplyingTwiceFindsNoMarkersInTheCleanedText) {
    const TextRules rules{
        .blockBegin = "<body>", .blockEnd = "</body>", .headerBegin = "<title>", .headerEnd = "</title>"};
    const TextResult first = ApplyTextRules("<title>T</title><body>Text</body>", rules);
    EXPECT_EQ(first.text, "Text");
    EXPECT_EQ(first.header, "T");
    const TextResult second = ApplyTextRules(first.text, rules);
    EXPECT_EQ(second.text, "");
    EXPECT_EQ(second.header, "");
}

TEST(LineList, SplitsLikeAMemoAndJoinsWithCrLf) {
    const std::pair<QString, QStringList> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\n", {""}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(SplitLines(text), lines) << qPrintable(text);
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(CrLfLineBreaks(QStringLiteral("a\nb\rc\r\nd\n\r")), "a\r\nb\r\nc\r\nd\r\n\r\n");
}

struct PageCase {
    const char* name;
    QByteArray bytes;
    QString text;
};

TEST(PageText, DecodesByWhatThePageDeclares) {
    const QByteArray cp1251Privet("\xCF\xF0\xE8\xE2\xE5\xF2"); // "Привет" in windows-1251
    const QByteArray sjisNihon("\x93\xFA\x96\x7B");            // "日本" in Shift_JIS
    const QByteArray utf8Privet = QStringLiteral("Привет").toUtf8();
    const QString privet = QStringLiteral("Привет");
    const QString nihon = QStringLiteral("日本");
    const QByteArray bom("\xEF\xBB\xBF");
    const PageCase cases[] = {
        {"windows-1251 by meta charset", "<html><head><meta charset=\"windows-1251\"></head>" + cp1251Privet,
         "<html><head><meta charset=\"windows-1251\"></head>" + privet},
        {"windows-1251 by http-equiv",
         "<HEAD>\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">\n" +
             cp1251Privet,
         "<HEAD>\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">\r\n" +
             privet},
        {"Shift_JIS by meta charset without quotes", "<meta charset=Shift_JIS>" + sjisNihon,
         "<meta charset=Shift_JIS>" + nihon},
        {"Shift_JIS by http-equiv after another meta",
         "<meta name=\"viewport\" content=\"width=device-width\"><meta http-equiv='content-type' "
         "content='text/html;charset=shift_jis'/>" +
             sjisNihon,
         "<meta name=\"viewport\" content=\"width=device-width\"><meta http-equiv='content-type' "
         "content='text/html;charset=shift_jis'/>" +
             nihon},
        {"UTF-8 without a BOM or a declaration", "<p>" + utf8Privet + "</p>", "<p>" + privet + "</p>"},
        {"UTF-8 with a BOM: the BOM is not text", bom + utf8Privet, privet},
        {"An unknown charset name reads as UTF-8", "<meta charset=\"x-no-such-charset\">" + utf8Privet,
         "<meta charset=\"x-no-such-charset\">" + privet},
        {"A rewritten page (BOM) reads as UTF-8 whatever its meta says",
         bom + "<meta charset=\"windows-1251\">" + utf8Privet, "<meta charset=\"windows-1251\">" + privet},
        {"A meta that claims UTF-16 in a byte page reads as UTF-8", "<meta charset=\"utf-16\">" + utf8Privet,
         "<meta charset=\"utf-16\">" + privet},
        {"UTF-16LE by its BOM",
         QByteArray("\xFF\xFE"
                    "a\0\n\0b\0",
                    8),
         "a\r\nb"},
        {"Line breaks become CR LF", "a\nb\rc\r\nd\n", "a\r\nb\r\nc\r\nd\r\n"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int n = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(DecodePageText(c.bytes), c.text) << c.name;
        const QString path = dir.filePath(QString::number(++n) + ".htm");
        test::writeFile(path, c.bytes);
        EXPECT_EQ(LoadPageText(path), c.text) << c.name << " (file)";
    }
    EXPECT_EQ(LoadPageText(dir.filePath("missing.htm")), "");
    EXPECT_EQ(LoadPageText(""), "");
    EXPECT_EQ(LoadPageText(dir.path()), ""); // a folder is no page
}

TEST(PageText, SavesMemoLinesInUtf8AfterABom) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("7.htm");
    ASSERT_TRUE(SavePageText(path, QStringLiteral("Привет\r\nline\nlast")));
    EXPECT_EQ(test::readFile(path),
              QByteArray("\xEF\xBB\xBF") + QStringLiteral("Привет\r\nline\r\nlast\r\n").toUtf8());
    EXPECT_EQ(LoadPageText(path), QStringLiteral("Привет\r\nline\r\nlast\r\n"));

    ASSERT_TRUE(SavePageText(path, ""));
    EXPECT_EQ(test::readFile(path), QByteArray("\xEF\xBB\xBF"));

    QString error;
    EXPECT_FALSE(SavePageText(dir.filePath("no/such/folder/x.htm"), "x", &error));
}

} // namespace
