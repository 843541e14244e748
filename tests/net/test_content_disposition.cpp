#include "net/content_disposition.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

struct DispositionCase {
    const char* what;
    const char* header;
    const char* expected; // nullptr: no name
};

TEST(ContentDisposition, FileNameIsReadAsTheHeaderGrammarSays) {
    const DispositionCase cases[] = {
        {"token", "attachment; filename=a.txt", "a.txt"},
        {"quoted string is unquoted", "attachment; filename=\"quoted.txt\"", "quoted.txt"},
        {"backslash escapes inside quotes", "attachment; filename=\"a \\\"b\\\" \\\\c.txt\"",
         "a \"b\" \\c.txt"},
        {"semicolon inside quotes belongs to the name", "attachment; filename=\"a;b.txt\"; size=3",
         "a;b.txt"},
        {"parameters after the name are not part of it", "attachment; filename=a.txt; size=3", "a.txt"},
        {"parameter names ignore case", "Attachment; FileName=Up.txt", "Up.txt"},
        {"blanks around the equals sign", "attachment; filename = spaced.txt ", "spaced.txt"},
        {"extended value in UTF-8", "attachment; filename*=UTF-8''%e2%82%ac%20rates.txt",
         "\xE2\x82\xAC rates.txt"},
        {"extended value preferred, whatever the order",
         "attachment; filename*=utf-8''%C3%A9t%C3%A9.txt; filename=\"fallback.txt\"",
         "\xC3\xA9t\xC3\xA9.txt"},
        {"extended value preferred when it comes last",
         "attachment; filename=\"fallback.txt\"; FILENAME*=UTF-8''%C3%A9t%C3%A9.txt",
         "\xC3\xA9t\xC3\xA9.txt"},
        {"extended value in ISO-8859-1 with a language",
         "attachment; filename*=iso-8859-1'en'%A3%20rates.txt", "\xC2\xA3 rates.txt"},
        {"invalid UTF-8 in the extended value falls back",
         "attachment; filename*=UTF-8''%FF.txt; filename=ok.txt", "ok.txt"},
        {"broken escape in the extended value falls back",
         "attachment; filename*=UTF-8''bad%2.txt; filename=ok.txt", "ok.txt"},
        {"extended value without charset quotes falls back",
         "attachment; filename*=plain.txt; filename=ok.txt", "ok.txt"},
        {"unknown charset falls back", "attachment; filename*=x-nonsense''a.txt; filename=ok.txt", "ok.txt"},
        {"another parameter ending in filename is not it", "attachment; xfilename=z.txt", nullptr},
        {"name and filename are different parameters", "form-data; name=field; filename=y.txt", "y.txt"},
        {"first of two names wins", "attachment; filename=one.txt; filename=two.txt", "one.txt"},
        {"unterminated quote runs to the end", "attachment; filename=\"open.txt", "open.txt"},
        {"path in the name is left to the caller", "attachment; filename=\"../../etc/passwd\"",
         "../../etc/passwd"},
        {"type only", "inline", nullptr},
        {"empty value", "", nullptr},
        {"empty name", "attachment; filename=\"\"", nullptr},
    };
    for (const auto& c : cases) {
        const auto name = ContentDispositionFileName(QString::fromUtf8(c.header));
        if (c.expected) {
            ASSERT_TRUE(name.has_value()) << c.what;
            EXPECT_EQ(*name, QString::fromUtf8(c.expected)) << c.what;
        } else {
            EXPECT_FALSE(name.has_value()) << c.what << ": " << name.value_or(QString()).toStdString();
        }
    }
}

TEST(ContentDisposition, HostileNamesBecomeOneSafeComponentOrNothing) {
    struct Case {
        const char* what;
        QString name;
        QString expected;
    };
    const Case cases[] = {
        {"climbing out of the folder", QStringLiteral("../../etc/passwd"), QStringLiteral("passwd")},
        {"sub-folder", QStringLiteral("a/b.txt"), QStringLiteral("b.txt")},
        {"backslash path", QStringLiteral("C:\\Windows\\win.ini"), QStringLiteral("win.ini")},
        {"quotes are ordinary characters in a name", QStringLiteral("\"quoted.txt\""),
         QStringLiteral("\"quoted.txt\"")},
        {"parent folder", QStringLiteral(".."), QString()},
        {"this folder", QStringLiteral("."), QString()},
        {"empty", QString(), QString()},
        {"ends with a separator", QStringLiteral("dir/"), QString()},
        {"ends with a parent step", QStringLiteral("dir/.."), QString()},
        {"zero character dropped", QString::fromUtf8("a\0b.txt", 7), QStringLiteral("ab.txt")},
        {"zero characters around a parent step", QString::fromUtf8("\0..\0", 4), QString()},
        {"controls dropped", QStringLiteral("x\t\r\n\x7F.txt"), QStringLiteral("x.txt")},
        {"blanks around trimmed", QStringLiteral("  spaced name.txt  "), QStringLiteral("spaced name.txt")},
        {"non-ASCII kept", QString::fromUtf8("\xC3\xA9t\xC3\xA9.txt"),
         QString::fromUtf8("\xC3\xA9t\xC3\xA9.txt")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeLocalFileName(c.name), c.expected) << c.what;
}

TEST(ContentDisposition, OverlongNamesAreCutToTheFileSystemLimitKeepingTheExtension) {
    const QString ascii = SafeLocalFileName(QString(300, QLatin1Char('n')) + QStringLiteral(".pdf"));
    EXPECT_EQ(ascii.toUtf8().size(), 255);
    EXPECT_TRUE(ascii.endsWith(QStringLiteral("nnn.pdf")));

    // Two bytes per character: the cut must not split one.
    const QString accented = SafeLocalFileName(QString(200, QChar(0xE9)) + QStringLiteral(".txt"));
    EXPECT_EQ(accented, QString(125, QChar(0xE9)) + QStringLiteral(".txt"));

    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString cut = SafeLocalFileName(emoji.repeated(100));
    EXPECT_EQ(cut, emoji.repeated(63)); // 63 * 4 = 252 bytes, a 64th would pass 255
}

} // namespace
