#pragma once
// The HTTP client of the network jobs: one transfer at a time on the transfer
// engine, behind a small synchronous interface. One client belongs to one job
// and is used by one thread at a time; only abort() and resetAbort() may be
// called from another thread. Connections are kept between requests.
#include "net/transfer_engine.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <stdexcept>

namespace skarvel {

// A failed request: transport failure, time-out, an HTTP error status,
// a refused scheme, a redirect without a target.
class HttpError : public std::runtime_error {
public:
    explicit HttpError(const QString& message, int status = 0, QString retryAfter = {});
    // The HTTP status for an error status answer; 0 for every other failure.
    int status() const { return m_status; }
    // The Retry-After value of an error status answer, as sent; "" when none.
    const QString& retryAfter() const { return m_retryAfter; }

private:
    int m_status;
    QString m_retryAfter;
};

struct HttpResponse {
    int status = 0;
    QByteArray body;
    // Content-Type without its parameters, as sent (case kept), trimmed; "" when none.
    QString contentType;
    // The charset parameter of Content-Type, unquoted; "" when none.
    QString charset;
    // The declared Content-Length; -1 when none was declared (chunked answers too).
    qint64 contentLength = -1;
    // The raw Content-Disposition value; "" when none.
    QString contentDisposition;
    // The address of the last request sent, after any redirects followed.
    QString finalUrl;
};

class HttpClient {
public:
    struct Options {
        bool followRedirects = false;
        // Allows https (without certificate or host name checks); plain clients speak http only.
        bool tls = false;
        std::chrono::milliseconds connectTimeout{20000};
        // A request fails when it moves fewer than 1 byte per second for this long.
        std::chrono::seconds stallTimeout{60};
        // A 429 or 503 with a Retry-After of at most this long is retried once after that wait; 0: never.
        std::chrono::seconds maxRetryAfter{0};
        // An answer that breaks off before its end is asked for once more (TransferOptions).
        bool retryBrokenAnswer = false;
    };

    // Redirects followed within one request when following is on; the next one ends the request.
    static constexpr int kMaxRedirectsFollowed = 14;
    // The defaults; setUserAgentOverride() replaces the User-Agent for the whole process.
    static const char* const kUserAgent;
    static const char* const kAccept;

    HttpClient();
    explicit HttpClient(const Options& options);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    const Options& options() const { return m_options; }

    // Both throw HttpError. A redirect that is not followed gives an empty body.
    HttpResponse get(const QString& url);
    // Sends rawBody as it is, as application/x-www-form-urlencoded.
    HttpResponse postForm(const QString& url, const QByteArray& rawBody);

    // Makes the request in progress (and every later one) fail soon; safe from any thread.
    void abort();
    void resetAbort();

    // What every request of this client sends and accepts, as transfer options.
    TransferOptions transferOptions() const;

private:
    HttpResponse perform(const QString& url, const QByteArray* postBody);

    Options m_options;
    TransferEngine m_engine;
};

// The body as text: by the declared charset; ISO-8859-1 for text/* without
// one (or with one that is not known); UTF-8 for everything else.
QString decodeText(const HttpResponse& response);

} // namespace skarvel
