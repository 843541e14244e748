#include "service/page_fetcher.h"

#include "common/charset_decoder.h"
#include "net/transfer_thread.h"
#include "net/user_agent.h"

#include <QStringDecoder>

#include <cctype>
#include <cstring>
#include <optional>

namespace skarvel {

FetchError::FetchError(Kind kind, const QString& message)
    : std::runtime_error(message.toStdString()), m_kind(kind) {}

namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

QByteArray mimeTypeOf(QByteArrayView contentType) {
    const qsizetype semicolon = contentType.indexOf(';');
    return contentType.first(semicolon < 0 ? contentType.size() : semicolon)
        .trimmed()
        .toByteArray()
        .toLower();
}

// Types that do not tell whether the body is a page: text/plain and the octet-streams are sent
// for pages too, so the first bytes decide.
bool mimeTypeMayHideHtml(QByteArrayView mimeType) {
    return mimeType.isEmpty() || mimeType == "text/plain" || mimeType == "application/octet-stream" ||
           mimeType == "binary/octet-stream" || mimeType == "unknown/unknown" ||
           mimeType == "application/unknown";
}

// Keeps HTML up to the size cap and stops anything else as soon as it is recognised.
struct PageSniffer {
    QByteArray body;
    std::optional<bool> isHtml;

    static constexpr qsizetype kSniffBytes = 512;

    bool take(QByteArrayView piece, QByteArrayView contentType) {
        if (isHtml == false)
            return false;
        body.append(piece);
        const QByteArray mimeType = mimeTypeOf(contentType);
        if (!isHtml && (body.size() >= kSniffBytes || !mimeTypeMayHideHtml(mimeType)))
            isHtml = looksLikeHtml(mimeType, body);
        return isHtml != false;
    }
};

// ---------------------------------------------------------------- charsets

// WHATWG label aliases where the plain name would pick a narrower code page.
QByteArray canonicalCharset(QByteArray label) {
    label = label.trimmed().toLower();
    static const std::pair<const char*, const char*> aliases[] = {
        {"iso-8859-1", "windows-1252"},
        {"iso8859-1", "windows-1252"},
        {"latin1", "windows-1252"},
        {"l1", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"ascii", "windows-1252"},
        {"cp1252", "windows-1252"},
        {"x-cp1252", "windows-1252"},
        {"iso_8859-1", "windows-1252"},
        {"cp819", "windows-1252"},
        {"ibm819", "windows-1252"},
        {"iso-ir-100", "windows-1252"},
        {"csisolatin1", "windows-1252"},
        {"ansi_x3.4-1968", "windows-1252"},
        {"iso-8859-9", "windows-1254"},
        {"latin5", "windows-1254"},
        {"iso-8859-11", "windows-874"},
        {"tis-620", "windows-874"},
        {"gb2312", "GBK"},
        {"gb_2312-80", "GBK"},
        {"x-gbk", "GBK"},
        {"csgb2312", "GBK"},
        {"chinese", "GBK"},
        {"x-sjis", "Shift_JIS"},
        {"sjis", "Shift_JIS"},
        {"shift-jis", "Shift_JIS"},
        {"ms932", "windows-31j"},
        {"ms_kanji", "Shift_JIS"},
        {"utf8", "UTF-8"},
        {"unicode-1-1-utf-8", "UTF-8"},
        {"x-user-defined", "windows-1252"},
        {"cp1251", "windows-1251"},
        {"x-cp1251", "windows-1251"},
    };
    for (const auto& [from, to] : aliases) {
        if (label == from)
            return to;
    }
    return label;
}

bool isUtf8Name(const QByteArray& name) {
    return name.compare("utf-8", Qt::CaseInsensitive) == 0;
}

std::optional<CharsetDecoder> decoderFor(const QByteArray& name) {
    if (name.isEmpty())
        return std::nullopt;
    CharsetDecoder decoder(name);
    if (!decoder.isValid())
        return std::nullopt;
    return decoder;
}

bool isValidUtf8(QByteArrayView bytes) {
    // stateful: a character cut at the end of a truncated page is not an error
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes); // decode() is lazy until converted
    return !decoder.hasError();
}

QByteArray decodeToUtf8(CharsetDecoder& decoder, QByteArrayView bytes) {
    const QString text = decoder.decode(bytes);
    return text.toUtf8();
}

// Prescan helpers: positions in a lower-cased copy of the page's first bytes.
qsizetype skipSpaces(const QByteArray& s, qsizetype i) {
    while (i < s.size() && (isAsciiSpace(s[i]) || s[i] == '/'))
        ++i;
    return i;
}

// Reads one attribute at i; returns false at the end of the tag.
bool readAttribute(const QByteArray& s, qsizetype& i, QByteArray& name, QByteArray& value) {
    name.clear();
    value.clear();
    i = skipSpaces(s, i);
    if (i >= s.size() || s[i] == '>')
        return false;
    while (i < s.size() && !isAsciiSpace(s[i]) && s[i] != '=' && s[i] != '>' &&
           !(s[i] == '/' && !name.isEmpty()))
        name += s[i++];
    while (i < s.size() && isAsciiSpace(s[i]))
        ++i;
    if (i >= s.size() || s[i] != '=')
        return true;
    ++i;
    while (i < s.size() && isAsciiSpace(s[i]))
        ++i;
    if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const char quote = s[i++];
        while (i < s.size() && s[i] != quote)
            value += s[i++];
        ++i;
    } else {
        while (i < s.size() && !isAsciiSpace(s[i]) && s[i] != '>')
            value += s[i++];
    }
    return true;
}

QByteArray charsetFromMetaContent(const QByteArray& content) {
    qsizetype i = 0;
    while ((i = content.indexOf("charset", i)) >= 0) {
        i += 7;
        while (i < content.size() && isAsciiSpace(content[i]))
            ++i;
        if (i >= content.size() || content[i] != '=')
            continue;
        ++i;
        while (i < content.size() && isAsciiSpace(content[i]))
            ++i;
        QByteArray value;
        if (i < content.size() && (content[i] == '"' || content[i] == '\'')) {
            const char quote = content[i++];
            const qsizetype end = content.indexOf(quote, i);
            if (end < 0)
                return {};
            value = content.mid(i, end - i);
        } else {
            while (i < content.size() && !isAsciiSpace(content[i]) && content[i] != ';')
                value += content[i++];
        }
        return value;
    }
    return {};
}

constexpr qsizetype kPrescanBytes = 8192;

} // namespace

// ==================================================================== fetch

// One engine for every page fetched: connections are shared and no site gets more
// than its per-host limit, however many pages are asked at once.
PageFetcher::PageFetcher() : m_transfers(std::make_unique<TransferThread>(TransferLimits{16, 6})) {}

PageFetcher::~PageFetcher() = default;

FetchedPage PageFetcher::fetch(const QUrl& url, const FetchOptions& options) const {
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))
        throw FetchError(
            FetchError::Kind::RefusedAddress,
            QStringLiteral("only http and https addresses are fetched, not \"%1\"").arg(url.toString()));
    if (url.host().isEmpty())
        throw FetchError(FetchError::Kind::RefusedAddress, QStringLiteral("address without a host"));

    const QByteArray address = url.toEncoded(QUrl::RemoveFragment);
    TransferOptions transfer;
    transfer.followRedirects = true;
    transfer.maxRedirects = options.maxRedirects;
    // pages are read the way the program's download jobs read them: no certificate checks
    transfer.tls = true;
    transfer.connectTimeout = std::chrono::seconds(options.connectTimeoutSeconds);
    transfer.stallTimeout = std::chrono::seconds(options.stallTimeoutSeconds);
    transfer.totalTimeout = std::chrono::seconds(options.totalTimeoutSeconds);
    transfer.maxBodyBytes = options.maxBytes;
    transfer.userAgent = effectiveUserAgent(options.userAgent);
    transfer.accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    transfer.extraHeaders = {QByteArrayLiteral("Accept-Language: en-US,en;q=0.8,*;q=0.5")};
    transfer.acceptEncoding = true;
    transfer.cookiesAndReferer = true;
    transfer.maxRetryAfter = std::chrono::seconds(options.maxRetryAfterSeconds);
    transfer.cancelled = options.cancelled;

    PageSniffer sniffer;
    TransferRequest request;
    request.url = QString::fromLatin1(address);
    request.options = transfer;
    request.sink = [&sniffer](QByteArrayView piece, QByteArrayView contentType) {
        return sniffer.take(piece, contentType);
    };
    const TransferResult result = m_transfers->perform(std::move(request));

    const auto failed = [&](const QString& reason) {
        return FetchError(FetchError::Kind::Upstream,
                          QStringLiteral("cannot fetch %1: %2").arg(QString::fromLatin1(address), reason));
    };
    switch (result.failure) {
    case TransferFailure::None:
        break;
    case TransferFailure::HttpStatus:
        throw failed(QStringLiteral("the server answered HTTP %1").arg(result.status));
    default: {
        // the engine's text starts with the address, which the message already names
        QString reason = result.error;
        if (reason.startsWith(result.url + QStringLiteral(": ")))
            reason = reason.mid(result.url.size() + 2);
        throw failed(reason);
    }
    }
    if (result.redirectLimitReached)
        throw failed(QStringLiteral("more than %1 redirects").arg(options.maxRedirects));
    if (result.status < 200 || result.status > 299)
        throw failed(QStringLiteral("the server answered HTTP %1").arg(result.status));

    FetchedPage page;
    page.httpStatus = result.status;
    page.finalUrl = result.finalUrl.isEmpty() ? url : QUrl::fromEncoded(result.finalUrl.toUtf8());
    page.mimeType = mimeTypeOf(result.rawContentType);
    page.headerCharset = charsetFromContentType(result.rawContentType);
    page.contentSecurityPolicy = result.contentSecurityPolicy;
    page.isHtml = sniffer.isHtml ? *sniffer.isHtml : looksLikeHtml(page.mimeType, sniffer.body);
    page.truncated = result.truncated;
    page.body = std::move(sniffer.body);
    return page;
}

// ================================================================ charsets

QByteArray charsetFromContentType(QByteArrayView contentType) {
    const QByteArray lower = contentType.toByteArray().toLower();
    qsizetype i = 0;
    while ((i = lower.indexOf("charset", i)) >= 0) {
        const bool atParameter = i > 0 && (lower[i - 1] == ';' || isAsciiSpace(lower[i - 1]));
        i += 7;
        while (i < lower.size() && isAsciiSpace(lower[i]))
            ++i;
        if (!atParameter || i >= lower.size() || lower[i] != '=')
            continue;
        ++i;
        while (i < lower.size() && isAsciiSpace(lower[i]))
            ++i;
        qsizetype end = i;
        if (end < lower.size() && (lower[end] == '"' || lower[end] == '\'')) {
            const char quote = lower[end];
            ++i;
            end = lower.indexOf(quote, i);
            if (end < 0)
                end = lower.size();
        } else {
            while (end < lower.size() && lower[end] != ';' && !isAsciiSpace(lower[end]))
                ++end;
        }
        return contentType.sliced(i, end - i).toByteArray().trimmed();
    }
    return {};
}

QByteArray metaCharset(QByteArrayView head) {
    const QByteArray s = head.first(qMin(head.size(), kPrescanBytes)).toByteArray().toLower();
    qsizetype i = 0;
    while (i < s.size()) {
        if (s.mid(i, 4) == "<!--") {
            const qsizetype end = s.indexOf("-->", i + 4);
            if (end < 0)
                return {};
            i = end + 3;
            continue;
        }
        if (s.mid(i, 5) == "<meta" && i + 5 < s.size() && (isAsciiSpace(s[i + 5]) || s[i + 5] == '/')) {
            i += 5;
            QByteArray name;
            QByteArray value;
            QByteArray charset;
            QByteArray content;
            bool httpEquivContentType = false;
            while (readAttribute(s, i, name, value)) {
                if (name == "charset" && charset.isEmpty())
                    charset = value.trimmed();
                else if (name == "content" && content.isEmpty())
                    content = value;
                else if (name == "http-equiv")
                    httpEquivContentType = value.trimmed() == "content-type";
            }
            if (charset.isEmpty() && httpEquivContentType)
                charset = charsetFromMetaContent(content).trimmed();
            if (!charset.isEmpty())
                return charset;
            continue;
        }
        if (s[i] == '<' && i + 1 < s.size() &&
            (std::isalpha(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '/' || s[i + 1] == '!' ||
             s[i + 1] == '?')) {
            // skip a whole other tag so that its attribute values are not read as markup
            ++i;
            QByteArray name;
            QByteArray value;
            while (i < s.size() && !isAsciiSpace(s[i]) && s[i] != '>')
                ++i;
            while (readAttribute(s, i, name, value)) {
            }
            ++i;
            continue;
        }
        ++i;
    }
    return {};
}

QByteArray pageToUtf8(const QByteArray& body, QByteArrayView headerCharset, QByteArray* charsetUsed) {
    auto report = [&](const QByteArray& name) {
        if (charsetUsed)
            *charsetUsed = name;
    };
    // A byte-order mark outranks every declaration, as in browsers.
    if (body.startsWith("\xEF\xBB\xBF")) {
        report("UTF-8");
        return body.sliced(3);
    }
    if (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF")) {
        const bool little = body.startsWith("\xFF\xFE");
        CharsetDecoder decoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        report(little ? "UTF-16LE" : "UTF-16BE");
        return decodeToUtf8(decoder, QByteArrayView(body).sliced(2));
    }

    QByteArray chosen;
    std::optional<CharsetDecoder> decoder;
    const QByteArray fromHeader = canonicalCharset(headerCharset.toByteArray());
    if ((decoder = decoderFor(fromHeader))) {
        chosen = fromHeader;
    } else {
        QByteArray fromMeta = canonicalCharset(metaCharset(body));
        // a page that could be read to find the declaration is not UTF-16
        if (fromMeta.startsWith("utf-16"))
            fromMeta = "UTF-8";
        if ((decoder = decoderFor(fromMeta)))
            chosen = fromMeta;
    }
    if (chosen.isEmpty()) {
        chosen = isValidUtf8(body) ? QByteArray("UTF-8") : QByteArray("windows-1252");
        decoder = decoderFor(chosen);
    }
    report(chosen);
    if (isUtf8Name(chosen) || !decoder)
        return body; // shared, not copied; the HTML parser replaces any broken sequences itself
    return decodeToUtf8(*decoder, body);
}

// ============================================================ content sniff

bool looksLikeHtml(QByteArrayView mimeType, QByteArrayView body) {
    if (mimeType == "text/html" || mimeType == "application/xhtml+xml")
        return true;
    if (!mimeTypeMayHideHtml(mimeType))
        return false;
    qsizetype i = 0;
    if (body.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < body.size() && isAsciiSpace(body[i]))
        ++i;
    const QByteArray start = body.sliced(i, qMin<qsizetype>(body.size() - i, 16)).toByteArray().toLower();
    // the HTML signatures of the MIME sniffing rules
    static const char* const tags[] = {
        "<!doctype html", "<html",  "<head", "<script", "<iframe", "<h1", "<div", "<font", "<table", "<a",
        "<style",         "<title", "<b",    "<body",   "<br",     "<p",  "<!--"};
    for (const char* tag : tags) {
        const qsizetype len = qsizetype(std::strlen(tag));
        if (!start.startsWith(tag))
            continue;
        if (len == 4 && std::strcmp(tag, "<!--") == 0)
            return true;
        if (start.size() == len)
            return true; // the body ends right there
        const char next = start[len];
        if (isAsciiSpace(next) || next == '>')
            return true;
    }
    return false;
}

} // namespace skarvel
