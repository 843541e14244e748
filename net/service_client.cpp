#include "net/service_client.h"

#include "common/text_ops.h"
#include "net/url_encoding.h"

#include <algorithm>
#include <utility>

namespace skarvel {

QString serviceBaseForHost(const QString& hostAndPort) {
    return QStringLiteral("http://") + hostAndPort + QStringLiteral("/products/skarvel/scripts/");
}

std::optional<std::chrono::milliseconds> retryAfterDelay(const QString& value, const QDateTime& now) {
    const QString text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const qlonglong seconds = text.toLongLong(&isNumber);
    if (isNumber) {
        if (seconds < 0)
            return std::nullopt;
        // anything beyond a day is refused by the caller's bound anyway
        return std::chrono::milliseconds(std::min<qlonglong>(seconds, 86400) * 1000);
    }
    // HTTP dates end in "GMT", which Qt's RFC 2822 reader does not take for +0000
    QString date = text;
    if (date.endsWith(QLatin1String(" GMT")))
        date = date.chopped(4) + QLatin1String(" +0000");
    const QDateTime at = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!at.isValid())
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(now.msecsTo(at), 0));
}

ServiceClient::ServiceClient(QString baseUrl)
    : m_baseUrl(std::move(baseUrl)), m_http(HttpClient::Options{.followRedirects = false, .tls = false}) {}

template <typename Request> HttpResponse ServiceClient::sendWithRetry(Request request) {
    std::chrono::milliseconds waited{0};
    for (int retries = 0;; ++retries) {
        try {
            return request();
        } catch (const HttpError& e) {
            if (e.status() != 503 || retries >= kMaxRetries)
                throw;
            const auto delay = retryAfterDelay(e.retryAfter(), QDateTime::currentDateTimeUtc());
            if (!delay || waited + *delay > kMaxTotalWait)
                throw;
            if (!waitUnlessAborted(*delay))
                throw HttpError(QStringLiteral("request aborted"));
            waited += *delay;
        }
    }
}

bool ServiceClient::waitUnlessAborted(std::chrono::milliseconds delay) {
    std::unique_lock lock(m_waitMutex);
    return !m_waitChanged.wait_for(lock, delay, [this] { return m_aborted; });
}

void ServiceClient::abort() {
    {
        std::lock_guard lock(m_waitMutex);
        m_aborted = true;
    }
    m_waitChanged.notify_all();
    m_http.abort();
}

void ServiceClient::resetAbort() {
    {
        std::lock_guard lock(m_waitMutex);
        m_aborted = false;
    }
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
    options.maxRetryAfter = kMaxTotalWait;
    return options;
}

QString ServiceClient::harvest(const QString& script, const QString& pageUrl) {
    const QString url = harvestUrl(script, pageUrl);
    const HttpResponse response = sendWithRetry([&] { return m_http.get(url); });
    return decodeText(response);
}

QString ServiceClient::makeList(const QString& link) {
    const QByteArray body = MakeListBody(link);
    const QString url = makeListUrl();
    const HttpResponse response = sendWithRetry([&] { return m_http.postForm(url, body); });
    return MakeListAnswer(response.body);
}

} // namespace skarvel
