#include "service/page_fetcher.h"

#include "net/user_agent.h"

#include "tests/service/qt_printers.h"

#include "tests/support/local_server.h"

#include <gtest/gtest.h>

#include <QStringEncoder>

#include <atomic>
#include <thread>
#include <vector>

using namespace skarvel;
using skarvel::test::LocalHttpServer;

namespace {

QByteArray encoded(const char* encoding, const QString& text) {
    QStringEncoder encoder(encoding);
    EXPECT_TRUE(encoder.isValid()) << encoding;
    return encoder.encode(text);
}

const QString kRussian =
    QString::fromUtf8("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82, \xd0\xbc\xd0\xb8\xd1\x80");
const QString kJapanese = QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e");
// The same texts as their pages' bytes, written out: Qt without ICU (Windows) cannot encode them.
const QByteArray kRussian1251 = "\xcf\xf0\xe8\xe2\xe5\xf2, \xec\xe8\xf0";
const QByteArray kJapaneseShiftJis = "\x93\xfa\x96{\x8c\xea";

// ---------------------------------------------------------------- charsets

TEST(PageCharset, DeclarationsAreHonouredInBrowserOrder) {
    const struct {
        const char* name;
        QByteArray body;
        QByteArray headerCharset;
        QByteArray expectedCharset;
        QString expectedText;
    } cases[] = {
        {"meta charset only", "<meta charset=\"windows-1251\"><p>" + kRussian1251, "", "windows-1251",
         kRussian},
        {"meta http-equiv only",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=windows-1251\"></head><p>" +
             kRussian1251,
         "", "windows-1251", kRussian},
        {"HTTP charset only", "<p>" + kRussian1251, "windows-1251", "windows-1251", kRussian},
        {"HTTP charset beats meta", "<meta charset=windows-1251><p>" + kRussian.toUtf8(), "UTF-8", "UTF-8",
         kRussian},
        {"byte-order mark beats HTTP charset", "\xEF\xBB\xBF<p>" + kRussian.toUtf8(), "windows-1251", "UTF-8",
         kRussian},
        {"UTF-16 byte-order mark", QByteArray("\xFF\xFE", 2) + encoded("UTF-16LE", u"<p>" + kRussian), "",
         "UTF-16LE", kRussian},
        {"Shift_JIS by meta", "<meta charset='shift_jis'><p>" + kJapaneseShiftJis, "", "Shift_JIS",
         kJapanese},
        {"unknown HTTP charset falls back to meta", "<meta charset=windows-1251>" + kRussian1251,
         "no-such-charset", "windows-1251", kRussian},
        {"meta inside a comment is not a declaration",
         "<!-- <meta charset=windows-1251> --><p>" + kRussian.toUtf8(), "", "UTF-8", kRussian},
        {"meta declaring UTF-16 means UTF-8", "<meta charset=utf-16><p>" + kRussian.toUtf8(), "", "UTF-8",
         kRussian},
        {"undeclared valid UTF-8", "<p>" + kRussian.toUtf8(), "", "UTF-8", kRussian},
        {"undeclared bytes that are not UTF-8 read as windows-1252", "<p>caf\xe9 \x80 \x93quoted\x94", "",
         "windows-1252", QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac \xe2\x80\x9cquoted\xe2\x80\x9d")},
        {"ISO-8859-1 label reads as windows-1252", "<p>\x93quoted\x94", "ISO-8859-1", "windows-1252",
         QString::fromUtf8("\xe2\x80\x9cquoted\xe2\x80\x9d")},
    };
    for (const auto& c : cases) {
        QByteArray used;
        const QByteArray utf8 = pageToUtf8(c.body, c.headerCharset, &used);
        EXPECT_EQ(used.toLower(), c.expectedCharset.toLower()) << c.name;
        EXPECT_TRUE(QString::fromUtf8(utf8).contains(c.expectedText)) << c.name << ": " << utf8.toStdString();
    }
}

TEST(PageCharset, ContentTypeAndMetaValuesAreParsed) {
    EXPECT_EQ(charsetFromContentType("text/html; charset=UTF-8"), "UTF-8");
    EXPECT_EQ(charsetFromContentType("text/html;Charset=\"windows-1251\";x=y"), "windows-1251");
    EXPECT_EQ(charsetFromContentType("text/html"), "");
    EXPECT_EQ(charsetFromContentType("text/html; x-charset=koi8-r"), "");
    EXPECT_EQ(metaCharset("<html><head><title>x</title><META CHARSET = 'KOI8-R' >"), "koi8-r");
    EXPECT_EQ(metaCharset("<meta content='text/html; charset=\"gbk\"' http-equiv=content-type>"), "gbk");
    EXPECT_EQ(metaCharset("<meta name=description content='charset=big5 is not read here'>"), "");
    EXPECT_EQ(metaCharset("<div title='<meta charset=big5>'></div>"), "");
    EXPECT_EQ(metaCharset(QByteArray(QByteArray(9000, ' ') + "<meta charset=big5>")), "");
}

TEST(PageCharset, HtmlIsRecognisedByTypeOrByItsFirstBytes) {
    const struct {
        const char* type;
        const char* body;
        bool html;
    } cases[] = {
        {"text/html", "anything", true},
        {"application/xhtml+xml", "<?xml version='1.0'?><html>", true},
        {"", "\n  <!DOCTYPE html><html>", true},
        {"text/plain", "<html lang=en>", true},
        {"application/octet-stream", "\xEF\xBB\xBF<!-- page -->", true},
        {"text/plain", "just words", false},
        {"", "\x89PNG\r\n", false},
        {"image/png", "<html>", false},
        {"application/pdf", "<html>", false},
        {"", "<a", true},
        {"", "<abbr>", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(looksLikeHtml(c.type, c.body), c.html) << c.type << " / " << c.body;
}

// ------------------------------------------------------------------ fetch

class PageFetch : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = site.server();
        // fetches share kept connections; the site need not wait for them at its end
        s.set_keep_alive_timeout(1);
        s.Get("/page.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><img src=a.jpg></body></html>", "text/html; charset=ISO-8859-1");
        });
        s.Get("/hop1", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/hop2"); });
        s.Get("/hop2", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/final/page.html?x=1");
        });
        s.Get("/final/page.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<p>final</p>", "text/html");
        });
        s.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
        s.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("file:///etc/passwd");
        });
        s.Get("/big.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string("<html>") + std::string(100000, 'x'), "text/html");
        });
        s.Get("/movie.mp4", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(8 * 1024 * 1024, '\0'), "video/mp4");
        });
        s.Get("/error", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("<html>broken</html>", "text/html");
        });
        site.start();
    }
    QUrl at(const char* path) const { return QUrl(site.baseUrl() + QString::fromUtf8(path)); }

    LocalHttpServer site;
    PageFetcher fetcher;
};

TEST_F(PageFetch, PageComesWithTypeCharsetAndFinalAddress) {
    const FetchedPage page = fetcher.fetch(at("/page.html"));
    EXPECT_EQ(page.httpStatus, 200);
    EXPECT_TRUE(page.isHtml);
    EXPECT_EQ(page.mimeType, "text/html");
    EXPECT_EQ(page.headerCharset, "ISO-8859-1");
    EXPECT_EQ(page.body, "<html><body><img src=a.jpg></body></html>");
    EXPECT_EQ(page.finalUrl, at("/page.html"));

    const FetchedPage moved = fetcher.fetch(at("/hop1"));
    EXPECT_EQ(moved.finalUrl, at("/final/page.html?x=1"));
    EXPECT_EQ(moved.body, "<p>final</p>");
}

TEST_F(PageFetch, LongPagesAreCutAndMediaFilesAreNotDownloaded) {
    FetchOptions options;
    options.maxBytes = 4096;
    const FetchedPage cut = fetcher.fetch(at("/big.html"), options);
    EXPECT_TRUE(cut.truncated);
    EXPECT_EQ(cut.body.size(), 4096);
    EXPECT_TRUE(cut.isHtml);

    const FetchedPage movie = fetcher.fetch(at("/movie.mp4"));
    EXPECT_FALSE(movie.isHtml);
    EXPECT_EQ(movie.mimeType, "video/mp4");
    EXPECT_LT(movie.body.size(), 1024 * 1024); // stopped after the first bytes of 8 MB
}

TEST_F(PageFetch, FailuresAreReportedByKind) {
    LocalHttpServer closed;
    closed.start();
    const QString closedAddress = closed.baseUrl() + QStringLiteral("/x.html");
    closed.stop();

    const struct {
        const char* name;
        QUrl url;
        FetchError::Kind kind;
        const char* messagePart;
    } cases[] = {
        {"missing page", at("/nothing-here"), FetchError::Kind::Upstream, "HTTP 404"},
        {"server error", at("/error"), FetchError::Kind::Upstream, "HTTP 500"},
        {"closed port", QUrl(closedAddress), FetchError::Kind::Upstream, "cannot fetch"},
        {"redirect loop", at("/loop"), FetchError::Kind::Upstream, "redirect"},
        {"redirect to a local file", at("/to-file"), FetchError::Kind::Upstream, "cannot fetch"},
        {"file address", QUrl(QStringLiteral("file:///etc/passwd")), FetchError::Kind::RefusedAddress,
         "only http"},
        {"ftp address", QUrl(QStringLiteral("ftp://127.0.0.1/x")), FetchError::Kind::RefusedAddress,
         "only http"},
    };
    for (const auto& c : cases) {
        try {
            fetcher.fetch(c.url);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const FetchError& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.name;
            EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
}

TEST_F(PageFetch, ConcurrentFetchesShareOnePerHostLimit) {
    LocalHttpServer slow;
    slow.server().set_keep_alive_timeout(1);
    std::atomic<int> inFlight{0};
    std::atomic<int> peak{0};
    const auto heldUntil = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    slow.server().Get("/slow.html", [&](const httplib::Request&, httplib::Response& res) {
        const int now = ++inFlight;
        for (int seen = peak.load(); now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
        // Held until six are in at once, however slowly a busy machine starts the callers, then a
        // while longer, for a seventh past the limit to show.
        while (peak < 6 && std::chrono::steady_clock::now() < heldUntil)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        --inFlight;
        res.set_content("<p>slow</p>", "text/html");
    });
    slow.start();

    std::atomic<int> served{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 7; ++i) {
        callers.emplace_back([&] {
            if (fetcher.fetch(QUrl(slow.baseUrl() + QStringLiteral("/slow.html"))).body == "<p>slow</p>")
                ++served;
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(served.load(), 7);
    EXPECT_EQ(peak.load(), 6);
}

TEST_F(PageFetch, ProcessUserAgentReplacesTheFetchersOwn) {
    std::string agent;
    LocalHttpServer echo;
    echo.server().set_keep_alive_timeout(1);
    echo.server().Get("/ua.html", [&](const httplib::Request& req, httplib::Response& res) {
        agent = req.get_header_value("User-Agent");
        res.set_content("<p>ua</p>", "text/html");
    });
    echo.start();
    const QUrl page(echo.baseUrl() + QStringLiteral("/ua.html"));

    fetcher.fetch(page);
    EXPECT_EQ(agent, FetchOptions{}.userAgent.toStdString());
    setUserAgentOverride("SkarvelTest/1.0");
    fetcher.fetch(page);
    setUserAgentOverride({});
    EXPECT_EQ(agent, "SkarvelTest/1.0");
}

TEST_F(PageFetch, CancelledFlagStopsTheTransfer) {
    const std::atomic<bool> cancelled{true};
    FetchOptions options;
    options.cancelled = &cancelled;
    EXPECT_THROW(fetcher.fetch(at("/page.html"), options), FetchError);
}

} // namespace
