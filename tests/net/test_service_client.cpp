#include "net/service_client.h"

#include "tests/support/local_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <mutex>
#include <thread>

using namespace skarvel;
using skarvel::test::LocalHttpServer;
using skarvel::test::RawHttpServer;

namespace {

constexpr char kScripts[] = "/products/skarvel/scripts/";

std::string str(const QString& s) {
    return s.toStdString();
}

class ServiceClientTest : public ::testing::Test {
protected:
    void start() {
        m_server.start();
        m_client = std::make_unique<ServiceClient>(
            serviceBaseForHost(QStringLiteral("127.0.0.1:%1").arg(m_server.port())));
    }
    httplib::Server& http() { return m_server.server(); }
    LocalHttpServer m_server;
    std::unique_ptr<ServiceClient> m_client;
};

TEST(ServiceBase, HostBecomesThePlainHttpScriptFolder) {
    EXPECT_EQ(str(serviceBaseForHost(QStringLiteral("example.org"))),
              "http://example.org/products/skarvel/scripts/");
    EXPECT_EQ(str(serviceBaseForHost(QStringLiteral("127.0.0.1:8080"))),
              "http://127.0.0.1:8080/products/skarvel/scripts/");
}

TEST(ServiceClient, HarvestSendsThePageAddressAsTypedAfterTheScript) {
    // cpp-httplib rejects a second "?" in the target, which a page address with a query brings.
    const std::string record = "http://site/a.jpg\tA\t\t\tParent\r\n";
    RawHttpServer raw("HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                      std::to_string(record.size()) + "\r\nConnection: close\r\n\r\n" + record);
    ServiceClient client(serviceBaseForHost(QStringLiteral("127.0.0.1:%1").arg(raw.port())));

    const QString page = QString::fromUtf8("http://site/a b.php?x=1&y=%41&z=100%#top\xC3\xA9");
    EXPECT_EQ(str(client.harvest(QLatin1String(kImagesScript), page)), record);

    const auto requests = raw.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target(),
              std::string(kScripts) +
                  "get_images.php?url=http://site/a%20b.php?x=1&y=%41&z=100%%23top%C3%A9");
}

TEST_F(ServiceClientTest, HarvestAnswerIsDecodedByItsDeclaredCharset) {
    http().Get(std::string(kScripts) + "get_sounds.php", [](const httplib::Request&, httplib::Response& res) {
        // "Привет" in windows-1251
        res.set_content("\xCF\xF0\xE8\xE2\xE5\xF2\r\n", "text/plain; charset=windows-1251");
    });
    http().Get(std::string(kScripts) + "get_videos.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("caf\xE9\r\n", "text/plain");
    });
    start();

    EXPECT_EQ(str(m_client->harvest(QLatin1String(kSoundsScript), QStringLiteral("http://site/page.html"))),
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n");
    EXPECT_EQ(str(m_client->harvest(QLatin1String(kVideosScript), QStringLiteral("http://site/page.html"))),
              "caf\xC3\xA9\r\n");
}

TEST_F(ServiceClientTest, RedirectIsNotFollowedAndFailuresAreRaised) {
    http().Get(std::string(kScripts) + "get_images.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/elsewhere", 302);
        res.set_content("moved", "text/plain");
    });
    http().Get("/elsewhere", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("should not be fetched", "text/plain");
    });
    start();

    EXPECT_EQ(str(m_client->harvest(QLatin1String(kImagesScript), QStringLiteral("http://site/page.html"))),
              "");
    EXPECT_EQ(m_server.requestCount("/elsewhere"), 0);
    EXPECT_THROW(m_client->harvest(QLatin1String(kSoundsScript), QStringLiteral("http://site/page.html")),
                 HttpError);
    EXPECT_THROW(m_client->makeList(QStringLiteral("http://site/")), HttpError);
}

TEST_F(ServiceClientTest, MakeListPostsTheTrimmedLinkRawAndCutsTheAnswerAtAZeroByte) {
    std::mutex mutex;
    std::vector<std::string> bodies;
    std::string contentType, userAgent;
    http().Post(
        std::string(kScripts) + "make_list.php", [&](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            bodies.push_back(req.body);
            contentType = req.get_header_value("Content-Type");
            userAgent = req.get_header_value("User-Agent");
            res.set_content(std::string("http://a/1\nhttp://a/2\r\n\xC3\xA9\n\0garbage after zero", 41),
                            "text/plain");
        });
    start();

    const QString answer = m_client->makeList(QString::fromUtf8("http://site/?a=1&b=%41 \xC3\xA9 \t\r\n"));
    EXPECT_EQ(str(answer), "http://a/1\nhttp://a/2\r\n\xC3\xA9\n");
    m_client->makeList(QStringLiteral("   "));
    // The ends of "list=" + link are trimmed, so blanks leading the link stay behind "list=".
    m_client->makeList(QStringLiteral(" \tlead"));

    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0], "list=http://site/?a=1&b=%41 \xC3\xA9");
    EXPECT_EQ(bodies[1], "list=");
    EXPECT_EQ(bodies[2], "list= \tlead");
    EXPECT_EQ(contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(userAgent, "Mozilla/3.0 (compatible; Indy Library)");
}

// ------------------------------------------------------ a busy service

// The service answers the first `busy` requests with `status` and the given
// Retry-After, and every later one with a record.
class BusyServiceTest : public ServiceClientTest {
protected:
    void serve(int busy, int status, std::string retryAfter) {
        auto handler = [=, this](const httplib::Request&, httplib::Response& res) {
            if (m_answered++ < busy) {
                res.status = status;
                if (!retryAfter.empty())
                    res.set_header("Retry-After", retryAfter);
                res.set_content("busy\n", "text/plain");
                return;
            }
            res.set_content("http://site/a.jpg\tA\t\t\tP\r\n", "text/plain; charset=utf-8");
        };
        http().Get(std::string(kScripts) + "get_images.php", handler);
        http().Post(std::string(kScripts) + "make_list.php", handler);
        start();
    }
    QString harvest() {
        return m_client->harvest(QLatin1String(kImagesScript), QStringLiteral("http://site/page.html"));
    }
    std::atomic<int> m_answered{0};
};

TEST_F(BusyServiceTest, WaitsAsAskedAndSendsAgain) {
    serve(1, 503, "1");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(str(harvest()), "http://site/a.jpg\tA\t\t\tP\r\n");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(950));
    EXPECT_EQ(m_answered, 2);
}

TEST_F(BusyServiceTest, ListRequestIsSentAgainToo) {
    serve(1, 429, "0");
    EXPECT_EQ(str(m_client->makeList(QStringLiteral("http://site/"))), "http://site/a.jpg\tA\t\t\tP\r\n");
    EXPECT_EQ(m_answered, 2);
}

TEST(BusyService, FailuresThatAreNotAnswerableByWaitingFailAsBefore) {
    const struct {
        const char* name;
        int busy;
        int status;
        std::string retryAfter;
        int requests;
    } cases[] = {
        {"503 without Retry-After", 1, 503, "", 1},
        {"503 with an unreadable Retry-After", 1, 503, "later", 1},
        {"another error status with Retry-After", 1, 500, "0", 1},
        // one retry, as for every transfer
        {"503 every time", 100, 503, "0", 2},
    };
    for (const auto& c : cases) {
        LocalHttpServer server;
        std::atomic<int> answered{0};
        server.server().Get(std::string(kScripts) + "get_images.php",
                            [&](const httplib::Request&, httplib::Response& res) {
                                ++answered;
                                res.status = c.status;
                                if (!c.retryAfter.empty())
                                    res.set_header("Retry-After", c.retryAfter);
                            });
        server.start();
        ServiceClient client(serviceBaseForHost(QStringLiteral("127.0.0.1:%1").arg(server.port())));
        try {
            client.harvest(QLatin1String(kImagesScript), QStringLiteral("http://site/page.html"));
            ADD_FAILURE() << c.name << ": no error";
        } catch (const HttpError& e) {
            EXPECT_EQ(e.status(), c.status) << c.name;
        }
        EXPECT_EQ(answered, c.requests) << c.name;
    }
}

TEST_F(BusyServiceTest, AbortEndsTheWait) {
    serve(1, 503, "30");
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m_client->abort();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(harvest(), HttpError);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(m_answered, 1);
}

// ------------------------------------------------------ an answer that breaks off

// A balancer cannot move a request once it has sent the answer's head: an instance that dies while it
// sends leaves the answer cut. The client asks once more at once; a complete answer, even an empty
// one, is taken as it is.
TEST(BrokenAnswer, IsAskedForOnceMoreAndACompleteOneIsTakenAsItIs) {
    const std::string record = "http://site/a.jpg\tA\t\t\tP\r\n";
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n";
    const std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", record.size());
    const std::string chunk = size + record + "\r\n";
    const std::string whole = head + "Content-Length: " + std::to_string(record.size()) + "\r\n\r\n" + record;
    const std::string shortBody =
        head + "Content-Length: " + std::to_string(record.size()) + "\r\n\r\n" + record.substr(0, 10);
    const std::string midChunk = chunked + size + record.substr(0, 10);
    using Reply = RawHttpServer::Reply;
    const struct {
        const char* name;
        std::vector<Reply> replies;
        bool fails;
        std::string answer;
        size_t requests;
    } cases[] = {
        {"body shorter than its Content-Length", {{shortBody}, {whole}}, false, record, 2},
        {"chunked body closed inside a chunk", {{midChunk}, {whole}}, false, record, 2},
        {"chunked body reset inside a chunk", {{midChunk, true}, {whole}}, false, record, 2},
        {"chunked body without its last chunk",
         {{chunked + chunk}, {chunked + chunk + "0\r\n\r\n"}},
         false,
         record,
         2},
        {"closed before the head", {{""}, {whole}}, false, record, 2},
        {"reset before the head", {{"", true}, {whole}}, false, record, 2},
        {"broken twice", {{shortBody}, {midChunk, true}, {whole}}, true, "", 2},
        {"empty body of Content-Length 0", {{head + "Content-Length: 0\r\n\r\n"}, {whole}}, false, "", 1},
        {"empty chunked body", {{chunked + "0\r\n\r\n"}, {whole}}, false, "", 1},
        {"empty body ended by the close", {{head + "Connection: close\r\n\r\n"}, {whole}}, false, "", 1},
    };
    const QString page = QStringLiteral("http://site/page.html");
    // The three ways a request goes out: a harvest and a URL list one at a time, and a harvest on an
    // engine with several in flight, as the jobs send them.
    for (const char* way : {"harvest", "makeList", "engine"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(way) + ": " + c.name);
            RawHttpServer raw(c.replies);
            ServiceClient client(serviceBaseForHost(QStringLiteral("127.0.0.1:%1").arg(raw.port())));
            bool failed = false;
            std::string answer;
            if (std::string(way) == "engine") {
                TransferEngine engine({}, ServiceClient::EngineOptions());
                TransferRequest request;
                request.url = client.harvestUrl(QLatin1String(kImagesScript), page);
                TransferResult result;
                request.done = [&result](TransferResult& ended) { result = std::move(ended); };
                engine.submit(std::move(request));
                engine.runUntilIdle();
                failed = !result.ok();
                if (failed)
                    EXPECT_EQ(result.failure, TransferFailure::Connection) << str(result.error);
                else
                    answer = str(ServiceClient::HarvestAnswer(result));
                EXPECT_EQ(result.attempts, int(c.requests));
            } else {
                try {
                    answer =
                        str(std::string(way) == "harvest" ? client.harvest(QLatin1String(kImagesScript), page)
                                                          : client.makeList(page));
                } catch (const HttpError& e) {
                    failed = true;
                    EXPECT_EQ(e.status(), 0) << e.what();
                }
            }
            EXPECT_EQ(failed, c.fails);
            EXPECT_EQ(answer, c.answer);
            EXPECT_EQ(raw.requests().size(), c.requests);
        }
    }
}

} // namespace
