// skarvel-service: the page-analysis service as a program of its own.
// Run `skarvel-service --help` for its options.
#include "service/page_analysis_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#ifdef _WIN32
#include <chrono>
#include <thread>
#endif
#include <cstdio>
#include <algorithm>
#include <optional>
#include <tuple>
#include <pthread.h>

namespace {

struct NumberOption {
    QCommandLineOption option;
    const char* environment;
    qint64 min;
    qint64 max;
};

NumberOption numberOption(const char* name, const char* valueName, const char* environment, qint64 fallback,
                          qint64 min, qint64 max, const QString& help) {
    const QString fromEnvironment = qEnvironmentVariable(environment).trimmed();
    QCommandLineOption option(
        QString::fromLatin1(name),
        QStringLiteral("%1 [%2, default %3]").arg(help, QLatin1String(environment)).arg(fallback),
        QString::fromLatin1(valueName),
        fromEnvironment.isEmpty() ? QString::number(fallback) : fromEnvironment);
    return {option, environment, min, max};
}

std::optional<qint64> readNumber(const QCommandLineParser& parser, const NumberOption& o) {
    bool ok = false;
    const QString text = parser.value(o.option);
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < o.min || value > o.max) {
        std::fprintf(stderr, "skarvel-service: --%s must be a whole number from %lld to %lld, not \"%s\"\n",
                     qPrintable(o.option.names().constFirst()), static_cast<long long>(o.min),
                     static_cast<long long>(o.max), qPrintable(text));
        return std::nullopt;
    }
    return value;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("skarvel-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Skarvel page-analysis web service.\n"
        "Answers GET get_images.php, get_sounds.php, get_videos.php (?url=PAGE) and POST make_list.php\n"
        "(list=PAGE) under /products/skarvel/scripts/, and GET /health (200 while it takes work).\n"
        "Logs one line per request to standard error and nothing else:\n"
        "  UTC-time script page-host status body-bytes milliseconds\n"
        "Past --max-requests it answers 503 with Retry-After at once. SIGTERM or SIGINT: stops\n"
        "taking connections, lets the requests in hand finish (at most --drain-seconds), exits 0.\n"
        "Each option can also be given by the environment variable named in brackets."));
    parser.addHelpOption();
    const QString hostFromEnvironment = qEnvironmentVariable("SKARVEL_SERVICE_BIND").trimmed();
    const QCommandLineOption hostOption(
        QStringLiteral("host"),
        QStringLiteral("Address to listen on [SKARVEL_SERVICE_BIND, default 127.0.0.1]"),
        QStringLiteral("address"),
        hostFromEnvironment.isEmpty() ? QStringLiteral("127.0.0.1") : hostFromEnvironment);
    const skarvel::ServingLimits defaults;
    const NumberOption port =
        numberOption("port", "port", "SKARVEL_SERVICE_PORT", 8080, 0, 65535,
                     QStringLiteral("Port to listen on; 0 picks a free one and prints it"));
    const NumberOption threads =
        numberOption("threads", "count", "SKARVEL_SERVICE_THREADS", defaults.workerThreads, 1, 1024,
                     QStringLiteral("Worker threads serving requests"));
    const NumberOption maxRequests =
        numberOption("max-requests", "count", "SKARVEL_SERVICE_MAX_REQUESTS", defaults.maxInProgress, 1,
                     65536, QStringLiteral("Most requests in progress, served or waiting for a worker"));
    const NumberOption retryAfter =
        numberOption("retry-after", "seconds", "SKARVEL_SERVICE_RETRY_AFTER", defaults.retryAfterSeconds, 0,
                     3600, QStringLiteral("Retry-After of the 503 answer past --max-requests"));
    const NumberOption maxPageBytes = numberOption(
        "max-page-bytes", "bytes", "SKARVEL_SERVICE_MAX_PAGE_BYTES", skarvel::FetchOptions{}.maxBytes, 1024,
        qint64(1) << 32, QStringLiteral("Page size cap"));
    const NumberOption timeBudget = numberOption(
        "time-budget", "seconds", "SKARVEL_SERVICE_TIME_BUDGET", 30, 1, 3600,
        QStringLiteral("Time budget of one request's page fetch; past it the request answers 502"));
    const NumberOption drainSeconds =
        numberOption("drain-seconds", "seconds", "SKARVEL_SERVICE_DRAIN_SECONDS", 20, 0, 3600,
                     QStringLiteral("On SIGTERM, longest wait for the requests in hand"));
    parser.addOption(hostOption);
    for (const NumberOption* o :
         {&port, &threads, &maxRequests, &retryAfter, &maxPageBytes, &timeBudget, &drainSeconds})
        parser.addOption(o->option);
    parser.process(app);

    std::optional<qint64> values[7];
    int i = 0;
    for (const NumberOption* o :
         {&port, &threads, &maxRequests, &retryAfter, &maxPageBytes, &timeBudget, &drainSeconds}) {
        values[i] = readNumber(parser, *o);
        if (!values[i++])
            return 2;
    }
    const auto [portValue, threadCount, maxInProgress, retryAfterSeconds, pageBytes, budget, drain] =
        std::tuple(*values[0], *values[1], *values[2], *values[3], *values[4], *values[5], *values[6]);

#ifndef _WIN32
    // The serving threads inherit this mask, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
#endif

    skarvel::FetchOptions fetch;
    fetch.maxBytes = pageBytes;
    fetch.totalTimeoutSeconds = long(budget);
    fetch.connectTimeoutSeconds = std::min(fetch.connectTimeoutSeconds, long(budget));
    fetch.stallTimeoutSeconds = std::min(fetch.stallTimeoutSeconds, long(budget));
    skarvel::PageAnalysisService service(fetch);
    service.setLimits({.workerThreads = int(threadCount),
                       .maxInProgress = int(maxInProgress),
                       .retryAfterSeconds = int(retryAfterSeconds)});
    service.setRequestLogger([](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    QString error;
    if (!service.start(parser.value(hostOption), int(portValue), &error)) {
        std::fprintf(stderr, "skarvel-service: %s\n", qPrintable(error));
        return 1;
    }
    if (portValue == 0)
        std::printf("%d\n", service.port());
    std::fflush(stdout);

#ifdef _WIN32
    // Console close and Ctrl+C end the process; the service has nothing to save.
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
#else
    int received = 0;
    sigwait(&stopSignals, &received);
#endif
    service.stopGracefully(std::chrono::seconds(drain));
    return 0;
}
