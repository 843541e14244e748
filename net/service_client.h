#pragma once
// Client side of the page-analysis service: harvest requests by GET and the
// URL-list request by POST, over a plain HTTP client that never follows redirects.
#include "net/http_client.h"

#include <QString>

namespace skarvel {

inline constexpr char kImagesScript[] = "get_images.php?url=";
inline constexpr char kSoundsScript[] = "get_sounds.php?url=";
inline constexpr char kVideosScript[] = "get_videos.php?url=";
inline constexpr char kMakeListScript[] = "make_list.php";

// "http://" + hostAndPort + "/products/skarvel/scripts/"
QString serviceBaseForHost(const QString& hostAndPort);

class ServiceClient {
public:
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

    // For the window's close: ends a request in progress from another thread.
    void abort() { m_http.abort(); }
    void resetAbort() { m_http.resetAbort(); }

private:
    QString m_baseUrl;
    HttpClient m_http;
};

} // namespace skarvel
