// skarvel-service run as its own process: its options, its log and its stop on SIGTERM.
#include "service/page_analysis_service.h"

#include "tests/service/service_process.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

using namespace skarvel;
using skarvel::test::LocalHttpServer;
using skarvel::test::ServiceProcess;
using namespace std::chrono_literals;

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun runService(const QStringList& arguments, const QProcessEnvironment& environment = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(environment);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(SKARVEL_SERVICE_EXE), arguments);
    ProgramRun run;
    if (!process.waitForFinished(test::kWaitMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

TEST(ServiceProgram, HelpDocumentsEveryOptionAndItsEnvironmentVariable) {
    const ProgramRun run = runService({QStringLiteral("--help")});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* text : {"--host", "SKARVEL_SERVICE_BIND", "--port", "SKARVEL_SERVICE_PORT", "--threads",
                             "SKARVEL_SERVICE_THREADS", "--max-requests", "SKARVEL_SERVICE_MAX_REQUESTS",
                             "--retry-after", "SKARVEL_SERVICE_RETRY_AFTER", "--max-page-bytes",
                             "SKARVEL_SERVICE_MAX_PAGE_BYTES", "--time-budget", "SKARVEL_SERVICE_TIME_BUDGET",
                             "--drain-seconds", "SKARVEL_SERVICE_DRAIN_SECONDS", "/health", "SIGTERM"})
        EXPECT_TRUE(run.out.contains(QLatin1String(text))) << text;
}

TEST(ServiceProgram, BadValuesAreRefusedWithTheOptionNamed) {
    const struct {
        QStringList arguments;
        const char* variable;
        const char* value;
        const char* named;
    } cases[] = {
        {{QStringLiteral("--threads"), QStringLiteral("0")}, nullptr, nullptr, "--threads"},
        {{QStringLiteral("--port"), QStringLiteral("70000")}, nullptr, nullptr, "--port"},
        {{QStringLiteral("--time-budget"), QStringLiteral("soon")}, nullptr, nullptr, "--time-budget"},
        {{}, "SKARVEL_SERVICE_MAX_REQUESTS", "many", "--max-requests"},
    };
    for (const auto& c : cases) {
        QProcessEnvironment env;
        if (c.variable)
            env.insert(QLatin1String(c.variable), QLatin1String(c.value));
        const ProgramRun run = runService(c.arguments, env);
        EXPECT_EQ(run.exitCode, 2) << c.named;
        EXPECT_TRUE(run.err.contains(QLatin1String(c.named))) << run.err.toStdString();
    }
}

class ServiceProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        site.server().Get("/held.html", [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock lock(mutex);
            arrived = true;
            changed.notify_all();
            changed.wait_for(lock, 20s, [this] { return released; });
            res.set_content(R"(<img src="held.jpg">)", "text/html");
        });
        site.start();
    }
    void TearDown() override { release(); }

    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool waitForArrival() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [this] { return arrived; });
    }
    static std::future<httplib::Result> getLater(int port, std::string target) {
        return std::async(std::launch::async, [port, target] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(30, 0);
            return client.Get(target);
        });
    }
    std::string heldTarget() const {
        return std::string(PageAnalysisService::kScriptPath) +
               "get_images.php?url=" + site.baseUrl().toStdString() + "/held.html";
    }

    LocalHttpServer site;
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false;
    bool released = false;
};

// A stop by signal is the POSIX road; on Windows the console's Ctrl+C ends the process.
#ifndef _WIN32
TEST_F(ServiceProgramRun, SigtermFinishesTheRequestInHandRefusesNewOnesAndExitsZero) {
    ServiceProcess service;
    auto inHand = getLater(service.port(), heldTarget());
    ASSERT_TRUE(waitForArrival());
    service.signal(SIGTERM);
    // The port closes while the request in hand is still held.
    EXPECT_TRUE(test::waitUntilPortCloses(service.port(), test::kWaitMs)) << "still listening after SIGTERM";

    httplib::Client late("127.0.0.1", service.port());
    late.set_connection_timeout(1, 0);
    EXPECT_FALSE(late.Get("/health")) << "took a new connection after SIGTERM";

    release();
    const httplib::Result answer = inHand.get();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body, site.baseUrl().toStdString() + "/held.jpg\theld.jpg\t\t\t" +
                                site.baseUrl().toStdString() + "/held.html\r\n");
    EXPECT_EQ(service.waitForExit(test::kWaitMs), 0);

    // standard error holds the request's line and nothing else
    const QStringList lines = service.stderrLines();
    ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\S+Z get_images\.php 127\.0\.0\.1 200 \d+ \d+$)"))
                    .match(lines[0])
                    .hasMatch())
        << lines[0].toStdString();
}
#endif

TEST_F(ServiceProgramRun, DrainTimeAndTimeBudgetBoundSlowPages) {
    const struct {
        const char* name;
        QStringList arguments;
        QProcessEnvironment environment;
        bool terminate;
    } cases[] = {
        {"drain time from the environment",
         {},
         [] {
             QProcessEnvironment e;
             e.insert(QStringLiteral("SKARVEL_SERVICE_DRAIN_SECONDS"), QStringLiteral("1"));
             return e;
         }(),
         true},
        {"time budget", {QStringLiteral("--time-budget"), QStringLiteral("1")}, {}, false},
    };
    for (const auto& c : cases) {
#ifdef _WIN32
        if (c.terminate)
            continue; // no SIGTERM to send
#endif
        {
            std::lock_guard lock(mutex);
            arrived = false;
        }
        ServiceProcess service(c.arguments, c.environment);
        const auto started = std::chrono::steady_clock::now();
        auto inHand = getLater(service.port(), heldTarget());
        ASSERT_TRUE(waitForArrival()) << c.name;
#ifndef _WIN32
        if (c.terminate)
            service.signal(SIGTERM);
#endif
        const httplib::Result answer = inHand.get();
        ASSERT_TRUE(answer) << c.name;
        EXPECT_EQ(answer->status, 502) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << c.name; // the page is held for 20 s
        if (c.terminate) {
            EXPECT_EQ(service.waitForExit(test::kWaitMs), 0) << c.name;
        }
    }
}

} // namespace
