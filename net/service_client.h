#pragma once
// Client side of the page-analysis service: harvest requests by GET and the
// URL-list request by POST, over a plain HTTP client that never follows redirects.
#include "net/http_client.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace skarvel {

inline constexpr char kImagesScript[] = "get_images.php?url=";
inline constexpr char kSoundsScript[] = "get_sounds.php?url=";
inline constexpr char kVideosScript[] = "get_videos.php?url=";
inline constexpr char kMakeListScript[] = "make_list.php";

// "http://" + hostAndPort + "/products/skarvel/scripts/"
QString serviceBaseForHost(const QString& hostAndPort);

// The wait a Retry-After value asks for: delta-seconds or an HTTP date (a
// date in the past means now). nullopt when the value is empty or unreadable.
std::optional<std::chrono::milliseconds> retryAfterDelay(const QString& value, const QDateTime& now);

class ServiceClient {
public:
    // A busy service answers 503 with Retry-After: the request is sent again
    // after the asked wait, at most this often and never after waiting longer
    // than this in all; a longer wait asked for fails the request at once.
    static constexpr int kMaxRetries = 3;
    static constexpr std::chrono::seconds kMaxTotalWait{60};

    // baseUrl ends with "/": script names are appended to it.
    explicit ServiceClient(QString baseUrl);

    const QString& baseUrl() const { return m_baseUrl; }

    // GET base + script + pageUrl, the page address as typed (only what cannot
    // travel in a request line is escaped); the answer decoded by its declared
    // charset. A redirect answer gives "". Throws HttpError.
    QString harvest(const QString& script, const QString& pageUrl);
    // POST "list=" + link (blanks and controls cut from both ends, sent as
    // UTF-8 without percent-encoding) to base + "make_list.php"; the answer up
    // to its first zero byte, as UTF-8, line breaks untouched. Throws HttpError.
    QString makeList(const QString& link);

    // The same requests for a caller that sends them itself (several in flight on its own engine):
    // the address of a harvest, the URL-list request's address and body, and how their answers read.
    QString harvestUrl(const QString& script, const QString& pageUrl) const;
    QString makeListUrl() const;
    static QByteArray MakeListBody(const QString& link);
    static QString HarvestAnswer(const TransferResult& result);
    static QString MakeListAnswer(const QByteArray& body);
    // Transfer options of service requests on an engine: no redirects, a busy service's
    // Retry-After honoured once within kMaxTotalWait.
    static TransferOptions EngineOptions();

    // For the window's close: ends a request or a wait in progress from another thread.
    void abort();
    void resetAbort();

private:
    template <typename Request> HttpResponse sendWithRetry(Request request);
    // false when abort() came first
    bool waitUnlessAborted(std::chrono::milliseconds delay);

    QString m_baseUrl;
    HttpClient m_http;
    std::mutex m_waitMutex;
    std::condition_variable m_waitChanged;
    bool m_aborted = false;
};

} // namespace skarvel
