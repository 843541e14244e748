#include "net/http_client.h"

#include "common/charset_decoder.h"
#include <QStringList>

#include <utility>

namespace skarvel {

const char* const HttpClient::kUserAgent = kDefaultUserAgent;
const char* const HttpClient::kAccept = kDefaultAccept;

HttpError::HttpError(const QString& message, int status, QString retryAfter)
    : std::runtime_error(message.toStdString()), m_status(status), m_retryAfter(std::move(retryAfter)) {}

HttpClient::HttpClient() : HttpClient(Options{}) {}

HttpClient::HttpClient(const Options& options)
    : m_options(options), m_engine(TransferEngine::Limits{1, 1}, transferOptions()) {}

HttpClient::~HttpClient() = default;

TransferOptions HttpClient::transferOptions() const {
    TransferOptions o;
    o.followRedirects = m_options.followRedirects;
    o.maxRedirects = kMaxRedirectsFollowed;
    o.tls = m_options.tls;
    o.connectTimeout = m_options.connectTimeout;
    o.stallTimeout = m_options.stallTimeout;
    o.maxRetryAfter = m_options.maxRetryAfter;
    o.retryBrokenAnswer = m_options.retryBrokenAnswer;
    return o;
}

void HttpClient::abort() {
    m_engine.abort();
}

void HttpClient::resetAbort() {
    m_engine.resetAbort();
}

HttpResponse HttpClient::get(const QString& url) {
    return perform(url, nullptr);
}

HttpResponse HttpClient::postForm(const QString& url, const QByteArray& rawBody) {
    return perform(url, &rawBody);
}

HttpResponse HttpClient::perform(const QString& url, const QByteArray* postBody) {
    if (m_engine.aborted())
        throw HttpError(QStringLiteral("request aborted"));
    TransferRequest request;
    request.url = url;
    if (postBody)
        request.form = *postBody;
    TransferResult result;
    request.done = [&result](TransferResult& ended) { result = std::move(ended); };
    m_engine.submit(std::move(request));
    m_engine.runUntilIdle();

    if (!result.ok())
        throw HttpError(result.error, result.failure == TransferFailure::HttpStatus ? result.status : 0,
                        result.retryAfter);
    HttpResponse response;
    response.status = result.status;
    response.body = std::move(result.body);
    response.contentType = std::move(result.contentType);
    response.charset = std::move(result.charset);
    response.contentLength = result.contentLength;
    response.contentDisposition = std::move(result.contentDisposition);
    response.finalUrl = std::move(result.finalUrl);
    return response;
}

QString decodeText(const HttpResponse& response) {
    if (!response.charset.isEmpty()) {
        CharsetDecoder decoder(response.charset.toLatin1());
        if (decoder.isValid())
            return decoder.decode(response.body);
    }
    if (response.contentType.startsWith(QLatin1String("text/"), Qt::CaseInsensitive))
        return QString::fromLatin1(response.body);
    return QString::fromUtf8(response.body);
}

} // namespace skarvel
