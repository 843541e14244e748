// srcset parsing against the cases of web-platform-tests,
// html/semantics/embedded-content/the-img-element/srcset/parse-a-srcset-attribute.html
// (https://github.com/web-platform-tests/wpt). Each row keeps the attribute as
// that file writes it, character references included, and the address the
// browser ends up with; "" means no candidate survives.
#include "service/html_analysis.h"

#include "tests/service/qt_printers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>

using namespace skarvel;

namespace {

// The file's attributes use &#xHH; and &nbsp; for the characters under test.
QString decodeReferences(const char* text) {
    const QString raw = QString::fromUtf8(text);
    QString out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw.mid(i).startsWith(u"&nbsp;")) {
            out += QChar(0xA0);
            i += 5;
        } else if (raw.mid(i).startsWith(u"&#x")) {
            const qsizetype end = raw.indexOf(u';', i);
            out += QChar(char16_t(raw.mid(i + 3, end - i - 3).toUInt(nullptr, 16)));
            i = end;
        } else {
            out += raw[i];
        }
    }
    return out;
}

struct WptCase {
    const char* srcset;
    const char* currentSrc;
};

// The browser picks currentSrc among the valid candidates by density; in these
// rows every surviving candidate has the same one, so the first is picked, as
// largestSrcsetCandidate does. Rows that expect the whole attribute back (the
// file resolves them against the page) show that U+000B, U+000E..U+0010 and
// U+00A0 are no separators: the value is one address without descriptors.
const WptCase kCases[] = {
    {R"()", R"()"},
    {R"(,)", R"()"},
    {R"(,,,)", R"()"},
    {R"(  data:,a  1x  )", R"(data:,a)"},
    {R"(&#x9;&#x9;data:,a&#x9;&#x9;1x&#x9;&#x9;)", R"(data:,a)"},
    {R"(&#xA;&#xA;data:,a&#xA;&#xA;1x&#xA;&#xA;)", R"(data:,a)"},
    {R"(&#xB;&#xB;data:,a&#xB;&#xB;1x&#xB;&#xB;)", R"(&#xB;&#xB;data:,a&#xB;&#xB;1x&#xB;&#xB;)"},
    {R"(&#xC;&#xC;data:,a&#xC;&#xC;1x&#xC;&#xC;)", R"(data:,a)"},
    {R"(&#xD;&#xD;data:,a&#xD;&#xD;1x&#xD;&#xD;)", R"(data:,a)"},
    {R"(&#xE;&#xE;data:,a&#xE;&#xE;1x&#xE;&#xE;)", R"(&#xE;&#xE;data:,a&#xE;&#xE;1x&#xE;&#xE;)"},
    {R"(&#xF;&#xF;data:,a&#xF;&#xF;1x&#xF;&#xF;)", R"(&#xF;&#xF;data:,a&#xF;&#xF;1x&#xF;&#xF;)"},
    {R"(&#x10;&#x10;data:,a&#x10;&#x10;1x&#x10;&#x10;)", R"(&#x10;&#x10;data:,a&#x10;&#x10;1x&#x10;&#x10;)"},
    {R"(data:,a)", R"(data:,a)"},
    {R"(data:,a )", R"(data:,a)"},
    {R"(data:,a ,)", R"(data:,a)"},
    {R"(data:,a,)", R"(data:,a)"},
    {R"(data:,a, )", R"(data:,a)"},
    {R"(data:,a,,,)", R"(data:,a)"},
    {R"(data:,a,, , )", R"(data:,a)"},
    {R"( data:,a)", R"(data:,a)"},
    {R"(,,,data:,a)", R"(data:,a)"},
    {R"( , ,,data:,a)", R"(data:,a)"},
    {R"(&nbsp;data:,a)", R"(&nbsp;data:,a)"},
    {R"(data:,a&nbsp;)", R"(data:,a&nbsp;)"},
    {R"(data:,a 1x)", R"(data:,a)"},
    {R"(data:,a 1x )", R"(data:,a)"},
    {R"(data:,a 1x,)", R"(data:,a)"},
    {R"(data:,a ( , data:,b 1x, ), data:,c)", R"(data:,c)"},
    {R"(data:,a ((( , data:,b 1x, ), data:,c)", R"(data:,c)"},
    {R"(data:,a [ , data:,b 1x, ], data:,c)", R"(data:,b)"},
    {R"(data:,a { , data:,b 1x, }, data:,c)", R"(data:,b)"},
    {R"(data:,a " , data:,b 1x, ", data:,c)", R"(data:,b)"},
    {R"(data:,a \,data:;\,b, data:,c)", R"(data:;\,b)"},
    {R"(data:,a, data:,b ()", R"(data:,a)"},
    {R"(data:,a, data:,b (  )", R"(data:,a)"},
    {R"(data:,a, data:,b (,)", R"(data:,a)"},
    {R"(data:,a, data:,b (x)", R"(data:,a)"},
    {R"(data:,a, data:,b ())", R"(data:,a)"},
    {R"(data:,a (, data:,b)", R"()"},
    {R"(data:,a /*, data:,b, data:,c */)", R"(data:,b)"},
    {R"(data:,a //, data:,b)", R"(data:,b)"},
    {R"(data:,a foo)", R"()"},
    {R"(data:,a foo foo)", R"()"},
    {R"(data:,a foo 1x)", R"()"},
    {R"(data:,a foo 1x foo)", R"()"},
    {R"(data:,a foo 1w)", R"()"},
    {R"(data:,a foo 1w foo)", R"()"},
    {R"(data:,a 1x 1x)", R"()"},
    {R"(data:,a 1w 1w)", R"()"},
    {R"(data:,a 1w 1x)", R"()"},
    {R"(data:,a 1x 1w)", R"()"},
    {R"(data:,a 1w 1h)", R"(data:,a)"},
    {R"(data:,a 1h 1w)", R"(data:,a)"},
    {R"(data:,a 1h 1h)", R"()"},
    {R"(data:,a 1h 1x)", R"()"},
    {R"(data:,a 1h 1w 1x)", R"()"},
    {R"(data:,a 1x 1w 1h)", R"()"},
    {R"(data:,a 1h)", R"()"},
    {R"(data:,a 1h foo)", R"()"},
    {R"(data:,a foo 1h)", R"()"},
    {R"(data:,a 0w)", R"()"},
    {R"(data:,a -1w)", R"()"},
    {R"(data:,a 1w -1w)", R"()"},
    {R"(data:,a 1.0w)", R"()"},
    {R"(data:,a 1w 1.0w)", R"()"},
    {R"(data:,a 1e0w)", R"()"},
    {R"(data:,a 1w 1e0w)", R"()"},
    {R"(data:,a 1www)", R"()"},
    {R"(data:,a 1w 1www)", R"()"},
    {R"(data:,a +1w)", R"()"},
    {R"(data:,a 1w +1w)", R"()"},
    {R"(data:,a 1W)", R"()"},
    {R"(data:,a 1w 1W)", R"()"},
    {R"(data:,a Infinityw)", R"()"},
    {R"(data:,a 1w Infinityw)", R"()"},
    {R"(data:,a NaNw)", R"()"},
    {R"(data:,a 1w NaNw)", R"()"},
    {R"(data:,a 0x1w)", R"()"},
    {R"(data:,a 0X1w)", R"()"},
    {R"(data:,a 1&#x1;w)", R"()"},
    {R"(data:,a 1&nbsp;w)", R"()"},
    {R"(data:,a 1&#x1680;w)", R"()"},
    {R"(data:,a 1&#x2000;w)", R"()"},
    {R"(data:,a 1&#x2001;w)", R"()"},
    {R"(data:,a 1&#x2002;w)", R"()"},
    {R"(data:,a 1&#x2003;w)", R"()"},
    {R"(data:,a 1&#x2004;w)", R"()"},
    {R"(data:,a 1&#x2005;w)", R"()"},
    {R"(data:,a 1&#x2006;w)", R"()"},
    {R"(data:,a 1&#x2007;w)", R"()"},
    {R"(data:,a 1&#x2008;w)", R"()"},
    {R"(data:,a 1&#x2009;w)", R"()"},
    {R"(data:,a 1&#x200A;w)", R"()"},
    {R"(data:,a 1&#x200C;w)", R"()"},
    {R"(data:,a 1&#x200D;w)", R"()"},
    {R"(data:,a 1&#x202F;w)", R"()"},
    {R"(data:,a 1&#x205F;w)", R"()"},
    {R"(data:,a 1&#x3000;w)", R"()"},
    {R"(data:,a 1&#xFEFF;w)", R"()"},
    {R"(data:,a &#x1;1w)", R"()"},
    {R"(data:,a &nbsp;1w)", R"()"},
    {R"(data:,a &#x1680;1w)", R"()"},
    {R"(data:,a &#x2000;1w)", R"()"},
    {R"(data:,a &#x2001;1w)", R"()"},
    {R"(data:,a &#x2002;1w)", R"()"},
    {R"(data:,a &#x2003;1w)", R"()"},
    {R"(data:,a &#x2004;1w)", R"()"},
    {R"(data:,a &#x2005;1w)", R"()"},
    {R"(data:,a &#x2006;1w)", R"()"},
    {R"(data:,a &#x2007;1w)", R"()"},
    {R"(data:,a &#x2008;1w)", R"()"},
    {R"(data:,a &#x2009;1w)", R"()"},
    {R"(data:,a &#x200A;1w)", R"()"},
    {R"(data:,a &#x200C;1w)", R"()"},
    {R"(data:,a &#x200D;1w)", R"()"},
    {R"(data:,a &#x202F;1w)", R"()"},
    {R"(data:,a &#x205F;1w)", R"()"},
    {R"(data:,a &#x3000;1w)", R"()"},
    {R"(data:,a &#xFEFF;1w)", R"()"},
    {R"(data:,a 0x)", R"(data:,a)"},
    {R"(data:,a -0x)", R"(data:,a)"},
    {R"(data:,a 1x -0x)", R"()"},
    {R"(data:,a -1x)", R"()"},
    {R"(data:,a 1x -1x)", R"()"},
    {R"(data:,a 1e0x)", R"(data:,a)"},
    {R"(data:,a 1E0x)", R"(data:,a)"},
    {R"(data:,a 1e-1x)", R"(data:,a)"},
    {R"(data:,a 1.5e1x)", R"(data:,a)"},
    {R"(data:,a -x)", R"()"},
    {R"(data:,a .x)", R"()"},
    {R"(data:,a -.x)", R"()"},
    {R"(data:,a 1.x)", R"()"},
    {R"(data:,a .5x)", R"(data:,a)"},
    {R"(data:,a .5e1x)", R"(data:,a)"},
    {R"(data:,a 1x 1.5e1x)", R"()"},
    {R"(data:,a 1x 1e1.5x)", R"()"},
    {R"(data:,a 1.0x)", R"(data:,a)"},
    {R"(data:,a 1x 1.0x)", R"()"},
    {R"(data:,a +1x)", R"()"},
    {R"(data:,a 1X)", R"()"},
    {R"(data:,a Infinityx)", R"()"},
    {R"(data:,a NaNx)", R"()"},
    {R"(data:,a 0x1x)", R"()"},
    {R"(data:,a 0X1x)", R"()"},
    {R"(data:,a 1&#x1;x)", R"()"},
    {R"(data:,a 1&nbsp;x)", R"()"},
    {R"(data:,a 1&#x1680;x)", R"()"},
    {R"(data:,a 1&#x2000;x)", R"()"},
    {R"(data:,a 1&#x2001;x)", R"()"},
    {R"(data:,a 1&#x2002;x)", R"()"},
    {R"(data:,a 1&#x2003;x)", R"()"},
    {R"(data:,a 1&#x2004;x)", R"()"},
    {R"(data:,a 1&#x2005;x)", R"()"},
    {R"(data:,a 1&#x2006;x)", R"()"},
    {R"(data:,a 1&#x2007;x)", R"()"},
    {R"(data:,a 1&#x2008;x)", R"()"},
    {R"(data:,a 1&#x2009;x)", R"()"},
    {R"(data:,a 1&#x200A;x)", R"()"},
    {R"(data:,a 1&#x200C;x)", R"()"},
    {R"(data:,a 1&#x200D;x)", R"()"},
    {R"(data:,a 1&#x202F;x)", R"()"},
    {R"(data:,a 1&#x205F;x)", R"()"},
    {R"(data:,a 1&#x3000;x)", R"()"},
    {R"(data:,a 1&#xFEFF;x)", R"()"},
    {R"(data:,a &#x1;1x)", R"()"},
    {R"(data:,a &nbsp;1x)", R"()"},
    {R"(data:,a &#x1680;1x)", R"()"},
    {R"(data:,a &#x2000;1x)", R"()"},
    {R"(data:,a &#x2001;1x)", R"()"},
    {R"(data:,a &#x2002;1x)", R"()"},
    {R"(data:,a &#x2003;1x)", R"()"},
    {R"(data:,a &#x2004;1x)", R"()"},
    {R"(data:,a &#x2005;1x)", R"()"},
    {R"(data:,a &#x2006;1x)", R"()"},
    {R"(data:,a &#x2007;1x)", R"()"},
    {R"(data:,a &#x2008;1x)", R"()"},
    {R"(data:,a &#x2009;1x)", R"()"},
    {R"(data:,a &#x200A;1x)", R"()"},
    {R"(data:,a &#x200C;1x)", R"()"},
    {R"(data:,a &#x200D;1x)", R"()"},
    {R"(data:,a &#x202F;1x)", R"()"},
    {R"(data:,a &#x205F;1x)", R"()"},
    {R"(data:,a &#x3000;1x)", R"()"},
    {R"(data:,a &#xFEFF;1x)", R"()"},
    {R"(data:,a 1w 0h)", R"()"},
    {R"(data:,a 1w -1h)", R"()"},
    {R"(data:,a 1w 1.0h)", R"()"},
    {R"(data:,a 1w 1e0h)", R"()"},
    {R"(data:,a 1w 1hhh)", R"()"},
    {R"(data:,a 1w +1h)", R"()"},
    {R"(data:,a 1w 1H)", R"()"},
    {R"(data:,a 1w Infinityh)", R"()"},
    {R"(data:,a 1w NaNh)", R"()"},
    {R"(data:,a 0x1h)", R"()"},
    {R"(data:,a 0X1h)", R"()"},
    {R"(data:,a 1w 1&#x1;h)", R"()"},
    {R"(data:,a 1w 1&nbsp;h)", R"()"},
    {R"(data:,a 1w 1&#x1680;h)", R"()"},
    {R"(data:,a 1w 1&#x2000;h)", R"()"},
    {R"(data:,a 1w 1&#x2001;h)", R"()"},
    {R"(data:,a 1w 1&#x2002;h)", R"()"},
    {R"(data:,a 1w 1&#x2003;h)", R"()"},
    {R"(data:,a 1w 1&#x2004;h)", R"()"},
    {R"(data:,a 1w 1&#x2005;h)", R"()"},
    {R"(data:,a 1w 1&#x2006;h)", R"()"},
    {R"(data:,a 1w 1&#x2007;h)", R"()"},
    {R"(data:,a 1w 1&#x2008;h)", R"()"},
    {R"(data:,a 1w 1&#x2009;h)", R"()"},
    {R"(data:,a 1w 1&#x200A;h)", R"()"},
    {R"(data:,a 1w 1&#x200C;h)", R"()"},
    {R"(data:,a 1w 1&#x200D;h)", R"()"},
    {R"(data:,a 1w 1&#x202F;h)", R"()"},
    {R"(data:,a 1w 1&#x205F;h)", R"()"},
    {R"(data:,a 1w 1&#x3000;h)", R"()"},
    {R"(data:,a 1w 1&#xFEFF;h)", R"()"},
    {R"(data:,a 1w &#x1;1h)", R"()"},
    {R"(data:,a 1w &nbsp;1h)", R"()"},
    {R"(data:,a 1w &#x1680;1h)", R"()"},
    {R"(data:,a 1w &#x2000;1h)", R"()"},
    {R"(data:,a 1w &#x2001;1h)", R"()"},
    {R"(data:,a 1w &#x2002;1h)", R"()"},
    {R"(data:,a 1w &#x2003;1h)", R"()"},
    {R"(data:,a 1w &#x2004;1h)", R"()"},
    {R"(data:,a 1w &#x2005;1h)", R"()"},
    {R"(data:,a 1w &#x2006;1h)", R"()"},
    {R"(data:,a 1w &#x2007;1h)", R"()"},
    {R"(data:,a 1w &#x2008;1h)", R"()"},
    {R"(data:,a 1w &#x2009;1h)", R"()"},
    {R"(data:,a 1w &#x200A;1h)", R"()"},
    {R"(data:,a 1w &#x200C;1h)", R"()"},
    {R"(data:,a 1w &#x200D;1h)", R"()"},
    {R"(data:,a 1w &#x202F;1h)", R"()"},
    {R"(data:,a 1w &#x205F;1h)", R"()"},
    {R"(data:,a 1w &#x3000;1h)", R"()"},
    {R"(data:,a 1w &#xFEFF;1h)", R"()"},
};

TEST(SrcsetWpt, EveryCaseOfParseASrcsetAttributeGivesTheBrowsersAddress) {
    int index = 0;
    for (const WptCase& c : kCases) {
        const QString srcset = decodeReferences(c.srcset);
        EXPECT_EQ(largestSrcsetCandidate(srcset), decodeReferences(c.currentSrc))
            << "row " << index << ": " << c.srcset;
        ++index;
    }
}

TEST(SrcsetWpt, DescriptorValuesAreReadAsNumbers) {
    const struct {
        const char* srcset;
        std::optional<int> width;
        std::optional<double> density;
    } cases[] = {
        {"a.jpg 640w", 640, std::nullopt},
        {"a.jpg 007w", 7, std::nullopt},
        {"a.jpg 99999999999999w", INT_MAX, std::nullopt},
        {"a.jpg 640w 480h", 640, std::nullopt},
        {"a.jpg .5x", std::nullopt, 0.5},
        {"a.jpg 1.5e1x", std::nullopt, 15.0},
        {"a.jpg 1e+1x", std::nullopt, 10.0},
        {"a.jpg -0x", std::nullopt, 0.0},
        {"a.jpg 1e999x", std::nullopt, DBL_MAX},
    };
    for (const auto& c : cases) {
        const QList<SrcsetCandidate> candidates = parseSrcset(QString::fromUtf8(c.srcset));
        ASSERT_EQ(candidates.size(), 1) << c.srcset;
        EXPECT_EQ(candidates[0].width, c.width) << c.srcset;
        EXPECT_EQ(candidates[0].density, c.density) << c.srcset;
    }
}

} // namespace
