#include "net/content_disposition.h"

#include "common/text_ops.h"

#include <QStringDecoder>

#include <map>

namespace skarvel {

namespace {

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Parameters of the value by lower-cased name; the first of a repeated name wins.
std::map<QString, QString> parseParameters(const QString& text) {
    std::map<QString, QString> params;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype nameStart = i;
        while (i < n && text[i] != QLatin1Char('=') && text[i] != QLatin1Char(';'))
            ++i;
        if (i >= n || text[i] == QLatin1Char(';')) {
            // The disposition type, or a stray word.
            ++i;
            continue;
        }
        const QString name = text.mid(nameStart, i - nameStart).trimmed().toLower();
        ++i;
        while (i < n && text[i].isSpace())
            ++i;
        QString value;
        if (i < n && text[i] == QLatin1Char('"')) {
            ++i;
            while (i < n && text[i] != QLatin1Char('"')) {
                if (text[i] == QLatin1Char('\\') && i + 1 < n)
                    ++i;
                value += text[i];
                ++i;
            }
            while (i < n && text[i] != QLatin1Char(';'))
                ++i;
        } else {
            const qsizetype valueStart = i;
            while (i < n && text[i] != QLatin1Char(';'))
                ++i;
            value = text.mid(valueStart, i - valueStart).trimmed();
        }
        ++i;
        if (!name.isEmpty())
            params.try_emplace(name, value);
    }
    return params;
}

// charset'language'percent-encoded bytes; nullopt when any part is malformed.
std::optional<QString> decodeExtValue(const QString& value) {
    const qsizetype firstQuote = value.indexOf(QLatin1Char('\''));
    const qsizetype secondQuote = firstQuote < 0 ? -1 : value.indexOf(QLatin1Char('\''), firstQuote + 1);
    if (secondQuote < 0)
        return std::nullopt;
    const QString charset = value.left(firstQuote).trimmed();
    const QString encoded = value.mid(secondQuote + 1);
    QByteArray bytes;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const QChar c = encoded[i];
        if (c == QLatin1Char('%')) {
            if (i + 2 >= encoded.size() || hexValue(encoded[i + 1]) < 0 || hexValue(encoded[i + 2]) < 0)
                return std::nullopt;
            bytes += static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 2;
        } else if (c.unicode() > 32 && c.unicode() < 127) {
            bytes += static_cast<char>(c.unicode());
        } else {
            return std::nullopt;
        }
    }
    QStringDecoder decoder(charset.toLatin1().constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<QString> ContentDispositionFileName(const QString& headerValue) {
    const auto params = parseParameters(headerValue);
    if (const auto star = params.find(QStringLiteral("filename*")); star != params.end()) {
        if (auto decoded = decodeExtValue(star->second); decoded && !decoded->isEmpty())
            return decoded;
    }
    if (const auto plain = params.find(QStringLiteral("filename"));
        plain != params.end() && !plain->second.isEmpty())
        return plain->second;
    return std::nullopt;
}

QString SafeLocalFileName(const QString& name) {
    QString last =
        name.mid(qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\'))) + 1);
    last.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    last = last.trimmed();
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        return {};

    constexpr qsizetype kMaxNameBytes = 255;
    if (last.toUtf8().size() <= kMaxNameBytes)
        return last;
    QString extension = ExtensionWithDot(last);
    if (extension.toUtf8().size() > 32 || extension.size() == last.size())
        extension.clear();
    const qsizetype budget = kMaxNameBytes - extension.toUtf8().size();
    const QString stem = last.left(last.size() - extension.size());
    qsizetype used = 0;
    qsizetype keep = 0;
    while (keep < stem.size()) {
        const qsizetype units = stem[keep].isHighSurrogate() && keep + 1 < stem.size() ? 2 : 1;
        const qsizetype bytes = stem.mid(keep, units).toUtf8().size();
        if (used + bytes > budget)
            break;
        used += bytes;
        keep += units;
    }
    return stem.left(keep) + extension;
}

} // namespace skarvel
