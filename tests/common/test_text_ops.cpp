#include "common/text_ops.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

struct FieldCase {
    const char* text;
    int n;
    const char* expected;
};

TEST(TextOps, GetFieldSplitsAtEveryDelimiterAndCountsEmptyFields) {
    const FieldCase cases[] = {
        {"a\tb\tc", 0, "a"}, {"a\tb\tc", 2, "c"}, {"a\tb\tc", 3, ""}, {"a\t\tc", 1, ""},
        {"a\t\tc", 2, "c"},  {"", 0, ""},         {"", 1, ""},        {"url", 0, "url"},
        {"url", 1, ""},      {"a\tb\t", 2, ""},   {"\tx", 0, ""},     {"a\tb c\td\te", 1, "b c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetField(QString::fromUtf8(c.text), c.n, QStringLiteral("\t")),
                  QString::fromUtf8(c.expected))
            << c.text << " field " << c.n;
}

struct PathCase {
    const char* text;
    const char* nameWithoutExt;
    const char* extWithDot;
    const char* fileName;
};

TEST(TextOps, NameExtensionAndFileNameOfPaths) {
    const PathCase cases[] = {
        {"photo.jpg", "photo", ".jpg", "photo.jpg"},
        {"photo.final.JPG", "photo.final", ".JPG", "photo.final.JPG"},
        {"noext", "", "", "noext"},
        {"", "", "", ""},
        {"/tmp/Skarvel/Pictures/12.jpg", "/tmp/Skarvel/Pictures/12", ".jpg", "12.jpg"},
        {"C:\\Coll\\Pictures\\3.png", "C:\\Coll\\Pictures\\3", ".png", "3.png"},
        {"dir.d/file", "dir", ".d/file", "file"},
        {"ends/with/", "", "", ""},
        {"ends\\", "", "", ""},
        {".hidden", "", ".hidden", ".hidden"},
    };
    for (const auto& c : cases) {
        const QString t = QString::fromUtf8(c.text);
        EXPECT_EQ(NameWithoutExtension(t), QString::fromUtf8(c.nameWithoutExt)) << c.text;
        EXPECT_EQ(ExtensionWithDot(t), QString::fromUtf8(c.extWithDot)) << c.text;
        EXPECT_EQ(FileNameFromPath(t), QString::fromUtf8(c.fileName)) << c.text;
    }
}

TEST(TextOps, DirectoryOfPathLooksAtThePlatformSeparatorOnly) {
    const QString s = PathSeparator();
    EXPECT_EQ(DirectoryOfPath("a" + s + "b" + s + "c.db"), "a" + s + "b");
    EXPECT_EQ(DirectoryOfPath(QStringLiteral("plain.db")), QStringLiteral("plain.db"));
    const QString other = s == QStringLiteral("/") ? QStringLiteral("x\\y.db") : QStringLiteral("x/y.db");
    EXPECT_EQ(DirectoryOfPath(other), other);
}

struct ReplaceCase {
    const char* text;
    const char* find;
    const char* repl;
    const char* expected;
};

TEST(TextOps, ReplaceAllNeverRescansReplacedText) {
    const ReplaceCase cases[] = {
        {"abc", "a", "b", "bbc"},
        {"aaa", "a", "aa", "aaaaaa"},
        {"aaaa", "aa", "a", "aa"},
        {"abc", "", "x", "abc"},
        {"abcabc", "bc", "", "aa"},
        {"line\nline\n", "\n", "\r\n", "line\r\nline\r\n"},
        {"a\r\nb", "\n", "\r\n", "a\r\r\nb"},
        {"Case case", "case", "X", "Case X"},
        {"", "a", "b", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceAll(QString::fromUtf8(c.text), QString::fromUtf8(c.find), QString::fromUtf8(c.repl)),
                  QString::fromUtf8(c.expected))
            << c.text;
}

TEST(TextOps, StripTagsDropsTagsStrayClosersAndUnclosedTails) {
    const std::pair<const char*, const char*> cases[] = {
        {"a<br>b>c<d", "abc"},
        {"<p>Hello</p> <b>world</b>", "Hello world"},
        {"no tags", "no tags"},
        {"x > y", "x  y"},
        {"keep &amp; entities\r\n<i>", "keep &amp; entities\r\n"},
        {"<<nested>>", ""},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(StripTags(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(TextOps, ExtractLastUrlKeepsTheLastUrlOfElevenCharactersOrMore) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://example.com/a.jpg", "http://example.com/a.jpg"},
        {"see http://example.com/aaaa", "http://example.com/aaaa"},
        {"see http://ab", "see http://ab"}, // 13 - 10 = 3, "http://ab" is only 9 long
        {"text HTTPS://EXAMPLE.COM/X", "HTTPS://EXAMPLE.COM/X"},
        {"a http://first.com/x b http://second.com/y", "http://second.com/y"},
        {"a http://first.com/x b http://s.c", "http://first.com/x b http://s.c"},
        {"x ftp://files.example.org/f", "ftp://files.example.org/f"},
        {"", ""},
        {"short", "short"},
        {"xhttp://abcd", "http://abcd"}, // exactly 11 characters from the scheme
        {"xhttp://abc", "xhttp://abc"},  // 10 characters: not recognised
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ExtractLastUrl(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(TextOps, ReadIntTakesDecimal32BitIntegersOrTheDefault) {
    const std::tuple<const char*, int, int> cases[] = {
        {"42", 7, 42},
        {"-5", 7, -5},
        {"+8", 7, 8},
        {"", 7, 7},
        {"abc", 7, 7},
        {"12a", 7, 7},
        {"2147483647", 7, 2147483647},
        {"2147483648", 7, 7},
        {"-2147483648", 7, int(-2147483648LL)},
        {"99999999999999999999", 7, 7},
        {"-", 7, 7},
        {"1.5", 7, 7},
    };
    for (const auto& [text, def, expected] : cases)
        EXPECT_EQ(ReadInt(QString::fromUtf8(text), def), expected) << text;
}

TEST(TextOps, TrimControlsAndLastChars) {
    EXPECT_EQ(TrimControls(QStringLiteral("  my picture  ")), QStringLiteral("my picture"));
    EXPECT_EQ(TrimControls(QStringLiteral("\t\r\nx\x01")), QStringLiteral("x"));
    EXPECT_EQ(TrimControls(QStringLiteral("   ")), QString());
    EXPECT_EQ(LastChars(QStringLiteral("/p/12.jpg"), 4), QStringLiteral(".jpg"));
    EXPECT_EQ(LastChars(QStringLiteral("ab"), 4), QStringLiteral("ab"));
}

TEST(TextOps, AFileOfUnknownTypeIsWrittenUnderAValidNameAndStillReadsAsUnknown) {
#ifdef _WIN32
    // "?" cannot stand in a Windows file name.
    EXPECT_EQ(UnknownTypeFileExtension(), QStringLiteral(".unknown"));
#else
    EXPECT_EQ(UnknownTypeFileExtension(), QStringLiteral(".???"));
#endif
    const QString written = QStringLiteral("C:\\Temp\\Skarvel\\Pictures\\3") + UnknownTypeFileExtension();
    EXPECT_EQ(LastChars(TypedLocalPath(written), 4), QStringLiteral(".???"));
    EXPECT_EQ(ExtensionWithDot(TypedLocalPath(written)), QStringLiteral(".???"));
    // Every other path reads as it stands.
    for (const char* path : {"/w/Pictures/3.jpg", "C:\\w\\3.png", "/w/notes.unknown.txt", "", "unknown"})
        EXPECT_EQ(TypedLocalPath(QString::fromUtf8(path)), QString::fromUtf8(path)) << path;
}

} // namespace
