#include "service/page_analysis_service.h"

#include "service/html_analysis.h"

#include <QDateTime>

#include <atomic>
#include <chrono>
#include <thread>

namespace skarvel {

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kHealthPath = "/health";

void answerError(httplib::Response& res, int status, const QString& message) {
    res.status = status;
    res.set_content(QString(message + u'\n').toStdString(), kPlainText);
}

bool isAsciiLetter(QChar c) {
    return (c.unicode() >= 'a' && c.unicode() <= 'z') || (c.unicode() >= 'A' && c.unicode() <= 'Z');
}

// Types that do not tell what kind of file the address holds, so its extension decides. Unlike
// the page sniffer's list, text/plain is not here: it names a text, never a picture or a sound.
bool mimeTypeMayHideMedia(QByteArrayView mimeType) {
    return mimeType.isEmpty() || mimeType == "application/octet-stream" ||
           mimeType == "binary/octet-stream" || mimeType == "unknown/unknown" ||
           mimeType == "application/unknown";
}

// "name:" where name is a URI scheme and no port number follows the colon.
bool startsWithScheme(const QString& text) {
    if (text.isEmpty() || !isAsciiLetter(text[0]))
        return false;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u':')
            return !(i + 1 < text.size() && text[i + 1].unicode() >= '0' && text[i + 1].unicode() <= '9');
        if (!isAsciiLetter(c) && !(c.unicode() >= '0' && c.unicode() <= '9') && c != u'+' && c != u'.' &&
            c != u'-')
            return false;
    }
    return false;
}

// A log field: no blanks or controls, so that a line splits on blanks.
QString logField(QByteArrayView text) {
    if (text.isEmpty())
        return QStringLiteral("-");
    QString out;
    for (const char c : text.first(std::min<qsizetype>(text.size(), 200))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f)
            out += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char(c);
    }
    return out;
}

// Script and page host of a request, for the log.
std::pair<QString, QString> describeRequest(std::string_view target, std::string_view body) {
    const size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view scripts(PageAnalysisService::kScriptPath);
    std::string_view script = path;
    if (path.starts_with(scripts))
        script = path.substr(scripts.size());
    else if (path == kHealthPath)
        script = "health";
    std::optional<QByteArray> page;
    if (script == "make_list.php")
        page = rawParameterValue(QByteArrayView(body.data(), qsizetype(body.size())), "list");
    else if (question != std::string_view::npos && path.starts_with(scripts))
        page = rawParameterValue(
            QByteArrayView(target.data(), qsizetype(target.size())).sliced(qsizetype(question) + 1), "url");
    QString host;
    if (page) {
        if (const std::optional<QUrl> url = pageAddressFromParameter(QString::fromUtf8(*page), nullptr))
            host = url->host(QUrl::FullyEncoded);
    }
    return {logField(QByteArrayView(script.data(), qsizetype(script.size()))), logField(host.toUtf8())};
}

QString logLine(std::string_view target, std::string_view body, int status, size_t bytes,
                std::chrono::milliseconds elapsed) {
    const auto [script, host] = describeRequest(target, body);
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), script, host)
        .arg(status)
        .arg(qulonglong(bytes))
        .arg(qlonglong(elapsed.count()));
}

} // namespace

// ============================================================ request values

std::optional<QByteArray> rawParameterValue(QByteArrayView query, QByteArrayView name) {
    const QByteArray key = name.toByteArray() + '=';
    if (query.startsWith(key))
        return query.sliced(key.size()).toByteArray();
    const qsizetype at = QByteArrayView(query).indexOf(QByteArray('&' + key));
    if (at < 0)
        return std::nullopt;
    return query.sliced(at + 1 + key.size()).toByteArray();
}

std::optional<QUrl> pageAddressFromParameter(const QString& value, QString* error) {
    auto fail = [&](const QString& message) -> std::optional<QUrl> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    QString text = value.trimmed();
    if (text.isEmpty())
        return fail(QStringLiteral("no page address given"));
    const QString lower = text.left(16).toLower();
    if (lower.startsWith(QLatin1StringView("http%3a")) || lower.startsWith(QLatin1StringView("https%3a")))
        text = QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8())).trimmed();
    // "example.com/page" and "localhost:8080/page" mean http, as in a browser's address bar
    if (!startsWithScheme(text))
        text.prepend(QLatin1StringView("http://"));
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))
        return fail(
            QStringLiteral("only http and https pages are analysed, not \"%1\"").arg(value.trimmed()));
    if (!url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("not a valid page address: \"%1\"").arg(value.trimmed()));
    return url;
}

QByteArray directMediaAnswer(AnswerKind kind, QByteArrayView mimeType, const QUrl& address,
                             const QString& parent) {
    const QString ext = urlExtension(address);
    const bool vague = mimeTypeMayHideMedia(mimeType);
    bool fits = false;
    switch (kind) {
    case AnswerKind::Pictures:
        fits = mimeType.startsWith("image/") || (vague && isPictureExtension(ext));
        if (fits)
            return formatPictureAnswer(
                {{address.toString(QUrl::FullyEncoded), originalNameOf(address), {}, {}}}, parent);
        return {};
    case AnswerKind::Sounds:
        fits = mimeType.startsWith("audio/") ||
               ((vague || mimeType == "application/ogg") && isSoundExtension(ext));
        break;
    case AnswerKind::Videos:
        fits = mimeType.startsWith("video/") ||
               ((vague || mimeType == "application/ogg") && isVideoExtension(ext));
        break;
    }
    if (!fits)
        return {};
    return formatMediaAnswer({{address.toString(QUrl::FullyEncoded), originalNameOf(address)}}, parent);
}

// ================================================================= service

struct PageAnalysisService::Impl {
    FetchOptions fetchOptions;
    ServingLimits limits;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> stopping{false};
    std::function<void(const QString&)> logger;
    std::unique_ptr<TolerantHttpServer> server;
    // Runs from start() to stop(), after the server: its requests fetch through it.
    std::unique_ptr<PageFetcher> fetcher;
    std::thread thread;
    std::atomic<bool> listenReturned{false};
    QString host;
    int port = 0;

    enum class Script { Images, Sounds, Videos, List };

    // Fetches the page named by value; on failure answers the error and returns nullopt.
    std::optional<FetchedPage> fetch(const QString& asked, httplib::Response& res) {
        QString error;
        const std::optional<QUrl> url = pageAddressFromParameter(asked, &error);
        if (!url) {
            answerError(res, 400, error);
            return std::nullopt;
        }
        FetchOptions options = fetchOptions;
        options.cancelled = &cancelled;
        try {
            return fetcher->fetch(*url, options);
        } catch (const FetchError& e) {
            answerError(res, e.kind() == FetchError::Kind::RefusedAddress ? 400 : 502,
                        QString::fromUtf8(e.what()));
            return std::nullopt;
        }
    }

    void serve(Script script, const QByteArray& rawValue, httplib::Response& res) {
        // The request's time budget covers the fetch and the analysis together (0: none).
        AnalysisDeadline deadline;
        if (fetchOptions.totalTimeoutSeconds > 0)
            deadline =
                std::chrono::steady_clock::now() + std::chrono::seconds(fetchOptions.totalTimeoutSeconds);
        const QString asked = QString::fromUtf8(rawValue).trimmed();
        const std::optional<FetchedPage> page = fetch(asked, res);
        if (!page)
            return;
        try {
            res.status = 200;
            res.set_content(analyse(script, *page, asked, deadline).toStdString(), kPlainText);
        } catch (const AnalysisTimeout& e) {
            answerError(res, 502, QString::fromUtf8(e.what()));
        }
    }

    QByteArray analyse(Script script, const FetchedPage& page, const QString& asked,
                       AnalysisDeadline deadline) {
        QByteArray answer;
        if (page.isHtml) {
            const QByteArray html = pageToUtf8(page.body, page.headerCharset);
            const QUrl& base = page.finalUrl;
            switch (script) {
            case Script::Images:
                answer = formatPictureAnswer(findPictures(html, base, page.contentSecurityPolicy, deadline),
                                             asked);
                break;
            case Script::Sounds:
                answer = formatMediaAnswer(findMedia(html, base, MediaKind::Sound, deadline), asked);
                break;
            case Script::Videos:
                answer = formatMediaAnswer(findMedia(html, base, MediaKind::Video, deadline), asked);
                break;
            case Script::List:
                answer = formatListAnswer(findLinks(html, base, deadline));
                break;
            }
        } else {
            switch (script) {
            case Script::Images:
                answer = directMediaAnswer(AnswerKind::Pictures, page.mimeType, page.finalUrl, asked);
                break;
            case Script::Sounds:
                answer = directMediaAnswer(AnswerKind::Sounds, page.mimeType, page.finalUrl, asked);
                break;
            case Script::Videos:
                answer = directMediaAnswer(AnswerKind::Videos, page.mimeType, page.finalUrl, asked);
                break;
            case Script::List:
                break; // a file that is not a page has no links
            }
        }
        return answer;
    }

    void harvestRoute(const char* script, Script kind) {
        const std::string pattern =
            std::string(kScriptPath) + QByteArray(script).replace(".", "\\.").toStdString();
        server->Get(pattern, [this, kind](const httplib::Request& req, httplib::Response& res) {
            // the raw target: cpp-httplib's parsed parameters split the page address at "&"
            const qsizetype question = qsizetype(req.target.find('?'));
            const std::optional<QByteArray> value =
                question < 0 ? std::nullopt
                             : rawParameterValue(QByteArrayView(req.target).sliced(question + 1), "url");
            if (!value) {
                answerError(res, 400, QStringLiteral("the url parameter is missing"));
                return;
            }
            serve(kind, *value, res);
        });
    }

    void configure() {
        server->set_keep_alive_max_count(100);
        server->set_payload_max_length(1024 * 1024);
        harvestRoute("get_images.php", Script::Images);
        harvestRoute("get_sounds.php", Script::Sounds);
        harvestRoute("get_videos.php", Script::Videos);
        server->Post(std::string(kScriptPath) + "make_list\\.php",
                     [this](const httplib::Request& req, httplib::Response& res) {
                         const std::optional<QByteArray> value = rawParameterValue(req.body, "list");
                         if (!value) {
                             answerError(res, 400, QStringLiteral("the list field is missing"));
                             return;
                         }
                         serve(Script::List, *value, res);
                     });
        server->Get(kHealthPath, [this](const httplib::Request&, httplib::Response& res) {
            if (stopping) {
                res.set_header("Retry-After", std::to_string(limits.retryAfterSeconds));
                answerError(res, 503, QStringLiteral("stopping"));
                return;
            }
            res.set_content("ok\n", kPlainText);
        });
        server->set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
                QString what = QStringLiteral("internal error");
                try {
                    std::rethrow_exception(ep);
                } catch (const std::exception& e) {
                    what = QStringLiteral("internal error: %1").arg(QString::fromUtf8(e.what()));
                } catch (...) {
                }
                answerError(res, 500, what);
            });
        if (logger) {
            server->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - TolerantHttpServer::requestArrival());
                logger(logLine(req.target, req.body, res.status, res.body.size(), elapsed));
            });
            server->setTurnedAwayLogger([this](const std::string&, const std::string& target, int status,
                                               size_t bytes, std::chrono::milliseconds elapsed) {
                logger(logLine(target, {}, status, bytes, elapsed));
            });
        }
    }
};

PageAnalysisService::PageAnalysisService(const FetchOptions& fetchOptions) : d(std::make_unique<Impl>()) {
    d->fetchOptions = fetchOptions;
}

PageAnalysisService::~PageAnalysisService() {
    stop();
}

void PageAnalysisService::setLimits(const ServingLimits& limits) {
    d->limits = limits;
}

void PageAnalysisService::setRequestLogger(std::function<void(const QString&)> logger) {
    d->logger = std::move(logger);
}

bool PageAnalysisService::start(const QString& host, int port, QString* error) {
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (d->server)
        return fail(QStringLiteral("the service already runs on port %1").arg(d->port));
    if (port < 0 || port > 65535)
        return fail(QStringLiteral("port %1 is out of range").arg(port));
    d->cancelled = false;
    d->stopping = false;
    d->listenReturned = false;
    d->fetcher = std::make_unique<PageFetcher>();
    d->server = std::make_unique<TolerantHttpServer>(d->limits);
    d->configure();
    const int bound = d->server->bindWithBacklog(host.toStdString(), port);
    if (bound <= 0) {
        d->server.reset();
        d->fetcher.reset();
        return fail(QStringLiteral("cannot listen on %1:%2").arg(host).arg(port));
    }
    d->host = host;
    d->port = bound;
    TolerantHttpServer* server = d->server.get();
    d->thread = std::thread([this, server] {
        server->listen_after_bind();
        d->listenReturned = true;
    });
    while (!server->is_running() && !d->listenReturned)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server->is_running()) {
        stop();
        return fail(QStringLiteral("cannot serve on %1:%2").arg(host).arg(bound));
    }
    return true;
}

int PageAnalysisService::port() const {
    return d->server ? d->port : 0;
}

bool PageAnalysisService::isRunning() const {
    return d->server && d->server->is_running();
}

QString PageAnalysisService::baseUrl() const {
    if (!d->server)
        return QString();
    const QString host = d->host.contains(u':') ? u'[' + d->host + u']' : d->host;
    return QStringLiteral("http://%1:%2%3").arg(host).arg(d->port).arg(QLatin1StringView(kScriptPath));
}

void PageAnalysisService::stopGracefully(std::chrono::milliseconds grace) {
    if (!d->server)
        return;
    d->stopping = true;
    d->server->stop();
    // The listening thread returns once every admitted connection has been served.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!d->listenReturned && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop();
}

void PageAnalysisService::stop() {
    if (!d->server)
        return;
    d->stopping = true;
    d->cancelled = true;
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->server.reset();
    // Every request has been answered: nothing fetches any more.
    d->fetcher.reset();
    d->port = 0;
}

} // namespace skarvel
