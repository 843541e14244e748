// Pages built to make a naive analysis slow: deep nesting, thousands of
// sources in one <picture>, thousands of nested links. The analysis must still
// list what they hold; the time limit is the deadline's business.
#include "service/html_analysis.h"
#include "service/nesting_limit.h"

#include "tests/service/qt_printers.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <algorithm>
#include <functional>

using namespace skarvel;

namespace {

const QUrl kPage(QStringLiteral("http://example.com/dir/page.html"));

QString at(const char* path) {
    return QStringLiteral("http://example.com/dir/") + QString::fromUtf8(path);
}

QByteArray repeated(const QByteArray& piece, int count) {
    QByteArray out;
    out.reserve(piece.size() * count);
    for (int i = 0; i < count; ++i)
        out += piece;
    return out;
}

TEST(HostilePages, PicturesInsideFiftyThousandNestedDivsAreFoundWithTheirLinks) {
    QByteArray html;
    for (int level = 0; level < 50000; ++level) {
        html += "<div class=d>";
        if (level % 10000 == 5)
            html += "<img src=level" + QByteArray::number(level) + ".jpg alt=L>";
    }
    html += R"(<a href="big.jpg" title="Deep link"><img src="deep.jpg" alt="Deep"></a>)";
    const QList<PictureRecord> records = findPictures(html, kPage);
    ASSERT_EQ(records.size(), 7);
    EXPECT_EQ(records[0].url, at("level5.jpg"));
    EXPECT_EQ(records[4].url, at("level40005.jpg"));
    EXPECT_EQ(records[5].url, at("big.jpg"));
    EXPECT_EQ(records[5].alt, u"Deep");
    EXPECT_EQ(records[6].url, at("deep.jpg"));
    EXPECT_EQ(records[6].title, u"Deep link");
}

TEST(HostilePages, SixteenThousandSourcesOfOnePictureTakeTheirAltFromItsImg) {
    QByteArray html = "<picture>";
    for (int i = 0; i < 16000; ++i)
        html += "<source srcset=\"s" + QByteArray::number(i) + ".webp 2x\">";
    html += R"(<img src="fallback.jpg" alt="Fallback" title="T"></picture>)";
    const QList<PictureRecord> records = findPictures(html, kPage);
    ASSERT_EQ(records.size(), 16001);
    EXPECT_EQ(records[0].url, at("s0.webp"));
    EXPECT_EQ(records[15999].url, at("s15999.webp"));
    EXPECT_EQ(records[15999].alt, u"Fallback");
    EXPECT_EQ(records[15999].title, u"T");
    EXPECT_EQ(records[16000].url, at("fallback.jpg"));
}

TEST(HostilePages, EightThousandNestedLinksAreAllListed) {
    QByteArray html;
    for (int i = 0; i < 8000; ++i)
        html += "<a href=\"p" + QByteArray::number(i) + ".jpg\"><span><div>";
    html += R"(<img src="thumb.jpg" alt="Thumb">)";
    const QList<PictureRecord> pictures = findPictures(html, kPage);
    ASSERT_EQ(pictures.size(), 8001);
    EXPECT_EQ(pictures[0].url, at("p0.jpg"));
    EXPECT_EQ(pictures[7999].url, at("p7999.jpg"));
    EXPECT_EQ(pictures[8000].url, at("thumb.jpg"));
    const QStringList links = findLinks(html, kPage);
    ASSERT_EQ(links.size(), 8000);
    EXPECT_EQ(links.back(), at("p7999.jpg"));
}

TEST(HostilePages, MegabyteMediaQueriesAndSizesAreReadWithoutDeepRecursion) {
    const QByteArray html = "<picture><source media=\"" + repeated("(", 500000) + "\" sizes=\"" +
                            repeated("calc(", 200000) + "\" srcset=\"a-400.webp 400w, a-800.webp 800w\">" +
                            "<img src=f.jpg srcset=\"f-10.jpg 10w, f-20.jpg 20w\" sizes=\"" +
                            repeated("(min-width: 1px) and ", 50000) + "(hover) 10px\"></picture>";
    // the unreadable media query leaves the screens to the <img>, whose slot is 10px on a
    // desktop (hover) and 100vw on a phone
    QStringList urls;
    for (const PictureRecord& r : findPictures(html, kPage))
        urls << r.url;
    EXPECT_EQ(urls, QStringList({at("a-800.webp"), at("f-20.jpg"), at("f-10.jpg"), at("f.jpg")}));
}

// A lazy picture laid out at a width the markup does not tell may load any
// candidate between a quarter of its slot and all of it.
TEST(HostilePages, ASrcsetOfFiftyThousandWidthsListsAFewSpreadOverTheSlots) {
    auto lazyImg = [](int from, int to, int step) -> QByteArray {
        QByteArray srcset;
        for (int w = from; w <= to; w += step)
            srcset += "c" + QByteArray::number(w) + ".jpg " + QByteArray::number(w) + "w, ";
        return R"(<img loading="lazy" sizes="auto, 100vw" srcset=")" + srcset + "\">";
    };
    auto widthsListed = [](const QByteArray& html) -> QList<int> {
        QList<int> widths;
        for (const PictureRecord& r : findPictures(html, kPage))
            widths << r.url.section(u'c', -1).chopped(4).toInt();
        return widths;
    };

    const QList<int> dense = widthsListed(lazyImg(1, 50000, 1));
    ASSERT_GT(dense.size(), 1);
    EXPECT_EQ(dense.first(), 50000);
    EXPECT_LE(dense.size(), 100); // a few per screen, not thousands
    const QList<int> chosen = dense.mid(1);
    EXPECT_LT(*std::min_element(chosen.begin(), chosen.end()), 400);  // a phone's quarter slot
    EXPECT_GT(*std::max_element(chosen.begin(), chosen.end()), 2000); // a wide screen's full slot

    // a publisher's srcset keeps every width the range holds
    const QList<int> ordinary = widthsListed(lazyImg(200, 2100, 100));
    QList<int> all;
    for (int w = 2100; w >= 200; w -= 100)
        all << w;
    QList<int> sorted = ordinary;
    std::sort(sorted.begin() + 1, sorted.end(), std::greater<int>());
    EXPECT_EQ(sorted, all);
}

TEST(NestingLimit, OrdinaryPagesAreLeftAsTheyAre) {
    const struct {
        const char* name;
        QByteArray html;
    } cases[] = {
        {"closed elements", repeated("<div><p>text <b>bold</b></p><ul><li>x</li></ul></div>", 5000)},
        {"end tags the markup may leave out",
         "<ul>" + repeated("<li><p>item", 3000) + "</ul><table>" + repeated("<tr><td>a<td>b", 3000) +
             "</table><select>" + repeated("<option>o", 3000) + "</select><dl>" +
             repeated("<dt>t<dd>d", 3000) + "</dl>" + repeated("<p>para", 3000)},
        {"tags inside comments, scripts and attributes",
         "<div>" + repeated("<!-- <div> --><script>if (a<b) x = '<div>';</script><img alt='<div>'>", 3000)},
        {"self-closing SVG elements", "<svg>" + repeated("<g/><path d='M0 0'/>", 3000) + "</svg>"},
        {"nesting up to the limit", repeated("<div>", kMaxNestingDepth) + "<img src=x.jpg>"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(analysis::limitNestingDepth(c.html, kMaxNestingDepth)) << c.name;
}

TEST(NestingLimit, DeeperElementsAreClosedAtOnceOrDroppedWhenBare) {
    const QByteArray html =
        "<div><span a='1'><i>x<b class=\"q>\">y<i><i>z</i></i></b></i></span></div><p>after";
    const auto flattened = analysis::limitNestingDepth(html, 2);
    ASSERT_TRUE(flattened);
    // bare tags go, tags with attributes stay as empty elements
    EXPECT_EQ(*flattened, QByteArray("<div><span a='1'>x<b class=\"q>\"></b>yz</span></div><p>after"));
}

TEST(Deadline, APassedDeadlineStopsEveryAnalysis) {
    const QByteArray html = repeated("<a href=x.jpg><img src=y.jpg></a>", 2000);
    const auto past = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    EXPECT_THROW(findPictures(html, kPage, QString(), past), AnalysisTimeout);
    EXPECT_THROW(findMedia(html, kPage, MediaKind::Sound, past), AnalysisTimeout);
    EXPECT_THROW(findLinks(html, kPage, past), AnalysisTimeout);
    const auto later = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    EXPECT_EQ(findPictures(html, kPage, QString(), later).size(), 2);
}

} // namespace
