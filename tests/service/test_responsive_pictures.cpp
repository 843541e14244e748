// Responsive pictures: the candidates that browsers load on the table of common
// screens are listed after the largest one. Media queries and sizes are checked
// screen by screen against what the screen's size says; the choice among
// candidates against what Chromium loaded.
#include "service/analysis_internal.h"

#include "tests/service/qt_printers.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <functional>

using namespace skarvel;
using namespace skarvel::analysis;

namespace {

const QUrl kPage(QStringLiteral("http://example.com/dir/page.html"));

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

ScreenSet screensWhere(const std::function<bool(const Screen&)>& holds) {
    ScreenSet set = 0;
    for (int i = 0; i < kScreenCount; ++i) {
        if (holds(screenAt(i)))
            set |= ScreenSet(1) << i;
    }
    return set;
}

TEST(MediaQueries, EachScreenMatchesByItsSize) {
    using S = const Screen&;
    const struct {
        const char* media;
        std::function<bool(S)> yes;
        std::function<bool(S)> unknown;
    } cases[] = {
        {"", [](S) { return true; }, nullptr},
        {"(min-width: 768px)", [](S s) { return s.width >= 768; }, nullptr},
        {"(max-width: 47.9375em)", [](S s) { return s.width <= 767; }, nullptr},
        {"screen and (min-width: 40em)", [](S s) { return s.width >= 640; }, nullptr},
        {"only screen and (max-width:600px)", [](S s) { return s.width <= 600; }, nullptr},
        {"print", [](S) { return false; }, nullptr},
        {"print, (orientation: portrait)", [](S s) { return s.height >= s.width; }, nullptr},
        {"not all and (min-width: 600px)", [](S s) { return s.width < 600; }, nullptr},
        {"not (min-width: 600px)", [](S s) { return s.width < 600; }, nullptr},
        {"(768px <= width < 1200px)", [](S s) { return s.width >= 768 && s.width < 1200; }, nullptr},
        {"(width > 400px)", [](S s) { return s.width > 400; }, nullptr},
        {"(min-aspect-ratio: 16/9)", [](S s) { return s.width / s.height >= 16.0f / 9; }, nullptr},
        {"(-webkit-min-device-pixel-ratio: 2), (min-resolution: 192dpi)", [](S s) { return s.ratio >= 2; },
         nullptr},
        {"(min-resolution: 1.5dppx) and (max-resolution: 2.5x)",
         [](S s) { return s.ratio >= 1.5f && s.ratio <= 2.5f; }, nullptr},
        {"(min-device-pixel-ratio: 2)", [](S) { return false; }, nullptr}, // only the prefixed form exists
        {"(hover: hover) and (pointer: fine)", [](S s) { return !s.touch; }, nullptr},
        {"(hover)", [](S s) { return !s.touch; }, nullptr},
        {"(prefers-color-scheme: dark)", [](S) { return false; }, nullptr},
        {"(prefers-reduced-motion)", [](S) { return false; }, nullptr},
        {"((min-width: 600px) and (max-width: 1004px)) or (orientation: portrait)",
         [](S s) { return (s.width >= 600 && s.width <= 1004) || s.height >= s.width; }, nullptr},
        {"(min-width: 600px) and (made-up-feature: 1)", [](S) { return false; },
         [](S s) { return s.width >= 600; }},
        {"(min-width: 600px) or (made-up-feature)", [](S s) { return s.width >= 600; },
         [](S s) { return s.width < 600; }},
        {"(min-width: 600px) and (max-width: 900px) or (hover)", [](S) { return false; }, nullptr}, // mixed
        {"(((", [](S) { return false; }, [](S) { return true; }}, // unbalanced: general-enclosed
        {"screen and", [](S) { return false; }, nullptr},
    };
    for (const auto& c : cases) {
        const MediaMatch match = evaluateMediaQueryList(u8(c.media));
        EXPECT_EQ(match.yes, screensWhere(c.yes)) << c.media;
        EXPECT_EQ(match.unknown, c.unknown ? screensWhere(c.unknown) : 0) << c.media;
    }
}

TEST(Sizes, TheFirstMatchingEntryGivesTheSlotWidth) {
    using S = const Screen&;
    const struct {
        const char* sizes;
        std::function<float(S)> width;
    } cases[] = {
        {"", [](S s) { return s.width; }},
        {"100vw", [](S s) { return s.width; }},
        {"30em", [](S) { return 480.0f; }},
        {"(max-width: 600px) 480px, 800px", [](S s) { return s.width <= 600 ? 480.0f : 800.0f; }},
        {"(min-width: 1024px) calc(50vw - 48px), calc(100vw - 2rem)",
         [](S s) { return s.width >= 1024 ? s.width / 2 - 48 : s.width - 32; }},
        {"(min-width: 1200px) 1140px, (min-width: 992px) 960px, calc(100vw - 30px)",
         [](S s) { return s.width >= 1200  ? 1140.0f
                          : s.width >= 992 ? 960.0f
                                           : s.width - 30; }},
        {"((min-width: 600px) and (max-width: 1004px)) 84vw, (min-width: 1005px) 60vw, 100vw",
         [](S s) {
             return s.width >= 600 && s.width <= 1004 ? s.width * 0.84f
                    : s.width >= 1005                 ? s.width * 0.6f
                                                      : s.width;
         }},
        {"min(100vw, 720px)", [](S s) { return std::min(s.width, 720.0f); }},
        {"clamp(300px, 50vw, 600px)", [](S s) { return std::clamp(s.width / 2, 300.0f, 600.0f); }},
        {"calc((100vw - 3 * 16px) / 4)", [](S s) { return (s.width - 48) / 4; }},
        {"(orientation: portrait) 100vh, 50vw",
         [](S s) { return s.height >= s.width ? s.height : s.width / 2; }},
        // entries that are no lengths are skipped
        {"(max-width: 600px) 50%, 300px", [](S) { return 300.0f; }},
        {"-5px, 200px", [](S) { return 200.0f; }},
        {"(max-width: 600px), 200px", [](S) { return 200.0f; }},
        {"calc(10px + 5), 250px", [](S) { return 250.0f; }},
        {"auto, 400px", [](S) { return 400.0f; }}, // not a lazy picture: auto is skipped
        {"calc(", [](S s) { return s.width; }},
    };
    for (const auto& c : cases) {
        const SizeRange range = evaluateSizes(u8(c.sizes), false);
        for (int i = 0; i < kScreenCount; ++i) {
            EXPECT_NEAR(range.widest[i], c.width(screenAt(i)), 0.01) << c.sizes << " on screen " << i;
            EXPECT_EQ(range.narrowest[i], range.widest[i]) << c.sizes;
        }
    }
    // a lazy picture laid out by its layout: up to what the rest of the list gives
    const SizeRange autoSized = evaluateSizes(u"auto, (max-width: 1024px) 100vw, 1024px", true);
    for (int i = 0; i < kScreenCount; ++i) {
        const float widest = std::min(screenAt(i).width, 1024.0f);
        EXPECT_EQ(autoSized.widest[i], widest);
        EXPECT_EQ(autoSized.narrowest[i], widest / 4);
    }
}

// What Chromium 156 loaded for these candidates and slot widths at these pixel
// ratios: the least dense candidate that is dense enough, else the densest.
TEST(CandidateChoice, TheScreenLoadsWhatChromiumLoaded) {
    const struct {
        float ratio;
        int slot;
        std::vector<int> widths;
        int loaded;
    } cases[] = {
        {1.0f, 200, {200, 400}, 200},   {1.25f, 160, {150, 300, 600}, 300},
        {1.5f, 200, {180, 600}, 600},   {1.75f, 200, {150, 300, 600}, 600},
        {2.0f, 100, {180, 600}, 600},   {2.625f, 160, {400, 800, 1200}, 800},
        {2.625f, 100, {200, 400}, 400}, {2.625f, 160, {150, 300, 600}, 600},
        {3.0f, 100, {250, 500}, 500},   {3.0f, 200, {200, 400}, 400},
    };
    for (const auto& c : cases) {
        int screen = 0;
        while (screen < kScreenCount && screenAt(screen).ratio != c.ratio)
            ++screen;
        ASSERT_LT(screen, kScreenCount) << "no screen of ratio " << c.ratio;
        QList<SrcsetCandidate> candidates;
        for (int w : c.widths)
            candidates.append({QStringLiteral("c%1.jpg").arg(w), w, std::nullopt});
        std::vector<bool> chosen;
        chooseCandidates(candidates, false, evaluateSizes(QStringLiteral("%1px").arg(c.slot), false),
                         ScreenSet(1) << screen, chosen);
        QStringList loaded;
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            if (chosen[std::size_t(i)])
                loaded << candidates[i].url;
        }
        EXPECT_EQ(loaded, QStringList{QStringLiteral("c%1.jpg").arg(c.loaded)})
            << "ratio " << c.ratio << ", slot " << c.slot;
    }
}

QStringList urlsIn(const char* html) {
    QStringList urls;
    for (const PictureRecord& r : findPictures(html, kPage))
        urls << r.url.mid(QStringLiteral("http://example.com/dir/").size());
    return urls;
}

TEST(ResponsivePictures, TheCandidatesScreensLoadFollowTheLargest) {
    const struct {
        const char* name;
        const char* html;
        QStringList urls;
    } cases[] = {
        {"a slot of 150px: each pixel ratio its own candidate",
         R"html(<img srcset="t-150.jpg 150w, t-300.jpg 300w, t-600.jpg 600w, t-1200.jpg 1200w" sizes="150px">)html",
         {"t-1200.jpg", "t-150.jpg", "t-300.jpg", "t-600.jpg"}},
        {"density descriptors: src is the 1x candidate",
         R"html(<img src="a.jpg" srcset="a-2x.jpg 2x, a-3x.jpg 3x, a-4x.jpg 4x">)html",
         {"a-4x.jpg", "a-2x.jpg", "a-3x.jpg", "a.jpg"}},
        {"a source by media query for the wide screens, the next for the others",
         R"html(<picture><source media="(min-width: 1024px)" sizes="50vw"
              srcset="wide-800.webp 800w, wide-1600.webp 1600w, wide-3200.webp 3200w">
            <source srcset="narrow-400.webp 400w, narrow-800.webp 800w, narrow-1600.webp 1600w">
            <img src="f.jpg"></picture>)html",
         {"wide-3200.webp", "wide-800.webp", "wide-1600.webp", "narrow-1600.webp", "narrow-800.webp",
          "f.jpg"}},
        {"a type no browser loads takes no screen, one that some load leaves them to the next",
         R"html(<picture><source type="image/heic" srcset="h-400.heic 400w, h-1600.heic 1600w">
            <source type="image/jxl" srcset="x-400.jxl 400w, x-1600.jxl 1600w" sizes="400px">
            <source type="image/webp" srcset="w-400.webp 400w, w-1600.webp 1600w" sizes="400px">
            <img src="f.jpg" srcset="f-400.jpg 400w, f-1600.jpg 1600w" sizes="400px"></picture>)html",
         {"h-1600.heic", "x-1600.jxl", "x-400.jxl", "w-1600.webp", "w-400.webp", "f-1600.jpg", "f.jpg"}},
        {"sizes=auto of an eager picture is skipped",
         R"html(<img srcset="p-300.jpg 300w, p-768.jpg 768w, p-1024.jpg 1024w, p-1536.jpg 1536w, p-2048.jpg 2048w"
              sizes="auto, (max-width: 1024px) 100vw, 1024px">)html",
         {"p-2048.jpg", "p-768.jpg", "p-1024.jpg", "p-1536.jpg"}},
        {"sizes=auto of a lazy picture: slots narrower than the rest of the list too",
         R"html(<img loading="lazy" sizes="auto, (max-width: 1024px) 100vw, 1024px"
              srcset="p-300.jpg 300w, p-768.jpg 768w, p-1024.jpg 1024w, p-1536.jpg 1536w, p-2048.jpg 2048w">)html",
         {"p-2048.jpg", "p-300.jpg", "p-768.jpg", "p-1024.jpg", "p-1536.jpg"}},
        {"a lazy loader's data-srcset when the element tells its slot",
         R"html(<img data-src="l-400.jpg" sizes="200px"
              data-srcset="l-200.jpg 200w, l-400.jpg 400w, l-800.jpg 800w, l-1600.jpg 1600w">
            <img data-srcset="m-200.jpg 200w, m-1600.jpg 1600w">)html",
         {"l-1600.jpg", "l-200.jpg", "l-400.jpg", "l-800.jpg", "m-1600.jpg"}},
        {"a preloaded picture by its imagesizes, on the screens of its media",
         R"html(<link rel="preload" as="image" imagesrcset="h-480.jpg 480w, h-960.jpg 960w, h-1920.jpg 1920w"
              imagesizes="50vw" media="(min-width: 1000px)">
            <link rel="preload" as="image" imagesrcset="k-480.jpg 480w, k-960.jpg 960w, k-1920.jpg 1920w"
              imagesizes="50vw">)html",
         {"h-1920.jpg", "h-960.jpg", "k-1920.jpg", "k-480.jpg", "k-960.jpg"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(urlsIn(c.html), c.urls) << c.name;
}

} // namespace
