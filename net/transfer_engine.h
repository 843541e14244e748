#pragma once
// Several HTTP transfers at once on libcurl's multi interface, driven from one
// thread: the caller queues requests and pumps; each request's completion is
// called on that thread. Connections are kept and reused (HTTP/1.1 keep-alive,
// HTTP/2 multiplexing where the server offers it).
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace skarvel {

// The one curl_global_init of the process; every user of libcurl calls it first.
void initCurlOnce();

inline constexpr char kDefaultUserAgent[] = "Mozilla/3.0 (compatible; Indy Library)";
inline constexpr char kDefaultAccept[] = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

// What a transfer on the wire looks like. The engine has a default set; a request may bring its own.
struct TransferOptions {
    bool followRedirects = false;
    // Redirects followed within one transfer; the next one ends it (redirectLimitReached).
    long maxRedirects = 14;
    // Allows https (without certificate or host name checks); otherwise only http is spoken.
    bool tls = false;
    std::chrono::milliseconds connectTimeout{20000};
    // A transfer fails when it moves fewer than 1 byte per second for this long.
    std::chrono::seconds stallTimeout{60};
    // 0: no limit on the whole transfer.
    std::chrono::milliseconds totalTimeout{0};
    // -1: no cap. Beyond it the body is cut and the transfer ends with truncated set.
    qint64 maxBodyBytes = -1;
    // Empty: the process's replacement (setUserAgentOverride) or else kDefaultUserAgent.
    QByteArray userAgent;
    QByteArray accept = kDefaultAccept;
    // Whole header lines ("Name: value") sent besides User-Agent and Accept.
    QList<QByteArray> extraHeaders;
    // Asks for every compression libcurl can undo, and undoes it.
    bool acceptEncoding = false;
    // Keeps cookies set along a redirect chain, and sends Referer on redirects.
    bool cookiesAndReferer = false;
    // A 429 or 503 answer with a readable Retry-After is sent once more after that wait, cut to at most
    // this long; 0 switches retrying off (the answer fails at once, as one without Retry-After does).
    std::chrono::seconds maxRetryAfter{60};
    // An answer that breaks off before its end (the connection closed or reset inside it, a body shorter
    // than its Content-Length, a chunked body without its last chunk) is asked for once more, and a second
    // break fails (Connection). Off: a body cut short is kept as it came. A request with a sink is not
    // sent again (its pieces are handed out already).
    bool retryBrokenAnswer = false;
    // When set and it turns true, the transfer is given up (failure Aborted).
    const std::atomic<bool>* cancelled = nullptr;
};

enum class TransferFailure {
    None,
    HttpStatus,            // an answer of 400 or more (response.status holds it)
    TimedOut,              // connect, stall or total time-out
    Connection,            // no connection, TLS failure, refused scheme, broken transfer
    WriteError,            // the body's file could not be created or written
    Aborted,               // abort() or the cancelled flag
    RedirectWithoutTarget, // a redirect answer without Location
};

// Everything a row needs from one answer: the head (status, Content-Type, charset, Content-Length,
// Content-Disposition, final URL) and where the body went.
struct TransferResult {
    quint64 id = 0;
    QString url;
    TransferFailure failure = TransferFailure::None;
    // For failures: the address and what went wrong.
    QString error;
    int status = 0;
    // Content-Type without its parameters, as sent (case kept), trimmed; "" when none.
    QString contentType;
    // The raw Content-Type value; "" when none.
    QByteArray rawContentType;
    // The charset parameter of Content-Type, unquoted; "" when none.
    QString charset;
    // The declared Content-Length; -1 when none was declared (chunked answers too).
    qint64 contentLength = -1;
    // The raw Content-Disposition value; "" when none.
    QString contentDisposition;
    // The Content-Security-Policy value (several headers joined by ", "); "" when none.
    QString contentSecurityPolicy;
    // The address of the last request sent, after any redirects followed.
    QString finalUrl;
    // Body bytes taken (after decompression); less than contentLength when the body was cut short.
    qint64 bytesReceived = 0;
    // The body, for requests without a body file and without a sink.
    QByteArray body;
    // For requests with a body file: the temporary file beside it that holds the whole body. It lives
    // until the completion returns unless keepBodyFile() moves it into place. "" on failure.
    QString bodyFile;
    bool truncated = false;            // cut at maxBodyBytes
    bool stoppedBySink = false;        // the sink asked to stop
    bool redirectLimitReached = false; // the last answer is a redirect that was not followed
    int attempts = 0;                  // 2 when a Retry-After was honoured or a broken answer asked again
    // The Retry-After value of an error status answer, as sent; "" when none.
    QString retryAfter;

    bool ok() const { return failure == TransferFailure::None; }
};

// Moves the body file of a successful transfer to finalPath, replacing a file of that name. The body
// never stands half-written under finalPath. False (with error) when the move failed.
bool keepBodyFile(TransferResult& result, const QString& finalPath, QString* error = nullptr);

struct TransferRequest {
    QString url;
    // Set: a POST of this body as application/x-www-form-urlencoded, sent as it is.
    std::optional<QByteArray> form;
    // Set: the body is streamed into a temporary file in this folder (see TransferResult::bodyFile)
    // instead of memory; memory does not grow with the body.
    QString bodyFolder;
    // Set: each piece of the body goes here instead; returning false ends the transfer early
    // (stoppedBySink, not a failure). Called on the driving thread; an exception it throws ends the
    // transfer as a WriteError. contentType is the raw Content-Type of the answer.
    std::function<bool(QByteArrayView piece, QByteArrayView contentType)> sink;
    // Unset: the engine's defaults.
    std::optional<TransferOptions> options;
    // Called once on the driving thread when the transfer ends, whatever the outcome.
    std::function<void(TransferResult& result)> done;
};

struct TransferLimits {
    int maxTransfers = 8;        // in flight at once
    int maxTransfersPerHost = 6; // in flight at once to one scheme, host and port
};

class TransferEngine {
public:
    using Limits = TransferLimits;

    explicit TransferEngine(const Limits& limits = {}, const TransferOptions& defaults = {});
    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    const Limits& limits() const { return m_limits; }
    const TransferOptions& defaults() const { return m_defaults; }

    // Queues a request; it starts during a later pump() once the limits allow. Returns its id.
    quint64 submit(TransferRequest request);
    // Whether the caller should queue more now: false while enough requests already wait for a slot.
    // Requests waiting out a Retry-After (their own or their host's) do not count: other hosts go on.
    bool wantsMore() const;
    // How many more the caller should queue now; 0 when wantsMore() is false.
    int wanted() const;
    // Requests queued or in flight.
    int pending() const;
    bool idle() const { return pending() == 0; }

    // Drives the transfers: starts queued ones, moves data and calls the completions of the ones that
    // ended. Returns once at least one completion ran, after at most maxWait, or when woken.
    // Returns how many completions ran.
    int pump(std::chrono::milliseconds maxWait = std::chrono::milliseconds(1000));
    // Pumps until nothing is queued or in flight.
    void runUntilIdle();

    // Safe from any thread: every transfer in flight or queued, and every later one, ends with
    // failure Aborted at the next pump (which it wakes) until resetAbort().
    void abort();
    void resetAbort();
    bool aborted() const { return m_aborted.load(); }
    // Safe from any thread: transfers waiting out a Retry-After end at the next pump (which it wakes)
    // with the answer that asked for the wait, and later such answers (and broken ones) are not retried,
    // until resetAbort(). Transfers on the wire go on.
    void endRetryWaits();
    // Safe from any thread: a pump waiting for the network returns now (or the next one returns at once).
    void wake();

private:
    struct Impl;
    Limits m_limits;
    TransferOptions m_defaults;
    std::atomic<bool> m_aborted{false};
    std::atomic<bool> m_noRetryWaits{false};
    std::atomic<bool> m_woken{false};
    std::unique_ptr<Impl> d;
};

// The seconds a Retry-After value asks to wait (delta-seconds or an HTTP date, counted from now);
// nullopt when it is neither.
std::optional<std::chrono::seconds>
parseRetryAfter(QByteArrayView value,
                std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace skarvel
