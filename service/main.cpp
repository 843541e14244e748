// skarvel-service: the page-analysis service as a program of its own.
//   skarvel-service [--host 127.0.0.1] [--port 8080]
// Runs until SIGINT or SIGTERM; logs one line per request to stderr.
#include "service/page_analysis_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#ifdef _WIN32
#include <chrono>
#include <thread>
#endif
#include <cstdio>
#include <pthread.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("skarvel-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Skarvel page-analysis web service"));
    parser.addHelpOption();
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on; 0 picks a free one and prints it."),
                                        QStringLiteral("port"), QStringLiteral("8080"));
    parser.addOption(hostOption);
    parser.addOption(portOption);
    parser.process(app);

    bool portOk = false;
    const int port = parser.value(portOption).toInt(&portOk);
    if (!portOk || port < 0 || port > 65535) {
        std::fprintf(stderr, "skarvel-service: bad port \"%s\"\n", qPrintable(parser.value(portOption)));
        return 2;
    }

#ifndef _WIN32
    // The serving threads inherit this mask, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
#endif

    skarvel::PageAnalysisService service;
    service.setRequestLogger([](const QString& line) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
    });
    QString error;
    if (!service.start(parser.value(hostOption), port, &error)) {
        std::fprintf(stderr, "skarvel-service: %s\n", qPrintable(error));
        return 1;
    }
    if (port == 0)
        std::printf("%d\n", service.port());
    std::fflush(stdout);
    std::fprintf(stderr, "skarvel-service: serving %s\n", qPrintable(service.baseUrl()));

#ifdef _WIN32
    // Console close and Ctrl+C end the process; the service has nothing to save.
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
#else
    int received = 0;
    sigwait(&stopSignals, &received);
#endif
    std::fprintf(stderr, "skarvel-service: stopping\n");
    service.stop();
    return 0;
}
