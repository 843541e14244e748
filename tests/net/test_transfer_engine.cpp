#include "net/transfer_engine.h"

#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace skarvel;
using namespace std::chrono_literals;
using skarvel::test::LocalHttpServer;
using skarvel::test::SilentTcpServer;

namespace {

using Clock = std::chrono::steady_clock;

// Requests in progress at the server, and the most there ever were at once.
struct Gauge {
    std::atomic<int> now{0};
    std::atomic<int> peak{0};
    void enter() {
        const int n = ++now;
        int seen = peak.load();
        while (n > seen && !peak.compare_exchange_weak(seen, n)) {
        }
    }
    void leave() { --now; }
};

// Pumps until every request has ended, or fails the test after a minute.
void drain(TransferEngine& engine) {
    const auto give_up = Clock::now() + 60s;
    while (!engine.idle() && Clock::now() < give_up)
        engine.pump(200ms);
    ASSERT_TRUE(engine.idle()) << "transfers still pending after a minute";
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

TEST(TransferEngine, CompletionsArriveOutOfOrderEachWithItsOwnAnswer) {
    LocalHttpServer server;
    // Item n is answered once the completion of item n + 1 has run: the last asked ends first, each
    // completion on its own, however late a busy machine lets the engine see the answers.
    std::array<std::atomic<bool>, 8> ended{};
    server.server().Get(R"(/item/(\d+))", [&ended](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1]);
        for (const auto until = Clock::now() + 30s; n < 7 && !ended[size_t(n + 1)] && Clock::now() < until;)
            std::this_thread::sleep_for(1ms);
        res.set_header("Content-Disposition", "attachment; filename=item" + std::to_string(n) + ".bin");
        res.set_content("body of " + std::to_string(n), n % 2 ? "image/png" : "text/plain; charset=koi8-r");
    });
    server.start();

    TransferEngine engine({.maxTransfers = 8, .maxTransfersPerHost = 8});
    std::map<quint64, int> itemOfId;
    std::vector<int> endedOrder;
    std::map<int, TransferResult> results;
    for (int n = 0; n < 8; ++n) {
        TransferRequest request;
        request.url = server.baseUrl() + QStringLiteral("/item/%1").arg(n);
        request.done = [&, n](TransferResult& r) {
            endedOrder.push_back(n);
            results[n] = r;
            ended[size_t(n)] = true;
        };
        itemOfId[engine.submit(std::move(request))] = n;
    }
    drain(engine);

    ASSERT_EQ(results.size(), 8u);
    EXPECT_EQ(endedOrder, (std::vector<int>{7, 6, 5, 4, 3, 2, 1, 0}));
    for (const auto& [n, r] : results) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(itemOfId.at(r.id), n);
        EXPECT_EQ(r.body.toStdString(), "body of " + std::to_string(n));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.contentType.toStdString(), n % 2 ? "image/png" : "text/plain");
        EXPECT_EQ(r.charset.toStdString(), n % 2 ? "" : "koi8-r");
        EXPECT_EQ(r.contentLength, r.body.size());
        EXPECT_EQ(r.bytesReceived, r.body.size());
        EXPECT_EQ(r.contentDisposition.toStdString(),
                  "attachment; filename=item" + std::to_string(n) + ".bin");
        EXPECT_EQ(r.finalUrl, server.baseUrl() + QStringLiteral("/item/%1").arg(n));
    }
}

TEST(TransferEngine, NoHostGetsMoreThanItsLimitAndTheTotalHolds) {
    struct Case {
        const char* what;
        TransferLimits limits;
        int hosts;
        int expectedPeakPerHost; // 0: anything up to the per-host limit
        int expectedPeakTotal;
    };
    const Case cases[] = {
        {"one host, per-host limit below the total", {8, 3}, 1, 3, 3},
        {"two hosts, each at its own limit", {8, 3}, 2, 3, 6},
        {"two hosts, total limit below their sum", {4, 3}, 2, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<LocalHttpServer>> servers;
        std::vector<std::unique_ptr<Gauge>> gauges;
        Gauge total;
        const auto heldUntil = Clock::now() + 30s;
        for (int h = 0; h < c.hosts; ++h) {
            servers.push_back(std::make_unique<LocalHttpServer>());
            gauges.push_back(std::make_unique<Gauge>());
            Gauge* gauge = gauges.back().get();
            servers.back()->server().set_keep_alive_timeout(1);
            servers.back()->server().Get(
                "/slow", [gauge, &total, &c, heldUntil](const httplib::Request&, httplib::Response& res) {
                    gauge->enter();
                    total.enter();
                    // Held until the first wave is all in, however slowly a busy machine sends it, then a
                    // while longer, for one past the limit to show.
                    while (total.peak < c.expectedPeakTotal && Clock::now() < heldUntil)
                        std::this_thread::sleep_for(1ms);
                    std::this_thread::sleep_for(200ms);
                    total.leave();
                    gauge->leave();
                    res.set_content("x", "text/plain");
                });
            servers.back()->start();
        }

        TransferEngine engine(c.limits);
        int ended = 0;
        for (int i = 0; i < 12; ++i) {
            for (const auto& server : servers) {
                TransferRequest request;
                request.url = server->baseUrl() + QStringLiteral("/slow");
                request.done = [&ended](TransferResult& r) {
                    EXPECT_TRUE(r.ok()) << r.error.toStdString();
                    ++ended;
                };
                engine.submit(std::move(request));
            }
        }
        drain(engine);

        EXPECT_EQ(ended, 12 * c.hosts);
        for (const auto& gauge : gauges) {
            EXPECT_LE(gauge->peak.load(), c.limits.maxTransfersPerHost);
            if (c.expectedPeakPerHost > 0) {
                EXPECT_EQ(gauge->peak.load(), c.expectedPeakPerHost);
            }
        }
        EXPECT_EQ(total.peak.load(), c.expectedPeakTotal);
    }
}

TEST(TransferEngine, ConnectionsAreKeptAndReused) {
    LocalHttpServer server;
    server.server().set_keep_alive_max_count(1000);
    std::mutex mutex;
    std::set<int> ports;
    server.server().Get("/x", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        ports.insert(req.remote_port);
        res.set_content("x", "text/plain");
    });
    server.start();

    TransferEngine engine({.maxTransfers = 2, .maxTransfersPerHost = 2});
    for (int i = 0; i < 30; ++i) {
        TransferRequest request;
        request.url = server.baseUrl() + QStringLiteral("/x");
        engine.submit(std::move(request));
    }
    drain(engine);
    EXPECT_EQ(server.totalRequests(), 30);
    EXPECT_LE(ports.size(), 2u);
}

TEST(TransferEngine, CookiesLastAlongOneRedirectChainOnly) {
    LocalHttpServer server;
    std::mutex mutex;
    std::vector<std::string> cookies;
    server.server().Get("/set", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "session=1; Path=/");
        res.set_redirect("/echo");
    });
    server.server().Get("/echo", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        cookies.push_back(req.get_header_value("Cookie"));
        res.set_content("x", "text/plain");
    });
    server.start();

    // One transfer at a time: the second one runs on the handle the first one used.
    TransferEngine engine({.maxTransfers = 1, .maxTransfersPerHost = 1},
                          {.followRedirects = true, .cookiesAndReferer = true});
    for (const char* path : {"/set", "/echo"}) {
        TransferRequest request;
        request.url = server.baseUrl() + QString::fromLatin1(path);
        engine.submit(std::move(request));
        drain(engine);
    }
    EXPECT_EQ(cookies, (std::vector<std::string>{"session=1", ""}));
}

// When each request of a path reached the server.
class Arrivals {
public:
    void note(const std::string& path) {
        std::lock_guard lock(m_mutex);
        m_times[path].push_back(Clock::now());
    }
    std::vector<Clock::time_point> of(const std::string& path) const {
        std::lock_guard lock(m_mutex);
        const auto found = m_times.find(path);
        return found == m_times.end() ? std::vector<Clock::time_point>{} : found->second;
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<Clock::time_point>> m_times;
};

std::string httpDateIn(std::chrono::seconds ahead) {
    const std::time_t when = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + ahead);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &when);
#else
    gmtime_r(&when, &parts);
#endif
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

TEST(TransferEngine, RetryAfterIsWaitedOutAndTheItemAskedOnceMore) {
    LocalHttpServer server;
    Arrivals arrivals;
    // Each path answers its status with its Retry-After to the first `refusals` requests, then a body.
    const struct Path {
        const char* path;
        int status;
        int refusals;
        std::string retryAfter; // "date+2": an HTTP date two seconds ahead
    } paths[] = {
        {"/busy-once", 503, 1, "1"},
        {"/too-many-once", 429, 1, "1"},
        {"/busy-until-a-date", 503, 1, "date+2"},
        {"/always-too-many", 429, 1000, "1"},
        {"/come-back-tomorrow", 503, 1, "86400"},
        {"/not-retried", 503, 1, "5"},
        {"/no-advice", 503, 1, ""},
        {"/unreadable-advice", 503, 1, "soon"},
        {"/server-error", 500, 1, "5"},
    };
    for (const Path& p : paths) {
        server.server().Get(p.path, [&arrivals, p](const httplib::Request& req, httplib::Response& res) {
            arrivals.note(req.path);
            if (int(arrivals.of(req.path).size()) <= p.refusals) {
                res.status = p.status;
                if (!p.retryAfter.empty())
                    res.set_header("Retry-After", p.retryAfter == "date+2" ? httpDateIn(2s) : p.retryAfter);
                res.set_content("not now", "text/plain");
                return;
            }
            res.set_content("served", "text/plain");
        });
    }
    server.start();

    const struct Case {
        const char* path;
        std::chrono::seconds bound; // TransferOptions::maxRetryAfter
        int status;                 // of the result; 200: it ends well
        int requests;
        std::chrono::milliseconds gapAtLeast; // between the first request and the retry
        std::chrono::milliseconds gapAtMost;
    } cases[] = {
        {"/busy-once", 60s, 200, 2, 950ms, 3000ms},
        {"/too-many-once", 60s, 200, 2, 950ms, 3000ms},
        {"/busy-until-a-date", 60s, 200, 2, 950ms, 4000ms},
        {"/always-too-many", 60s, 429, 2, 950ms, 3000ms},
        // a longer wait is cut to the bound
        {"/come-back-tomorrow", 1s, 200, 2, 950ms, 3000ms},
        {"/not-retried", 0s, 503, 1, 0ms, 0ms}, // retrying switched off
        {"/no-advice", 60s, 503, 1, 0ms, 0ms},
        {"/unreadable-advice", 60s, 503, 1, 0ms, 0ms},
        {"/server-error", 60s, 500, 1, 0ms, 0ms},
    };
    std::map<std::string, size_t> seen;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " bound " + std::to_string(c.bound.count()));
        const size_t before = seen[c.path];
        TransferEngine engine({}, TransferOptions{.maxRetryAfter = c.bound});
        TransferResult result;
        TransferRequest request;
        request.url = server.baseUrl() + QString::fromLatin1(c.path);
        request.done = [&result](TransferResult& r) { result = r; };
        const auto started = Clock::now();
        engine.submit(std::move(request));
        drain(engine);
        const auto took = Clock::now() - started;

        const auto times = arrivals.of(c.path);
        seen[c.path] = times.size();
        ASSERT_EQ(times.size() - before, size_t(c.requests));
        EXPECT_EQ(result.ok(), c.status == 200) << result.error.toStdString();
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.attempts, c.requests);
        EXPECT_EQ(result.failure, c.status == 200 ? TransferFailure::None : TransferFailure::HttpStatus);
        if (c.requests == 2) {
            const auto gap = times[before + 1] - times[before];
            EXPECT_GE(gap, c.gapAtLeast) << "the retry came before the asked wait";
            EXPECT_LE(gap, c.gapAtMost);
        } else {
            // well inside the shortest wait any of them names
            EXPECT_LT(took, 4s) << "a refusal without a wait to honour fails at once";
        }
    }
}

// While one host asks for a wait, requests to other hosts go on at once; the waiting host's other
// requests wait with it.
TEST(TransferEngine, RetryAfterHoldsItsHostOnlyAndLeavesTheSlotsToOthers) {
    Arrivals arrivals;
    LocalHttpServer busy;
    busy.server().Get(R"(/.*)", [&arrivals](const httplib::Request& req, httplib::Response& res) {
        arrivals.note(req.path);
        if (req.path == "/busy" && arrivals.of("/busy").size() == 1) {
            res.status = 503;
            res.set_header("Retry-After", "4"); // long enough for the other host's twelve on a busy machine
            return;
        }
        res.set_content("busy host", "text/plain");
    });
    busy.start();
    LocalHttpServer other;
    other.server().Get(R"(/\d+)", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(20ms);
        res.set_content("other host", "text/plain");
    });
    other.start();

    QStringList urls{busy.baseUrl() + "/busy", busy.baseUrl() + "/same-host"};
    for (int i = 0; i < 12; ++i)
        urls << other.baseUrl() + QStringLiteral("/%1").arg(i);
    // One slot: the first answer parks /busy and its host; the rest must not queue behind them.
    TransferEngine engine({.maxTransfers = 1, .maxTransfersPerHost = 1});
    std::map<QString, Clock::time_point> endedAt;
    std::map<QString, TransferResult> results;
    const auto started = Clock::now();
    qsizetype next = 0;
    while ((next < urls.size() || !engine.idle()) && Clock::now() - started < 30s) {
        while (next < urls.size() && engine.wantsMore()) {
            TransferRequest request;
            request.url = urls[next++];
            request.done = [&](TransferResult& r) {
                endedAt[r.url] = Clock::now();
                results[r.url] = r;
            };
            engine.submit(std::move(request));
        }
        engine.pump(100ms);
    }
    ASSERT_EQ(results.size(), size_t(urls.size()));
    for (const auto& [url, r] : results)
        EXPECT_TRUE(r.ok()) << url.toStdString() << ": " << r.error.toStdString();
    const auto busyTimes = arrivals.of("/busy");
    const auto sameHost = arrivals.of("/same-host");
    ASSERT_EQ(busyTimes.size(), 2u);
    ASSERT_EQ(sameHost.size(), 1u);
#ifdef _WIN32
    // Under Wine each request costs a few hundred milliseconds: only the first of the twelve is
    // sure to end before the retry.
    EXPECT_LT(endedAt[urls[2]], busyTimes[1]) << "the other host waited for the busy one";
#else
    for (qsizetype i = 2; i < urls.size(); ++i)
        EXPECT_LT(endedAt[urls[i]], busyTimes[1]) << urls[i].toStdString() << " waited for another host";
#endif
    EXPECT_GE(busyTimes[1] - busyTimes[0], 3950ms);
    EXPECT_GE(sameHost[0] - busyTimes[0], 3950ms) << "the host that asked for a wait got another request";
}

// A wait cut short from another thread: endRetryWaits() ends it with the answer that asked for it,
// abort() with Aborted; either way at once.
TEST(TransferEngine, AWaitForRetryAfterEndsAtOnceWhenCut) {
    LocalHttpServer server;
    server.server().Get("/busy", [](const httplib::Request&, httplib::Response& res) {
        res.status = 503;
        res.set_header("Retry-After", "30");
    });
    server.start();
    const struct {
        const char* name;
        void (TransferEngine::*cut)();
        TransferFailure failure;
        int status;
    } cases[] = {
        {"retry waits ended", &TransferEngine::endRetryWaits, TransferFailure::HttpStatus, 503},
        {"engine aborted", &TransferEngine::abort, TransferFailure::Aborted, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TransferEngine engine;
        TransferResult result;
        TransferRequest request;
        request.url = server.baseUrl() + QStringLiteral("/busy");
        request.done = [&result](TransferResult& r) { result = r; };
        engine.submit(std::move(request));
        const int before = server.requestCount("/busy");
        Clock::time_point cutAt;
        std::thread cutter([&] {
            const auto until = Clock::now() + 10s;
            while (server.requestCount("/busy") == before && Clock::now() < until)
                std::this_thread::sleep_for(5ms);
            // Most likely the answer is in and its wait has begun by then; a cut that comes sooner
            // holds until resetAbort() and ends the wait as it begins, so the outcome is the same.
            std::this_thread::sleep_for(200ms);
            cutAt = Clock::now();
            (engine.*c.cut)();
        });
        drain(engine);
        const auto endedAt = Clock::now();
        cutter.join();
        EXPECT_LT(endedAt - cutAt, 5s) << "the wait asked for is 30 s";
        EXPECT_EQ(result.failure, c.failure) << result.error.toStdString();
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(server.requestCount("/busy") - before, 1);
    }
}

TEST(TransferEngine, RetryAfterIsReadAsSecondsOrAsAnHttpDate) {
    // Sun, 06 Nov 1994 08:49:37 GMT
    const auto now = std::chrono::system_clock::from_time_t(784111777);
    const struct {
        const char* value;
        std::optional<std::chrono::seconds> wait;
    } cases[] = {
        {"0", 0s},
        {" 5 ", 5s},
        {"120", 120s},
        {"Sun, 06 Nov 1994 08:49:47 GMT", 10s},
        {"Sunday, 06-Nov-94 08:50:37 GMT", 60s},
        {"Sun Nov  6 08:49:39 1994", 2s},
        {"Sun, 06 Nov 1994 08:00:00 GMT", 0s}, // already past
        {"-3", std::nullopt},
        {"soon", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseRetryAfter(c.value, now), c.wait) << c.value;
}

TEST(TransferEngine, LargeBodyIsStreamedToDiskWithoutGrowingMemory) {
    static constexpr size_t kBodySize = 200 * 1024 * 1024;
    static constexpr size_t kPiece = 256 * 1024;
    LocalHttpServer server;
    server.server().Get("/huge.bin", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(kBodySize, "application/octet-stream",
                                 [](size_t, size_t length, httplib::DataSink& sink) {
                                     static const std::string piece(kPiece, 'z');
                                     return sink.write(piece.data(), std::min(length, kPiece));
                                 });
    });
    server.start();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString target = folder.filePath(QStringLiteral("huge.bin"));

    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    const qint64 before = test::processStatusKiB("VmRSS:");
    TransferEngine engine({.maxTransfers = 1, .maxTransfersPerHost = 1},
                          TransferOptions{.followRedirects = true, .tls = true});
    TransferResult result;
    TransferRequest request;
    request.url = server.baseUrl() + QStringLiteral("/huge.bin");
    request.bodyFolder = folder.path();
    request.done = [&](TransferResult& r) {
        result = r;
        EXPECT_TRUE(keepBodyFile(r, target));
    };
    engine.submit(std::move(request));
    drain(engine);
    const qint64 peak = test::processStatusKiB("VmHWM:");

    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.bytesReceived, qint64(kBodySize));
    EXPECT_EQ(result.contentLength, qint64(kBodySize));
    EXPECT_TRUE(result.body.isEmpty());
    EXPECT_EQ(QFileInfo(target).size(), qint64(kBodySize));
    EXPECT_EQ(filesIn(folder.path()), QStringList{QStringLiteral("huge.bin")});
    ASSERT_GT(before, 0);
    EXPECT_LT(peak - before, 48 * 1024) << "peak grew from " << before << " KiB to " << peak << " KiB";
}

TEST(TransferEngine, BodyFileNeverStandsUnderItsFinalNameUntilKept) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString target = folder.filePath(QStringLiteral("7.png"));
    std::atomic<bool> finalNameSeenMidway{false};
    std::atomic<int> filesMidway{-1};
    std::atomic<bool> released{false};
    // Declared after what its handlers read: a stalled handler may still run while the server stops.
    LocalHttpServer server;
    server.server().set_keep_alive_timeout(1);
    // Sends half, looks at the folder while the body is on its way, then sends the rest.
    server.server().Get("/whole.png", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(20000, "image/png", [&](size_t offset, size_t, httplib::DataSink& sink) {
            const std::string half(10000, 'p');
            if (offset == 10000) {
                // Looks once the first half has reached the folder.
                for (const auto until = Clock::now() + 10s;
                     filesIn(folder.path()).isEmpty() && Clock::now() < until;)
                    std::this_thread::sleep_for(5ms);
                finalNameSeenMidway = QFile::exists(target);
                filesMidway = static_cast<int>(filesIn(folder.path()).size());
            }
            return sink.write(half.data(), half.size());
        });
    });
    server.server().Get("/cut.png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "image/png", [](size_t, size_t, httplib::DataSink& sink) {
            sink.write("0123456789", 10);
            return false; // the connection drops 990 bytes early
        });
    });
    server.server().Get("/stall.png", [&released](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "image/png",
                                 [&released](size_t offset, size_t, httplib::DataSink& sink) {
                                     for (int i = 0; offset > 0 && !released && i < 2000; ++i)
                                         std::this_thread::sleep_for(10ms);
                                     return offset == 0 && sink.write("0123456789", 10);
                                 });
    });
    server.server().Get("/gone.png", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content(std::string(5000, 'e'), "text/html");
    });
    server.start();

    struct Case {
        const char* path;
        bool keep;
        TransferFailure failure;
        qint64 bytes;
        qint64 finalSize; // -1: no file under the final name afterwards
    };
    const Case cases[] = {
        {"/whole.png", true, TransferFailure::None, 20000, 20000},
        {"/cut.png", true, TransferFailure::None, 10, 10},       // kept: the caller calls it broken
        {"/whole.png", false, TransferFailure::None, 20000, -1}, // not kept: removed after the completion
        {"/stall.png", true, TransferFailure::TimedOut, 10, -1},
        {"/gone.png", true, TransferFailure::HttpStatus, 0, -1},
    };
    TransferOptions options{.followRedirects = true, .tls = true, .stallTimeout = 1s};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.keep ? " kept" : " not kept"));
        QFile::remove(target);
        released = false;
        TransferEngine engine({}, options);
        TransferResult seen;
        bool bodyFileExistedInCompletion = false;
        TransferRequest request;
        request.url = server.baseUrl() + QString::fromLatin1(c.path);
        request.bodyFolder = folder.path();
        request.done = [&](TransferResult& r) {
            bodyFileExistedInCompletion = !r.bodyFile.isEmpty() && QFile::exists(r.bodyFile);
            seen = r;
            if (c.keep && r.ok()) {
                EXPECT_TRUE(keepBodyFile(r, target));
            }
        };
        engine.submit(std::move(request));
        drain(engine);
        released = true;

        EXPECT_EQ(seen.failure, c.failure) << seen.error.toStdString();
        EXPECT_EQ(seen.bytesReceived, c.bytes);
        EXPECT_EQ(bodyFileExistedInCompletion, c.failure == TransferFailure::None);
        EXPECT_EQ(QFile::exists(target) ? QFileInfo(target).size() : -1, c.finalSize);
        EXPECT_EQ(filesIn(folder.path()).size(), c.finalSize >= 0 ? 1 : 0)
            << filesIn(folder.path()).join(u' ').toStdString();
    }
    EXPECT_FALSE(finalNameSeenMidway.load());
    EXPECT_EQ(filesMidway.load(), 1) << "the body was not on its way in a file of its own";
}

TEST(TransferEngine, BodyFileThatCannotBeCreatedFailsAsAWriteError) {
    LocalHttpServer server;
    server.server().Get("/a.png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("png", "image/png");
    });
    server.start();
    TransferEngine engine;
    TransferResult seen;
    TransferRequest request;
    request.url = server.baseUrl() + QStringLiteral("/a.png");
    request.bodyFolder = QStringLiteral("/nonexistent-folder-of-skarvel");
    request.done = [&](TransferResult& r) { seen = r; };
    engine.submit(std::move(request));
    drain(engine);
    EXPECT_EQ(seen.failure, TransferFailure::WriteError);
    EXPECT_TRUE(seen.error.contains(QStringLiteral("nonexistent-folder-of-skarvel")))
        << seen.error.toStdString();
    EXPECT_EQ(server.totalRequests(), 0);
}

TEST(TransferEngine, SinkTakesThePiecesAndMayStopEarly) {
    LocalHttpServer server;
    server.server().Get("/stream", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(4 * 1024 * 1024, "video/mp4", [](size_t, size_t, httplib::DataSink& sink) {
            static const std::string piece(64 * 1024, 'v');
            return sink.write(piece.data(), piece.size());
        });
    });
    server.start();

    for (const qint64 stopAfter : {qint64(100), qint64(-1)}) {
        SCOPED_TRACE(stopAfter);
        TransferEngine engine;
        qint64 taken = 0;
        QByteArray typeSeen;
        TransferResult seen;
        TransferRequest request;
        request.url = server.baseUrl() + QStringLiteral("/stream");
        request.sink = [&](QByteArrayView piece, QByteArrayView contentType) {
            taken += piece.size();
            typeSeen = contentType.toByteArray();
            return stopAfter < 0 || taken < stopAfter;
        };
        request.done = [&](TransferResult& r) { seen = r; };
        engine.submit(std::move(request));
        drain(engine);

        EXPECT_TRUE(seen.ok()) << seen.error.toStdString();
        EXPECT_EQ(seen.stoppedBySink, stopAfter > 0);
        EXPECT_EQ(seen.bytesReceived, taken);
        EXPECT_TRUE(seen.body.isEmpty());
        EXPECT_EQ(typeSeen, "video/mp4");
        if (stopAfter > 0)
            EXPECT_LT(taken, 1024 * 1024);
        else
            EXPECT_EQ(taken, 4 * 1024 * 1024);
    }
}

TEST(TransferEngine, ExceptionFromTheSinkEndsTheTransferAndNeverReachesLibcurl) {
    LocalHttpServer server;
    server.server().Get(
        "/x", [](const httplib::Request&, httplib::Response& res) { res.set_content("abc", "text/plain"); });
    server.start();
    TransferEngine engine;
    TransferResult seen;
    TransferRequest request;
    request.url = server.baseUrl() + QStringLiteral("/x");
    request.sink = [](QByteArrayView, QByteArrayView) -> bool { throw std::runtime_error("disk on fire"); };
    request.done = [&](TransferResult& r) { seen = r; };
    engine.submit(std::move(request));
    drain(engine);
    EXPECT_EQ(seen.failure, TransferFailure::WriteError);
    EXPECT_EQ(seen.error.toStdString(), "disk on fire");
}

TEST(TransferEngine, BodyCapCutsTheAnswer) {
    LocalHttpServer server;
    server.server().Get("/long", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(100000, 'l'), "text/html");
    });
    server.start();
    TransferEngine engine({}, TransferOptions{.maxBodyBytes = 4096});
    TransferResult seen;
    TransferRequest request;
    request.url = server.baseUrl() + QStringLiteral("/long");
    request.done = [&](TransferResult& r) { seen = r; };
    engine.submit(std::move(request));
    drain(engine);
    EXPECT_TRUE(seen.ok()) << seen.error.toStdString();
    EXPECT_TRUE(seen.truncated);
    EXPECT_EQ(seen.body.size(), 4096);
    EXPECT_EQ(seen.contentLength, 100000);
}

TEST(TransferEngine, AbortFromAnotherThreadEndsEverythingPromptly) {
    SilentTcpServer silent;
    LocalHttpServer server;
    server.server().Get(
        "/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    server.start();
    TransferEngine engine({.maxTransfers = 3, .maxTransfersPerHost = 3});
    std::vector<TransferResult> ended;
    for (int i = 0; i < 6; ++i) { // three hang at the server, three wait for a slot
        TransferRequest request;
        request.url = silent.baseUrl() + QStringLiteral("/never/%1").arg(i);
        request.done = [&ended](TransferResult& r) { ended.push_back(r); };
        engine.submit(std::move(request));
    }
    Clock::time_point abortedAt;
    std::thread closer([&] {
        silent.waitForConnection(10000);
        std::this_thread::sleep_for(100ms);
        abortedAt = Clock::now();
        engine.abort();
    });
    drain(engine);
    const auto endedAt = Clock::now();
    closer.join();

    ASSERT_EQ(ended.size(), 6u);
    for (const TransferResult& r : ended)
        EXPECT_EQ(r.failure, TransferFailure::Aborted) << r.error.toStdString();
    EXPECT_LT(endedAt - abortedAt, 5s) << "the silent server would hold them for a minute";

    // Aborted stays aborted until reset: nothing new leaves meanwhile.
    TransferResult later;
    TransferRequest request;
    request.url = server.baseUrl() + QStringLiteral("/ok");
    request.done = [&later](TransferResult& r) { later = r; };
    engine.submit(request);
    drain(engine);
    EXPECT_EQ(later.failure, TransferFailure::Aborted);
    EXPECT_EQ(server.totalRequests(), 0);

    engine.resetAbort();
    engine.submit(request);
    drain(engine);
    EXPECT_TRUE(later.ok()) << later.error.toStdString();
    EXPECT_EQ(later.body, "ok");
}

TEST(TransferEngine, WantsMoreOnlyWhileFewRequestsWaitForASlot) {
    TransferEngine engine({.maxTransfers = 2, .maxTransfersPerHost = 2});
    EXPECT_TRUE(engine.wantsMore());
    for (int i = 0; i < 2; ++i)
        engine.submit({.url = QStringLiteral("http://127.0.0.1:1/")});
    EXPECT_FALSE(engine.wantsMore());
    EXPECT_EQ(engine.pending(), 2);
    drain(engine); // port 1 refuses: both end as connection failures
    EXPECT_TRUE(engine.wantsMore());
}

} // namespace
