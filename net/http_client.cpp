#include "net/http_client.h"

#include <QStringDecoder>
#include <QStringList>

#include <curl/curl.h>

#include <mutex>
#include <utility>

namespace skarvel {

namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

class HeaderList {
public:
    HeaderList() = default;
    ~HeaderList() { curl_slist_free_all(m_list); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;

    void append(const char* line) {
        curl_slist* grown = curl_slist_append(m_list, line);
        if (!grown)
            throw HttpError(QStringLiteral("out of memory building request headers"));
        m_list = grown;
    }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t writeBody(char* data, size_t size, size_t count, void* userdata) {
    auto* body = static_cast<QByteArray*>(userdata);
    const size_t bytes = size * count;
    body->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

int checkAbort(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(userdata)->load() ? 1 : 0;
}

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Header values are bytes; most servers that send non-ASCII there send UTF-8.
QString headerText(const char* value) {
    const QByteArray bytes(value);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text.trimmed();
}

// The value of a header of the last answer; "" when the answer did not carry it.
QString lastAnswerHeader(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
        return {};
    return headerText(header->value);
}

void splitContentType(const QString& raw, QString* type, QString* charset) {
    const QStringList parts = raw.split(QLatin1Char(';'));
    *type = parts.value(0).trimmed();
    charset->clear();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype eq = parts[i].indexOf(QLatin1Char('='));
        if (eq < 0 || parts[i].left(eq).trimmed().compare(QLatin1String("charset"), Qt::CaseInsensitive) != 0)
            continue;
        QString value = parts[i].mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2).trimmed();
        *charset = value;
        return;
    }
}

} // namespace

const char* const HttpClient::kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
const char* const HttpClient::kAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

HttpError::HttpError(const QString& message, int status, QString retryAfter)
    : std::runtime_error(message.toStdString()), m_status(status), m_retryAfter(std::move(retryAfter)) {}

struct HttpClient::Handle {
    EasyPtr easy;
    char errorText[CURL_ERROR_SIZE] = {};
};

HttpClient::HttpClient() : HttpClient(Options{}) {}

HttpClient::HttpClient(const Options& options) : m_options(options), m_handle(std::make_unique<Handle>()) {
    initCurlOnce();
    m_handle->easy.reset(curl_easy_init());
    if (!m_handle->easy)
        throw HttpError(QStringLiteral("cannot create an HTTP session"));
}

HttpClient::~HttpClient() = default;

void HttpClient::abort() {
    m_aborted = true;
}

void HttpClient::resetAbort() {
    m_aborted = false;
}

HttpResponse HttpClient::get(const QString& url) {
    return perform(url, nullptr);
}

HttpResponse HttpClient::postForm(const QString& url, const QByteArray& rawBody) {
    return perform(url, &rawBody);
}

HttpResponse HttpClient::perform(const QString& url, const QByteArray* postBody) {
    if (m_aborted)
        throw HttpError(QStringLiteral("request aborted"));
    if (url.contains(QChar(0)))
        throw HttpError(QStringLiteral("address holds a zero character"));

    CURL* easy = m_handle->easy.get();
    // A reset keeps the connection cache, so later requests of this client reuse connections.
    curl_easy_reset(easy);
    m_handle->errorText[0] = '\0';

    const QByteArray address = url.toUtf8();
    const char* protocols = m_options.tls ? "http,https" : "http";
    QByteArray body;

    HeaderList headers;
    const QByteArray acceptLine = QByteArrayLiteral("Accept: ") + kAccept;
    headers.append(acceptLine.constData());
    // Without this curl may wait for a 100 Continue before sending a larger form.
    headers.append("Expect:");
    if (postBody)
        headers.append("Content-Type: application/x-www-form-urlencoded");

    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_handle->errorText);
    curl_easy_setopt(easy, CURLOPT_URL, address.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Proxies from the environment are not ours to use.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, m_options.followRedirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirectsFollowed));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_options.stallTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, checkAbort);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &m_aborted);
    if (m_options.tls) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (postBody) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody->size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody->constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }

    const CURLcode code = curl_easy_perform(easy);
    // The redirect limit reached is not a failure: the request ends with what the last answer gave.
    const bool redirectLimitReached = code == CURLE_TOO_MANY_REDIRECTS;
    // A body cut short is kept; the caller compares its size with the declared length.
    if (code != CURLE_OK && code != CURLE_PARTIAL_FILE && !redirectLimitReached) {
        if (code == CURLE_ABORTED_BY_CALLBACK)
            throw HttpError(QStringLiteral("request aborted"));
        const QString detail = m_handle->errorText[0] ? QString::fromUtf8(m_handle->errorText)
                                                      : QString::fromUtf8(curl_easy_strerror(code));
        throw HttpError(QStringLiteral("%1: %2").arg(url, detail));
    }

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400)
        throw HttpError(QStringLiteral("%1: HTTP status %2").arg(url).arg(status), static_cast<int>(status),
                        lastAnswerHeader(easy, "Retry-After"));

    HttpResponse response;
    response.status = static_cast<int>(status);
    const char* effective = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        response.finalUrl = QString::fromUtf8(effective);

    if (redirectLimitReached || isRedirectStatus(status)) {
        if (!redirectLimitReached && lastAnswerHeader(easy, "Location").isEmpty())
            throw HttpError(QStringLiteral("%1: redirect (HTTP %2) without a target").arg(url).arg(status),
                            0);
        // A redirect not followed: its own body and length describe nothing the caller asked for.
        return response;
    }

    response.body = std::move(body);
    splitContentType(lastAnswerHeader(easy, "Content-Type"), &response.contentType, &response.charset);
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
        response.contentLength = length;
    response.contentDisposition = lastAnswerHeader(easy, "Content-Disposition");
    return response;
}

QString decodeText(const HttpResponse& response) {
    if (!response.charset.isEmpty()) {
        QStringDecoder decoder(response.charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(response.body);
    }
    if (response.contentType.startsWith(QLatin1String("text/"), Qt::CaseInsensitive))
        return QString::fromLatin1(response.body);
    return QString::fromUtf8(response.body);
}

} // namespace skarvel
