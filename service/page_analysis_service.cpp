#include "service/page_analysis_service.h"

#include "service/html_analysis.h"
#include "service/tolerant_http_server.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace skarvel {

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr int kServingThreads = 16;

void answerError(httplib::Response& res, int status, const QString& message) {
    res.status = status;
    res.set_content(QString(message + u'\n').toStdString(), kPlainText);
}

bool isAsciiLetter(QChar c) {
    return (c.unicode() >= 'a' && c.unicode() <= 'z') || (c.unicode() >= 'A' && c.unicode() <= 'Z');
}

thread_local std::optional<std::chrono::steady_clock::time_point> t_requestStart;

bool mimeTypeIsVague(QByteArrayView mimeType) {
    return mimeType.isEmpty() || mimeType == "application/octet-stream" || mimeType == "binary/octet-stream" ||
           mimeType == "unknown/unknown" || mimeType == "application/unknown";
}

// "name:" where name is a URI scheme and no port number follows the colon.
bool startsWithScheme(const QString& text) {
    if (text.isEmpty() || !isAsciiLetter(text[0]))
        return false;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u':')
            return !(i + 1 < text.size() && text[i + 1].unicode() >= '0' && text[i + 1].unicode() <= '9');
        if (!isAsciiLetter(c) && !(c.unicode() >= '0' && c.unicode() <= '9') && c != u'+' && c != u'.' && c != u'-')
            return false;
    }
    return false;
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
        return fail(QStringLiteral("only http and https pages are analysed, not \"%1\"").arg(value.trimmed()));
    if (!url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("not a valid page address: \"%1\"").arg(value.trimmed()));
    return url;
}

QByteArray directMediaAnswer(AnswerKind kind, QByteArrayView mimeType, const QUrl& address, const QString& parent) {
    const QString ext = urlExtension(address);
    const bool vague = mimeTypeIsVague(mimeType);
    bool fits = false;
    switch (kind) {
    case AnswerKind::Pictures:
        fits = mimeType.startsWith("image/") || (vague && isPictureExtension(ext));
        if (fits)
            return formatPictureAnswer({{address.toString(QUrl::FullyEncoded), originalNameOf(address), {}, {}}},
                                       parent);
        return {};
    case AnswerKind::Sounds:
        fits = mimeType.startsWith("audio/") || ((vague || mimeType == "application/ogg") && isSoundExtension(ext));
        break;
    case AnswerKind::Videos:
        fits = mimeType.startsWith("video/") || ((vague || mimeType == "application/ogg") && isVideoExtension(ext));
        break;
    }
    if (!fits)
        return {};
    return formatMediaAnswer({{address.toString(QUrl::FullyEncoded), originalNameOf(address)}}, parent);
}

// ================================================================= service

struct PageAnalysisService::Impl {
    FetchOptions fetchOptions;
    std::atomic<bool> cancelled{false};
    std::function<void(const QString&)> logger;
    std::unique_ptr<TolerantHttpServer> server;
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
            return fetchPage(*url, options);
        } catch (const FetchError& e) {
            answerError(res, e.kind() == FetchError::Kind::RefusedAddress ? 400 : 502, QString::fromUtf8(e.what()));
            return std::nullopt;
        }
    }

    void serve(Script script, const QByteArray& rawValue, httplib::Response& res) {
        const QString asked = QString::fromUtf8(rawValue).trimmed();
        const std::optional<FetchedPage> page = fetch(asked, res);
        if (!page)
            return;
        QByteArray answer;
        if (page->isHtml) {
            const QByteArray html = pageToUtf8(page->body, page->headerCharset);
            const QUrl& base = page->finalUrl;
            switch (script) {
            case Script::Images:
                answer = formatPictureAnswer(findPictures(html, base), asked);
                break;
            case Script::Sounds:
                answer = formatMediaAnswer(findMedia(html, base, MediaKind::Sound), asked);
                break;
            case Script::Videos:
                answer = formatMediaAnswer(findMedia(html, base, MediaKind::Video), asked);
                break;
            case Script::List:
                answer = formatListAnswer(findLinks(html, base));
                break;
            }
        } else {
            switch (script) {
            case Script::Images:
                answer = directMediaAnswer(AnswerKind::Pictures, page->mimeType, page->finalUrl, asked);
                break;
            case Script::Sounds:
                answer = directMediaAnswer(AnswerKind::Sounds, page->mimeType, page->finalUrl, asked);
                break;
            case Script::Videos:
                answer = directMediaAnswer(AnswerKind::Videos, page->mimeType, page->finalUrl, asked);
                break;
            case Script::List:
                break; // a file that is not a page has no links
            }
        }
        res.status = 200;
        res.set_content(answer.toStdString(), kPlainText);
    }

    void harvestRoute(const char* script, Script kind) {
        const std::string pattern = std::string(kScriptPath) + QByteArray(script).replace(".", "\\.").toStdString();
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
        server->new_task_queue = [] { return new httplib::ThreadPool(kServingThreads); };
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
        server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            QString what = QStringLiteral("internal error");
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = QStringLiteral("internal error: %1").arg(QString::fromUtf8(e.what()));
            } catch (...) {
            }
            answerError(res, 500, what);
        });
        server->set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
            t_requestStart = std::chrono::steady_clock::now();
            return httplib::Server::HandlerResponse::Unhandled;
        });
        if (logger) {
            server->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
                QString elapsed = QStringLiteral("-");
                if (t_requestStart) {
                    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - *t_requestStart);
                    elapsed = QString::number(ms.count());
                    t_requestStart.reset();
                }
                logger(QStringLiteral("%1 %2 %3 %4 B %5 ms")
                           .arg(QString::fromStdString(req.method),
                                cleanField(QString::fromUtf8(req.target.data(), qsizetype(req.target.size()))))
                           .arg(res.status)
                           .arg(qulonglong(res.body.size()))
                           .arg(elapsed));
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
    d->listenReturned = false;
    d->server = std::make_unique<TolerantHttpServer>();
    d->configure();
    const std::string hostName = host.toStdString();
    const int bound = port == 0 ? d->server->bind_to_any_port(hostName)
                                : (d->server->bind_to_port(hostName, port) ? port : -1);
    if (bound <= 0) {
        d->server.reset();
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

void PageAnalysisService::stop() {
    if (!d->server)
        return;
    d->cancelled = true;
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->server.reset();
    d->port = 0;
}

} // namespace skarvel
