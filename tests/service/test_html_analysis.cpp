#include "service/html_analysis.h"

#include "tests/service/qt_printers.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace skarvel;

namespace {

const QUrl kPage(QStringLiteral("http://example.com/dir/page.html"));

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

QStringList urlsOf(const QList<PictureRecord>& records) {
    QStringList urls;
    for (const auto& r : records)
        urls << r.url;
    return urls;
}

QStringList urlsOf(const QList<MediaRecord>& records) {
    QStringList urls;
    for (const auto& r : records)
        urls << r.url;
    return urls;
}

QStringList list(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* item : items)
        out << u8(item);
    return out;
}

// ---------------------------------------------------------------- srcset

struct SrcsetCase {
    const char* name;
    const char* srcset;
    const char* largest;
};

TEST(Srcset, LargestCandidateIsChosenByWidthThenDensityThenOrder) {
    const SrcsetCase cases[] = {
        {"largest w wins wherever it stands", "a.jpg 100w, b.jpg 800w, c.jpg 400w", "b.jpg"},
        {"commas inside a CDN address stay in the address",
         "https://cdn.example.net/w_100,h_50,c_fill/a.jpg 100w, "
         "https://cdn.example.net/w_800,h_400,c_fill/a.jpg 800w",
         "https://cdn.example.net/w_800,h_400,c_fill/a.jpg"},
        {"largest x when there is no w", "a.jpg, b.jpg 2x, c.jpg 1.5x", "b.jpg"},
        {"no space after the separating comma", "a.jpg 1x,b.jpg 3x", "b.jpg"},
        {"no descriptors: the first", "first.jpg, second.jpg", "first.jpg"},
        {"a candidate with both w and x is dropped", "a.jpg 900w 2x, b.jpg 50w", "b.jpg"},
        {"an unknown descriptor drops the candidate", "a.jpg huge, b.jpg 10w", "b.jpg"},
        {"trailing commas end the address", "a.jpg,, b.jpg", "a.jpg"},
        {"blank lines and tabs separate like spaces", "\n a.jpg\t200w,\n b.jpg 300w \n", "b.jpg"},
        {"descriptor with parentheses is one token", "a.jpg 100w (junk, here), b.jpg 50w", "b.jpg"},
        {"empty attribute", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(largestSrcsetCandidate(u8(c.srcset)), u8(c.largest)) << c.name;
}

TEST(Srcset, CandidatesCarryTheirDescriptors) {
    const auto candidates = parseSrcset(u"small.jpg 320w, medium.jpg 2x, plain.jpg");
    ASSERT_EQ(candidates.size(), 3);
    EXPECT_EQ(candidates[0].url, u"small.jpg");
    EXPECT_EQ(candidates[0].width, 320);
    EXPECT_FALSE(candidates[0].density);
    EXPECT_EQ(candidates[1].density, 2.0);
    EXPECT_FALSE(candidates[2].width);
    EXPECT_FALSE(candidates[2].density);
}

// ------------------------------------------------------------------- CSS

TEST(CssUrls, ReferencesAreUnquotedAndUnescaped) {
    const struct {
        const char* css;
        QStringList urls;
    } cases[] = {
        {"background:url(a.png)", list({"a.png"})},
        {"background-image: URL( \"b c.png\" ) , url('d.png')", list({"b c.png", "d.png"})},
        {"x: url(\"e\\\"f.png\")", list({"e\"f.png"})},
        {"x: url(g\\26 h.png)", list({"g&h.png"})},
        {"/* url(commented.png) */ y: url(live.png)", list({"live.png"})},
        {"background-image: image-set(\"a.avif\" type(\"image/avif\"), 'b.jpg' 1x)",
         list({"a.avif", "b.jpg"})},
        {"x: -webkit-image-set(url(c.png) 1x, url(\"d.png\") 2x)", list({"c.png", "d.png"})},
        {"x: IMAGE-SET( \"e\\\".webp\" 1x, url(f.png) 2x), url(g.png)", list({"e\".webp", "f.png", "g.png"})},
        {"x: my-image-set(\"not.png\"); y: image-set(/* \"c.png\" */ \"h.png\")", list({"h.png"})},
        {"x: myurl(not-a-url.png); z: url()", list({})},
        {"x: url(  )", list({})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cssUrls(u8(c.css)), c.urls) << c.css;
}

// ------------------------------------------------------------- addresses

TEST(ResolveReference, RelativeAndAbsoluteReferencesFollowRfc3986) {
    const struct {
        const char* ref;
        const char* expected; // "" = left out
    } cases[] = {
        {"pic.jpg", "http://example.com/dir/pic.jpg"},
        {"../up.jpg", "http://example.com/up.jpg"},
        {"./a/../b.jpg", "http://example.com/dir/b.jpg"},
        {"/root.jpg", "http://example.com/root.jpg"},
        {"//cdn.example.net/x.jpg", "http://cdn.example.net/x.jpg"},
        {"?page=2", "http://example.com/dir/page.html?page=2"},
        {"https://other.org/a b.jpg#frag", "https://other.org/a%20b.jpg"},
        {"  \n pic.jpg \t", "http://example.com/dir/pic.jpg"},
        {"pi\nc.jpg", "http://example.com/dir/pic.jpg"},
        {"img\\sub\\x.jpg?a\\b", "http://example.com/dir/img/sub/x.jpg?a%5Cb"},
        {"\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe.jpg", "http://example.com/dir/%D1%84%D0%BE%D1%82%D0%BE.jpg"},
        {"http://b\xc3\xbc"
         "cher.de/a.jpg",
         "http://xn--bcher-kva.de/a.jpg"},
        {"100%.jpg", "http://example.com/dir/100%25.jpg"},
        {"HTTP://Example.COM", "http://example.com/"},
        {"data:image/png;base64,iVBORw0KGgo=", ""},
        {"javascript:void(0)", ""},
        {"mailto:someone@example.com", ""},
        {"ftp://example.com/file.jpg", ""},
        {"file:///etc/passwd", ""},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        const auto resolved = resolveReference(kPage, u8(c.ref));
        EXPECT_EQ(resolved ? resolved->toString(QUrl::FullyEncoded) : QString(), u8(c.expected)) << c.ref;
    }
}

TEST(ResolveReference, OriginalNameIsTheDecodedLastSegment) {
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"http://x.org/a/%D1%84%D0%BE%D1%82%D0%BE%20one.jpg?size=2",
         "\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe one.jpg"},
        {"http://x.org/a/b%2Fc.png", "b/c.png"},
        {"http://x.org/dir/", ""},
        {"http://x.org", ""},
        {"http://x.org/line%0Abreak.gif", "line break.gif"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(originalNameOf(QUrl(u8(c.url))), u8(c.name)) << c.url;
}

TEST(CleanField, TabsLineBreaksAndControlsBecomeSingleBlanks) {
    EXPECT_EQ(cleanField(u8("a\tb\r\nc")), u"a b c");
    EXPECT_EQ(cleanField(u8("  Spread over\n      two lines  ")), u"Spread over two lines");
    EXPECT_EQ(cleanField(u8("x\x01y")), u"x y");
    EXPECT_EQ(cleanField(u8("\xd0\x9a\xd0\xbe\xd1\x82")), u8("\xd0\x9a\xd0\xbe\xd1\x82"));
}

// -------------------------------------------------------------- pictures

struct PictureCase {
    const char* name;
    const char* html;
    QStringList urls;
};

TEST(FindPictures, EverySourceOfPicturesIsFoundInDocumentOrder) {
    const PictureCase cases[] = {
        {"img src relative to the page", R"(<img src="a.jpg"><img src="/b.png">)",
         list({"http://example.com/dir/a.jpg", "http://example.com/b.png"})},
        {"first base href is the base, later ones are ignored",
         R"(<head><base href="http://static.example.org/s/"><base href="/other/"></head><img src="a.jpg">)",
         list({"http://static.example.org/s/a.jpg"})},
        {"relative base href resolves against the page", R"(<base href="../assets/"><img src="a.jpg">)",
         list({"http://example.com/assets/a.jpg"})},
        {"largest srcset candidate before src",
         R"(<img src="small.jpg" srcset="https://cdn.example.net/w_200,h_100/p.jpg 200w, https://cdn.example.net/w_1600,h_800/p.jpg 1600w">)",
         list({"https://cdn.example.net/w_1600,h_800/p.jpg", "http://example.com/dir/small.jpg"})},
        {"lazy attributes, data: placeholder left out",
         R"(<img src="data:image/gif;base64,R0lGODlhAQABAAAAACw=" data-src="lazy1.jpg">
            <img data-lazy-src="lazy2.jpg"><img data-original="lazy3.jpg"><img data-cfsrc="lazy4.jpg">
            <img data-srcset="lazy5-1x.jpg 1x, lazy5-2x.jpg 2x"><img data-lazy-srcset="lazy6.jpg 10w">)",
         list({"http://example.com/dir/lazy1.jpg", "http://example.com/dir/lazy2.jpg",
               "http://example.com/dir/lazy3.jpg", "http://example.com/dir/lazy4.jpg",
               "http://example.com/dir/lazy5-2x.jpg", "http://example.com/dir/lazy6.jpg"})},
        {"full-size attribute before the shown picture",
         R"(<img src="shown.jpg" data-full="full.jpg" lowsrc="low.gif">)",
         list({"http://example.com/dir/full.jpg", "http://example.com/dir/shown.jpg",
               "http://example.com/dir/low.gif"})},
        {"picture link listed before the thumbnail it wraps",
         R"(<a href="big.jpg?w=2000"><img src="thumb.jpg"></a><a href="page.html"><img src="t2.jpg"></a>)",
         list({"http://example.com/dir/big.jpg?w=2000", "http://example.com/dir/thumb.jpg",
               "http://example.com/dir/t2.jpg"})},
        {"links by picture extension only, any case",
         R"(<a href="x.PNG">x</a><a href="y.webp#z">y</a><a href="doc.pdf">d</a><a href="z.jpg.html">z</a>)",
         list({"http://example.com/dir/x.PNG", "http://example.com/dir/y.webp"})},
        {"picture > source srcset and data-srcset",
         R"(<picture><source srcset="wide.avif 1200w, narrow.avif 600w"><source data-srcset="lazy.webp">
            <img src="fallback.jpg"></picture>)",
         list({"http://example.com/dir/wide.avif", "http://example.com/dir/lazy.webp",
               "http://example.com/dir/fallback.jpg"})},
        {"meta og:image, twitter:image and link image_src",
         R"(<meta property="og:image" content="//cdn.example.net/og.jpg"><meta name="twitter:image" content="/tw.png">
            <meta property="og:image:secure_url" content="https://example.com/og-secure.jpg">
            <meta property="og:title" content="not.jpg"><link rel="image_src" href="share.jpg">)",
         list({"http://cdn.example.net/og.jpg", "http://example.com/tw.png",
               "https://example.com/og-secure.jpg", "http://example.com/dir/share.jpg"})},
        {"input type=image, video poster, background attribute",
         R"(<input type="image" src="go.gif"><input type="text" src="no.gif"><video poster="poster.jpg"></video>
            <table background="tile.png"><tr><td background="cell.png">x</td></tr></table>)",
         list({"http://example.com/dir/go.gif", "http://example.com/dir/poster.jpg",
               "http://example.com/dir/tile.png", "http://example.com/dir/cell.png"})},
        {"url() in style attributes and style elements, fonts and fragments left out",
         R"html(<style>@font-face{src:url(f.woff2)} .hero{background:url("hero.jpg")} .m{mask:url(#m)}</style>
            <div style="background-image:url('inline.png')">x</div>)html",
         list({"http://example.com/dir/hero.jpg", "http://example.com/dir/inline.png"})},
        {"each address once, fragments dropped, entities decoded",
         R"(<img src="a.jpg#one"><img src="a.jpg#two"><img src="q.jpg?x=1&amp;y=2"><img src="q.jpg?x=1&y=2">)",
         list({"http://example.com/dir/a.jpg", "http://example.com/dir/q.jpg?x=1&y=2"})},
        {"templates are searched too", R"(<template><img src="in-template.jpg"></template>)",
         list({"http://example.com/dir/in-template.jpg"})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(urlsOf(findPictures(c.html, kPage)), c.urls) << c.name;
}

TEST(FindPictures, AltAndTitleComeFromTheImageOrItsLink) {
    const char* html = R"(
        <a href="full/cat.jpg" title="A &quot;fluffy&quot;
            cat"><img src="thumbs/cat.jpg" alt="Cat	on a mat"></a>
        <a href="other.html" title="Link title"><img src="dog.jpg" alt="Dog" title="Own title"></a>
        <a href="bird.html" title="Bird link"><img src="bird.jpg" alt="Bird"></a>
        <img src="%D1%84%D0%BE%D1%82%D0%BE.png" alt="&#1092;&#1086;&#1090;&#1086;">)";
    const QList<PictureRecord> records = findPictures(html, kPage);
    ASSERT_EQ(records.size(), 5);
    const struct {
        const char* url;
        const char* name;
        const char* alt;
        const char* title;
    } expected[] = {
        {"http://example.com/dir/full/cat.jpg", "cat.jpg", "Cat on a mat", "A \"fluffy\" cat"},
        {"http://example.com/dir/thumbs/cat.jpg", "cat.jpg", "Cat on a mat", "A \"fluffy\" cat"},
        {"http://example.com/dir/dog.jpg", "dog.jpg", "Dog", "Own title"},
        {"http://example.com/dir/bird.jpg", "bird.jpg", "Bird", "Bird link"},
        {"http://example.com/dir/%D1%84%D0%BE%D1%82%D0%BE.png", "\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe.png",
         "\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe", ""},
    };
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(records[i].url, u8(expected[i].url)) << i;
        EXPECT_EQ(records[i].originalName, u8(expected[i].name)) << i;
        EXPECT_EQ(records[i].alt, u8(expected[i].alt)) << i;
        EXPECT_EQ(records[i].title, u8(expected[i].title)) << i;
    }
}

TEST(FindPictures, BrokenAndDeeplyNestedMarkupIsRead) {
    QByteArray deep;
    for (int i = 0; i < 10000; ++i)
        deep += "<div>";
    deep += "<img src=deep.jpg>";
    EXPECT_EQ(urlsOf(findPictures(deep, kPage)), list({"http://example.com/dir/deep.jpg"}));
    EXPECT_EQ(urlsOf(findPictures("<p><img src='a.jpg' alt=\"x<b>y\"><table><td><img src=b.jpg>", kPage)),
              list({"http://example.com/dir/a.jpg", "http://example.com/dir/b.jpg"}));
    // a tag cut by the end of the page is dropped, as browsers drop it
    EXPECT_EQ(urlsOf(findPictures("<img src=a.jpg><img src=b.jpg", kPage)),
              list({"http://example.com/dir/a.jpg"}));
    EXPECT_TRUE(findPictures("", kPage).isEmpty());
}

TEST(FindPictures, PicturesTheBrowserLoadsBeyondTheMarkupComeInTheirPlace) {
    const PictureCase cases[] = {
        {"preloaded picture; the largest imagesrcset candidate before href",
         R"(<link rel="preload" as="image" href="hero.jpg"><link rel=preload as=IMAGE href=small.jpg
            imagesrcset="small.jpg 400w, big.jpg 1600w" imagesizes="100vw"><img src="a.jpg">)",
         list({"http://example.com/dir/hero.jpg", "http://example.com/dir/big.jpg",
               "http://example.com/dir/small.jpg", "http://example.com/dir/a.jpg"})},
        {"the page's icons; a manifest is no picture",
         R"(<link rel="icon" href="/favicon.svg" type="image/svg+xml"><link rel="shortcut icon" href="favicon.ico">
            <link rel="apple-touch-icon" href="/touch.png"><link rel="mask-icon" href="/pin.svg" color="#000">
            <link rel="manifest" href="/site.webmanifest"><link rel="icon" href=""><link rel="iconic" href="no.png">)",
         list({"http://example.com/favicon.svg", "http://example.com/dir/favicon.ico",
               "http://example.com/touch.png", "http://example.com/pin.svg"})},
        {"pictures of inline SVG: image by href or xlink:href, feImage",
         R"(<svg><image href="logo.png" width="9" height="9"/><image xlink:href="../mark.svg"></image>
            <filter><feImage href="tex.jpg"/></filter><image href="data:image/png;base64,iVBORw0KGgo="/></svg>)",
         list({"http://example.com/dir/logo.png", "http://example.com/mark.svg",
               "http://example.com/dir/tex.jpg"})},
        {"object and embed show pictures by their type, else by their extension",
         R"(<object data="chart.svg" type="image/svg+xml"></object><object data="doc.pdf" type="application/pdf"></object>
            <object data="map.svg"></object><embed src="anim.gif"><embed src="movie.swf">
            <embed src="/render?id=1" type="image/png"><object data="plot.png" type="text/html"></object>)",
         list({"http://example.com/dir/chart.svg", "http://example.com/dir/map.svg",
               "http://example.com/dir/anim.gif", "http://example.com/render?id=1"})},
        {"preloads of scripts, fonts and style sheets are no pictures",
         R"(<link rel="preload" as="script" href="app.js"><link rel="preload" as="font" href="f.woff2">
            <link rel="preload" href="nothing-said.png"><link rel="stylesheet" href="s.css">)",
         list({})},
        {"SVG sprites by file, once; a fragment alone points into the page",
         R"(<svg><use href="sprite.svg#cart"></use><use xlink:href="/icons.svg#x"/><use href="sprite.svg#bag"/>
            <use href="#local"/></svg>)",
         list({"http://example.com/dir/sprite.svg", "http://example.com/icons.svg"})},
        {"script literals come after the page's other pictures",
         R"js(<img src="a.jpg"><script>
              var pre = new Image(); pre.src = "/pre/b.jpg";
              new Image().src = 'track/p';
              document.getElementById("hero").src = "https://cdn.example.net/x.webp";
              var made = document.createElement("img"); made.src = `made`;
              document.write('<a href="w.html" title="W link"><img src="w\x2egif" alt="W"></a>');
            </script><img src="c.jpg">)js",
         list({"http://example.com/dir/a.jpg", "http://example.com/dir/c.jpg", "http://example.com/pre/b.jpg",
               "http://example.com/dir/track/p", "https://cdn.example.net/x.webp",
               "http://example.com/dir/made", "http://example.com/dir/w.gif"})},
        {"addresses put together at run time, other elements' sources and comments are not read",
         R"js(<script>
              var i = new Image(); i.src = "http://x.org/" + name + ".jpg";
              i.src = "/p.gif?r=" + Math.random();
              i.src = `/a/${id}.jpg`;
              i.src = "/q.jpg".replace("q", "r");
              var s = document.createElement("script"); s.src = "https://example.com/app.js";
              // i.src = "old.jpg";
              /* i.src = "older.jpg"; */
              document.write('<img src="' + u + '">');
              if (i.src == "same.jpg") {}
            </script>
            <script src="lib.js">i.src = "ignored.jpg";</script>
            <script type="application/ld+json">{"image": "ld.jpg", "x": "document.write('<img src=j.jpg>')"}</script>)js",
         list({})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(urlsOf(findPictures(c.html, kPage)), c.urls) << c.name;
}

TEST(FindPictures, UpgradeInsecureRequestsListsHttpPicturesAsHttps) {
    const char* body = R"(<img src="http://cdn.example.net/a.jpg"><img src="http://example.com:8080/b.jpg">
        <img src="http://example.com:80/c.jpg"><img src="rel.jpg"><img src="https://cdn.example.net/a.jpg">
        <link rel="preload" as="image" href="http://cdn.example.net/pre.jpg">
        <script>new Image().src = "http://cdn.example.net/s.jpg?q=1";</script>)";
    const QStringList upgraded =
        list({"https://cdn.example.net/a.jpg", "https://example.com:8080/b.jpg", "https://example.com/c.jpg",
              "https://example.com/dir/rel.jpg", "https://cdn.example.net/pre.jpg",
              "https://cdn.example.net/s.jpg?q=1"});
    const QStringList plain =
        list({"http://cdn.example.net/a.jpg", "http://example.com:8080/b.jpg", "http://example.com:80/c.jpg",
              "http://example.com/dir/rel.jpg", "https://cdn.example.net/a.jpg",
              "http://cdn.example.net/pre.jpg", "http://cdn.example.net/s.jpg?q=1"});
    const struct {
        const char* name;
        const char* head;
        const char* header;
        QStringList urls;
    } cases[] = {
        {"policy in a meta element",
         R"(<meta http-equiv="Content-Security-Policy" content="upgrade-insecure-requests">)", "", upgraded},
        {"among other directives, any case", R"(<meta http-equiv="content-security-policy"
            content="default-src 'self'; Upgrade-Insecure-Requests; img-src *">)",
         "", upgraded},
        {"policy in the answer's header", "", "default-src https:, upgrade-insecure-requests", upgraded},
        {"no policy, no upgrade", "", "", plain},
        {"other directives only",
         R"(<meta http-equiv="Content-Security-Policy" content="default-src 'self'">)",
         "block-all-mixed-content", plain},
        {"a report-only policy is not obeyed",
         R"(<meta http-equiv="Content-Security-Policy-Report-Only" content="upgrade-insecure-requests">)", "",
         plain},
        {"nor a meta element in the body",
         R"(</head><body><p>x</p><meta http-equiv="Content-Security-Policy" content="upgrade-insecure-requests">)",
         "", plain},
    };
    for (const auto& c : cases) {
        const QByteArray html = QByteArray("<html><head>") + c.head + body;
        EXPECT_EQ(urlsOf(findPictures(html, kPage, QString::fromUtf8(c.header))), c.urls) << c.name;
    }
}

// ------------------------------------------------------------ sounds, videos

TEST(FindMedia, SoundsAndVideosAreToldApart) {
    const char* html = R"(
        <audio src="song.mp3"><source src="song.ogg" type="audio/ogg"></audio>
        <video src="clip.mp4" poster="p.jpg"><source src="clip.webm"><source data-src="lazy.ogv">
          <source src="soundtrack.m4a" type="audio/mp4"></video>
        <video><source src="video-in-ogg.ogg"></video>
        <picture><source srcset="no.webp"></picture>
        <embed src="flash.swf"><embed src="tune.wav"><object data="movie.mov"></object>
        <object data="stream" type="video/mp4"></object>
        <a href="download/track.FLAC?dl=1">t</a><a href="film.mkv#t=10">f</a><a href="page.html">p</a>
        <meta property="og:audio" content="https://example.com/og.mp3">
        <meta property="og:video:secure_url" content="https://example.com/og.mp4">
        <a href="song.mp3">again</a>)";
    EXPECT_EQ(urlsOf(findMedia(html, kPage, MediaKind::Sound)),
              list({"http://example.com/dir/song.mp3", "http://example.com/dir/song.ogg",
                    "http://example.com/dir/soundtrack.m4a", "http://example.com/dir/tune.wav",
                    "http://example.com/dir/download/track.FLAC?dl=1", "https://example.com/og.mp3"}));
    EXPECT_EQ(urlsOf(findMedia(html, kPage, MediaKind::Video)),
              list({"http://example.com/dir/clip.mp4", "http://example.com/dir/clip.webm",
                    "http://example.com/dir/lazy.ogv", "http://example.com/dir/video-in-ogg.ogg",
                    "http://example.com/dir/movie.mov", "http://example.com/dir/stream",
                    "http://example.com/dir/film.mkv", "https://example.com/og.mp4"}));
    const auto sounds = findMedia(html, kPage, MediaKind::Sound);
    EXPECT_EQ(sounds[4].originalName, u"track.FLAC");
}

// ------------------------------------------------------------------ links

TEST(FindLinks, EveryHttpLinkOnceInDocumentOrder) {
    const char* html = R"html(
        <base href="http://example.com/section/">
        <a href="b.html">b</a><a href="a.html#top">a</a><a href="b.html#again">b again</a>
        <map><area href="/area.html"></map><a name="anchor-only">x</a>
        <a href="mailto:x@example.com">m</a><a href="javascript:go()">j</a><a href="ftp://example.com/f">f</a>
        <a href="https://other.org/?q=a&amp;r=b">o</a><a href="#">top</a>)html";
    EXPECT_EQ(
        findLinks(html, kPage),
        list({"http://example.com/section/b.html", "http://example.com/section/a.html",
              "http://example.com/area.html", "https://other.org/?q=a&r=b", "http://example.com/section/"}));
}

// ----------------------------------------------------------------- answers

TEST(Answers, HarvestRecordsEndWithCrLfAndListLinesWithLf) {
    const QByteArray pictures = formatPictureAnswer(
        {{u8("http://x.org/a.jpg"), u8("a.jpg"), u8("Alt\twith\ntabs"), u8("T\xc3\xadtulo")},
         {u8("http://x.org/b.jpg"), u8("b.jpg"), {}, {}}},
        u8("http://x.org/page?a=1&b=2"));
    EXPECT_EQ(
        pictures,
        QByteArray("http://x.org/a.jpg\ta.jpg\tAlt with tabs\tT\xc3\xadtulo\thttp://x.org/page?a=1&b=2\r\n"
                   "http://x.org/b.jpg\tb.jpg\t\t\thttp://x.org/page?a=1&b=2\r\n"));
    EXPECT_EQ(formatMediaAnswer({{u8("http://x.org/s.mp3"), u8("s.mp3")}}, u8("http://x.org/")),
              QByteArray("http://x.org/s.mp3\ts.mp3\thttp://x.org/\r\n"));
    EXPECT_EQ(formatListAnswer(list({"http://x.org/1", "http://x.org/2"})),
              QByteArray("http://x.org/1\nhttp://x.org/2\n"));
    EXPECT_TRUE(formatPictureAnswer({}, u8("p")).isEmpty());
}

TEST(Answers, EveryFieldIsWrittenCleanedInUtf8) {
    const char* fields[] = {"plain-ascii.jpg", "one blank", " leading",        "trailing ",
                            "two  blanks",     "tab\there", "line\r\nbreak",   "\x7f",
                            "T\xc3\xadtulo",   "",          "\xe2\x80\xa8sep", "~!@#$%^&*()_+{}|:<>?"};
    for (const char* f : fields) {
        const QString field = u8(f);
        const QByteArray clean = cleanField(field).toUtf8();
        EXPECT_EQ(formatMediaAnswer({{field, field}}, field), clean + '\t' + clean + '\t' + clean + "\r\n")
            << f;
        EXPECT_EQ(formatListAnswer({field}), clean + '\n') << f;
    }
}

} // namespace
