// The service under more work than it takes: the admission bound, the 503
// with Retry-After, the desktop client's retry, the request log and the
// graceful stop, against a local site whose pages are held until released.
#include "net/service_client.h"
#include "service/page_analysis_service.h"

#include "tests/service/qt_printers.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

using namespace skarvel;
using skarvel::test::LocalHttpServer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// Pages under /held/ are answered only once the gate opens.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int arrived = 0;

    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool waitForArrivals(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return arrived >= count; });
    }
};

struct Answer {
    int status = 0;
    std::string retryAfter;
    std::string body;
    Clock::duration took{};
};

class ServiceCapacity : public ::testing::Test {
protected:
    void SetUp() override {
        site.server().new_task_queue = [] { return new httplib::ThreadPool(16); };
        site.server().Get(
            R"(/held/(\d+)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
                std::unique_lock lock(gate.mutex);
                ++gate.arrived;
                gate.changed.notify_all();
                // bounded, so that a broken service cannot hang the test
                gate.changed.wait_for(lock, 20s, [this] { return gate.open; });
                res.set_content("<img src=\"pic-" + req.matches[1].str() + ".jpg\">", "text/html");
            });
        site.server().Get("/page.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"(<img src="a.jpg"><a href="next.html">next</a>)", "text/html");
        });
        site.start();
        service.setRequestLogger([this](const QString& line) {
            std::lock_guard lock(logMutex);
            log << line;
            logChanged.notify_all();
        });
    }
    void TearDown() override {
        gate.release();
        service.stop();
    }

    void startService(const ServingLimits& limits) {
        service.setLimits(limits);
        ASSERT_TRUE(service.start());
    }
    QString page(const QString& path) const { return site.baseUrl() + path; }
    QString record(int n) const {
        return page(QStringLiteral("/held/pic-%1.jpg").arg(n)) + QStringLiteral("\tpic-%1.jpg\t\t\t").arg(n) +
               page(QStringLiteral("/held/%1.html").arg(n)) + QStringLiteral("\r\n");
    }

    Answer get(const QString& pageUrl) const {
        httplib::Client client("127.0.0.1", service.port());
        client.set_read_timeout(30, 0);
        const auto started = Clock::now();
        const auto result = client.Get(std::string(PageAnalysisService::kScriptPath) +
                                       "get_images.php?url=" + pageUrl.toStdString());
        Answer answer;
        answer.took = Clock::now() - started;
        if (result) {
            answer.status = result->status;
            answer.retryAfter = result->get_header_value("Retry-After");
            answer.body = result->body;
        }
        return answer;
    }
    std::future<Answer> getLater(const QString& pageUrl) const {
        return std::async(std::launch::async, [this, pageUrl] { return get(pageUrl); });
    }
    QStringList logLines() {
        std::lock_guard lock(logMutex);
        // A buffer of its own: a shared one is grown in place by the logger once this copy lets
        // go of it, after a relaxed check of the share count that orders nothing.
        QStringList lines = log;
        lines.detach();
        return lines;
    }
    // Waits until the log holds a line with part (count of them), then gives every line logged.
    // A line is written once its answer has gone out, so it may come after the answer is read.
    QStringList waitForLog(const QString& part, qsizetype count = 1) {
        std::unique_lock lock(logMutex);
        logChanged.wait_for(lock, std::chrono::milliseconds(test::kWaitMs),
                            [&] { return log.filter(part).size() >= count; });
        return log;
    }
    QStringList waitForLogLines(qsizetype count) {
        std::unique_lock lock(logMutex);
        logChanged.wait_for(lock, std::chrono::milliseconds(test::kWaitMs),
                            [&] { return log.size() >= count; });
        return log;
    }
    // Sends a request for pageUrl on a connection made before it returns. The service takes
    // connections in the order they were made, so this one is taken before any made later.
    std::future<Answer> getOnConnectionMadeNow(const QString& pageUrl) const {
#ifdef _WIN32
        // The service under test has started Winsock in this process.
        const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const DWORD readLimit = 30000;
        const auto closeSocket = [](SOCKET s) { ::closesocket(s); };
        constexpr int kNoSignal = 0;
#else
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const timeval readLimit{30, 0};
        const auto closeSocket = [](int s) { ::close(s); };
        constexpr int kNoSignal = MSG_NOSIGNAL;
#endif
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(service.port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&readLimit),
                     sizeof readLimit);
        const bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        EXPECT_TRUE(connected);
        const std::string request = "GET " + std::string(PageAnalysisService::kScriptPath) +
                                    "get_images.php?url=" + pageUrl.toStdString() +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(::send(fd, request.data(), int(request.size()), kNoSignal), int(request.size()));
        return std::async(std::launch::async, [fd, closeSocket] {
            std::string raw;
            char chunk[4096];
            for (int n; (n = int(::recv(fd, chunk, sizeof chunk, 0))) > 0;)
                raw.append(chunk, size_t(n));
            closeSocket(fd);
            Answer answer;
            const size_t headEnd = raw.find("\r\n\r\n");
            if (raw.rfind("HTTP/1.1 ", 0) == 0 && headEnd != std::string::npos) {
                answer.status = std::stoi(raw.substr(9, 3));
                answer.body = raw.substr(headEnd + 4);
            }
            return answer;
        });
    }

    LocalHttpServer site;
    Gate gate;
    PageAnalysisService service;
    std::mutex logMutex;
    std::condition_variable logChanged;
    QStringList log;
};

TEST_F(ServiceCapacity, PastTheBoundRequestsAreTurnedAwayAtOnceWithRetryAfter) {
    startService({.workerThreads = 2, .maxInProgress = 3, .retryAfterSeconds = 7});
    std::vector<std::future<Answer>> admitted;
    for (int n = 1; n <= 2; ++n)
        admitted.push_back(getLater(page(QStringLiteral("/held/%1.html").arg(n))));
    ASSERT_TRUE(gate.waitForArrivals(2)); // two workers busy, the third request waits for one
    admitted.push_back(getOnConnectionMadeNow(page(QStringLiteral("/held/3.html"))));

    for (int n = 4; n <= 6; ++n) {
        const Answer busy = get(page(QStringLiteral("/held/%1.html").arg(n)));
        EXPECT_EQ(busy.status, 503) << n;
        EXPECT_EQ(busy.retryAfter, "7") << n;
        EXPECT_LT(busy.took, 5s) << n; // not held with the admitted ones, which wait for the gate
    }
    {
        std::lock_guard lock(gate.mutex);
        EXPECT_EQ(gate.arrived, 2) << "a turned-away request reached the site";
    }
    gate.release();
    for (int n = 1; n <= 3; ++n) {
        const Answer answer = admitted[size_t(n - 1)].get();
        EXPECT_EQ(answer.status, 200) << n;
        EXPECT_EQ(QString::fromStdString(answer.body), record(n)) << n;
    }
    // once the work is done the service takes requests again
    EXPECT_EQ(get(page(QStringLiteral("/page.html"))).status, 200);
    const QStringList turnedAway = waitForLog(QStringLiteral(" get_images.php 127.0.0.1 503 "), 3)
                                       .filter(QStringLiteral(" get_images.php 127.0.0.1 503 "));
    EXPECT_EQ(turnedAway.size(), 3) << logLines().join(u'\n').toStdString();
}

TEST_F(ServiceCapacity, DesktopClientWaitsForTheBusyServiceAndGetsTheAnswer) {
    // The client asks once more after the wait: the first request has that long to finish.
    startService({.workerThreads = 1, .maxInProgress = 1, .retryAfterSeconds = 3});
    std::future<Answer> first = getLater(page(QStringLiteral("/held/1.html")));
    ASSERT_TRUE(gate.waitForArrivals(1));

    // The first request is held until the second has been turned away.
    std::thread opener([this] {
        waitForLog(QStringLiteral(" 503 "));
        gate.release();
    });
    ServiceClient client(service.baseUrl());
    const auto started = Clock::now();
    const QString answer = client.harvest(QLatin1String(kImagesScript), page(QStringLiteral("/held/2.html")));
    const auto took = Clock::now() - started;
    opener.join();

    EXPECT_EQ(answer, record(2));
    EXPECT_GE(took, 2950ms) << "answered before the asked wait";
    EXPECT_EQ(first.get().status, 200);
    const QStringList forSecond = logLines().filter(QStringLiteral(" get_images.php 127.0.0.1 "));
    EXPECT_EQ(forSecond.filter(QStringLiteral(" 503 ")).size(), 1) << logLines().join(u'\n').toStdString();
}

TEST_F(ServiceCapacity, EveryRequestLogsOneLineOfSixFields) {
    startService({});
    httplib::Client client("127.0.0.1", service.port());
    const std::string scripts = PageAnalysisService::kScriptPath;
    const struct {
        std::function<httplib::Result()> send;
        const char* script;
        const char* host;
        int status;
    } cases[] = {
        {[&] { return client.Get("/health"); }, "health", "-", 200},
        {[&] { return client.Get(scripts + "get_images.php?url=" + page(u"/page.html"_qs).toStdString()); },
         "get_images.php", "127.0.0.1", 200},
        {[&] {
             return client.Post(scripts + "make_list.php", "list=" + page(u"/page.html"_qs).toStdString(),
                                "application/x-www-form-urlencoded");
         },
         "make_list.php", "127.0.0.1", 200},
        {[&] { return client.Get(scripts + "get_sounds.php?url=http://127.0.0.1:1/a%20b.html"); },
         "get_sounds.php", "127.0.0.1", 502},
        {[&] { return client.Get(scripts + "get_videos.php?url=file:///etc/passwd"); }, "get_videos.php", "-",
         400},
        {[&] { return client.Get("/no such/thing"); }, "/no%20such/thing", "-", 404},
    };
    const QRegularExpression shape(
        QStringLiteral(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) (\S+) (\S+) (\d{3}) (\d+) (\d+)$)"));
    qsizetype logged = 0;
    for (const auto& c : cases) {
        const auto result = c.send();
        ASSERT_TRUE(result) << c.script;
        const QStringList lines = waitForLogLines(logged + 1);
        ASSERT_EQ(lines.size(), ++logged) << c.script;
        const QRegularExpressionMatch m = shape.match(lines.last());
        ASSERT_TRUE(m.hasMatch()) << lines.last().toStdString();
        EXPECT_EQ(m.captured(2), QString::fromUtf8(c.script));
        EXPECT_EQ(m.captured(3), QString::fromUtf8(c.host)) << c.script;
        EXPECT_EQ(m.captured(4).toInt(), c.status) << c.script;
        EXPECT_EQ(m.captured(5).toULongLong(), result->body.size()) << c.script;
    }
    EXPECT_EQ(logLines().size(), qsizetype(std::size(cases)));
}

TEST_F(ServiceCapacity, GracefulStopFinishesTheRequestInHandAndRefusesNewOnes) {
    startService({});
    const int port = service.port();
    std::future<Answer> inHand = getLater(page(QStringLiteral("/held/1.html")));
    ASSERT_TRUE(gate.waitForArrivals(1));
    auto stopped = std::async(std::launch::async, [this] { service.stopGracefully(10s); });
    // The port closes while the request in hand is still held.
    EXPECT_TRUE(test::waitUntilPortCloses(port, test::kWaitMs)) << "still listening while stopping";

    httplib::Client late("127.0.0.1", port);
    late.set_connection_timeout(1, 0);
    EXPECT_FALSE(late.Get("/health")) << "a new connection was taken while stopping";
    EXPECT_EQ(stopped.wait_for(0s), std::future_status::timeout) << "stopped before the request in hand";

    gate.release();
    const Answer answer = inHand.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(QString::fromStdString(answer.body), record(1));
    EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(service.isRunning());
}

TEST_F(ServiceCapacity, GracefulStopGivesUpTheFetchesLeftAfterItsBound) {
    startService({});
    std::future<Answer> inHand = getLater(page(QStringLiteral("/held/1.html")));
    ASSERT_TRUE(gate.waitForArrivals(1));
    const auto started = Clock::now();
    service.stopGracefully(300ms);
    EXPECT_LT(Clock::now() - started, 5s);
    const Answer answer = inHand.get();
    EXPECT_EQ(answer.status, 502);
}

} // namespace
