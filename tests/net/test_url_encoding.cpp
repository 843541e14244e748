#include "net/url_encoding.h"

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

struct EncodeCase {
    const char* what;
    const char* url;
    const char* expected;
};

TEST(UrlEncoding, DownloadAddressesAreEscapedPartByPart) {
    const EncodeCase cases[] = {
        {"an escape already there is kept", "http://h/a%20b.jpg", "http://h/a%20b.jpg"},
        {"a lone percent sign is escaped", "http://h/100%.jpg", "http://h/100%25.jpg"},
        {"a percent sign before one hex digit is escaped", "http://h/50%2x.jpg", "http://h/50%252x.jpg"},
        {"lower-case escapes stay as written", "http://h/%c3%a9.png", "http://h/%c3%a9.png"},
        {"a percent sign at the very end is escaped", "http://h/a%", "http://h/a%25"},
        {"a percent sign with one digit left is escaped", "http://h/a%2", "http://h/a%252"},
        {"raw blanks next to escapes", "http://h/a b%20c", "http://h/a%20b%20c"},
        {"the same in the query", "http://h/p?q=a b%20c&r=100%&s=50%2x&t=%c3%a9",
         "http://h/p?q=a%20b%20c&r=100%25&s=50%252x&t=%c3%a9"},
        {"plus is escaped in the path only", "http://h/a+b.jpg?x=a+b", "http://h/a%2Bb.jpg?x=a+b"},
        {"non-ASCII becomes upper-case UTF-8 escapes", "http://h/\xC3\xA9t\xC3\xA9.jpg?q=\xC3\xA9",
         "http://h/%C3%A9t%C3%A9.jpg?q=%C3%A9"},
        {"characters outside the BMP", "http://h/\xF0\x9F\x98\x80.png", "http://h/%F0%9F%98%80.png"},
        {"separators of path and query stay", "http://h/a/b.php?x=1&y=2&z=?w",
         "http://h/a/b.php?x=1&y=2&z=?w"},
        {"every reserved character of the path", "http://h/*<>\"{}|\\^[]`",
         "http://h/%2A%3C%3E%22%7B%7D%7C%5C%5E%5B%5D%60"},
        {"every reserved character of the query", "http://h/?*<>\"{}|\\^[]`+",
         "http://h/?%2A%3C%3E%22%7B%7D%7C%5C%5E%5B%5D%60+"},
        {"a number sign in the path is escaped, not cut off", "http://h/pic#1.jpg", "http://h/pic%231.jpg"},
        {"a fragment after the query goes with the query", "http://h/p?a=1#top", "http://h/p?a=1%23top"},
        {"a fragment right after the host gets a path of its own", "http://h#top", "http://h/%23top"},
        {"controls are escaped", "http://h/a\tb\x01.jpg", "http://h/a%09b%01.jpg"},
        {"DEL stays in the path, U+0080 only in the query", "http://h/\x7F\xC2\x80?\x7F\xC2\x80",
         "http://h/\x7F%C2%80?\x7F\xC2\x80"},
        {"scheme, host and port stay as written", "HTTPS://Example.COM:8080/a b/c.jpg?x=1",
         "HTTPS://Example.COM:8080/a%20b/c.jpg?x=1"},
        {"host with a query but no path", "http://h:81?q=a b", "http://h:81?q=a%20b"},
        {"host alone", "http://example.com", "http://example.com"},
        {"no scheme: all of it is path and query", "www.h.com/a b.jpg?u=http://x y",
         "www.h.com/a%20b.jpg?u=http://x%20y"},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeDownloadUrl(QString::fromUtf8(c.url)), QString::fromUtf8(c.expected)) << c.what;
}

TEST(UrlEncoding, RequestLineEncodingLeavesTypedEscapesAndSeparatorsAlone) {
    const EncodeCase cases[] = {
        {"query separators and percent signs as typed", "http://s/p.php?a=1&b=%41&c=100%",
         "http://s/p.php?a=1&b=%41&c=100%"},
        {"blanks and controls", "http://s/a b\tc\r\n", "http://s/a%20b%09c%0D%0A"},
        {"non-ASCII as UTF-8", "http://s/\xC3\xA9", "http://s/%C3%A9"},
        {"a number sign would be cut off as a fragment", "http://s/p#top", "http://s/p%23top"},
        {"reserved characters other than that pass", "a+b*<>\"{}|\\^[]`", "a+b*<>\"{}|\\^[]`"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeForRequestLine(QString::fromUtf8(c.url)), QString::fromUtf8(c.expected)) << c.what;
}

} // namespace
