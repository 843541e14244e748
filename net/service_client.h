#pragma once
// Client side of the page-analysis service: harvest requests by GET and the
// URL-list request by POST, over a plain HTTP client that never follows redirects.
#include "net/http_client.h"

#include <QString>

#include <chrono>

namespace skarvel {

inline constexpr char kImagesScript[] = "get_images.php?url=";
inline constexpr char kSoundsScript[] = "get_sounds.php?url=";
inline constexpr char kVideosScript[] = "get_videos.php?url=";
inline constexpr char kMakeListScript[] = "make_list.php";

// "http://" + hostAndPort + "/products/skarvel/scripts/"
QString serviceBaseForHost(const QString& hostAndPort);

class ServiceClient {
public:
    // A busy service answers 503 with Retry-After: the request is sent once more after the asked
    // wait, cut to this bound, as every transfer of the program is. An answer that breaks off mid-way
    // (an instance behind a balancer killed while it sends) is asked for once more at once; either
    // way a request goes out at most twice.
    static constexpr std::chrono::seconds kMaxRetryWait{60};

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
    // Retry-After honoured once within kMaxRetryWait, a broken answer asked for once more.
    static TransferOptions EngineOptions();

    // For the window's close: ends a request or a wait in progress from another thread.
    void abort();
    void resetAbort();

private:
    QString m_baseUrl;
    HttpClient m_http;
};

} // namespace skarvel
