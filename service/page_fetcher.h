#pragma once
// Fetches a web page over HTTP or HTTPS on the network layer's transfer engine and turns its bytes into
// UTF-8.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace skarvel {

class TransferThread;

struct FetchOptions {
    long connectTimeoutSeconds = 15;
    long totalTimeoutSeconds = 90;
    // the transfer is given up when it moves less than one byte per second for this long
    long stallTimeoutSeconds = 30;
    // longer pages are cut here and analysed as far as they arrived
    qint64 maxBytes = 16 * 1024 * 1024;
    long maxRedirects = 10;
    // a 429 or 503 answer whose Retry-After asks for at most this long is asked again once after the wait
    long maxRetryAfterSeconds = 10;
    // when set and it turns true, running transfers are given up
    const std::atomic<bool>* cancelled = nullptr;
    // the process's User-Agent (setUserAgentOverride), when one is set, replaces this
    QByteArray userAgent = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                           "Chrome/120.0.0.0 Safari/537.36";
};

struct FetchedPage {
    QUrl finalUrl; // address after redirects: the base for relative references
    long httpStatus = 0;
    QByteArray mimeType;           // lower case, without parameters; empty when the server sent none
    QByteArray headerCharset;      // charset parameter of Content-Type, as sent
    QString contentSecurityPolicy; // the answer's Content-Security-Policy header(s); "" when none
    bool isHtml = false;
    // HTML: the whole page up to FetchOptions::maxBytes. Anything else is not
    // downloaded beyond the first bytes needed to tell it is not HTML.
    QByteArray body;
    bool truncated = false; // HTML cut at maxBytes
};

class FetchError : public std::runtime_error {
public:
    enum class Kind {
        RefusedAddress, // not an http or https address: the caller's mistake
        Upstream,       // no connection, HTTP error status, time-out, bad redirect
    };
    FetchError(Kind kind, const QString& message);
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Fetches pages on a transfer thread of its own, which runs from construction to
// destruction: the fetches of every thread share its connections and its limits
// (16 transfers, 6 per host).
class PageFetcher {
public:
    PageFetcher();
    // Gives up the fetches still running (they throw FetchError) and ends the thread.
    ~PageFetcher();
    PageFetcher(const PageFetcher&) = delete;
    PageFetcher& operator=(const PageFetcher&) = delete;

    // GET the page, following redirects (http and https only). Throws FetchError.
    // Safe to call from several threads at once.
    FetchedPage fetch(const QUrl& url, const FetchOptions& options = {}) const;

private:
    std::unique_ptr<TransferThread> m_transfers;
};

// The page as UTF-8. The encoding is taken from, in this order: a byte-order
// mark, the HTTP charset, a <meta> declaration near the top, valid UTF-8,
// and windows-1252 as the last resort. charsetUsed receives the name chosen.
QByteArray pageToUtf8(const QByteArray& body, QByteArrayView headerCharset,
                      QByteArray* charsetUsed = nullptr);
// The charset declared by <meta charset> or <meta http-equiv=Content-Type> in the first bytes; empty if none.
QByteArray metaCharset(QByteArrayView head);
// The charset parameter of a Content-Type value, unquoted; empty if none.
QByteArray charsetFromContentType(QByteArrayView contentType);
// Whether a body of this MIME type (lower case, may be empty) is to be read as HTML.
// Types that say nothing (none, text/plain, octet-stream) are decided by the first bytes.
bool looksLikeHtml(QByteArrayView mimeType, QByteArrayView body);

} // namespace skarvel
