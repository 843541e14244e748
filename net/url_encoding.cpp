#include "net/url_encoding.h"

namespace skarvel {

namespace {

bool isHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

bool startsEscape(const QString& text, qsizetype at) {
    return at + 2 < text.size() && isHexDigit(text[at + 1]) && isHexDigit(text[at + 2]);
}

void appendEscaped(QString& out, const QString& character) {
    static const char hex[] = "0123456789ABCDEF";
    for (const char byte : character.toUtf8()) {
        const auto b = static_cast<unsigned char>(byte);
        out += QLatin1Char('%');
        out += QLatin1Char(hex[b >> 4]);
        out += QLatin1Char(hex[b & 0x0F]);
    }
}

// Walks text by code point; keep(cp) decides what stays, the rest is escaped.
// With keepEscapes, a "%" followed by two hex digits stays as written.
template <typename Keep> void encodeInto(QString& out, const QString& text, bool keepEscapes, Keep keep) {
    for (qsizetype i = 0; i < text.size();) {
        if (keepEscapes && text[i] == QLatin1Char('%') && startsEscape(text, i)) {
            out += QStringView(text).mid(i, 3);
            i += 3;
            continue;
        }
        qsizetype length = 1;
        char32_t cp = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
            length = 2;
        }
        const QString character = text.mid(i, length);
        if (keep(cp))
            out += character;
        else
            appendEscaped(out, character);
        i += length;
    }
}

bool isReserved(char32_t cp, bool plusReserved) {
    switch (cp) {
    case U'*':
    case U'<':
    case U'>':
    case U'#':
    case U'%':
    case U'"':
    case U'{':
    case U'}':
    case U'|':
    case U'\\':
    case U'^':
    case U'[':
    case U']':
    case U'`':
        return true;
    case U'+':
        return plusReserved;
    default:
        return false;
    }
}

bool isSchemeName(QStringView text) {
    if (text.isEmpty() || !text[0].isLetter() || text[0].unicode() > 127)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                        u == u'+' || u == u'-' || u == u'.';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

QString EncodeDownloadUrl(const QString& url) {
    QString out;
    out.reserve(url.size() + url.size() / 2);
    qsizetype restStart = 0;
    const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
    if (schemeEnd > 0 && isSchemeName(QStringView(url).left(schemeEnd))) {
        qsizetype authorityEnd = schemeEnd + 3;
        while (authorityEnd < url.size() && url[authorityEnd] != QLatin1Char('/') &&
               url[authorityEnd] != QLatin1Char('?') && url[authorityEnd] != QLatin1Char('#'))
            ++authorityEnd;
        out += QStringView(url).left(authorityEnd);
        restStart = authorityEnd;
        // "host#x" would otherwise glue the escaped "#" onto the host name.
        if (restStart < url.size() && url[restStart] == QLatin1Char('#'))
            out += QLatin1Char('/');
    }
    const qsizetype queryStart = url.indexOf(QLatin1Char('?'), restStart);
    const QString path = url.mid(restStart, queryStart < 0 ? -1 : queryStart - restStart);
    encodeInto(out, path, true, [](char32_t cp) { return cp >= 33 && cp <= 127 && !isReserved(cp, true); });
    if (queryStart >= 0) {
        out += QLatin1Char('?');
        encodeInto(out, url.mid(queryStart + 1), true,
                   [](char32_t cp) { return cp >= 33 && cp <= 128 && !isReserved(cp, false); });
    }
    return out;
}

QString EncodeForRequestLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    encodeInto(out, text, false, [](char32_t cp) { return cp > 32 && cp < 127 && cp != U'#'; });
    return out;
}

} // namespace skarvel
