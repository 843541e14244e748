#pragma once
// The page-analysis web service: an HTTP server that answers the desktop
// program's four scripts under /products/skarvel/scripts/:
//   GET  get_images.php?url=<page>   records: URL \t Original name \t Alt \t Title \t Parent
//   GET  get_sounds.php?url=<page>   records: URL \t Original name \t Parent
//   GET  get_videos.php?url=<page>   records: URL \t Original name \t Parent
//   POST make_list.php, body list=<page>   one link per line
// Records end with CR LF, list lines with LF; everything is UTF-8.
// GET /health answers 200 while the service takes work.
#include "service/page_fetcher.h"
#include "service/tolerant_http_server.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace skarvel {

class PageAnalysisService {
public:
    static constexpr const char* kScriptPath = "/products/skarvel/scripts/";

    // fetchOptions bound every page fetch: its size cap and time-outs are the
    // per-request page size and time budget.
    explicit PageAnalysisService(const FetchOptions& fetchOptions = {});
    ~PageAnalysisService(); // stops the server
    PageAnalysisService(const PageAnalysisService&) = delete;
    PageAnalysisService& operator=(const PageAnalysisService&) = delete;

    // Worker threads, the most requests in progress and the wait asked of
    // clients past that; set before start().
    void setLimits(const ServingLimits& limits);

    // Listens on host:port (port 0: a free port) and serves requests in
    // parallel on a pool of threads of its own until stop(). Returns false,
    // with the reason in *error, when the address cannot be bound or the
    // service already runs.
    [[nodiscard]] bool start(const QString& host = QStringLiteral("127.0.0.1"), int port = 0,
                             QString* error = nullptr);
    // The port being listened on; 0 when not running.
    int port() const;
    bool isRunning() const;
    // "http://<host>:<port>/products/skarvel/scripts/"; empty when not running.
    QString baseUrl() const;
    // Gives up page fetches in progress, waits for running requests and closes the port.
    void stop();
    // Closes the port at once, lets the requests in hand finish for up to
    // grace, then gives up the fetches still running and stops.
    void stopGracefully(std::chrono::milliseconds grace);

    // Receives one line per answered request, fields separated by one blank:
    //   2024-05-01T12:00:00.123Z get_images.php example.org 200 5120 87
    // (UTC time, script, page host, status, body bytes, milliseconds; "-" for
    // a field the request did not give). Set it before start(); it is called
    // on the serving threads.
    void setRequestLogger(std::function<void(const QString& line)> logger);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The raw value of a parameter in a query string or form body: everything
// after "name=" at the start or after a "&", up to the end. The value is
// taken whole so that a page address holding "&" or "=" stays in one piece.
std::optional<QByteArray> rawParameterValue(QByteArrayView query, QByteArrayView name);
// The address to fetch for a page parameter as the client typed it. Accepts
// %XX escapes, a fully percent-encoded address and a missing "http://".
// nullopt with a message for empty, malformed and non-http(s) addresses.
[[nodiscard]] std::optional<QUrl> pageAddressFromParameter(const QString& value, QString* error);

enum class AnswerKind { Pictures, Sounds, Videos };
// The one record for an address that is itself a picture, sound or video
// rather than a page (judged by MIME type, or by extension when the type is
// vague); empty when it is not of the asked kind.
QByteArray directMediaAnswer(AnswerKind kind, QByteArrayView mimeType, const QUrl& address,
                             const QString& parent);

} // namespace skarvel
