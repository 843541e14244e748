#include "rules/url_filter.h"

#include "tests/rules/print_qt.h"

#include <gtest/gtest.h>

#include <cctype>

using namespace skarvel;

namespace {

struct FilterCase {
    const char* name;
    QStringList lines;
    QString contains;
    QString notContains;
    QStringList kept;
};

const QStringList kMixed = {"http://a/one.jpg", "", "http://b/THUMB_two.JPG", "http://c/photojpgs/",
                            "http://d/x.png",   " "};

const FilterCase kCases[] = {
    {"both fields empty keep every line, empty ones too", kMixed, "", "", kMixed},
    {"contains drops empty and blank lines", {"", "jpg", " ", "x"}, "jpg", "", {"jpg"}},
    {"contains is case-insensitive and matches inside a word",
     kMixed,
     "jpg",
     "",
     {"http://a/one.jpg", "http://b/THUMB_two.JPG", "http://c/photojpgs/"}},
    {"not contains drops matching lines and keeps empty ones",
     kMixed,
     "",
     "Thumb",
     {"http://a/one.jpg", "", "http://c/photojpgs/", "http://d/x.png", " "}},
    {"both fields apply together", kMixed, "JPG", "thumb", {"http://a/one.jpg", "http://c/photojpgs/"}},
    {"text is not trimmed: a space is part of the test", {"a b", "ab", " a"}, " a", "", {" a"}},
    {"no wild cards", {"a*b", "axxb"}, "a*b", "", {"a*b"}},
    {"an empty list stays empty", {}, "jpg", "png", {}},
    {"an empty list with empty fields stays empty", {}, "", "", {}},
    {"non-ASCII letters compare in upper case",
     {"http://x/Ärger", "http://x/other"},
     "ärg",
     "",
     {"http://x/Ärger"}},
};

class UrlFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(UrlFilter, KeepsTheRightLines) {
    const FilterCase& c = GetParam();
    EXPECT_EQ(FilterUrlLines(c.lines, c.contains, c.notContains), c.kept);
}

INSTANTIATE_TEST_SUITE_P(Cases, UrlFilter, testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

} // namespace
