// Picture addresses that inline scripts set as plain literals. Only literals
// are read: an address put together at run time is out of a static reading's reach.
#include "service/analysis_internal.h"

#include <utility>
#include <vector>

namespace skarvel::analysis {

namespace {

struct Token {
    enum class Type { Name, String, Punct, Other } type;
    QStringView text;  // the token as written
    QString value;     // a string's value, escapes decoded
    bool interpolated; // a template literal with ${...}
    bool lineBreakBefore;
};

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

class Lexer {
public:
    explicit Lexer(QStringView source) : m_src(source) {}

    std::vector<Token> run() {
        const qsizetype n = m_src.size();
        while (m_pos < n) {
            const QChar c = m_src[m_pos];
            if (c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029)) {
                m_lineBreak = true;
                ++m_pos;
            } else if (c.isSpace()) {
                ++m_pos;
            } else if (c == u'/' && peek(1) == u'/') {
                while (m_pos < n && m_src[m_pos] != u'\n' && m_src[m_pos] != u'\r')
                    ++m_pos;
            } else if (c == u'/' && peek(1) == u'*') {
                const qsizetype end = m_src.indexOf(u"*/", m_pos + 2);
                m_pos = end < 0 ? n : end + 2;
                m_lineBreak = true;
            } else if (c == u'/' && regexMayStart()) {
                skipRegex();
            } else if (c == u'"' || c == u'\'') {
                readString(c);
            } else if (c == u'`') {
                readTemplate();
            } else if (isNameChar(c)) {
                const qsizetype start = m_pos;
                while (m_pos < n && (isNameChar(m_src[m_pos]) || (c.isDigit() && m_src[m_pos] == u'.')))
                    ++m_pos;
                push(c.isDigit() ? Token::Type::Other : Token::Type::Name, start);
            } else {
                readPunct();
            }
        }
        return std::move(m_tokens);
    }

private:
    QChar peek(qsizetype ahead) const {
        return m_pos + ahead < m_src.size() ? m_src[m_pos + ahead] : QChar();
    }

    void push(Token::Type type, qsizetype start, QString value = QString(), bool interpolated = false) {
        m_tokens.push_back(
            {type, m_src.mid(start, m_pos - start), std::move(value), interpolated, m_lineBreak});
        m_lineBreak = false;
    }

    // A slash starts a regular expression where a value is expected, not after one.
    bool regexMayStart() const {
        if (m_tokens.empty())
            return true;
        const Token& last = m_tokens.back();
        if (last.type == Token::Type::String || last.type == Token::Type::Other)
            return false;
        if (last.type == Token::Type::Name)
            return last.text == u"return" || last.text == u"typeof" || last.text == u"case";
        return last.text != u")" && last.text != u"]" && last.text != u"}";
    }

    void skipRegex() {
        bool inClass = false;
        for (++m_pos; m_pos < m_src.size(); ++m_pos) {
            const QChar c = m_src[m_pos];
            if (c == u'\\') {
                ++m_pos;
            } else if (c == u'\n' || c == u'\r') {
                break;
            } else if (c == u'[') {
                inClass = true;
            } else if (c == u']') {
                inClass = false;
            } else if (c == u'/' && !inClass) {
                ++m_pos;
                break;
            }
        }
        while (m_pos < m_src.size() && isNameChar(m_src[m_pos]))
            ++m_pos; // flags
        m_tokens.push_back({Token::Type::Other, {}, {}, false, m_lineBreak});
        m_lineBreak = false;
    }

    // At a backslash inside a string: appends what the escape stands for.
    void readEscape(QString& value) {
        ++m_pos;
        if (m_pos >= m_src.size())
            return;
        const QChar c = m_src[m_pos++];
        auto hex = [&](qsizetype count) -> std::optional<char32_t> {
            if (m_pos + count > m_src.size())
                return std::nullopt;
            bool ok = false;
            const uint code = m_src.mid(m_pos, count).toUInt(&ok, 16);
            if (!ok)
                return std::nullopt;
            m_pos += count;
            return char32_t(code);
        };
        // The escapes that stand for one character.
        static constexpr std::pair<char16_t, char16_t> kSingle[] = {
            {u'n', u'\n'}, {u'r', u'\r'}, {u't', u'\t'}, {u'b', u'\b'},
            {u'f', u'\f'}, {u'v', u'\v'}, {u'0', u'\0'}};
        for (const auto& [letter, meaning] : kSingle)
            if (c == QChar(letter)) {
                value += QChar(meaning);
                return;
            }
        std::optional<char32_t> code;
        switch (c.unicode()) {
        case u'\r':
            if (m_pos < m_src.size() && m_src[m_pos] == u'\n')
                ++m_pos;
            return; // a line continuation adds nothing
        case u'\n':
            return;
        case u'x':
            code = hex(2);
            break;
        case u'u':
            if (m_pos < m_src.size() && m_src[m_pos] == u'{') {
                const qsizetype close = m_src.indexOf(u'}', m_pos);
                if (close > m_pos + 1 && close - m_pos <= 7) {
                    bool ok = false;
                    const uint v = m_src.mid(m_pos + 1, close - m_pos - 1).toUInt(&ok, 16);
                    if (ok && v <= 0x10FFFF) {
                        code = char32_t(v);
                        m_pos = close + 1;
                    }
                }
            } else {
                code = hex(4);
            }
            break;
        default:
            value += c;
            return;
        }
        if (code)
            value += QString::fromUcs4(&*code, 1);
    }

    void readString(QChar quote) {
        const qsizetype start = m_pos++;
        QString value;
        while (m_pos < m_src.size() && m_src[m_pos] != quote) {
            const QChar c = m_src[m_pos];
            if (c == u'\n' || c == u'\r')
                break; // an unterminated string ends with its line
            if (c == u'\\')
                readEscape(value);
            else
                value += m_src[m_pos++];
        }
        if (m_pos < m_src.size() && m_src[m_pos] == quote)
            ++m_pos;
        push(Token::Type::String, start, std::move(value));
    }

    void readTemplate() {
        const qsizetype start = m_pos++;
        QString value;
        bool interpolated = false;
        while (m_pos < m_src.size() && m_src[m_pos] != u'`') {
            const QChar c = m_src[m_pos];
            if (c == u'\\') {
                readEscape(value);
            } else if (c == u'$' && peek(1) == u'{') {
                interpolated = true;
                int depth = 0;
                for (; m_pos < m_src.size(); ++m_pos) {
                    if (m_src[m_pos] == u'{')
                        ++depth;
                    else if (m_src[m_pos] == u'}' && --depth == 0)
                        break;
                }
                ++m_pos;
            } else {
                value += c;
                ++m_pos;
            }
        }
        ++m_pos;
        m_pos = std::min(m_pos, m_src.size());
        push(Token::Type::String, start, std::move(value), interpolated);
    }

    void readPunct() {
        static constexpr const char16_t* kLong[] = {u"===", u"!==", u"==", u"!=", u"=>", u"+=", u"-=", u"*=",
                                                    u"/=",  u"&&",  u"||", u"??", u"?.", u"++", u"--"};
        const qsizetype start = m_pos;
        for (const char16_t* op : kLong) {
            const QStringView v(op);
            if (m_src.mid(m_pos).startsWith(v)) {
                m_pos += v.size();
                push(Token::Type::Punct, start);
                return;
            }
        }
        ++m_pos;
        push(Token::Type::Punct, start);
    }

    QStringView m_src;
    qsizetype m_pos = 0;
    bool m_lineBreak = false;
    std::vector<Token> m_tokens;
};

bool isPunct(const Token& t, QStringView text) {
    return t.type == Token::Type::Punct && t.text == text;
}

bool isName(const Token& t, QStringView text) {
    return t.type == Token::Type::Name && t.text == text;
}

bool isPlainString(const Token& t) {
    return t.type == Token::Type::String && !t.interpolated;
}

// After a literal: the expression must end there, or the literal is only a
// piece of an address put together at run time.
bool endsExpression(const std::vector<Token>& tokens, std::size_t next) {
    if (next >= tokens.size())
        return true;
    const Token& t = tokens[next];
    if (t.type == Token::Type::Punct)
        return t.text == u";" || t.text == u"," || t.text == u")" || t.text == u"}" || t.text == u"]";
    return t.lineBreakBefore;
}

// tokens[close] is ")": true when it ends "new Image(...)".
bool endsNewImage(const std::vector<Token>& tokens, std::size_t close) {
    std::size_t i = close;
    int depth = 0;
    while (true) {
        if (isPunct(tokens[i], u")"))
            ++depth;
        else if (isPunct(tokens[i], u"(") && --depth == 0)
            break;
        if (i == 0 || close - i > 16)
            return false;
        --i;
    }
    return i >= 2 && isName(tokens[i - 1], u"Image") && isName(tokens[i - 2], u"new");
}

bool hasPictureExtension(const QString& address) {
    const QUrl url(address, QUrl::TolerantMode);
    return url.isValid() && isPictureExtension(urlExtension(url));
}

} // namespace

void findScriptLiterals(QStringView script, QList<ScriptLiteral>& out) {
    const std::vector<Token> tokens = Lexer(script).run();
    QSet<QStringView> images; // names given a new Image() or document.createElement("img")
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        const std::size_t left = tokens.size() - i;
        if (t.type == Token::Type::Name && left >= 4 && isPunct(tokens[i + 1], u"=")) {
            const bool newImage = isName(tokens[i + 2], u"new") && isName(tokens[i + 3], u"Image");
            const bool createdImg =
                left >= 8 && isName(tokens[i + 2], u"document") && isPunct(tokens[i + 3], u".") &&
                isName(tokens[i + 4], u"createElement") && isPunct(tokens[i + 5], u"(") &&
                isPlainString(tokens[i + 6]) &&
                tokens[i + 6].value.compare(QLatin1StringView("img"), Qt::CaseInsensitive) == 0;
            if (newImage || createdImg)
                images.insert(t.text);
        }
        // <target>.src = "literal"
        if (isPunct(t, u"=") && i >= 3 && i + 1 < tokens.size() && isName(tokens[i - 1], u"src") &&
            isPunct(tokens[i - 2], u".") && isPlainString(tokens[i + 1]) && endsExpression(tokens, i + 2)) {
            const Token& target = tokens[i - 3];
            const QString& address = tokens[i + 1].value;
            const bool image = (target.type == Token::Type::Name && images.contains(target.text)) ||
                               (isPunct(target, u")") && endsNewImage(tokens, i - 3)) ||
                               hasPictureExtension(address);
            if (image)
                out.append({ScriptLiteral::Kind::ImageSource, address});
        }
        // document.write("markup") / document.writeln("markup")
        if (isName(t, u"document") && left >= 6 && isPunct(tokens[i + 1], u".") &&
            (isName(tokens[i + 2], u"write") || isName(tokens[i + 2], u"writeln")) &&
            isPunct(tokens[i + 3], u"(") && isPlainString(tokens[i + 4]) && isPunct(tokens[i + 5], u")"))
            out.append({ScriptLiteral::Kind::WrittenMarkup, tokens[i + 4].value});
    }
}

} // namespace skarvel::analysis
