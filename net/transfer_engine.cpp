#include "net/transfer_engine.h"

#include "common/file_ops.h"
#include "net/user_agent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>
#include <QUrl>

#include <curl/curl.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace skarvel {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

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

// The raw value of a header of the last answer; null when the answer did not carry it.
const char* lastAnswerHeaderRaw(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
        return nullptr;
    return header->value;
}

// Every value of a header that the last answer carried, joined by ", " as HTTP allows.
QString allAnswerHeaders(CURL* easy, const char* name) {
    QStringList values;
    size_t amount = 0;
    for (size_t index = 0;; ++index) {
        curl_header* header = nullptr;
        if (curl_easy_header(easy, name, index, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
            break;
        amount = header->amount;
        values << headerText(header->value);
        if (index + 1 >= amount)
            break;
    }
    return values.join(QStringLiteral(", "));
}

QString lastAnswerHeader(CURL* easy, const char* name) {
    const char* value = lastAnswerHeaderRaw(easy, name);
    return value ? headerText(value) : QString();
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

QString hostKeyOf(const QString& url) {
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    const int port = parsed.port(scheme == QLatin1String("https") ? 443 : 80);
    return scheme + QLatin1String("://") + parsed.host().toLower() + QLatin1Char(':') + QString::number(port);
}

std::atomic<quint64> temporaryFileSerial{0};

// Requests a caller may queue per transfer slot while others wait out a Retry-After.
constexpr size_t kParkedPerSlot = 32;

} // namespace

std::optional<std::chrono::seconds> parseRetryAfter(QByteArrayView value,
                                                    std::chrono::system_clock::time_point now) {
    const QByteArray text = value.trimmed().toByteArray();
    if (text.isEmpty())
        return std::nullopt;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool ok = false;
        const qlonglong seconds = text.toLongLong(&ok);
        // Longer than any wait we would honour.
        return std::chrono::seconds(ok ? seconds : std::numeric_limits<int>::max());
    }
    const time_t when = curl_getdate(text.constData(), nullptr);
    if (when < 0)
        return std::nullopt;
    const auto wait = std::chrono::system_clock::from_time_t(when) - now;
    return std::max(std::chrono::seconds(0), std::chrono::ceil<std::chrono::seconds>(wait));
}

bool keepBodyFile(TransferResult& result, const QString& finalPath, QString* error) {
    if (result.bodyFile.isEmpty()) {
        if (error)
            *error = QStringLiteral("no body file to keep");
        return false;
    }
    QString why;
    if (!RenameOver(result.bodyFile, finalPath, &why)) {
        if (error)
            *error = QStringLiteral("cannot move the body to %1: %2").arg(finalPath, why);
        return false;
    }
    result.bodyFile.clear();
    return true;
}

// One request from submit to completion; its easy handle and body file live as long as it runs.
struct Transfer {
    quint64 id = 0;
    TransferRequest request;
    TransferOptions options;
    QString hostKey;
    QByteArray address;
    QByteArray userAgent;
    EasyPtr easy;
    SlistPtr headers;
    char errorText[CURL_ERROR_SIZE] = {};
    Clock::time_point notBefore{};
    int attempts = 0;
    // The answer that asked for the wait this transfer is in; what it ends with when the wait is cut.
    std::optional<TransferResult> answerBeforeRetry;

    QByteArray body;
    QString temporaryPath;
    std::unique_ptr<QFile> file;
    qint64 received = 0;
    bool truncated = false;
    bool stopped = false;
    bool errorStatus = false;
    bool writeFailed = false;
    QString writeError;

    ~Transfer() { dropFile(); }

    void dropFile() {
        if (file) {
            file->close();
            file.reset();
        }
        if (!temporaryPath.isEmpty())
            QFile::remove(temporaryPath);
        temporaryPath.clear();
    }

    // A fresh file for each attempt: a retried transfer never appends to the first answer.
    bool openFile() {
        dropFile();
        const QDir folder(request.bodyFolder);
        auto candidate = std::make_unique<QFile>();
        const auto nextName = [&folder] {
            return folder.filePath(QStringLiteral("skarvel-%1-%2.part")
                                       .arg(static_cast<qint64>(::getpid()))
                                       .arg(++temporaryFileSerial));
        };
        if (!OpenNewFile(*candidate, nextName, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            writeError = QStringLiteral("cannot create a file in %1: %2")
                             .arg(request.bodyFolder, candidate->errorString());
            return false;
        }
        temporaryPath = candidate->fileName();
        file = std::move(candidate);
        return true;
    }

    void resetAttempt() {
        body.clear();
        received = 0;
        truncated = stopped = errorStatus = writeFailed = false;
        writeError.clear();
        errorText[0] = '\0';
    }

    size_t take(const char* data, size_t bytes) {
        long status = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        // The body of a redirect describes nothing the caller asked for.
        if (status >= 300 && status < 400)
            return bytes;
        if (status >= 400) {
            errorStatus = true;
            return 0; // an error page is not worth reading
        }
        size_t taken = bytes;
        if (options.maxBodyBytes >= 0 && received + static_cast<qint64>(bytes) > options.maxBodyBytes) {
            taken = static_cast<size_t>(std::max<qint64>(0, options.maxBodyBytes - received));
            truncated = true;
        }
        if (taken > 0) {
            if (request.sink) {
                const char* type = nullptr;
                curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_TYPE, &type);
                const bool goOn = request.sink(QByteArrayView(data, static_cast<qsizetype>(taken)),
                                               QByteArrayView(type ? type : ""));
                received += static_cast<qint64>(taken);
                if (!goOn) {
                    stopped = true;
                    return 0;
                }
            } else if (file) {
                if (file->write(data, static_cast<qint64>(taken)) != static_cast<qint64>(taken)) {
                    writeFailed = true;
                    writeError =
                        QStringLiteral("cannot write %1: %2").arg(temporaryPath, file->errorString());
                    return 0;
                }
                received += static_cast<qint64>(taken);
            } else {
                body.append(data, static_cast<qsizetype>(taken));
                received += static_cast<qint64>(taken);
            }
        }
        return truncated ? 0 : bytes;
    }

    // libcurl's callbacks are C: nothing may be thrown through them.
    static size_t onBody(char* data, size_t size, size_t count, void* self) noexcept {
        auto* transfer = static_cast<Transfer*>(self);
        try {
            return transfer->take(data, size * count);
        } catch (const std::exception& e) {
            transfer->writeFailed = true;
            transfer->writeError = QString::fromUtf8(e.what());
        } catch (...) {
            transfer->writeFailed = true;
            transfer->writeError = QStringLiteral("the body could not be taken");
        }
        return 0;
    }

    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
        const auto* cancelled = static_cast<Transfer*>(self)->options.cancelled;
        return cancelled && cancelled->load() ? 1 : 0;
    }
};

struct TransferEngine::Impl {
    TransferEngine* owner = nullptr;
    MultiPtr multi;
    quint64 lastId = 0;
    std::deque<std::unique_ptr<Transfer>> waiting;
    std::map<CURL*, std::unique_ptr<Transfer>> running;
    // Ended transfers whose completion has not run yet.
    std::deque<std::pair<std::unique_ptr<Transfer>, TransferResult>> ready;
    std::unordered_map<QString, int> perHost;
    // A host that asked us to wait gets no new transfer before then.
    std::unordered_map<QString, Clock::time_point> hostPausedUntil;
    std::vector<EasyPtr> spareHandles;

    EasyPtr takeHandle() {
        if (spareHandles.empty())
            return EasyPtr(curl_easy_init());
        EasyPtr easy = std::move(spareHandles.back());
        spareHandles.pop_back();
        return easy;
    }

    void returnHandle(EasyPtr easy) {
        if (!easy)
            return;
        // curl_easy_reset keeps the cookies and (libcurl 7.88) drops the cookie-file list unfreed;
        // clearing the cookie file frees both, so the next transfer on this handle starts without.
        curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, static_cast<const char*>(nullptr));
        curl_easy_reset(easy.get());
        if (spareHandles.size() < 16)
            spareHandles.push_back(std::move(easy));
    }

    // Waiting out a Retry-After, its own or its host's.
    bool parked(const Transfer& t, Clock::time_point now) const {
        if (t.notBefore > now)
            return true;
        if (hostPausedUntil.empty())
            return false;
        const auto paused = hostPausedUntil.find(t.hostKey);
        return paused != hostPausedUntil.end() && paused->second > now;
    }

    bool hostHasRoom(const Transfer& t, Clock::time_point now) const {
        const auto count = perHost.find(t.hostKey);
        if (count != perHost.end() && count->second >= owner->m_limits.maxTransfersPerHost)
            return false;
        const auto paused = hostPausedUntil.find(t.hostKey);
        return paused == hostPausedUntil.end() || paused->second <= now;
    }

    void startReady() {
        const auto now = Clock::now();
        std::erase_if(hostPausedUntil, [now](const auto& entry) { return entry.second <= now; });
        for (auto it = waiting.begin();
             it != waiting.end() && static_cast<int>(running.size()) < owner->m_limits.maxTransfers;) {
            Transfer& t = **it;
            if (t.notBefore > now || !hostHasRoom(t, now)) {
                ++it;
                continue;
            }
            std::unique_ptr<Transfer> transfer = std::move(*it);
            it = waiting.erase(it);
            start(std::move(transfer));
        }
    }

    void failEarly(std::unique_ptr<Transfer> t, TransferFailure failure, const QString& text) {
        TransferResult result;
        result.id = t->id;
        result.url = t->request.url;
        result.attempts = t->attempts;
        result.failure = failure;
        result.error = text;
        t->dropFile();
        ready.emplace_back(std::move(t), std::move(result));
    }

    void start(std::unique_ptr<Transfer> t) {
        ++t->attempts;
        t->answerBeforeRetry.reset();
        t->resetAttempt();
        if (t->request.url.contains(QChar(0)))
            return failEarly(std::move(t), TransferFailure::Connection,
                             QStringLiteral("address holds a zero character"));
        if (!t->request.bodyFolder.isEmpty() && !t->request.sink && !t->openFile()) {
            // Read before the move: the order in which arguments are evaluated is unspecified.
            const QString error = t->writeError;
            return failEarly(std::move(t), TransferFailure::WriteError, error);
        }
        if (!t->easy)
            t->easy = takeHandle();
        if (!t->easy)
            return failEarly(std::move(t), TransferFailure::Connection,
                             QStringLiteral("cannot create an HTTP transfer"));
        configure(*t);
        CURL* easy = t->easy.get();
        if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
            return failEarly(std::move(t), TransferFailure::Connection,
                             QStringLiteral("cannot start an HTTP transfer"));
        ++perHost[t->hostKey];
        running.emplace(easy, std::move(t));
    }

    void configure(Transfer& t) {
        CURL* easy = t.easy.get();
        const TransferOptions& o = t.options;
        const char* protocols = o.tls ? "http,https" : "http";

        curl_slist* list = nullptr;
        const auto append = [&list](const QByteArray& line) {
            if (curl_slist* grown = curl_slist_append(list, line.constData()))
                list = grown;
        };
        if (!o.accept.isEmpty())
            append(QByteArrayLiteral("Accept: ") + o.accept);
        // Without this curl may wait for a 100 Continue before sending a larger form.
        append(QByteArrayLiteral("Expect:"));
        if (t.request.form)
            append(QByteArrayLiteral("Content-Type: application/x-www-form-urlencoded"));
        for (const QByteArray& line : o.extraHeaders)
            append(line);
        t.headers.reset(list);

        curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorText);
        curl_easy_setopt(easy, CURLOPT_URL, t.address.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // Proxies from the environment are not ours to use.
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_USERAGENT, t.userAgent.constData());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers.get());
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, o.followRedirects ? 1L : 0L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, o.maxRedirects);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(o.connectTimeout.count()));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(o.stallTimeout.count()));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(o.totalTimeout.count()));
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 64L * 1024);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
        if (o.cancelled) {
            curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
            curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
        }
        if (o.tls) {
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        }
        if (o.acceptEncoding)
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        if (o.cookiesAndReferer) {
            curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
            curl_easy_setopt(easy, CURLOPT_AUTOREFERER, 1L);
        }
        if (t.request.form) {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(t.request.form->size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, t.request.form->constData());
        } else {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        }
    }

    // The wait before the single retry of a 429 or 503 answer: what its Retry-After asks, cut to the
    // bound; none when there is nothing readable to honour.
    std::optional<std::chrono::seconds> retryWait(const Transfer& t, long status) const {
        if ((status != 429 && status != 503) || t.attempts > 1 || t.options.maxRetryAfter.count() <= 0 ||
            owner->aborted() || owner->m_noRetryWaits)
            return std::nullopt;
        const char* value = lastAnswerHeaderRaw(t.easy.get(), "Retry-After");
        if (!value)
            return std::nullopt;
        const auto wait = parseRetryAfter(value);
        if (!wait)
            return std::nullopt;
        return std::min(*wait, t.options.maxRetryAfter);
    }

    // The connection closed or reset after the request went out and before the answer's end.
    static bool answerBrokeOff(CURLcode code) {
        return code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING;
    }

    // Where the options ask for it, a broken answer is asked for once more at once, in the slot it leaves.
    bool sendAgainAfterBreak(std::unique_ptr<Transfer>& t, CURLcode code) {
        if (!t->options.retryBrokenAnswer || !answerBrokeOff(code) || t->attempts > 1 || t->request.sink ||
            owner->aborted() || owner->m_noRetryWaits)
            return false;
        start(std::move(t));
        return true;
    }

    // A transfer has ended: a broken answer may be asked for again; otherwise the answer becomes a
    // result that either waits out a Retry-After for the one retry or goes to the completion.
    void finish(CURL* easy, CURLcode code) {
        std::unique_ptr<Transfer> t = takeRunning(easy);
        if (!t || sendAgainAfterBreak(t, code))
            return;
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        TransferResult r = resultOf(*t, easy, status);
        noteTransferFailure(r, *t, code);
        noteAnswerFailure(r, easy, status);
        if (r.ok() && !r.redirectLimitReached && !isRedirectStatus(status))
            readAnswer(r, *t, easy);
        const std::optional<std::chrono::seconds> wait = retryWait(*t, status);
        if (wait && r.failure == TransferFailure::HttpStatus)
            parkForRetry(std::move(t), std::move(r), *wait);
        else
            handOver(std::move(t), std::move(r));
    }

    // Takes the ended transfer out of the multi handle and its host's count.
    std::unique_ptr<Transfer> takeRunning(CURL* easy) {
        const auto found = running.find(easy);
        if (found == running.end())
            return nullptr;
        std::unique_ptr<Transfer> t = std::move(found->second);
        running.erase(found);
        curl_multi_remove_handle(multi.get(), easy);
        --perHost[t->hostKey];
        return t;
    }

    // What every result carries, whatever the outcome.
    static TransferResult resultOf(const Transfer& t, CURL* easy, long status) {
        TransferResult r;
        r.id = t.id;
        r.url = t.request.url;
        r.attempts = t.attempts;
        r.status = static_cast<int>(status);
        r.bytesReceived = t.received;
        r.truncated = t.truncated;
        r.stoppedBySink = t.stopped;
        const char* effective = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
            r.finalUrl = QString::fromUtf8(effective);
        return r;
    }

    // The failure that libcurl's outcome means, if any.
    static void noteTransferFailure(TransferResult& r, const Transfer& t, CURLcode code) {
        const QString detail =
            t.errorText[0] ? QString::fromUtf8(t.errorText) : QString::fromUtf8(curl_easy_strerror(code));
        switch (code) {
        case CURLE_OK:
            break;
        case CURLE_PARTIAL_FILE: // a body cut short is kept; the caller compares its size with the declared
                                 // length, unless the options count it a failure
            if (t.options.retryBrokenAnswer) {
                r.failure = TransferFailure::Connection;
                r.error = QStringLiteral("%1: %2").arg(r.url, detail);
            }
            break;
        case CURLE_TOO_MANY_REDIRECTS:
            r.redirectLimitReached = true;
            break;
        case CURLE_WRITE_ERROR:
            // Also how the body callback's own stops end (error page, size cap, sink): those are no failure.
            if (t.writeFailed) {
                r.failure = TransferFailure::WriteError;
                r.error = t.writeError;
            } else if (!t.errorStatus && !t.truncated && !t.stopped) {
                r.failure = TransferFailure::WriteError;
                r.error = QStringLiteral("%1: %2").arg(r.url, detail);
            }
            break;
        case CURLE_ABORTED_BY_CALLBACK:
            r.failure = TransferFailure::Aborted;
            r.error = QStringLiteral("request aborted");
            break;
        case CURLE_OPERATION_TIMEDOUT:
            r.failure = TransferFailure::TimedOut;
            r.error = QStringLiteral("%1: %2").arg(r.url, detail);
            break;
        default:
            r.failure = TransferFailure::Connection;
            r.error = QStringLiteral("%1: %2").arg(r.url, detail);
            break;
        }
    }

    // The failure that a complete answer means: an error status, or a redirect with nowhere to go.
    static void noteAnswerFailure(TransferResult& r, CURL* easy, long status) {
        if (!r.ok())
            return;
        if (status >= 400) {
            r.failure = TransferFailure::HttpStatus;
            r.error = QStringLiteral("%1: HTTP status %2").arg(r.url).arg(status);
            r.retryAfter = lastAnswerHeader(easy, "Retry-After");
        } else if (isRedirectStatus(status) && !r.redirectLimitReached &&
                   !lastAnswerHeaderRaw(easy, "Location")) {
            r.failure = TransferFailure::RedirectWithoutTarget;
            r.error = QStringLiteral("%1: redirect (HTTP %2) without a target").arg(r.url).arg(status);
        }
    }

    // The head and the body of an answer that is the page or file asked for.
    static void readAnswer(TransferResult& r, Transfer& t, CURL* easy) {
        const char* rawType = lastAnswerHeaderRaw(easy, "Content-Type");
        r.rawContentType = rawType ? QByteArray(rawType).trimmed() : QByteArray();
        splitContentType(rawType ? headerText(rawType) : QString(), &r.contentType, &r.charset);
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
            r.contentLength = length;
        r.contentDisposition = lastAnswerHeader(easy, "Content-Disposition");
        r.contentSecurityPolicy = allAnswerHeaders(easy, "Content-Security-Policy");
        r.body = std::move(t.body);
    }

    // Back to the queue until the wait is over (its host waits too); the answer is kept for a cut wait.
    void parkForRetry(std::unique_ptr<Transfer> t, TransferResult r, std::chrono::seconds wait) {
        t->notBefore = Clock::now() + wait;
        auto& paused = hostPausedUntil[t->hostKey];
        paused = std::max(paused, t->notBefore);
        t->answerBeforeRetry = std::move(r);
        t->dropFile();
        waiting.push_front(std::move(t));
    }

    // The result goes to the completion, with the body file of a good answer; the handle is reused.
    void handOver(std::unique_ptr<Transfer> t, TransferResult r) {
        if (t->file) {
            t->file->close();
            t->file.reset();
        }
        if (r.ok() && !t->temporaryPath.isEmpty()) {
            r.bodyFile = t->temporaryPath;
            t->temporaryPath.clear(); // from here the result owns it
        }
        t->dropFile();
        t->headers.reset();
        returnHandle(std::move(t->easy));
        ready.emplace_back(std::move(t), std::move(r));
    }

    void collectFinished() {
        std::vector<std::pair<CURL*, CURLcode>> ended;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE)
                ended.emplace_back(message->easy_handle, message->data.result);
        }
        for (const auto& [easy, code] : ended)
            finish(easy, code);
    }

    void abortAll() {
        for (auto& [easy, t] : running) {
            curl_multi_remove_handle(multi.get(), easy);
            --perHost[t->hostKey];
            t->dropFile();
            returnHandle(std::move(t->easy));
            failEarly(std::move(t), TransferFailure::Aborted, QStringLiteral("request aborted"));
        }
        running.clear();
        while (!waiting.empty()) {
            std::unique_ptr<Transfer> t = std::move(waiting.front());
            waiting.pop_front();
            failEarly(std::move(t), TransferFailure::Aborted, QStringLiteral("request aborted"));
        }
    }

    // Transfers waiting out a Retry-After end with the answer that asked for it.
    void endRetryWaits() {
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (!(*it)->answerBeforeRetry) {
                ++it;
                continue;
            }
            std::unique_ptr<Transfer> t = std::move(*it);
            it = waiting.erase(it);
            TransferResult r = std::move(*t->answerBeforeRetry);
            t->answerBeforeRetry.reset();
            returnHandle(std::move(t->easy));
            ready.emplace_back(std::move(t), std::move(r));
        }
        hostPausedUntil.clear();
    }

    // Runs the completions of ended transfers, one at a time, so that one that throws leaves the rest queued.
    int deliver() {
        int delivered = 0;
        while (!ready.empty()) {
            auto [transfer, result] = std::move(ready.front());
            ready.pop_front();
            ++delivered;
            struct RemoveUnkept {
                TransferResult& r;
                ~RemoveUnkept() {
                    if (!r.bodyFile.isEmpty())
                        QFile::remove(r.bodyFile);
                }
            } removeUnkept{result};
            if (transfer->request.done)
                transfer->request.done(result);
        }
        return delivered;
    }

    std::chrono::milliseconds nextWait(Clock::time_point deadline) const {
        const auto now = Clock::now();
        auto until = deadline;
        for (const auto& t : waiting) {
            if (t->notBefore > now)
                until = std::min(until, t->notBefore);
        }
        for (const auto& [host, when] : hostPausedUntil) {
            if (when > now)
                until = std::min(until, when);
        }
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        // A cancelled flag is only read by the transfers themselves; look more often while one is set.
        for (const auto& [easy, t] : running) {
            if (t->options.cancelled) {
                wait = std::min(wait, std::chrono::milliseconds(100));
                break;
            }
        }
        return std::max(std::chrono::milliseconds(0), wait);
    }
};

TransferEngine::TransferEngine(const Limits& limits, const TransferOptions& defaults)
    : m_limits(limits), m_defaults(defaults), d(std::make_unique<Impl>()) {
    m_limits.maxTransfers = std::max(1, m_limits.maxTransfers);
    m_limits.maxTransfersPerHost = std::max(1, m_limits.maxTransfersPerHost);
    initCurlOnce();
    d->owner = this;
    d->multi.reset(curl_multi_init());
    if (!d->multi)
        throw std::runtime_error("cannot create an HTTP transfer engine");
    curl_multi_setopt(d->multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS,
                      static_cast<long>(m_limits.maxTransfers));
    curl_multi_setopt(d->multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS,
                      static_cast<long>(m_limits.maxTransfersPerHost));
    curl_multi_setopt(d->multi.get(), CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
}

TransferEngine::~TransferEngine() {
    // Handles leave the multi handle before it goes; their completions do not run.
    for (auto& [easy, t] : d->running)
        curl_multi_remove_handle(d->multi.get(), easy);
    d->running.clear();
    for (auto& [transfer, result] : d->ready) {
        if (!result.bodyFile.isEmpty())
            QFile::remove(result.bodyFile);
    }
}

quint64 TransferEngine::submit(TransferRequest request) {
    auto t = std::make_unique<Transfer>();
    t->id = ++d->lastId;
    t->options = request.options ? *request.options : m_defaults;
    t->request = std::move(request);
    t->hostKey = hostKeyOf(t->request.url);
    t->address = t->request.url.toUtf8();
    t->userAgent =
        t->options.userAgent.isEmpty() ? effectiveUserAgent(kDefaultUserAgent) : t->options.userAgent;
    const quint64 id = t->id;
    d->waiting.push_back(std::move(t));
    return id;
}

int TransferEngine::wanted() const {
    const auto limit = static_cast<size_t>(m_limits.maxTransfers);
    const size_t parkedRoom = limit * kParkedPerSlot;
    if (d->ready.size() >= limit || d->waiting.size() >= parkedRoom)
        return 0;
    // Only requests that may start as soon as a slot frees count against the caller.
    size_t startable = d->ready.size();
    if (!d->waiting.empty()) {
        const auto now = Clock::now();
        for (const auto& t : d->waiting) {
            if (!d->parked(*t, now) && ++startable >= limit)
                return 0;
        }
    }
    return static_cast<int>(std::min(limit - startable, parkedRoom - d->waiting.size()));
}

bool TransferEngine::wantsMore() const {
    return wanted() > 0;
}

int TransferEngine::pending() const {
    return static_cast<int>(d->waiting.size() + d->running.size() + d->ready.size());
}

int TransferEngine::pump(std::chrono::milliseconds maxWait) {
    const auto deadline = Clock::now() + maxWait;
    for (;;) {
        if (m_aborted)
            d->abortAll();
        if (m_noRetryWaits)
            d->endRetryWaits();
        if (!d->ready.empty())
            return d->deliver();
        d->startReady();
        int stillRunning = 0;
        curl_multi_perform(d->multi.get(), &stillRunning);
        d->collectFinished();
        if (!d->ready.empty())
            return d->deliver();
        if (m_woken.exchange(false) || Clock::now() >= deadline || (d->running.empty() && d->waiting.empty()))
            return 0;
        const auto wait = d->nextWait(deadline);
        curl_multi_poll(d->multi.get(), nullptr, 0, static_cast<int>(std::min<qint64>(wait.count(), INT_MAX)),
                        nullptr);
    }
}

void TransferEngine::runUntilIdle() {
    while (!idle())
        pump(std::chrono::milliseconds(1000));
}

void TransferEngine::abort() {
    m_aborted = true;
    curl_multi_wakeup(d->multi.get());
}

void TransferEngine::wake() {
    m_woken = true;
    curl_multi_wakeup(d->multi.get());
}

void TransferEngine::endRetryWaits() {
    m_noRetryWaits = true;
    curl_multi_wakeup(d->multi.get());
}

void TransferEngine::resetAbort() {
    m_aborted = false;
    m_noRetryWaits = false;
}

} // namespace skarvel
