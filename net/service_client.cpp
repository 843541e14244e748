#include "net/service_client.h"

#include "common/text_ops.h"
#include "net/url_encoding.h"

#include <utility>

namespace skarvel {

QString serviceBaseForHost(const QString& hostAndPort) {
    return QStringLiteral("http://") + hostAndPort + QStringLiteral("/products/skarvel/scripts/");
}

ServiceClient::ServiceClient(QString baseUrl)
    : m_baseUrl(std::move(baseUrl)), m_http(HttpClient::Options{.followRedirects = false, .tls = false}) {}

QString ServiceClient::harvest(const QString& script, const QString& pageUrl) {
    const HttpResponse response = m_http.get(m_baseUrl + script + EncodeForRequestLine(pageUrl));
    return decodeText(response);
}

QString ServiceClient::makeList(const QString& link) {
    const QByteArray body = TrimControls(QStringLiteral("list=") + link).toUtf8();
    const HttpResponse response = m_http.postForm(m_baseUrl + QLatin1String(kMakeListScript), body);
    const qsizetype zero = response.body.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? response.body : response.body.left(zero));
}

} // namespace skarvel
