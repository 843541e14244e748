// Content-Disposition file names.
//
// The header cases below are those of the parse tests in the public test suite of
// the jshttp/content-disposition repository (test/test.js): its RFC 6266 / RFC 8187
// cases and the tc2231 cases it carries from greenbytes' page
// (http://greenbytes.de/tech/tc2231/). A header the suite rejects offers no name
// here; for one it accepts, the name is the suite's "filename" parameter. The
// suite's tests of building a header, and of passing something that is not a
// string, have nothing to check in a parser of ours and are left out.
#include "net/content_disposition.h"

#include "common/safe_file_name.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

struct DispositionCase {
    const char* header;
    const char* name; // nullptr: the header offers no name
};

void ExpectNames(const DispositionCase* begin, const DispositionCase* end) {
    for (const DispositionCase* c = begin; c != end; ++c) {
        const auto name = ContentDispositionFileName(QString::fromUtf8(c->header));
        if (c->name) {
            EXPECT_EQ(name.value_or(QStringLiteral("<none>")), QString::fromUtf8(c->name)) << c->header;
        } else {
            EXPECT_FALSE(name.has_value()) << c->header << " gave " << name.value_or(QString()).toStdString();
        }
    }
}

TEST(ContentDisposition, SuiteCasesWithTheTypeAndPlainParameters) {
    const DispositionCase cases[] = {
        // Type only.
        {"\"attachment\"", nullptr},
        {"attachment;", nullptr},
        {"attachment", nullptr},
        {"inline", nullptr},
        {"form-data", nullptr},
        {"attachment \t ", nullptr},
        {"ATTACHMENT", nullptr},
        // Parameters.
        {"attachment; filename=\"rates.pdf\";", nullptr},
        {"attachment; filename@=\"rates.pdf\"", nullptr},
        {"attachment; filename=", nullptr},
        {"attachment; filename=trolly,trains", nullptr},
        {"attachment; filename=total/; foo=bar", nullptr},
        {"attachment; filename=foo; filename=bar", nullptr},
        {"filename=\"plans.pdf\"", nullptr},
        {"; filename=\"plans.pdf\"", nullptr},
        {"attachment; FILENAME=\"plans.pdf\"", "plans.pdf"},
        {"attachment; filename=\"plans.pdf\"", "plans.pdf"},
        {"attachment; filename=\"the \\\"plans\\\".pdf\"", "the \"plans\".pdf"},
        {"attachment; filename=\"plans.pdf\"; foo=bar", "plans.pdf"},
        {"attachment;filename=\"plans.pdf\" \t;    \t\t foo=bar", "plans.pdf"},
        {"attachment; filename=plans.pdf", "plans.pdf"},
        {"attachment; filename=\"\xC2\xA3 rates.pdf\"", "\xC2\xA3 rates.pdf"},
    };
    ExpectNames(std::begin(cases), std::end(cases));
}

TEST(ContentDisposition, SuiteCasesWithExtendedParameters) {
    const DispositionCase cases[] = {
        {"attachment; filename*=\"UTF-8''%E2%82%AC%20rates.pdf\"", nullptr},
        {"attachment; filename*=UTF-8''%E2%82%AC%20rates.pdf", "\xE2\x82\xAC rates.pdf"},
        {"attachment; filename*=UTF-8''%E4%20rates.pdf", "\xEF\xBF\xBD rates.pdf"},
        {"attachment; filename*=ISO-8859-1''%A3%20rates.pdf", "\xC2\xA3 rates.pdf"},
        // The suite writes U+0082 as "?"; the decoded control character is kept
        // here and becomes "_" in the file name (see the file-name test below).
        {"attachment; filename*=ISO-8859-1''%82%20rates.pdf", "\xC2\x82 rates.pdf"},
        {"attachment; filename*=utf-8''%E2%82%AC%20rates.pdf", "\xE2\x82\xAC rates.pdf"},
        {"attachment; filename*=ISO-8859-2''%A4%20rates.pdf", nullptr},
        {"attachment; filename*=UTF-8'en'%E2%82%AC%20rates.pdf", "\xE2\x82\xAC rates.pdf"},
        {"attachment; filename=\"EURO rates.pdf\"; filename*=UTF-8''%E2%82%AC%20rates.pdf",
         "\xE2\x82\xAC rates.pdf"},
        {"attachment; filename*=UTF-8''%E2%82%AC%20rates.pdf; filename=\"EURO rates.pdf\"",
         "\xE2\x82\xAC rates.pdf"},
    };
    ExpectNames(std::begin(cases), std::end(cases));
}

TEST(ContentDisposition, Tc2231DispositionTypes) {
    // tc2231 expects a browser to show an "inline" response instead of saving it; a
    // download saves every response, so what applies here is the name it offers.
    const DispositionCase cases[] = {
        {"inline", nullptr},
        {"\"inline\"", nullptr},
        {"inline; filename=\"foo.html\"", "foo.html"},
        {"inline; filename=\"Not an attachment!\"", "Not an attachment!"},
        {"inline; filename=\"foo.pdf\"", "foo.pdf"},
        {"attachment", nullptr},
        {"\"attachment\"", nullptr},
        {"ATTACHMENT", nullptr},
        {"foobar", nullptr},
        {"attachment; example=\"filename=example.txt\"", nullptr},
        {"attachment; creation-date=\"Wed, 12 Feb 1997 16:29:51 -0500\"", nullptr},
        {"attachment; modification-date=\"Wed, 12 Feb 1997 16:29:51 -0500\"", nullptr},
    };
    ExpectNames(std::begin(cases), std::end(cases));
}

TEST(ContentDisposition, Tc2231AttachmentFileNames) {
    const DispositionCase cases[] = {
        {"attachment; filename=\"foo.html\"", "foo.html"},
        {"attachment; filename=\"0000000000111111111122222\"", "0000000000111111111122222"},
        {"attachment; filename=\"00000000001111111111222222222233333\"",
         "00000000001111111111222222222233333"},
        {"attachment; filename=\"f\\oo.html\"", "foo.html"},
        {"attachment; filename=\"\\\"quoting\\\" tested.html\"", "\"quoting\" tested.html"},
        {"attachment; filename=\"Here's a semicolon;.html\"", "Here's a semicolon;.html"},
        {"attachment; foo=\"bar\"; filename=\"foo.html\"", "foo.html"},
        {"attachment; foo=\"\\\"\\\\\";filename=\"foo.html\"", "foo.html"},
        {"attachment; FILENAME=\"foo.html\"", "foo.html"},
        {"attachment; filename=foo.html", "foo.html"},
        {"attachment; filename=foo,bar.html", nullptr},
        {"attachment; filename=foo.html ;", nullptr},
        {"attachment; ;filename=foo", nullptr},
        {"attachment; filename=foo bar.html", nullptr},
        {"attachment; filename='foo.bar'", "'foo.bar'"},
        {"attachment; filename=\"foo-\xC3\xA4.html\"", "foo-\xC3\xA4.html"},
        {"attachment; filename=\"foo-\xC3\x83\xC2\xA4.html\"", "foo-\xC3\x83\xC2\xA4.html"},
        {"attachment; filename=\"foo-%41.html\"", "foo-%41.html"},
        {"attachment; filename=\"50%.html\"", "50%.html"},
        {"attachment; filename=\"foo-%\\41.html\"", "foo-%41.html"},
        {"attachment; name=\"foo-%41.html\"", nullptr},
        {"attachment; filename=\"\xC3\xA4-%41.html\"", "\xC3\xA4-%41.html"},
        {"attachment; filename=\"foo-%c3%a4-%e2%82%ac.html\"", "foo-%c3%a4-%e2%82%ac.html"},
        {"attachment; filename =\"foo.html\"", "foo.html"},
        {"attachment; filename=\"foo.html\"; filename=\"bar.html\"", nullptr},
        {"attachment; filename=foo[1](2).html", nullptr},
        {"attachment; filename=foo-\xC3\xA4.html", nullptr},
        {"attachment; filename=foo-\xC3\x83\xC2\xA4.html", nullptr},
        {"filename=foo.html", nullptr},
        {"x=y; filename=foo.html", nullptr},
        {"\"foo; filename=bar;baz\"; filename=qux", nullptr},
        {"filename=foo.html, filename=bar.html", nullptr},
        {"; filename=foo.html", nullptr},
        {": inline; attachment; filename=foo.html", nullptr},
        {"inline; attachment; filename=foo.html", nullptr},
        {"attachment; inline; filename=foo.html", nullptr},
        {"attachment; filename=\"foo.html\".txt", nullptr},
        {"attachment; filename=\"bar", nullptr},
        {"attachment; filename=foo\"bar;baz\"qux", nullptr},
        {"attachment; filename=foo.html, attachment; filename=bar.html", nullptr},
        {"attachment; foo=foo filename=bar", nullptr},
        {"attachment; filename=bar foo=foo", nullptr},
        {"attachment filename=bar", nullptr},
        {"filename=foo.html; attachment", nullptr},
        {"attachment; xfilename=foo.html", nullptr},
        {"attachment; filename=\"/foo.html\"", "/foo.html"},
        {"attachment; filename=\"\\\\foo.html\"", "\\foo.html"},
    };
    ExpectNames(std::begin(cases), std::end(cases));
}

TEST(ContentDisposition, Tc2231EncodedNames) {
    const DispositionCase cases[] = {
        // RFC 2231 / 5987 character sets.
        {"attachment; filename*=iso-8859-1''foo-%E4.html", "foo-\xC3\xA4.html"},
        {"attachment; filename*=UTF-8''foo-%c3%a4-%e2%82%ac.html", "foo-\xC3\xA4-\xE2\x82\xAC.html"},
        {"attachment; filename*=''foo-%c3%a4-%e2%82%ac.html", nullptr},
        {"attachment; filename*=UTF-8''foo-a%cc%88.html", "foo-a\xCC\x88.html"},
        // The suite shows U+0082 as "?" again.
        {"attachment; filename*=iso-8859-1''foo-%c3%a4-%e2%82%ac.html",
         "foo-\xC3\x83\xC2\xA4-\xC3\xA2\xC2\x82\xC2\xAC.html"},
        {"attachment; filename*=utf-8''foo-%E4.html", "foo-\xEF\xBF\xBD.html"},
        {"attachment; filename *=UTF-8''foo-%c3%a4.html", nullptr},
        {"attachment; filename*= UTF-8''foo-%c3%a4.html", "foo-\xC3\xA4.html"},
        {"attachment; filename* =UTF-8''foo-%c3%a4.html", "foo-\xC3\xA4.html"},
        {"attachment; filename*=\"UTF-8''foo-%c3%a4.html\"", nullptr},
        {"attachment; filename*=\"foo%20bar.html\"", nullptr},
        {"attachment; filename*=UTF-8'foo-%c3%a4.html", nullptr},
        {"attachment; filename*=UTF-8''foo%", nullptr},
        {"attachment; filename*=UTF-8''f%oo.html", nullptr},
        {"attachment; filename*=UTF-8''A-%2541.html", "A-%41.html"},
        {"attachment; filename*=UTF-8''%5cfoo.html", "\\foo.html"},
        // RFC 2231 continuations: RFC 6266 leaves them out, so they name nothing.
        {"attachment; filename*0=\"foo.\"; filename*1=\"html\"", nullptr},
        {"attachment; filename*0=\"foo\"; filename*1=\"\\b\\a\\r.html\"", nullptr},
        {"attachment; filename*0*=UTF-8''foo-%c3%a4; filename*1=\".html\"", nullptr},
        {"attachment; filename*0=\"foo\"; filename*01=\"bar\"", nullptr},
        {"attachment; filename*0=\"foo\"; filename*2=\"bar\"", nullptr},
        {"attachment; filename*1=\"foo.\"; filename*2=\"html\"", nullptr},
        {"attachment; filename*1=\"bar\"; filename*0=\"foo\"", nullptr},
        // Fallback between filename and filename*.
        {"attachment; filename=\"foo-ae.html\"; filename*=UTF-8''foo-%c3%a4.html", "foo-\xC3\xA4.html"},
        {"attachment; filename*=UTF-8''foo-%c3%a4.html; filename=\"foo-ae.html\"", "foo-\xC3\xA4.html"},
        {"attachment; filename*0*=ISO-8859-15''euro-sign%3d%a4; filename*=ISO-8859-1''currency-sign%3d%a4",
         "currency-sign=\xC2\xA4"},
        {"attachment; foobar=x; filename=\"foo.html\"", "foo.html"},
        // RFC 2047 encoded words are not decoded.
        {"attachment; filename==?ISO-8859-1?Q?foo-=E4.html?=", nullptr},
        {"attachment; filename=\"=?ISO-8859-1?Q?foo-=E4.html?=\"", "=?ISO-8859-1?Q?foo-=E4.html?="},
    };
    ExpectNames(std::begin(cases), std::end(cases));
}

TEST(ContentDisposition, HeadersBeyondTheSuite) {
    const DispositionCase cases[] = {
        {"attachment; filename=\"a;b.txt\"; size=3", "a;b.txt"},
        {"form-data; name=field; filename=y.txt", "y.txt"},
        {"attachment; filename=\"\"", nullptr},
        {"", nullptr},
        {"   ", nullptr},
        // An empty extended value leaves the plain name.
        {"attachment; filename*=UTF-8''; filename=ok.txt", "ok.txt"},
        {"attachment; filename*=UTF-8''a.txt; filename*=UTF-8''b.txt", nullptr},
        // Only UTF-8 and ISO-8859-1: a UTF-16 value (here with an unpaired surrogate) is refused.
        {"attachment; filename*=UTF-16''%3D%D8%41%00.txt; filename=ok.txt", nullptr},
        {"attachment; filename*=UTF-8''%F0%9F%98%80.png", "\xF0\x9F\x98\x80.png"},
        // A control character inside quotes breaks the quoted string.
        {"attachment; filename=\"a\x01"
         "b.txt\"",
         nullptr},
        {"attachment; filename*=UTF-8''a%01b.txt", "a\x01"
                                                   "b.txt"},
        // "*" and "'" are token characters but not value characters of filename*.
        {"attachment; filename*=UTF-8''a*b.txt", nullptr},
        {"attachment; filename*=UTF-8'e n'a.txt", nullptr},
    };
    ExpectNames(std::begin(cases), std::end(cases));
}

// What a download creates from the suite's names and from hostile ones.
TEST(ContentDisposition, OfferedNamesBecomeOneSafeFileName) {
    struct Case {
        const char* header;
        QString file;
    };
    const Case cases[] = {
        {"attachment; filename=\"/foo.html\"", "foo.html"},
        {"attachment; filename=\"\\\\foo.html\"", "foo.html"},
        {"attachment; filename*=UTF-8''%5cfoo.html", "foo.html"},
        {"attachment; filename=\"../../etc/passwd\"", "passwd"},
        {"attachment; filename*=ISO-8859-1''%82%20rates.pdf", "_ rates.pdf"},
        {"attachment; filename*=iso-8859-1''foo-%c3%a4-%e2%82%ac.html",
         QString::fromUtf8("foo-\xC3\x83\xC2\xA4-\xC3\xA2_\xC2\xAC.html")},
        {"attachment; filename=\"\\\"quoting\\\" tested.html\"", "_quoting_ tested.html"},
        {"attachment; filename=\"=?ISO-8859-1?Q?foo-=E4.html?=\"", "=_ISO-8859-1_Q_foo-=E4.html_="},
        {"attachment; filename=\"a<b>c:d|e?f*.txt\"", "a_b_c_d_e_f_.txt"},
        {"attachment; filename*=UTF-8''a%00b%0D%0A.txt", "a_b__.txt"},
        {"attachment; filename=\"CON.txt\"", "_CON.txt"},
        {"attachment; filename=\"com1\"", "_com1"},
        {"attachment; filename=\"report.pdf. . \"", "report.pdf"},
        {"attachment; filename=\"../\"", ""},
        {"attachment; filename=\"..\"", ""},
        {"attachment; filename=\"dir/..\"", ""},
        {"attachment; filename*=UTF-8''%00..%00", "_.._"},
        {"attachment; filename=\"  spaced name.txt  \"", "spaced name.txt"},
    };
    for (const Case& c : cases) {
        const auto offered = ContentDispositionFileName(QString::fromUtf8(c.header));
        ASSERT_TRUE(offered.has_value()) << c.header;
        EXPECT_EQ(SafeLocalFileName(*offered), c.file) << c.header;
    }
}

TEST(ContentDisposition, OverlongOfferedNamesAreCutKeepingTheExtension) {
    const QString ascii = SafeLocalFileName(
        *ContentDispositionFileName("attachment; filename=\"" + QString(300, QLatin1Char('n')) + ".pdf\""));
    EXPECT_EQ(ascii, QString(251, QLatin1Char('n')) + ".pdf");

    // 200 two-byte characters, percent-encoded: 125 of them fit beside ".txt".
    const QString accented = SafeLocalFileName(*ContentDispositionFileName(
        "attachment; filename*=UTF-8''" + QStringLiteral("%C3%A9").repeated(200) + ".txt"));
    EXPECT_EQ(accented, QString(125, QChar(0xE9)) + ".txt");
    EXPECT_LE(accented.toUtf8().size(), kMaxFileNameBytes);
}

} // namespace
