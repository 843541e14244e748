#include "net/service_client.h"

#include "common/text_ops.h"
#include "net/url_encoding.h"

#include <utility>

namespace skarvel {

QString serviceBaseForHost(const QString& hostAndPort) {
    return QStringLiteral("http://") + hostAndPort + QStringLiteral("/products/skarvel/scripts/");
}

ServiceClient::ServiceClient(QString baseUrl)
    : m_baseUrl(std::move(baseUrl)), m_http(HttpClient::Options{.followRedirects = false,
                                                                .tls = false,
                                                                .maxRetryAfter = kMaxRetryWait,
                                                                .retryBrokenAnswer = true}) {}

void ServiceClient::abort() {
    m_http.abort();
}

void ServiceClient::resetAbort() {
    m_http.resetAbort();
}

QString ServiceClient::harvestUrl(const QString& script, const QString& pageUrl) const {
    return m_baseUrl + script + EncodeForRequestLine(pageUrl);
}

QString ServiceClient::makeListUrl() const {
    return m_baseUrl + QLatin1String(kMakeListScript);
}

QByteArray ServiceClient::MakeListBody(const QString& link) {
    return TrimControls(QStringLiteral("list=") + link).toUtf8();
}

QString ServiceClient::HarvestAnswer(const TransferResult& result) {
    HttpResponse response;
    response.body = result.body;
    response.contentType = result.contentType;
    response.charset = result.charset;
    return decodeText(response);
}

QString ServiceClient::MakeListAnswer(const QByteArray& body) {
    const qsizetype zero = body.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? body : body.left(zero));
}

TransferOptions ServiceClient::EngineOptions() {
    TransferOptions options;
    options.followRedirects = false;
    options.maxRetryAfter = kMaxRetryWait;
    options.retryBrokenAnswer = true;
    return options;
}

QString ServiceClient::harvest(const QString& script, const QString& pageUrl) {
    const QString url = harvestUrl(script, pageUrl);
    const HttpResponse response = m_http.get(url);
    return decodeText(response);
}

QString ServiceClient::makeList(const QString& link) {
    const QByteArray body = MakeListBody(link);
    const QString url = makeListUrl();
    const HttpResponse response = m_http.postForm(url, body);
    return MakeListAnswer(response.body);
}

} // namespace skarvel
