#include "net/http_client.h"
#include "net/user_agent.h"

#include "tests/support/local_server.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

using namespace skarvel;
using skarvel::test::LocalHttpServer;
using skarvel::test::RawHttpServer;
using skarvel::test::SilentTcpServer;

namespace {

HttpClient::Options downloadOptions() {
    return {.followRedirects = true, .tls = true};
}

// Runs fn, which must throw HttpError, and hands the error back.
template <typename Fn> HttpError expectHttpError(Fn fn) {
    try {
        fn();
    } catch (const HttpError& e) {
        return e;
    }
    ADD_FAILURE() << "no HttpError was thrown";
    return HttpError(QString());
}

std::string str(const QString& s) {
    return s.toStdString();
}

struct SeenHeaders {
    std::string method, userAgent, accept, expect, acceptEncoding, contentType;
    size_t userAgentCount = 0, acceptCount = 0;
    bool hasExpect = false, hasAcceptEncoding = false;
};

TEST(HttpClient, EveryRequestCarriesExactlyTheDefaultHeaders) {
    LocalHttpServer server;
    std::mutex mutex;
    std::vector<SeenHeaders> seen;
    const auto record = [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        seen.push_back({req.method, req.get_header_value("User-Agent"), req.get_header_value("Accept"),
                        req.get_header_value("Expect"), req.get_header_value("Accept-Encoding"),
                        req.get_header_value("Content-Type"), req.get_header_value_count("User-Agent"),
                        req.get_header_value_count("Accept"), req.has_header("Expect"),
                        req.has_header("Accept-Encoding")});
        res.set_content("ok", "text/plain");
    };
    server.server().Get("/h", record);
    server.server().Post("/h", record);
    server.start();

    for (const bool follow : {false, true}) {
        HttpClient client({.followRedirects = follow, .tls = follow});
        client.get(server.baseUrl() + "/h");
        client.postForm(server.baseUrl() + "/h", "list=x");
    }

    ASSERT_EQ(seen.size(), 4u);
    for (const auto& s : seen) {
        EXPECT_EQ(s.userAgent, "Mozilla/3.0 (compatible; Indy Library)") << s.method;
        EXPECT_EQ(s.accept, "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8") << s.method;
        EXPECT_EQ(s.userAgentCount, 1u);
        EXPECT_EQ(s.acceptCount, 1u);
        EXPECT_FALSE(s.hasExpect) << s.method << " carried Expect: " << s.expect;
        EXPECT_FALSE(s.hasAcceptEncoding) << s.method << " asked for " << s.acceptEncoding;
    }
    EXPECT_EQ(seen[1].method, "POST");
    EXPECT_EQ(seen[1].contentType, "application/x-www-form-urlencoded");
}

TEST(HttpClient, UserAgentOverrideReplacesTheDefaultForEveryClientUntilCleared) {
    LocalHttpServer server;
    std::mutex mutex;
    std::vector<std::string> agents;
    const auto record = [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        agents.push_back(req.get_header_value("User-Agent"));
        res.set_content("ok", "text/plain");
    };
    server.server().Get("/ua", record);
    server.server().Post("/ua", record);
    server.start();

    HttpClient service;
    HttpClient download(downloadOptions());
    setUserAgentOverride("Mozilla/5.0 (X11; Linux x86_64) Skarvel\r\nX-Injected: 1");
    service.get(server.baseUrl() + "/ua");
    download.postForm(server.baseUrl() + "/ua", "list=x");
    TransferEngine engine;
    engine.submit({.url = server.baseUrl() + "/ua"});
    engine.runUntilIdle();
    setUserAgentOverride({});
    download.get(server.baseUrl() + "/ua");

    ASSERT_EQ(agents.size(), 4u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(agents[i], "Mozilla/5.0 (X11; Linux x86_64) Skarvel  X-Injected: 1") << i;
    EXPECT_EQ(agents[3], "Mozilla/3.0 (compatible; Indy Library)");
}

TEST(HttpClient, LargeFormGoesOutWithoutWaitingForContinue) {
    RawHttpServer raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    HttpClient client;
    // Past the size at which curl would ask for "100 Continue" on its own.
    const QByteArray body(2 * 1024 * 1024, 'x');
    EXPECT_EQ(client.postForm(raw.baseUrl() + "/big", body).body, "ok");

    const auto requests = raw.requests();
    ASSERT_EQ(requests.size(), 1u);
    QByteArray head = QByteArray::fromStdString(requests[0].head).toLower();
    EXPECT_FALSE(head.contains("\r\nexpect:")) << requests[0].head;
    EXPECT_EQ(requests[0].body.size(), static_cast<size_t>(body.size()));
}

TEST(HttpClient, PostBodyArrivesExactlyAsGiven) {
    LocalHttpServer server;
    std::string body, contentType;
    server.server().Post("/form", [&](const httplib::Request& req, httplib::Response& res) {
        body = req.body;
        contentType = req.get_header_value("Content-Type");
        res.set_content("done", "text/plain");
    });
    server.start();

    HttpClient client;
    const QByteArray sent = QByteArrayLiteral("list=a&b=c %41+\xC3\xA9");
    const HttpResponse response = client.postForm(server.baseUrl() + "/form", sent);
    EXPECT_EQ(response.body, "done");
    EXPECT_EQ(body, sent.toStdString());
    EXPECT_EQ(contentType, "application/x-www-form-urlencoded");
}

// /r/N redirects to /r/N-1 with a mix of redirect statuses; /r/0 answers "done".
void serveRedirectChain(LocalHttpServer& server) {
    server.server().Get(R"(/r/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1]);
        if (n == 0) {
            res.set_content("done", "text/plain");
            return;
        }
        static const int statuses[] = {301, 302, 303, 307, 308};
        res.set_redirect("/r/" + std::to_string(n - 1), statuses[n % 5]);
        res.set_content("redirect body", "text/plain");
    });
}

TEST(HttpClient, FollowsFourteenRedirectsAndEndsQuietlyAtTheFifteenth) {
    LocalHttpServer server;
    serveRedirectChain(server);
    server.start();
    HttpClient client(downloadOptions());

    const HttpResponse followed = client.get(server.baseUrl() + "/r/14");
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, "done");
    EXPECT_EQ(str(followed.finalUrl), str(server.baseUrl() + "/r/0"));
    EXPECT_EQ(server.totalRequests(), 15);

    const HttpResponse stopped = client.get(server.baseUrl() + "/r/15");
    EXPECT_GE(stopped.status, 300);
    EXPECT_LT(stopped.status, 400);
    EXPECT_TRUE(stopped.body.isEmpty()) << stopped.body.toStdString();
    EXPECT_EQ(stopped.contentLength, -1);
    EXPECT_EQ(server.requestCount("/r/15"), 1);
    EXPECT_EQ(server.requestCount("/r/1"), 2); // once in each chain
    EXPECT_EQ(server.requestCount("/r/0"), 1); // only the first chain got there
}

TEST(HttpClient, FinalUrlIsTheAddressAfterRedirects) {
    LocalHttpServer server;
    server.server().Get("/start", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/files/report.pdf?v=2", 302);
    });
    server.server().Get("/files/report.pdf", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("%PDF", "application/pdf");
    });
    server.start();

    HttpClient client(downloadOptions());
    const HttpResponse response = client.get(server.baseUrl() + "/start");
    EXPECT_EQ(response.body, "%PDF");
    EXPECT_EQ(str(response.finalUrl), str(server.baseUrl() + "/files/report.pdf?v=2"));

    const HttpResponse direct = client.get(server.baseUrl() + "/files/report.pdf");
    EXPECT_EQ(str(direct.finalUrl), str(server.baseUrl() + "/files/report.pdf"));
}

TEST(HttpClient, ClientWithoutRedirectsGivesAnEmptyAnswerAndStays) {
    LocalHttpServer server;
    serveRedirectChain(server);
    server.start();
    HttpClient client;

    const HttpResponse response = client.get(server.baseUrl() + "/r/1");
    EXPECT_EQ(response.status, 302);
    EXPECT_TRUE(response.body.isEmpty()) << response.body.toStdString();
    EXPECT_EQ(str(response.finalUrl), str(server.baseUrl() + "/r/1"));
    EXPECT_EQ(server.totalRequests(), 1);
}

TEST(HttpClient, RedirectWithoutATargetIsAnError) {
    LocalHttpServer server;
    server.server().Get("/nowhere", [](const httplib::Request&, httplib::Response& res) {
        res.status = 302;
        res.set_content("no location", "text/plain");
    });
    server.start();

    for (const bool follow : {false, true}) {
        HttpClient client({.followRedirects = follow});
        const HttpError error = expectHttpError([&] { client.get(server.baseUrl() + "/nowhere"); });
        EXPECT_NE(std::string(error.what()).find("without a target"), std::string::npos) << error.what();
    }
}

TEST(HttpClient, OnlyHttpAndHttpsAreSpokenAlsoOnRedirects) {
    LocalHttpServer server;
    server.server().Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("file:///etc/hostname", 302);
    });
    server.server().Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("ftp://127.0.0.1:1/x", 301);
    });
    server.start();
    HttpClient client(downloadOptions());

    const QString refused[] = {
        QStringLiteral("file:///etc/hostname"),        QStringLiteral("ftp://127.0.0.1:1/x"),
        QStringLiteral("dict://127.0.0.1:1/x"),        QStringLiteral("gopher://127.0.0.1:1/x"),
        server.baseUrl() + QStringLiteral("/to-file"), server.baseUrl() + QStringLiteral("/to-ftp"),
    };
    for (const QString& url : refused) {
        const HttpError error = expectHttpError([&] { client.get(url); });
        EXPECT_EQ(error.status(), 0) << str(url);
    }
    EXPECT_EQ(server.totalRequests(), 2);
}

TEST(HttpClient, ErrorStatusesAreRaisedWithTheirCode) {
    LocalHttpServer server;
    server.server().Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::stoi(req.matches[1]);
        if (res.status >= 400)
            res.set_content("error page", "text/html");
    });
    server.start();
    HttpClient client(downloadOptions());

    for (const int status : {400, 403, 404, 410, 500, 503}) {
        const HttpError error =
            expectHttpError([&] { client.get(server.baseUrl() + QStringLiteral("/status/%1").arg(status)); });
        EXPECT_EQ(error.status(), status);
    }
    EXPECT_EQ(client.get(server.baseUrl() + "/status/204").status, 204);
}

TEST(HttpClient, ContentTypeLosesItsParametersAndGivesItsCharset) {
    struct Case {
        const char* sent;
        const char* type;
        const char* charset;
    };
    const Case cases[] = {
        {"image/jpeg", "image/jpeg", ""},
        {"image/JPEG; charset=UTF-8", "image/JPEG", "UTF-8"},
        {" text/html ;  Charset=\"windows-1251\" ", "text/html", "windows-1251"},
        {"text/plain; format=flowed; charset=koi8-r; delsp=yes", "text/plain", "koi8-r"},
        {"application/pdf;name=x.pdf", "application/pdf", ""},
    };
    LocalHttpServer server;
    server.server().Get(R"(/ct/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_content("body", cases[std::stoi(req.matches[1])].sent);
    });
    server.start();
    HttpClient client(downloadOptions());

    for (size_t i = 0; i < std::size(cases); ++i) {
        const HttpResponse r = client.get(server.baseUrl() + QStringLiteral("/ct/%1").arg(i));
        EXPECT_EQ(str(r.contentType), cases[i].type) << cases[i].sent;
        EXPECT_EQ(str(r.charset), cases[i].charset) << cases[i].sent;
        EXPECT_EQ(r.contentLength, 4) << cases[i].sent;
    }
}

TEST(HttpClient, DeclaredLengthIsMinusOneWhenChunkedAndKeptWhenTheBodyIsCutShort) {
    LocalHttpServer server;
    server.server().Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream",
                                         [](size_t offset, httplib::DataSink& sink) {
                                             if (offset < 3000) {
                                                 const std::string part(1000, 'c');
                                                 sink.write(part.data(), part.size());
                                             } else {
                                                 sink.done();
                                             }
                                             return true;
                                         });
    });
    server.server().Get("/short", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100, "image/png", [](size_t, size_t, httplib::DataSink& sink) {
            sink.write("0123456789012345678901234567890123456789", 40);
            return false; // the connection drops 60 bytes early
        });
    });
    server.server().Get("/disposition", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"a b.txt\"");
        res.set_content("abc", "text/plain");
    });
    server.start();
    HttpClient client(downloadOptions());

    const HttpResponse chunked = client.get(server.baseUrl() + "/chunked");
    EXPECT_EQ(chunked.body.size(), 3000);
    EXPECT_EQ(chunked.contentLength, -1);
    EXPECT_TRUE(chunked.contentDisposition.isEmpty());

    const HttpResponse cut = client.get(server.baseUrl() + "/short");
    EXPECT_EQ(cut.body.size(), 40);
    EXPECT_EQ(cut.contentLength, 100);

    const HttpResponse named = client.get(server.baseUrl() + "/disposition");
    EXPECT_EQ(named.contentLength, 3);
    EXPECT_EQ(str(named.contentDisposition), "attachment; filename=\"a b.txt\"");
}

TEST(HttpClient, KeepsOneConnectionAcrossRequests) {
    LocalHttpServer server;
    std::mutex mutex;
    std::vector<int> ports;
    const auto record = [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        ports.push_back(req.remote_port);
        res.set_content("x", "text/plain");
    };
    server.server().Get("/a", record);
    server.server().Post("/b", record);
    server.start();

    HttpClient client(downloadOptions());
    client.get(server.baseUrl() + "/a");
    client.postForm(server.baseUrl() + "/b", "list=x");
    client.get(server.baseUrl() + "/a");

    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[1], ports[0]);
    EXPECT_EQ(ports[2], ports[0]);
}

TEST(HttpClient, HttpsWithASelfSignedCertificateWorksOnlyWithTls) {
    if (!LocalHttpServer::httpsAvailable())
        GTEST_SKIP() << "this build's test server cannot serve TLS (cpp-httplib without OpenSSL)";
    LocalHttpServer server(LocalHttpServer::Scheme::Https);
    server.server().Get("/secure", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secret", "text/plain");
    });
    server.server().Get(
        "/hop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/secure", 302); });
    server.start();
    ASSERT_TRUE(server.baseUrl().startsWith(QStringLiteral("https://")));

    HttpClient tls(downloadOptions());
    EXPECT_EQ(tls.get(server.baseUrl() + "/secure").body, "secret");
    EXPECT_EQ(tls.get(server.baseUrl() + "/hop").body, "secret");

    HttpClient plain;
    expectHttpError([&] { plain.get(server.baseUrl() + "/secure"); });
    EXPECT_EQ(server.requestCount("/secure"), 2);
}

TEST(HttpClient, StalledServerEndsInATimeOutError) {
    SilentTcpServer silent;
    HttpClient client({.followRedirects = true, .tls = true, .stallTimeout = std::chrono::seconds(1)});
    const HttpError error = expectHttpError([&] { client.get(silent.baseUrl() + "/never"); });
    EXPECT_EQ(error.status(), 0);
    EXPECT_EQ(std::string(error.what()).find("aborted"), std::string::npos) << error.what();
}

TEST(HttpClient, AbortFromAnotherThreadEndsAHangingRequest) {
    SilentTcpServer silent;
    HttpClient client(downloadOptions()); // a stall would take a minute to notice
    std::thread closer([&] {
        if (silent.waitForConnection(60000))
            client.abort();
    });
    const HttpError error = expectHttpError([&] { client.get(silent.baseUrl() + "/never"); });
    closer.join();
    EXPECT_NE(std::string(error.what()).find("aborted"), std::string::npos) << error.what();

    LocalHttpServer server;
    server.server().Get(
        "/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    server.start();
    // Aborted stays aborted until reset: no request leaves meanwhile.
    expectHttpError([&] { client.get(server.baseUrl() + "/ok"); });
    EXPECT_EQ(server.totalRequests(), 0);
    client.resetAbort();
    EXPECT_EQ(client.get(server.baseUrl() + "/ok").body, "ok");
}

TEST(HttpClient, TextIsDecodedByTheDeclaredCharsetOrTheDefaultOfItsType) {
    struct Case {
        const char* what;
        const char* contentType;
        const char* charset;
        QByteArray body;
        QString expected;
    };
    const Case cases[] = {
        {"windows-1251 declared", "text/html", "windows-1251", QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2"),
         QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82")},
        {"UTF-8 declared", "text/plain", "utf-8", QByteArray("caf\xC3\xA9"),
         QString::fromUtf8("caf\xC3\xA9")},
        {"text without charset is ISO-8859-1", "text/plain", "", QByteArray("caf\xE9"),
         QString::fromUtf8("caf\xC3\xA9")},
        {"text in capitals without charset", "TEXT/HTML", "", QByteArray("\xE9"),
         QString::fromUtf8("\xC3\xA9")},
        {"unknown charset on text falls back to ISO-8859-1", "text/plain", "x-no-such", QByteArray("\xE9"),
         QString::fromUtf8("\xC3\xA9")},
        {"other types without charset are UTF-8", "application/json", "", QByteArray("caf\xC3\xA9"),
         QString::fromUtf8("caf\xC3\xA9")},
        {"no type at all is UTF-8", "", "", QByteArray("\xC3\xA9"), QString::fromUtf8("\xC3\xA9")},
    };
    for (const auto& c : cases) {
        HttpResponse r;
        r.contentType = QString::fromLatin1(c.contentType);
        r.charset = QString::fromLatin1(c.charset);
        r.body = c.body;
        EXPECT_EQ(decodeText(r), c.expected) << c.what;
    }
}

} // namespace
