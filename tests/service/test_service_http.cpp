// The service end to end: a local web site, the service on a free port, and
// an HTTP client that sends what the desktop program sends.
#include "service/page_analysis_service.h"
#include "service/tolerant_http_server.h"

#include "tests/service/qt_printers.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>
#endif

using namespace skarvel;
using skarvel::test::LocalHttpServer;

namespace {

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

const char* const kCatAlt = "\xd0\x9a\xd0\xbe\xd1\x88\xd0\xba\xd0\xb0 \xd0\xbd\xd0\xb0 "
                            "\xd0\xba\xd0\xbe\xd0\xb2\xd1\x80\xd0\xb8\xd0\xba\xd0\xb5";
const char* const kCatTitle = "\xd0\x9f\xd1\x83\xd1\x88\xd0\xb8\xd1\x81\xd1\x82\xd0\xb0\xd1\x8f";
// The same two texts in windows-1251, written out: Qt without ICU (Windows) cannot encode them.
const char* const kCatAlt1251 = "\xca\xee\xf8\xea\xe0 \xed\xe0 \xea\xee\xe2\xf0\xe8\xea\xe5";
const char* const kCatTitle1251 = "\xcf\xf3\xf8\xe8\xf1\xf2\xe0\xff";

struct Answer {
    int status = 0;
    std::string contentType;
    QByteArray body;
    QList<QStringList> records() const {
        QList<QStringList> out;
        for (const QString& line : QString::fromUtf8(body).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            out << line.split(u'\t');
        return out;
    }
    QStringList column(int n) const {
        QStringList out;
        for (const QStringList& r : records())
            out << r.value(n);
        return out;
    }
};

// Slow pages that are held until both have been asked for.
struct Rendezvous {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int inside = 0;
    int mostInside = 0;
};

class ServiceHttp : public ::testing::Test {
protected:
    void SetUp() override {
        auto page = [this](const char* path, std::string html,
                           const char* type = "text/html; charset=utf-8") {
            site.server().Get(path, [html, type](const httplib::Request&, httplib::Response& res) {
                res.set_content(html, type);
            });
        };
        page("/gallery/index.html", R"(<!DOCTYPE html><html><head>
            <meta property="og:image" content="/share/cover.jpg"><title>Gallery</title></head><body>
            <a href="photos/big-1.jpg" title="First"><img src="thumbs/1.jpg" alt="One"></a>
            <img srcset="https://cdn.example.net/w_300,h_200/p.jpg 300w, https://cdn.example.net/w_1200,h_800/p.jpg 1200w"
                 src="data:image/gif;base64,R0lGODlhAQABAAAAACw=">
            <img class="lazy" data-src="../lazy/2.png" alt="Two">
            <img src="thumbs/1.jpg"></body></html>)");
        page("/based/page.html",
             R"(<head><base href="/assets/img/"></head><img src="x.gif"><img src="/abs.gif">)");
        page("/moved/deep/page.html", R"(<img src="pic.jpg">)");
        site.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/moved/deep/page.html");
        });
        const std::string catImg =
            std::string("<img src=\"cat.jpg\" alt=\"") + kCatAlt1251 + "\" title=\"" + kCatTitle1251 + "\">";
        page("/cp1251-meta.html", "<html><head><meta charset=\"windows-1251\"></head><body>" + catImg,
             "text/html");
        page("/cp1251-header.html", "<html><body>" + catImg, "text/html; charset=windows-1251");
        for (const char* policy : {"upgrade-insecure-requests", "default-src 'self'"}) {
            const std::string path =
                std::string("/csp-") + (policy[0] == 'u' ? "upgrade" : "other") + ".html";
            site.server().Get(path, [policy](const httplib::Request&, httplib::Response& res) {
                res.set_header("Content-Security-Policy", policy);
                res.set_content("<img src=\"http://img.example.org:8080/a.jpg?x=1\"><img "
                                "src=\"http://img.example.org/b.png\">",
                                "text/html");
            });
        }
        site.server().Get("/photo.png", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string("\x89PNG\r\n\x1a\n", 8) + std::string(1000, '\0'), "image/png");
        });
        site.server().Get("/query.php", [](const httplib::Request& req, httplib::Response& res) {
            // the query exactly as it reached the site
            const std::string query = req.target.substr(req.target.find('?') + 1);
            res.set_content("<img src=\"img-" +
                                QByteArray::fromStdString(query).replace("&", "&amp;").toStdString() +
                                ".jpg\">",
                            "text/html");
        });
        page("/media.html", R"(<audio controls><source src="a/song.ogg" type="audio/ogg"></audio>
            <video src="v/clip.mp4"><source src="v/clip.webm"></video>
            <a href="files/talk.mp3">talk</a><a href="files/film.mkv">film</a>)");
        page("/links.html",
             R"(<a href="one.html">1</a><a href="/two.html#part">2</a><a href="one.html">1 again</a>
            <a href="mailto:me@example.com">m</a><map><area href="http://example.org/three"></map>)");
        site.server().Get(R"(/slow/(\d)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::unique_lock lock(rendezvous.mutex);
                ++rendezvous.arrived;
                ++rendezvous.inside;
                rendezvous.mostInside = std::max(rendezvous.mostInside, rendezvous.inside);
                rendezvous.changed.notify_all();
                // the timeout only keeps a serial service from hanging the test
                rendezvous.changed.wait_for(lock, std::chrono::milliseconds(test::kWaitMs),
                                            [this] { return rendezvous.arrived >= 2; });
                --rendezvous.inside;
            }
            res.set_content("<img src=\"slow-" + req.matches[1].str() + ".jpg\">", "text/html");
        });
        site.start();

        ASSERT_TRUE(service.start(QStringLiteral("127.0.0.1"), 0));
        ASSERT_GT(service.port(), 0);
    }

    QString at(const char* path) const { return site.baseUrl() + u8(path); }

    // GETs script + "?url=" + the page address exactly as given, unencoded.
    Answer get(const char* script, const QString& pageUrl) const {
        return send(std::string(PageAnalysisService::kScriptPath) + script + "?url=" + pageUrl.toStdString());
    }
    Answer send(const std::string& target) const {
        httplib::Client client("127.0.0.1", service.port());
        client.set_url_encode(false);
        client.set_read_timeout(60, 0);
        return convert(client.Get(target));
    }
    Answer postList(const std::string& body) const {
        httplib::Client client("127.0.0.1", service.port());
        client.set_read_timeout(60, 0);
        return convert(client.Post(std::string(PageAnalysisService::kScriptPath) + "make_list.php", body,
                                   "application/x-www-form-urlencoded"));
    }
    static Answer convert(const httplib::Result& result) {
        Answer answer;
        EXPECT_TRUE(result) << "no answer: " << httplib::to_string(result.error());
        if (result) {
            answer.status = result->status;
            answer.contentType = result->get_header_value("Content-Type");
            answer.body = QByteArray::fromStdString(result->body);
        }
        return answer;
    }

    LocalHttpServer site;
    PageAnalysisService service;
    Rendezvous rendezvous;
};

TEST_F(ServiceHttp, PicturesOfAPageWithAllFiveFields) {
    const Answer answer = get("get_images.php", at("/gallery/index.html"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, "text/plain; charset=utf-8");
    EXPECT_TRUE(answer.body.endsWith("\r\n"));
    EXPECT_EQ(answer.body.count("\r\n"), answer.body.count("\n")); // no bare LF
    const QString parent = at("/gallery/index.html");
    const QList<QStringList> expected = {
        {at("/share/cover.jpg"), u8("cover.jpg"), u8(""), u8(""), parent},
        {at("/gallery/photos/big-1.jpg"), u8("big-1.jpg"), u8("One"), u8("First"), parent},
        {at("/gallery/thumbs/1.jpg"), u8("1.jpg"), u8("One"), u8("First"), parent},
        {u8("https://cdn.example.net/w_1200,h_800/p.jpg"), u8("p.jpg"), u8(""), u8(""), parent},
        {at("/lazy/2.png"), u8("2.png"), u8("Two"), u8(""), parent},
    };
    EXPECT_EQ(answer.records(), expected);
}

TEST_F(ServiceHttp, AddressesResolveAgainstBaseHrefAndTheAddressAfterRedirects) {
    EXPECT_EQ(get("get_images.php", at("/based/page.html")).column(0),
              QStringList({at("/assets/img/x.gif"), at("/abs.gif")}));
    const Answer moved = get("get_images.php", at("/old"));
    EXPECT_EQ(moved.column(0), QStringList{at("/moved/deep/pic.jpg")});
    EXPECT_EQ(moved.column(4), QStringList{at("/old")}); // Parent is the page as asked
}

TEST_F(ServiceHttp, PolicyHeaderOfThePageUpgradesItsHttpPicturesToHttps) {
    EXPECT_EQ(
        get("get_images.php", at("/csp-upgrade.html")).column(0),
        QStringList({u8("https://img.example.org:8080/a.jpg?x=1"), u8("https://img.example.org/b.png")}));
    // Another policy changes nothing.
    EXPECT_EQ(get("get_images.php", at("/csp-other.html")).column(0),
              QStringList({u8("http://img.example.org:8080/a.jpg?x=1"), u8("http://img.example.org/b.png")}));
}

TEST_F(ServiceHttp, WindowsCyrillicPagesAnswerInUtf8) {
    for (const char* path : {"/cp1251-meta.html", "/cp1251-header.html"}) {
        const Answer answer = get("get_images.php", at(path));
        ASSERT_EQ(answer.records().size(), 1) << path;
        EXPECT_EQ(answer.records()[0][2], u8(kCatAlt)) << path;
        EXPECT_EQ(answer.records()[0][3], u8(kCatTitle)) << path;
    }
}

TEST_F(ServiceHttp, PageAddressWithAmpersandAndEqualsArrivesWhole) {
    const QString page = at("/query.php?a=1&b=x=y");
    const Answer answer = get("get_images.php", page);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.column(0), QStringList{at("/img-a=1&b=x=y.jpg")});
    EXPECT_EQ(answer.column(4), QStringList{page});
}

TEST_F(ServiceHttp, AddressThatIsAFileAnswersByItsType) {
    const Answer picture = get("get_images.php", at("/photo.png"));
    EXPECT_EQ(picture.status, 200);
    EXPECT_EQ(picture.records(),
              (QList<QStringList>{{at("/photo.png"), u8("photo.png"), u8(""), u8(""), at("/photo.png")}}));
    for (const char* script : {"get_sounds.php", "get_videos.php"}) {
        const Answer other = get(script, at("/photo.png"));
        EXPECT_EQ(other.status, 200) << script;
        EXPECT_TRUE(other.body.isEmpty()) << script;
    }
    const Answer list = postList("list=" + at("/photo.png").toStdString());
    EXPECT_EQ(list.status, 200);
    EXPECT_TRUE(list.body.isEmpty());
}

TEST_F(ServiceHttp, FailuresAnswerWithErrorStatusAndPlainText) {
    LocalHttpServer closed;
    closed.start();
    const QString closedPage = closed.baseUrl() + u8("/page.html");
    closed.stop();

    const struct {
        const char* name;
        Answer answer;
        int status;
        const char* messagePart;
    } cases[] = {
        {"missing page", get("get_images.php", at("/no-such-page.html")), 502, "HTTP 404"},
        {"unreachable host", get("get_sounds.php", closedPage), 502, "cannot fetch"},
        {"local file", get("get_images.php", u8("file:///etc/passwd")), 400, "only http and https"},
        {"empty address", get("get_videos.php", u8("")), 400, "no page address"},
        {"no url parameter", send(std::string(PageAnalysisService::kScriptPath) + "get_images.php?page=x"),
         400, "missing"},
        {"no list field", postList("links=http://example.org/"), 400, "missing"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.answer.status, c.status) << c.name;
        EXPECT_EQ(c.answer.contentType, "text/plain; charset=utf-8") << c.name;
        EXPECT_TRUE(c.answer.body.contains(c.messagePart)) << c.name << ": " << c.answer.body.toStdString();
    }
}

TEST_F(ServiceHttp, SoundsAndVideosAreListedByScript) {
    const QString parent = at("/media.html");
    const Answer sounds = get("get_sounds.php", parent);
    EXPECT_EQ(sounds.records(), (QList<QStringList>{{at("/a/song.ogg"), u8("song.ogg"), parent},
                                                    {at("/files/talk.mp3"), u8("talk.mp3"), parent}}));
    const Answer videos = get("get_videos.php", parent);
    EXPECT_EQ(videos.column(0), QStringList({at("/v/clip.mp4"), at("/v/clip.webm"), at("/files/film.mkv")}));
    EXPECT_TRUE(videos.body.endsWith("\r\n"));
}

TEST_F(ServiceHttp, ListAnswerHasOneLinkPerLineEndedByBareLf) {
    const Answer answer = postList("list=" + at("/links.html").toStdString() + "\r\n");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, "text/plain; charset=utf-8");
    EXPECT_EQ(answer.body,
              (at("/one.html") + u'\n' + at("/two.html") + u"\nhttp://example.org/three\n").toUtf8());
}

TEST_F(ServiceHttp, TwoSlowPagesAreFetchedAtTheSameTime) {
    Answer first;
    Answer second;
    std::thread a([&] { first = get("get_images.php", at("/slow/1.html")); });
    std::thread b([&] { second = get("get_images.php", at("/slow/2.html")); });
    a.join();
    b.join();
    EXPECT_EQ(first.column(0), QStringList{at("/slow/slow-1.jpg")});
    EXPECT_EQ(second.column(0), QStringList{at("/slow/slow-2.jpg")});
    std::lock_guard lock(rendezvous.mutex);
    EXPECT_EQ(rendezvous.mostInside, 2) << "the site never saw both page requests at once";
}

TEST_F(ServiceHttp, ServiceStopsAndStartsAgain) {
    const int oldPort = service.port();
    EXPECT_EQ(service.baseUrl(),
              QStringLiteral("http://127.0.0.1:%1/products/skarvel/scripts/").arg(oldPort));
    QString error;
    EXPECT_FALSE(service.start(QStringLiteral("127.0.0.1"), 0, &error));
    EXPECT_FALSE(error.isEmpty());
    service.stop();
    EXPECT_FALSE(service.isRunning());
    EXPECT_EQ(service.port(), 0);
    ASSERT_TRUE(service.start());
    EXPECT_EQ(get("get_images.php", at("/moved/deep/page.html")).column(0),
              QStringList{at("/moved/deep/pic.jpg")});
}

// The threads of this process, as the kernel lists them.
int ThreadCount() {
#ifdef _WIN32
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
#else
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
#endif
}

TEST_F(ServiceHttp, AStoppedServiceLeavesNoThreadOfItsOwnBehind) {
    // The servers make their worker threads once they listen: one answered request shows they all run.
    EXPECT_EQ(get("get_images.php", at("/moved/deep/page.html")).status, 200);
    const int before = ThreadCount();
    PageAnalysisService own;
    ASSERT_TRUE(own.start());
    // A page fetch puts the service's transfer thread to work.
    httplib::Client client("127.0.0.1", own.port());
    client.set_read_timeout(60, 0);
    const Answer answer =
        convert(client.Get(std::string(PageAnalysisService::kScriptPath) +
                           "get_images.php?url=" + at("/moved/deep/page.html").toStdString()));
    EXPECT_EQ(answer.column(0), QStringList{at("/moved/deep/pic.jpg")});
    EXPECT_GT(ThreadCount(), before);
    own.stop();
    // A joined thread may linger in the kernel's list for a moment.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ThreadCount() > before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ThreadCount(), before);
}

// --------------------------------------------------------- request values

TEST(ServiceRequest, ParameterValueRunsToTheEnd) {
    EXPECT_EQ(rawParameterValue("url=http://a.org/b?c=1&d=2", "url"), QByteArray("http://a.org/b?c=1&d=2"));
    EXPECT_EQ(rawParameterValue("x=1&url=http://a.org/", "url"), QByteArray("http://a.org/"));
    EXPECT_EQ(rawParameterValue("list=", "list"), QByteArray(""));
    EXPECT_FALSE(rawParameterValue("myurl=http://a.org/", "url"));
    EXPECT_FALSE(rawParameterValue("", "url"));
}

TEST(ServiceRequest, PageAddressesAreReadLeniently) {
    const struct {
        const char* value;
        const char* url; // "" = refused
    } cases[] = {
        {"http://a.org/x?q=1&r=2", "http://a.org/x?q=1&r=2"},
        {"  https://a.org/a b.html \r", "https://a.org/a%20b.html"},
        {"https%3A%2F%2Fa.org%2Fx%3Fq%3D1", "https://a.org/x?q=1"},
        {"http://a.org/100%25.html", "http://a.org/100%25.html"},
        {"http://a.org/\xd1\x84", "http://a.org/%D1%84"},
        {"example.com/page", "http://example.com/page"},
        {"localhost:8080/page", "http://localhost:8080/page"},
        {"example.com/go?to=http://a.org/", "http://example.com/go?to=http://a.org/"},
        {"file:///etc/passwd", ""},
        {"ftp://a.org/x", ""},
        {"javascript:alert(1)", ""},
        {"http://", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        QString error;
        const auto url = pageAddressFromParameter(u8(c.value), &error);
        EXPECT_EQ(url ? QString::fromLatin1(url->toEncoded()) : QString(), u8(c.url)) << c.value;
        EXPECT_EQ(error.isEmpty(), bool(url)) << c.value;
    }
}

TEST(ServiceRequest, RequestLinesWithRawQueryMarksAndBlanksAreMadeParseable) {
    std::string original;
    EXPECT_EQ(TolerantHttpServer::parseableRequestLine("GET /s/get.php?url=http://a/b?c=1&d=e?f HTTP/1.1",
                                                       &original),
              "GET /s/get.php?url=http://a/b%3Fc=1&d=e%3Ff HTTP/1.1");
    EXPECT_EQ(original, "/s/get.php?url=http://a/b?c=1&d=e?f");
    EXPECT_EQ(TolerantHttpServer::parseableRequestLine("GET /s?url=http://a/x y.html HTTP/1.0"),
              "GET /s?url=http://a/x%20y.html HTTP/1.0");
    EXPECT_EQ(TolerantHttpServer::parseableRequestLine("GET /plain HTTP/1.1"), "GET /plain HTTP/1.1");
    EXPECT_EQ(TolerantHttpServer::parseableRequestLine("garbage"), "garbage");
}

} // namespace
