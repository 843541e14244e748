#include "net/content_disposition.h"

#include "common/safe_file_name.h"

#include <QByteArray>

#include <vector>

namespace skarvel {

namespace {

// tchar of RFC 9110.
bool IsTokenChar(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return true;
    switch (c) {
    case u'!':
    case u'#':
    case u'$':
    case u'%':
    case u'&':
    case u'\'':
    case u'*':
    case u'+':
    case u'-':
    case u'.':
    case u'^':
    case u'_':
    case u'`':
    case u'|':
    case u'~':
        return true;
    default:
        return false;
    }
}

// attr-char of RFC 8187: a token character other than "*", "'" and "%".
bool IsAttrChar(char16_t c) {
    return IsTokenChar(c) && c != u'*' && c != u'\'' && c != u'%';
}

// qdtext and the characters a quoted-pair may escape: tab, blank, visible ASCII, obs-text.
bool IsQuotedTextChar(char16_t c) {
    return c == u'\t' || (c >= 0x20 && c != 0x7F);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

struct Parameter {
    QString name; // lower case
    QString value;
};

class Parser {
public:
    explicit Parser(QStringView text) : text_(text) {}

    // The parameters of a value that follows the grammar; nullopt for any other.
    std::optional<std::vector<Parameter>> parse() {
        if (token().isEmpty())
            return std::nullopt; // no disposition type
        std::vector<Parameter> params;
        for (;;) {
            skipBlanks();
            if (atEnd())
                return params;
            if (!take(u';'))
                return std::nullopt;
            skipBlanks();
            const QString name = token().toLower();
            if (name.isEmpty())
                return std::nullopt;
            skipBlanks();
            if (!take(u'='))
                return std::nullopt;
            skipBlanks();
            std::optional<QString> value;
            if (!atEnd() && text_[pos_] == u'"') {
                // An extended value is never quoted.
                if (name.endsWith(u'*'))
                    return std::nullopt;
                value = quotedString();
            } else {
                value = token();
                if (value->isEmpty())
                    value.reset();
            }
            if (!value)
                return std::nullopt;
            for (const Parameter& p : params) {
                if (p.name == name)
                    return std::nullopt;
            }
            params.push_back({name, *value});
        }
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }

    bool take(char16_t c) {
        if (atEnd() || text_[pos_] != c)
            return false;
        ++pos_;
        return true;
    }

    void skipBlanks() {
        while (!atEnd() && (text_[pos_] == u' ' || text_[pos_] == u'\t'))
            ++pos_;
    }

    QString token() {
        const qsizetype start = pos_;
        while (!atEnd() && IsTokenChar(text_[pos_].unicode()))
            ++pos_;
        return text_.mid(start, pos_ - start).toString();
    }

    std::optional<QString> quotedString() {
        ++pos_; // the opening quote
        QString value;
        while (!atEnd()) {
            char16_t c = text_[pos_++].unicode();
            if (c == u'"')
                return value;
            if (c == u'\\') {
                if (atEnd())
                    return std::nullopt;
                c = text_[pos_++].unicode();
            }
            if (!IsQuotedTextChar(c))
                return std::nullopt;
            value += QChar(c);
        }
        return std::nullopt; // unterminated
    }

    QStringView text_;
    qsizetype pos_ = 0;
};

// charset'language'value-chars with charset UTF-8 or ISO-8859-1; nullopt when
// malformed or in another charset. Bytes that are not UTF-8 decode to U+FFFD.
std::optional<QString> DecodeExtValue(const QString& value) {
    const qsizetype firstQuote = value.indexOf(u'\'');
    const qsizetype secondQuote = firstQuote < 0 ? -1 : value.indexOf(u'\'', firstQuote + 1);
    if (secondQuote < 0)
        return std::nullopt;
    const QString charset = value.left(firstQuote);
    const bool utf8 = charset.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0;
    if (!utf8 && charset.compare(QLatin1String("ISO-8859-1"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    for (const QChar c : QStringView(value).mid(firstQuote + 1, secondQuote - firstQuote - 1)) {
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-'))
            return std::nullopt;
    }
    QByteArray bytes;
    for (qsizetype i = secondQuote + 1; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c == u'%') {
            if (i + 2 >= value.size() || HexValue(value[i + 1].unicode()) < 0 ||
                HexValue(value[i + 2].unicode()) < 0)
                return std::nullopt;
            bytes += char(HexValue(value[i + 1].unicode()) * 16 + HexValue(value[i + 2].unicode()));
            i += 2;
        } else if (IsAttrChar(c)) {
            bytes += char(c);
        } else {
            return std::nullopt;
        }
    }
    return utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

const QString* Find(const std::vector<Parameter>& params, QLatin1String name) {
    for (const Parameter& p : params) {
        if (p.name == name)
            return &p.value;
    }
    return nullptr;
}

} // namespace

std::optional<QString> ContentDispositionFileName(const QString& headerValue) {
    const auto params = Parser(QStringView(headerValue).trimmed()).parse();
    if (!params)
        return std::nullopt;
    const QString* plain = Find(*params, QLatin1String("filename"));
    if (const QString* extended = Find(*params, QLatin1String("filename*"))) {
        std::optional<QString> decoded = DecodeExtValue(*extended);
        if (!decoded)
            return std::nullopt; // a broken filename* spoils the whole header
        if (!decoded->isEmpty())
            return decoded;
    }
    if (plain && !plain->isEmpty())
        return *plain;
    return std::nullopt;
}

QString SafeLocalFileName(const QString& name) {
    const qsizetype separator = qMax(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    return SafeFileName(name.mid(separator + 1).trimmed());
}

} // namespace skarvel
