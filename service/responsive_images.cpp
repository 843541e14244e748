// Which candidates of a responsive picture browsers load: <source media> and
// sizes evaluated as CSS media queries and lengths, then the density choice
// among the srcset candidates, on each screen of a table of common screens.
#include "service/analysis_internal.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <utility>

namespace skarvel::analysis {

namespace {

// Desktops and laptops at their usual scalings, tablets, and the phones that
// most browsing happens on; a picture's candidates that these screens load are
// the ones its page's readers load. Desktop widths sample the common
// breakpoints (768, 1024, 1200 px) from both sides.
constexpr Screen kScreens[] = {
    {1920, 1080, 1, false},   {1536, 864, 1.25f, false}, {1440, 900, 2, false}, {1366, 768, 1, false},
    {1280, 720, 1, false},    {1280, 720, 1.5f, false},  {1024, 768, 1, false}, {800, 600, 1, false},
    {768, 1024, 2, true},     {820, 1180, 2, true},      {360, 800, 3, true},   {360, 800, 2, true},
    {360, 740, 4, true},      {375, 667, 2, true},       {390, 844, 3, true},   {393, 873, 2.75f, true},
    {412, 915, 2.625f, true}, {412, 823, 1.75f, true},   {414, 896, 2, true},   {430, 932, 3, true},
};
static_assert(std::size(kScreens) == kScreenCount);

// Three-valued results of a media query, one bit per screen.
struct Truth {
    ScreenSet yes = 0;
    ScreenSet unknown = 0;
    ScreenSet no() const { return kAllScreens & ~(yes | unknown); }
};

Truth truthOf(bool value) {
    return {value ? kAllScreens : 0, 0};
}
Truth negated(Truth a) {
    return {a.no(), a.unknown};
}
Truth conjunction(Truth a, Truth b) {
    const ScreenSet yes = a.yes & b.yes;
    const ScreenSet no = a.no() | b.no();
    return {yes, kAllScreens & ~(yes | no)};
}
Truth disjunction(Truth a, Truth b) {
    const ScreenSet yes = a.yes | b.yes;
    const ScreenSet no = a.no() & b.no();
    return {yes, kAllScreens & ~(yes | no)};
}

template <typename Predicate> Truth onEachScreen(Predicate&& holds) {
    Truth t;
    for (int i = 0; i < kScreenCount; ++i) {
        if (holds(kScreens[i]))
            t.yes |= ScreenSet(1) << i;
    }
    return t;
}

// ------------------------------------------------------------------ tokens

struct Token {
    enum Kind : std::uint8_t {
        Ident,
        Function,
        Number,
        Dimension,
        Percentage,
        Open,
        Close,
        Comma,
        Colon,
        Delim
    };
    Kind kind;
    char16_t delim = 0;
    double value = 0;
    QStringView text; // name of an ident or function, unit of a dimension
};

bool isNameStart(QChar c) {
    return c.isLetter() || c == u'_' || c.unicode() >= 0x80;
}

bool isNameChar(QChar c) {
    return isNameStart(c) || isAsciiDigit(c) || c == u'-';
}

// CSS tokens, whitespace and comments left out; escapes are not read (no
// media feature or unit needs them), a backslash is a delimiter.
std::vector<Token> tokenize(QStringView s) {
    std::vector<Token> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    auto startsNumber = [&](qsizetype at) {
        if (at < n && (s[at] == u'+' || s[at] == u'-'))
            ++at;
        return at < n && (isAsciiDigit(s[at]) || (s[at] == u'.' && at + 1 < n && isAsciiDigit(s[at + 1])));
    };
    auto startsName = [&](qsizetype at) {
        if (at < n && s[at] == u'-')
            ++at;
        return at < n && (isNameStart(s[at]) || s[at] == u'-');
    };
    while (i < n) {
        const QChar c = s[i];
        if (isAsciiWhitespace(c)) {
            ++i;
        } else if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            const qsizetype end = s.indexOf(u"*/", i + 2);
            i = end < 0 ? n : end + 2;
        } else if (startsNumber(i)) {
            const qsizetype begin = i;
            if (s[i] == u'+' || s[i] == u'-')
                ++i;
            while (i < n && isAsciiDigit(s[i]))
                ++i;
            if (i + 1 < n && s[i] == u'.' && isAsciiDigit(s[i + 1])) {
                ++i;
                while (i < n && isAsciiDigit(s[i]))
                    ++i;
            }
            if (i + 1 < n && (s[i] == u'e' || s[i] == u'E')) {
                qsizetype e = i + 1;
                if (e < n && (s[e] == u'+' || s[e] == u'-'))
                    ++e;
                if (e < n && isAsciiDigit(s[e])) {
                    i = e;
                    while (i < n && isAsciiDigit(s[i]))
                        ++i;
                }
            }
            Token t{Token::Number};
            // far beyond any length, and every product of two stays a finite float
            t.value = std::clamp(s.sliced(begin, i - begin).toDouble(), -1e15, 1e15);
            if (i < n && s[i] == u'%') {
                t.kind = Token::Percentage;
                ++i;
            } else if (startsName(i)) {
                const qsizetype unit = i;
                while (i < n && isNameChar(s[i]))
                    ++i;
                t.kind = Token::Dimension;
                t.text = s.sliced(unit, i - unit);
            }
            out.push_back(t);
        } else if (startsName(i)) {
            const qsizetype begin = i;
            while (i < n && isNameChar(s[i]))
                ++i;
            Token t{Token::Ident};
            t.text = s.sliced(begin, i - begin);
            if (i < n && s[i] == u'(') {
                t.kind = Token::Function;
                ++i;
            }
            out.push_back(t);
        } else {
            Token t{Token::Delim};
            switch (c.unicode()) {
            case u'(':
                t.kind = Token::Open;
                break;
            case u')':
                t.kind = Token::Close;
                break;
            case u',':
                t.kind = Token::Comma;
                break;
            case u':':
                t.kind = Token::Colon;
                break;
            default:
                t.delim = c.unicode();
                break;
            }
            out.push_back(t);
            ++i;
        }
    }
    return out;
}

bool isIdent(const Token& t, QLatin1StringView name) {
    return t.kind == Token::Ident && t.text.compare(name, Qt::CaseInsensitive) == 0;
}

// ----------------------------------------------------------------- lengths

// A value per screen: a length in CSS pixels or a plain number.
struct Quantity {
    std::array<float, kScreenCount> v{};
    bool length = false;
};

std::optional<Quantity> lengthOf(double number, QStringView unit) {
    Quantity q;
    q.length = true;
    auto fixed = [&](double px) {
        q.v.fill(float(number * px));
        return q;
    };
    auto perScreen = [&](auto&& px) {
        for (int i = 0; i < kScreenCount; ++i)
            q.v[i] = float(number * px(kScreens[i]));
        return q;
    };
    static const struct {
        const char* unit;
        double px;
    } kAbsolute[] = {{"px", 1},         {"em", 16},        {"rem", 16}, {"ex", 8},         {"rex", 8},
                     {"ch", 8},         {"rch", 8},        {"in", 96},  {"cm", 96 / 2.54}, {"mm", 9.6 / 2.54},
                     {"q", 2.4 / 2.54}, {"pt", 96 / 72.0}, {"pc", 16},  {"lh", 24},        {"rlh", 24}};
    for (const auto& a : kAbsolute) {
        if (unit.compare(QLatin1StringView(a.unit), Qt::CaseInsensitive) == 0)
            return fixed(a.px);
    }
    // small, large and dynamic viewports are one viewport here
    QStringView base = unit;
    if (base.size() == 3 && (base[0] == u's' || base[0] == u'l' || base[0] == u'd' || base[0] == u'S' ||
                             base[0] == u'L' || base[0] == u'D'))
        base = base.sliced(1);
    if (base.compare(u"vw", Qt::CaseInsensitive) == 0 || base.compare(u"vi", Qt::CaseInsensitive) == 0 ||
        unit.compare(u"cqw", Qt::CaseInsensitive) == 0 || unit.compare(u"cqi", Qt::CaseInsensitive) == 0)
        return perScreen([](const Screen& s) { return s.width / 100.0; });
    if (base.compare(u"vh", Qt::CaseInsensitive) == 0 || base.compare(u"vb", Qt::CaseInsensitive) == 0)
        return perScreen([](const Screen& s) { return s.height / 100.0; });
    if (unit.size() >= 4 && unit.endsWith(u"min", Qt::CaseInsensitive))
        return perScreen([](const Screen& s) { return std::min(s.width, s.height) / 100.0; });
    if (unit.size() >= 4 && unit.endsWith(u"max", Qt::CaseInsensitive))
        return perScreen([](const Screen& s) { return std::max(s.width, s.height) / 100.0; });
    return std::nullopt;
}

// Reads tokens; recursion is bounded, so a page cannot exhaust the stack.
class Reader {
public:
    Reader(const std::vector<Token>& tokens, std::size_t begin, std::size_t end)
        : m_t(tokens), m_pos(begin), m_end(end) {}

    bool atEnd() const { return m_pos >= m_end; }
    const Token* peek(std::size_t ahead = 0) const {
        return m_pos + ahead < m_end ? &m_t[m_pos + ahead] : nullptr;
    }
    const Token& next() { return m_t[m_pos++]; }
    bool take(Token::Kind kind) {
        if (!atEnd() && m_t[m_pos].kind == kind) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool takeDelim(char16_t c) {
        if (!atEnd() && m_t[m_pos].kind == Token::Delim && m_t[m_pos].delim == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool takeIdent(QLatin1StringView name) {
        if (!atEnd() && isIdent(m_t[m_pos], name)) {
            ++m_pos;
            return true;
        }
        return false;
    }
    // After an opening token: moves past its closing parenthesis.
    void skipBlock() {
        int depth = 1;
        while (!atEnd() && depth > 0) {
            const Token& t = next();
            if (t.kind == Token::Open || t.kind == Token::Function)
                ++depth;
            else if (t.kind == Token::Close)
                --depth;
        }
    }
    bool enter() { return ++m_depth <= 32; }
    void leave() { --m_depth; }

    // A length or number: a dimension, a number, or calc(), min(), max(), clamp().
    std::optional<Quantity> quantity() { return sum(); }

    std::optional<Truth> mediaCondition(bool allowOr);

private:
    std::optional<Quantity> sum();
    std::optional<Quantity> product();
    std::optional<Quantity> operand();
    std::optional<Truth> inParens();
    std::optional<Truth> feature();

    const std::vector<Token>& m_t;
    std::size_t m_pos;
    std::size_t m_end;
    int m_depth = 0;
};

struct DepthGuard {
    explicit DepthGuard(Reader& r) : reader(r), ok(r.enter()) {}
    ~DepthGuard() { reader.leave(); }
    Reader& reader;
    bool ok;
};

std::optional<Quantity> Reader::sum() {
    std::optional<Quantity> left = product();
    while (left) {
        const bool plus = takeDelim(u'+');
        if (!plus && !takeDelim(u'-'))
            break;
        const std::optional<Quantity> right = product();
        if (!right || right->length != left->length)
            return std::nullopt;
        for (int i = 0; i < kScreenCount; ++i)
            left->v[i] += plus ? right->v[i] : -right->v[i];
    }
    return left;
}

std::optional<Quantity> Reader::product() {
    std::optional<Quantity> left = operand();
    while (left) {
        const bool times = takeDelim(u'*');
        if (!times && !takeDelim(u'/'))
            break;
        const std::optional<Quantity> right = operand();
        if (!right || (right->length && (left->length || !times)))
            return std::nullopt;
        for (int i = 0; i < kScreenCount; ++i) {
            if (!times && right->v[i] == 0)
                return std::nullopt;
            left->v[i] = times ? left->v[i] * right->v[i] : left->v[i] / right->v[i];
        }
        left->length = left->length || right->length;
    }
    return left;
}

std::optional<Quantity> Reader::operand() {
    DepthGuard guard(*this);
    if (!guard.ok || atEnd())
        return std::nullopt;
    const Token& t = next();
    switch (t.kind) {
    case Token::Number: {
        Quantity q;
        q.v.fill(float(t.value));
        return q;
    }
    case Token::Dimension:
        return lengthOf(t.value, t.text);
    case Token::Open: {
        std::optional<Quantity> inner = sum();
        return inner && take(Token::Close) ? inner : std::nullopt;
    }
    case Token::Function: {
        const bool isCalc = t.text.compare(u"calc", Qt::CaseInsensitive) == 0;
        const bool isMin = t.text.compare(u"min", Qt::CaseInsensitive) == 0;
        const bool isMax = t.text.compare(u"max", Qt::CaseInsensitive) == 0;
        const bool isClamp = t.text.compare(u"clamp", Qt::CaseInsensitive) == 0;
        if (!isCalc && !isMin && !isMax && !isClamp)
            return std::nullopt;
        QVarLengthArray<Quantity, 3> args;
        do {
            std::optional<Quantity> arg = sum();
            if (!arg || (!args.isEmpty() && arg->length != args[0].length))
                return std::nullopt;
            args.append(*arg);
        } while (!isCalc && take(Token::Comma));
        if (!take(Token::Close) || (isClamp && args.size() != 3))
            return std::nullopt;
        Quantity q = args[0];
        for (int i = 0; i < kScreenCount; ++i) {
            for (const Quantity& a : args) {
                if (isMin)
                    q.v[i] = std::min(q.v[i], a.v[i]);
                else if (isMax)
                    q.v[i] = std::max(q.v[i], a.v[i]);
            }
            if (isClamp)
                q.v[i] = std::max(args[0].v[i], std::min(args[1].v[i], args[2].v[i]));
        }
        return q;
    }
    default:
        return std::nullopt;
    }
}

// ------------------------------------------------------------ media queries

enum class Comparison { Equal, Less, LessEqual, Greater, GreaterEqual };

bool compare(float value, Comparison op, float limit) {
    constexpr float kSlack = 1e-4f;
    switch (op) {
    case Comparison::Equal:
        return std::fabs(value - limit) <= kSlack;
    case Comparison::Less:
        return value < limit - kSlack;
    case Comparison::LessEqual:
        return value <= limit + kSlack;
    case Comparison::Greater:
        return value > limit + kSlack;
    case Comparison::GreaterEqual:
        return value >= limit - kSlack;
    }
    return false;
}

Comparison mirrored(Comparison op) {
    switch (op) {
    case Comparison::Less:
        return Comparison::Greater;
    case Comparison::LessEqual:
        return Comparison::GreaterEqual;
    case Comparison::Greater:
        return Comparison::Less;
    case Comparison::GreaterEqual:
        return Comparison::LessEqual;
    default:
        return op;
    }
}

// A feature's value as written: a quantity, a ratio, or a keyword.
struct FeatureValue {
    std::optional<Quantity> quantity;
    QStringView unit; // of a single dimension (resolution units)
    double number = 0;
    QStringView keyword;
};

// The value of one numeric feature on a screen; nullopt when it is no such feature.
std::optional<float> numericFeature(QStringView name, const Screen& s) {
    if (name == u"width" || name == u"device-width")
        return s.width;
    if (name == u"height" || name == u"device-height")
        return s.height;
    if (name == u"aspect-ratio" || name == u"device-aspect-ratio")
        return s.width / s.height;
    if (name == u"resolution" || name == u"-webkit-device-pixel-ratio")
        return s.ratio;
    if (name == u"color")
        return 8;
    if (name == u"monochrome" || name == u"color-index" || name == u"grid")
        return 0;
    return std::nullopt;
}

// The comparable number of a written value for a numeric feature, in the
// feature's own units; nullopt when the value does not fit the feature.
std::optional<std::array<float, kScreenCount>> featureOperand(QStringView name, const FeatureValue& value) {
    std::array<float, kScreenCount> out{};
    if (name == u"width" || name == u"device-width" || name == u"height" || name == u"device-height") {
        if (!value.quantity || (!value.quantity->length && value.number != 0))
            return std::nullopt;
        return value.quantity->v;
    }
    if (name == u"aspect-ratio" || name == u"device-aspect-ratio") {
        if (!value.quantity || value.quantity->length)
            return std::nullopt;
        return value.quantity->v;
    }
    if (name == u"resolution") {
        double scale = 0;
        if (value.unit.compare(u"dppx", Qt::CaseInsensitive) == 0 ||
            value.unit.compare(u"x", Qt::CaseInsensitive) == 0)
            scale = 1;
        else if (value.unit.compare(u"dpi", Qt::CaseInsensitive) == 0)
            scale = 1 / 96.0;
        else if (value.unit.compare(u"dpcm", Qt::CaseInsensitive) == 0)
            scale = 2.54 / 96;
        else
            return std::nullopt;
        out.fill(float(value.number * scale));
        return out;
    }
    if (!value.quantity || value.quantity->length)
        return std::nullopt;
    return value.quantity->v;
}

// Keyword features: the screen's own keyword, nullopt for a feature not known here.
std::optional<QLatin1StringView> keywordFeature(QStringView name, const Screen& s) {
    if (name == u"orientation")
        return s.height >= s.width ? QLatin1StringView("portrait") : QLatin1StringView("landscape");
    if (name == u"hover" || name == u"any-hover")
        return s.touch ? QLatin1StringView("none") : QLatin1StringView("hover");
    if (name == u"pointer" || name == u"any-pointer")
        return s.touch ? QLatin1StringView("coarse") : QLatin1StringView("fine");
    if (name == u"prefers-color-scheme")
        return QLatin1StringView("light");
    if (name == u"prefers-reduced-motion" || name == u"prefers-contrast" ||
        name == u"prefers-reduced-transparency" || name == u"prefers-reduced-data")
        return QLatin1StringView("no-preference");
    if (name == u"forced-colors" || name == u"inverted-colors")
        return QLatin1StringView("none");
    if (name == u"scripting")
        return QLatin1StringView("enabled");
    if (name == u"update")
        return QLatin1StringView("fast");
    if (name == u"display-mode")
        return QLatin1StringView("browser");
    if (name == u"dynamic-range" || name == u"video-dynamic-range")
        return QLatin1StringView("standard");
    if (name == u"color-gamut")
        return QLatin1StringView("srgb");
    if (name == u"overflow-block" || name == u"overflow-inline")
        return QLatin1StringView("scroll");
    return std::nullopt;
}

// True for keyword features whose keyword for "off" makes the boolean form false.
bool keywordIsOff(QLatin1StringView keyword) {
    return keyword == QLatin1StringView("none") || keyword == QLatin1StringView("no-preference");
}

std::optional<Truth> Reader::mediaCondition(bool allowOr) {
    DepthGuard guard(*this);
    if (!guard.ok)
        return std::nullopt;
    if (takeIdent(QLatin1StringView("not"))) {
        const std::optional<Truth> inner = inParens();
        return inner ? std::optional<Truth>(negated(*inner)) : std::nullopt;
    }
    std::optional<Truth> result = inParens();
    if (!result)
        return std::nullopt;
    bool sawAnd = false;
    bool sawOr = false;
    while (const Token* t = peek()) {
        const bool isAnd = isIdent(*t, QLatin1StringView("and"));
        const bool isOr = isIdent(*t, QLatin1StringView("or"));
        if ((!isAnd && !isOr) || (isOr && (!allowOr || sawAnd)) || (isAnd && sawOr))
            break;
        next();
        sawAnd = sawAnd || isAnd;
        sawOr = sawOr || isOr;
        const std::optional<Truth> right = inParens();
        if (!right)
            return std::nullopt;
        result = isAnd ? conjunction(*result, *right) : disjunction(*result, *right);
    }
    return result;
}

std::optional<Truth> Reader::inParens() {
    DepthGuard guard(*this);
    if (!guard.ok || atEnd())
        return std::nullopt;
    if (peek()->kind == Token::Function) {
        next();
        skipBlock();
        return Truth{0, kAllScreens}; // general-enclosed: unknown
    }
    if (!take(Token::Open))
        return std::nullopt;
    const std::size_t start = m_pos;
    const Token* first = peek();
    if (first && (first->kind == Token::Open || first->kind == Token::Function ||
                  isIdent(*first, QLatin1StringView("not")))) {
        if (std::optional<Truth> inner = mediaCondition(true); inner && take(Token::Close))
            return inner;
    } else if (std::optional<Truth> f = feature(); f && take(Token::Close)) {
        return f;
    }
    m_pos = start;
    skipBlock();
    return Truth{0, kAllScreens};
}

std::optional<Truth> Reader::feature() {
    auto readValue = [this]() -> std::optional<FeatureValue> {
        FeatureValue v;
        const Token* t = peek();
        if (!t)
            return std::nullopt;
        if (t->kind == Token::Ident) {
            v.keyword = next().text;
            return v;
        }
        if (t->kind == Token::Dimension) {
            v.unit = t->text;
            v.number = t->value;
            static const char* const kResolutionUnits[] = {"dppx", "x", "dpi", "dpcm"};
            for (const char* unit : kResolutionUnits) {
                if (t->text.compare(QLatin1StringView(unit), Qt::CaseInsensitive) == 0) {
                    next();
                    return v;
                }
            }
        } else if (t->kind == Token::Number) {
            v.number = t->value;
        }
        v.quantity = quantity();
        if (!v.quantity)
            return std::nullopt;
        if (takeDelim(u'/')) { // a ratio
            const std::optional<Quantity> below = quantity();
            if (!below || below->length || v.quantity->length)
                return std::nullopt;
            for (int i = 0; i < kScreenCount; ++i)
                v.quantity->v[i] = below->v[i] == 0 ? INFINITY : v.quantity->v[i] / below->v[i];
        }
        return v;
    };
    auto readComparison = [this]() -> std::optional<Comparison> {
        if (takeDelim(u'='))
            return Comparison::Equal;
        const bool less = takeDelim(u'<');
        if (!less && !takeDelim(u'>'))
            return std::nullopt;
        const bool orEqual = takeDelim(u'=');
        if (less)
            return orEqual ? Comparison::LessEqual : Comparison::Less;
        return orEqual ? Comparison::GreaterEqual : Comparison::Greater;
    };
    // name, min-/max- prefix, and the unknown
    auto evaluate = [](QStringView rawName, std::optional<Comparison> op,
                       const FeatureValue* value) -> Truth {
        QString name = rawName.toString().toLower();
        const bool webkit = name.startsWith(u"-webkit-");
        if (webkit)
            name.remove(0, 8);
        if (!op && value && (name.startsWith(u"min-") || name.startsWith(u"max-"))) {
            op = name.startsWith(u"min-") ? Comparison::GreaterEqual : Comparison::LessEqual;
            name.remove(0, 4);
        } else if (value && !op) {
            op = Comparison::Equal;
        }
        if (name == u"device-pixel-ratio") {
            if (!webkit)
                return truthOf(false); // only the prefixed form is known to browsers
            name = QStringLiteral("-webkit-device-pixel-ratio");
        }
        if (!value) { // boolean form
            if (numericFeature(name, kScreens[0]))
                return onEachScreen([&](const Screen& s) { return *numericFeature(name, s) != 0; });
            if (keywordFeature(name, kScreens[0]))
                return onEachScreen([&](const Screen& s) { return !keywordIsOff(*keywordFeature(name, s)); });
            return Truth{0, kAllScreens};
        }
        if (!value->keyword.isEmpty()) {
            if (*op != Comparison::Equal || !keywordFeature(name, kScreens[0]))
                return Truth{0, kAllScreens};
            return onEachScreen([&](const Screen& s) {
                return value->keyword.compare(*keywordFeature(name, s), Qt::CaseInsensitive) == 0;
            });
        }
        if (!numericFeature(name, kScreens[0]))
            return Truth{0, kAllScreens};
        FeatureValue adjusted = *value;
        if (name == u"-webkit-device-pixel-ratio") {
            if (!adjusted.unit.isEmpty())
                return Truth{0, kAllScreens};
            adjusted.unit = u"x";
            name = QStringLiteral("resolution");
        }
        const auto limit = featureOperand(name, adjusted);
        if (!limit)
            return Truth{0, kAllScreens};
        Truth t;
        for (int i = 0; i < kScreenCount; ++i) {
            if (compare(*numericFeature(name, kScreens[i]), *op, (*limit)[i]))
                t.yes |= ScreenSet(1) << i;
        }
        return t;
    };

    const Token* first = peek();
    if (!first)
        return std::nullopt;
    if (first->kind == Token::Ident && (!peek(1) || peek(1)->kind == Token::Close)) {
        return evaluate(next().text, std::nullopt, nullptr);
    }
    if (first->kind == Token::Ident && peek(1)->kind == Token::Colon) {
        const QStringView name = next().text;
        next();
        const std::optional<FeatureValue> value = readValue();
        if (!value)
            return std::nullopt;
        return evaluate(name, std::nullopt, &*value);
    }
    if (first->kind == Token::Ident) { // name op value
        const QStringView name = next().text;
        const std::optional<Comparison> op = readComparison();
        const std::optional<FeatureValue> value = op ? readValue() : std::nullopt;
        if (!value)
            return std::nullopt;
        return evaluate(name, op, &*value);
    }
    // value op name [op value]
    const std::optional<FeatureValue> low = readValue();
    const std::optional<Comparison> op1 = low ? readComparison() : std::nullopt;
    if (!op1 || !peek() || peek()->kind != Token::Ident)
        return std::nullopt;
    const QStringView name = next().text;
    Truth result = evaluate(name, mirrored(*op1), &*low);
    if (const std::optional<Comparison> op2 = readComparison()) {
        const std::optional<FeatureValue> high = readValue();
        if (!high)
            return std::nullopt;
        result = conjunction(result, evaluate(name, *op2, &*high));
    }
    return result;
}

// A media query of a list: [not|only] type [and condition], or a condition.
Truth mediaQuery(const std::vector<Token>& tokens, std::size_t begin, std::size_t end) {
    Reader r(tokens, begin, end);
    if (r.atEnd())
        return truthOf(false);
    const Token* first = r.peek();
    std::optional<Truth> result;
    if (first->kind == Token::Ident && !isIdent(*first, QLatin1StringView("not"))) {
        r.takeIdent(QLatin1StringView("only"));
        if (!r.peek() || r.peek()->kind != Token::Ident)
            return truthOf(false);
        const Token& type = r.next();
        result =
            truthOf(isIdent(type, QLatin1StringView("all")) || isIdent(type, QLatin1StringView("screen")));
        if (r.takeIdent(QLatin1StringView("and"))) {
            const std::optional<Truth> condition = r.mediaCondition(false);
            result = condition ? std::optional<Truth>(conjunction(*result, *condition)) : std::nullopt;
        }
    } else if (first->kind == Token::Ident && r.peek(1) && r.peek(1)->kind == Token::Ident) {
        r.next(); // "not type [and condition]"
        const Token& type = r.next();
        result =
            truthOf(isIdent(type, QLatin1StringView("all")) || isIdent(type, QLatin1StringView("screen")));
        if (r.takeIdent(QLatin1StringView("and"))) {
            const std::optional<Truth> condition = r.mediaCondition(false);
            result = condition ? std::optional<Truth>(conjunction(*result, *condition)) : std::nullopt;
        }
        if (result)
            result = negated(*result);
    } else {
        result = r.mediaCondition(true);
    }
    if (!result || !r.atEnd())
        return truthOf(false); // a query that does not parse is "not all"
    return *result;
}

// Token ranges between the top-level commas.
std::vector<std::pair<std::size_t, std::size_t>> topLevelParts(const std::vector<Token>& tokens) {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == Token::Open || t.kind == Token::Function)
            ++depth;
        else if (t.kind == Token::Close && depth > 0)
            --depth;
        else if (t.kind == Token::Comma && depth == 0) {
            parts.emplace_back(start, i);
            start = i + 1;
        }
    }
    parts.emplace_back(start, tokens.size());
    return parts;
}

} // namespace

const Screen& screenAt(int index) {
    return kScreens[index];
}

MediaMatch evaluateMediaQueryList(QStringView media) {
    const std::vector<Token> tokens = tokenize(media);
    if (tokens.empty())
        return {kAllScreens, 0};
    Truth any;
    for (const auto& [begin, end] : topLevelParts(tokens))
        any = disjunction(any, mediaQuery(tokens, begin, end));
    return {any.yes, any.unknown};
}

SizeRange evaluateSizes(QStringView sizes, bool autoAllowed) {
    SizeRange range;
    SourceSizes& out = range.widest;
    for (int i = 0; i < kScreenCount; ++i)
        out[i] = kScreens[i].width; // 100vw, for the screens no entry matches
    const std::vector<Token> tokens = tokenize(sizes);
    ScreenSet open = kAllScreens;
    bool firstEntry = true;
    bool autoSized = false;
    for (const auto& [begin, end] : topLevelParts(tokens)) {
        const bool isFirst = std::exchange(firstEntry, false);
        if (begin == end)
            continue;
        if (isFirst && end - begin == 1 && isIdent(tokens[begin], QLatin1StringView("auto"))) {
            autoSized = autoAllowed;
            continue;
        }
        // the last component value is the length, what comes before it the condition
        std::size_t lengthStart = end - 1;
        if (tokens[lengthStart].kind == Token::Close) {
            int depth = 0;
            for (std::size_t i = end; i-- > begin;) {
                const Token& t = tokens[i];
                if (t.kind == Token::Close)
                    ++depth;
                else if ((t.kind == Token::Open || t.kind == Token::Function) && --depth == 0) {
                    lengthStart = i;
                    break;
                }
            }
            if (depth != 0 || tokens[lengthStart].kind != Token::Function)
                continue;
        }
        Reader lengthReader(tokens, lengthStart, end);
        const std::optional<Quantity> length = lengthReader.quantity();
        if (!length || !lengthReader.atEnd())
            continue;
        if (!length->length) { // a number: only a plain 0 is a length
            if (end - lengthStart != 1 || tokens[lengthStart].value != 0)
                continue;
        }
        if (lengthStart == end - 1 && tokens[lengthStart].value < 0)
            continue;
        ScreenSet matching = kAllScreens;
        if (lengthStart > begin) {
            Reader conditionReader(tokens, begin, lengthStart);
            const std::optional<Truth> condition = conditionReader.mediaCondition(true);
            if (!condition || !conditionReader.atEnd())
                continue;
            matching = condition->yes;
        }
        for (int i = 0; i < kScreenCount; ++i) {
            if (open & matching & (ScreenSet(1) << i))
                out[i] = std::max(0.0f, length->v[i]);
        }
        open &= ~matching;
        if (!open)
            break;
    }
    range.narrowest = range.widest;
    if (autoSized) {
        // laid out at a width the markup does not tell: the rest of the list is
        // the widest it gets, cards and thumbnails take a fraction of it
        for (float& width : range.narrowest)
            width /= 4;
    }
    return range;
}

void chooseCandidates(const QList<SrcsetCandidate>& candidates, bool srcIsCandidate, const SizeRange& sizes,
                      ScreenSet screens, std::vector<bool>& chosen) {
    const qsizetype n = candidates.size();
    chosen.assign(std::size_t(n + 1), false);
    if (n == 0 || !screens)
        return;
    bool anyWidth = false;
    bool anyDensity = false;
    for (const SrcsetCandidate& c : candidates) {
        anyWidth = anyWidth || c.width.has_value();
        anyDensity = anyDensity || !c.width.has_value();
    }
    // the src attribute counts as a 1x candidate beside density candidates only
    const qsizetype count = n + (srcIsCandidate && !anyWidth ? 1 : 0);
    QVarLengthArray<float, 16> density(count);
    QVarLengthArray<qsizetype, 16> order(count);
    auto measure = [&](float slotWidth) {
        slotWidth = std::max(slotWidth, 1e-3f); // a slot of 0: every candidate is dense enough
        for (qsizetype i = 0; i < count; ++i) {
            if (i == n)
                density[i] = 1.0f;
            else if (candidates[i].width)
                density[i] = float(*candidates[i].width) / slotWidth;
            else
                density[i] = float(std::min(candidates[i].density.value_or(1.0), 1e30));
        }
    };
    auto sortByDensity = [&] {
        for (qsizetype i = 0; i < count; ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return density[a] < density[b]; });
    };
    // the least dense candidate that is dense enough for the screen, else the
    // densest; of equally dense candidates the first
    auto pick = [&](float ratio) {
        for (qsizetype k = 0; k < count; ++k) {
            if (density[order[k]] >= ratio)
                return order[k];
        }
        qsizetype k = count - 1;
        while (k > 0 && density[order[k - 1]] == density[order[k]])
            --k;
        return order[k];
    };
    // w candidates keep their order on every screen; mixed with x candidates they do not
    const bool mixed = anyWidth && anyDensity;
    if (!mixed) {
        measure(1.0f);
        sortByDensity();
    }
    auto chooseAt = [&](float slotWidth, float ratio) {
        measure(slotWidth);
        if (mixed)
            sortByDensity();
        return pick(ratio);
    };
    std::vector<bool> between; // chosen at some slot width inside a screen's range
    for (int screen = 0; screen < kScreenCount; ++screen) {
        if (!(screens & (ScreenSet(1) << screen)))
            continue;
        const float ratio = kScreens[screen].ratio;
        const qsizetype wide = anyWidth ? chooseAt(sizes.widest[screen], ratio) : pick(ratio);
        chosen[std::size_t(wide)] = true;
        if (!anyWidth || sizes.narrowest[screen] == sizes.widest[screen])
            continue;
        const qsizetype narrow = chooseAt(sizes.narrowest[screen], ratio);
        chosen[std::size_t(narrow)] = true;
        // every width between the two is chosen at some slot width between them
        if (wide < n && narrow < n && candidates[wide].width && candidates[narrow].width) {
            between.resize(std::size_t(n), false);
            for (qsizetype i = 0; i < n; ++i) {
                const std::optional<int> w = candidates[i].width;
                if (w && *w > *candidates[narrow].width && *w < *candidates[wide].width)
                    between[std::size_t(i)] = true;
            }
        }
    }
    std::vector<qsizetype> inside;
    for (qsizetype i = 0; i < qsizetype(between.size()); ++i) {
        if (between[std::size_t(i)] && !chosen[std::size_t(i)])
            inside.push_back(i);
    }
    if (qsizetype(inside.size()) > kMaxCandidatesBetween) {
        // a srcset denser than any publisher writes: widths spread over the range stand for the rest
        std::stable_sort(inside.begin(), inside.end(), [&](qsizetype a, qsizetype b) {
            return *candidates[a].width < *candidates[b].width;
        });
        std::vector<qsizetype> spread;
        for (qsizetype k = 0; k < kMaxCandidatesBetween; ++k)
            spread.push_back(inside[std::size_t(k * qsizetype(inside.size()) / kMaxCandidatesBetween)]);
        inside.swap(spread);
    }
    for (const qsizetype i : inside)
        chosen[std::size_t(i)] = true;
}

TypeSupport pictureTypeSupport(QStringView type) {
    type = trimAsciiWhitespace(type);
    if (type.isEmpty())
        return TypeSupport::Yes;
    if (const qsizetype semicolon = type.indexOf(u';'); semicolon >= 0)
        type = trimAsciiWhitespace(type.first(semicolon));
    static const char* const kLoaded[] = {
        "image/avif",    "image/webp",  "image/png", "image/apng", "image/x-png",  "image/jpeg",
        "image/jpg",     "image/pjpeg", "image/gif", "image/bmp",  "image/x-icon", "image/vnd.microsoft.icon",
        "image/svg+xml",
    };
    for (const char* known : kLoaded) {
        if (type.compare(QLatin1StringView(known), Qt::CaseInsensitive) == 0)
            return TypeSupport::Yes;
    }
    static const char* const kNotLoaded[] = {"image/heic", "image/heif", "image/jp2",         "image/jpx",
                                             "image/tiff", "image/jxr",  "image/vnd.ms-photo"};
    for (const char* known : kNotLoaded) {
        if (type.compare(QLatin1StringView(known), Qt::CaseInsensitive) == 0)
            return TypeSupport::No;
    }
    if (!type.startsWith(u"image/", Qt::CaseInsensitive))
        return TypeSupport::No;
    return TypeSupport::Maybe; // JPEG XL and newer types: some browsers load them
}

} // namespace skarvel::analysis
