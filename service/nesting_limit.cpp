#include "service/nesting_limit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace skarvel::analysis {

namespace {

// How far below the top of the open elements an end tag or an implied end is
// looked for; further matches are left alone, which keeps the pass linear.
constexpr std::size_t kSearchReach = 32;

bool isAlpha(char c) {
    const char l = char(c | 0x20);
    return l >= 'a' && l <= 'z';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c | 0x20) : c;
}

bool equalsLower(std::string_view name, std::string_view lowerWord) {
    if (name.size() != lowerWord.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (lower(name[i]) != lowerWord[i])
            return false;
    }
    return true;
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> words) {
    for (std::string_view w : words) {
        if (equalsLower(name, w))
            return true;
    }
    return false;
}

bool isVoid(std::string_view name) {
    return isOneOf(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image",
                          "img", "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements whose text runs to their own end tag: no markup inside.
bool isRawText(std::string_view name) {
    return isOneOf(name, {"script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"});
}

// Start tags that close an open <p>.
bool closesParagraph(std::string_view name) {
    return isOneOf(name,
                   {"address", "article", "aside",    "blockquote", "center", "details", "dialog", "dir",
                    "div",     "dl",      "fieldset", "figcaption", "figure", "footer",  "form",   "h1",
                    "h2",      "h3",      "h4",       "h5",         "h6",     "header",  "hgroup", "hr",
                    "listing", "main",    "menu",     "nav",        "ol",     "p",       "pre",    "section",
                    "summary", "table",   "ul",       "li",         "dd",     "dt"});
}

bool isHeading(std::string_view name) {
    return isOneOf(name, {"h1", "h2", "h3", "h4", "h5", "h6"});
}

// Formatting elements: the parser may reopen them after closing them, so an
// end tag of theirs is trusted only when it closes the innermost element.
bool isFormatting(std::string_view name) {
    return isOneOf(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike",
                          "strong", "tt", "u"});
}

// The parser's "special" elements: an end tag of an ordinary element is
// ignored when one of them is open inside the element.
bool isSpecial(std::string_view name) {
    return isOneOf(name, {"address", "applet",   "article", "aside",        "blockquote", "body",
                          "button",  "caption",  "center",  "colgroup",     "dd",         "details",
                          "dir",     "div",      "dl",      "dt",           "fieldset",   "figcaption",
                          "figure",  "footer",   "form",    "frameset",     "h1",         "h2",
                          "h3",      "h4",       "h5",      "h6",           "head",       "header",
                          "hgroup",  "html",     "li",      "listing",      "main",       "marquee",
                          "menu",    "nav",      "object",  "ol",           "p",          "plaintext",
                          "pre",     "section",  "select",  "summary",      "table",      "tbody",
                          "td",      "template", "tfoot",   "th",           "thead",      "tr",
                          "ul",      "svg",      "math",    "foreignobject"}) ||
           isRawText(name);
}

// Elements that bound the parser's search for an open element by name.
bool isScopeBoundary(std::string_view name) {
    return isOneOf(name, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template",
                          "svg", "math", "foreignobject"});
}

// Elements worth a few levels beyond the limit: the analysis reads what is inside them.
bool keepsItsContents(std::string_view name) {
    return isOneOf(name, {"a", "picture", "audio", "video", "svg"});
}
constexpr std::size_t kDepthReserve = 16;

enum Kind : std::uint16_t {
    kVoid = 1 << 0,
    kRawText = 1 << 1,
    kClosesParagraph = 1 << 2,
    kHeading = 1 << 3,
    kFormatting = 1 << 4,
    kSpecial = 1 << 5,
    kScopeBoundary = 1 << 6,
    kKeepsContents = 1 << 7,
    kForeignRoot = 1 << 8, // svg, math
    kBlockLike = 1 << 9,   // address, div, p: an <li> closes its open <li> across them
    kDocument = 1 << 10,   // html, head, body: always there, never counted
};

std::uint16_t classify(std::string_view name) {
    std::uint16_t kind = 0;
    const std::pair<bool, Kind> tests[] = {
        {isVoid(name), kVoid},
        {isRawText(name), kRawText},
        {closesParagraph(name), kClosesParagraph},
        {isHeading(name), kHeading},
        {isFormatting(name), kFormatting},
        {isSpecial(name), kSpecial},
        {isScopeBoundary(name), kScopeBoundary},
        {keepsItsContents(name), kKeepsContents},
        {isOneOf(name, {"svg", "math"}), kForeignRoot},
        {isOneOf(name, {"address", "div", "p"}), kBlockLike},
        {isOneOf(name, {"html", "head", "body"}), kDocument},
    };
    for (const auto& [holds, bit] : tests) {
        if (holds)
            kind |= bit;
    }
    return kind;
}

struct OpenElement {
    std::uint32_t offset; // of the name in the page
    std::uint32_t length;
    std::uint16_t kind;
    bool flattened;      // closed right after its start tag
    std::uint32_t count; // flattened elements of one name in a row share an entry
};

class DepthLimiter {
public:
    DepthLimiter(QByteArrayView html, int maxDepth)
        : m_text(html.data(), std::size_t(html.size())), m_maxDepth(std::size_t(maxDepth)) {}

    std::optional<QByteArray> run() {
        scan();
        if (!m_edited)
            return std::nullopt;
        copyUpTo(m_text.size());
        return std::move(m_out);
    }

private:
    std::string_view nameOf(const OpenElement& e) const { return m_text.substr(e.offset, e.length); }

    std::size_t find(std::string_view what, std::size_t from) const {
        const std::size_t at = m_text.find(what, from);
        return at == std::string_view::npos ? m_text.size() : at;
    }

    // End of the tag name that starts at pos: the first blank, '/' or '>' after it.
    std::size_t tagNameEnd(std::size_t pos) const {
        const std::size_t n = m_text.size();
        while (pos < n && !isSpace(m_text[pos]) && m_text[pos] != '/' && m_text[pos] != '>')
            ++pos;
        return pos;
    }

    // Index of the '>' that ends the tag whose attributes start at pos; npos when the page ends first.
    std::size_t tagEnd(std::size_t pos, bool& selfClosing) const {
        const std::size_t n = m_text.size();
        selfClosing = false;
        while (pos < n) {
            const char c = m_text[pos];
            if (c == '>')
                return pos;
            if (isSpace(c)) {
                ++pos;
                continue;
            }
            if (c == '/') {
                selfClosing = pos + 1 < n && m_text[pos + 1] == '>';
                ++pos;
                continue;
            }
            ++pos; // an attribute name may start with '='
            while (pos < n && !isSpace(m_text[pos]) && m_text[pos] != '/' && m_text[pos] != '>' &&
                   m_text[pos] != '=')
                ++pos;
            while (pos < n && isSpace(m_text[pos]))
                ++pos;
            if (pos < n && m_text[pos] == '=') {
                ++pos;
                while (pos < n && isSpace(m_text[pos]))
                    ++pos;
                if (pos < n && (m_text[pos] == '"' || m_text[pos] == '\'')) {
                    const std::size_t close = m_text.find(m_text[pos], pos + 1);
                    if (close == std::string_view::npos)
                        return std::string_view::npos;
                    pos = close + 1;
                } else {
                    while (pos < n && !isSpace(m_text[pos]) && m_text[pos] != '>')
                        ++pos;
                }
            }
        }
        return std::string_view::npos;
    }

    // Start of the end tag "</name" that closes raw text, or the end of the page.
    std::size_t rawTextEnd(std::string_view name, std::size_t from) const {
        const std::size_t n = m_text.size();
        while (true) {
            const std::size_t lt = m_text.find("</", from);
            if (lt == std::string_view::npos)
                return n;
            const std::size_t after = lt + 2 + name.size();
            if (after <= n && equalsLower(m_text.substr(lt + 2, name.size()), name) &&
                (after == n || isSpace(m_text[after]) || m_text[after] == '/' || m_text[after] == '>'))
                return lt;
            from = lt + 2;
        }
    }

    // Kinds of the tag names met so far; a page with ever new names stops filling it.
    std::uint16_t kindOf(std::string_view lowered) {
        const auto known = m_kinds.find(m_lowered);
        if (known != m_kinds.end())
            return known->second;
        const std::uint16_t kind = classify(lowered);
        if (m_kinds.size() < 4096)
            m_kinds.emplace(std::string(lowered), kind);
        return kind;
    }

    // One element less: the innermost.
    void popTop() {
        OpenElement& top = m_open.back();
        if (top.flattened && top.count > 1)
            --top.count;
        else
            dropTop();
    }

    // The innermost entry with every element it stands for.
    void dropTop() {
        const OpenElement& top = m_open.back();
        if (!top.flattened) {
            --m_depth;
            if (top.kind & kForeignRoot)
                --m_foreign;
        }
        m_open.pop_back();
    }

    enum class Passing { Anything, AllButScopeBoundaries, AllButSpecialExceptBlocks, OrdinaryOnly, Nothing };

    static bool passes(Passing passing, std::uint16_t kind) {
        switch (passing) {
        case Passing::Anything:
            return true;
        case Passing::AllButScopeBoundaries:
            return !(kind & kScopeBoundary);
        case Passing::AllButSpecialExceptBlocks:
            return !(kind & kSpecial) || (kind & kBlockLike);
        case Passing::OrdinaryOnly:
            return !(kind & (kSpecial | kFormatting));
        case Passing::Nothing:
            break;
        }
        return false;
    }

    // Pops to the nearest open element named by `isTarget` when every element
    // above it is one the parser pops on the way, as far as the search reaches.
    // Where the parser might keep elements open, nothing is popped: counting
    // too deep only flattens a little early, counting too shallow costs time.
    template <typename IsTarget>
    bool popTo(IsTarget&& isTarget, Passing passing, std::initializer_list<std::string_view> stops = {}) {
        const std::size_t reach = std::min(m_open.size(), kSearchReach);
        for (std::size_t i = 1; i <= reach; ++i) {
            const OpenElement& open = m_open[m_open.size() - i];
            const std::string_view name = nameOf(open);
            if (isTarget(name)) {
                m_matchedFlattened = open.flattened;
                for (std::size_t k = 1; k < i; ++k)
                    dropTop();
                popTop();
                return true;
            }
            if (!passes(passing, open.kind) || (stops.size() && isOneOf(name, stops)))
                return false;
        }
        return false;
    }

    void impliedEnds(std::string_view name, std::uint16_t kind) {
        auto named = [](std::initializer_list<std::string_view> names) {
            return [names](std::string_view n) { return isOneOf(n, names); };
        };
        if (kind & kClosesParagraph)
            popTo(named({"p"}), Passing::Nothing);
        if (kind & kHeading)
            popTo(isHeading, Passing::Nothing);
        if (name == "li")
            popTo(named({"li"}), Passing::AllButSpecialExceptBlocks);
        else if (name == "dt" || name == "dd")
            popTo(named({"dt", "dd"}), Passing::AllButSpecialExceptBlocks);
        else if (name == "option")
            popTo(named({"option"}), Passing::Nothing);
        else if (name == "optgroup")
            popTo(named({"option", "optgroup"}), Passing::Nothing) &&
                popTo(named({"optgroup"}), Passing::Nothing);
        else if (name == "tr")
            popTo(named({"tr"}), Passing::Anything, {"table", "tbody", "thead", "tfoot", "template"});
        else if (name == "td" || name == "th")
            popTo(named({"td", "th"}), Passing::Anything,
                  {"tr", "table", "tbody", "thead", "tfoot", "template"});
        else if (name == "tbody" || name == "thead" || name == "tfoot")
            popTo(named({"tbody", "thead", "tfoot"}), Passing::Anything, {"table", "template"});
        else if (name == "rt" || name == "rp")
            popTo(named({"rt", "rp"}), Passing::Nothing);
        else if (isOneOf(name, {"a", "button", "nobr"}))
            popTo(named({name}), Passing::Nothing);
    }

    // begin..end: the whole start tag; lowered: its name in lower case.
    void startTag(std::string_view name, std::string_view lowered, std::size_t begin, std::size_t end,
                  bool selfClosing, bool hasAttributes) {
        const std::uint16_t kind = kindOf(lowered);
        if (kind & (kDocument | kVoid))
            return;
        if (selfClosing && m_foreign > 0)
            return;
        impliedEnds(lowered, kind);
        const bool flatten =
            m_depth >= m_maxDepth && !(m_depth < m_maxDepth + kDepthReserve && (kind & kKeepsContents));
        if (flatten) {
            // a bare tag carries nothing worth a node; a tag with attributes keeps them
            if (hasAttributes)
                insertEndTag(end + 1, name);
            else
                removeBytes(begin, end + 1);
            if (!m_open.empty() && m_open.back().flattened && m_open.back().kind == kind &&
                equalsLower(nameOf(m_open.back()), lowered)) {
                ++m_open.back().count;
                return;
            }
        } else {
            ++m_depth;
            if (kind & kForeignRoot)
                ++m_foreign;
        }
        m_open.push_back(
            {std::uint32_t(name.data() - m_text.data()), std::uint32_t(name.size()), kind, flatten, 1});
    }

    void endTag(std::string_view name, std::size_t begin, std::size_t end) {
        const std::string_view lowered = toLowerView(name);
        const std::uint16_t kind = kindOf(lowered);
        const Passing passing = (kind & kFormatting) ? Passing::Nothing
                                : (kind & kSpecial)  ? Passing::AllButScopeBoundaries
                                                     : Passing::OrdinaryOnly;
        // the element's own end tag goes when the element was closed at its start
        if (popTo([lowered](std::string_view n) { return equalsLower(n, lowered); }, passing) &&
            m_matchedFlattened)
            removeBytes(begin, end + 1);
    }

    // The edits come in page order, so the edited page is written as the scan
    // goes: m_copied is how far the page has been copied or skipped.
    void copyUpTo(std::size_t at) {
        if (!m_edited) {
            m_edited = true;
            m_out.reserve(qsizetype(m_text.size() + m_text.size() / 16) + 64);
        }
        m_out.append(m_text.data() + m_copied, qsizetype(at - m_copied));
        m_copied = at;
    }

    void removeBytes(std::size_t from, std::size_t to) {
        copyUpTo(from);
        m_copied = to;
    }

    void insertEndTag(std::size_t at, std::string_view name) {
        copyUpTo(at);
        m_out.append("</");
        m_out.append(name.data(), qsizetype(name.size()));
        m_out.append('>');
    }

    // A lower-case copy of a tag name, for the case-insensitive comparisons.
    std::string_view toLowerView(std::string_view name) {
        m_lowered.assign(name);
        for (char& c : m_lowered)
            c = lower(c);
        return m_lowered;
    }

    void scan() {
        const std::size_t n = m_text.size();
        std::size_t pos = 0;
        while (pos < n) {
            const void* lt = std::memchr(m_text.data() + pos, '<', n - pos);
            if (!lt)
                return;
            const std::size_t begin = std::size_t(static_cast<const char*>(lt) - m_text.data());
            pos = begin + 1;
            if (pos >= n)
                return;
            const char c = m_text[pos];
            if (c == '!') {
                if (m_text.substr(pos, 3) == "!--") {
                    const std::size_t close = find("-->", begin + 2);
                    pos = close + 3;
                } else {
                    pos = find(">", pos) + 1;
                }
            } else if (c == '?') {
                pos = find(">", pos) + 1;
            } else if (c == '/') {
                if (pos + 1 < n && isAlpha(m_text[pos + 1])) {
                    const std::size_t nameEnd = tagNameEnd(pos + 1);
                    bool selfClosing = false;
                    const std::size_t end = tagEnd(nameEnd, selfClosing);
                    if (end == std::string_view::npos)
                        return;
                    endTag(m_text.substr(pos + 1, nameEnd - pos - 1), begin, end);
                    pos = end + 1;
                } else {
                    pos = find(">", pos) + 1;
                }
            } else if (isAlpha(c)) {
                const std::size_t nameEnd = tagNameEnd(pos);
                bool selfClosing = false;
                const std::size_t end = tagEnd(nameEnd, selfClosing);
                if (end == std::string_view::npos)
                    return; // a tag cut by the end of the page is dropped by the parser
                const std::string_view name = m_text.substr(pos, nameEnd - pos);
                const std::string_view lowered = toLowerView(name);
                pos = end + 1;
                if (lowered == "plaintext")
                    return;
                if ((kindOf(lowered) & kRawText) && m_foreign == 0) {
                    pos = rawTextEnd(lowered, pos);
                    continue;
                }
                bool hasAttributes = false;
                for (std::size_t i = nameEnd; i < end && !hasAttributes; ++i)
                    hasAttributes = !isSpace(m_text[i]) && m_text[i] != '/';
                startTag(name, lowered, begin, end, selfClosing, hasAttributes);
            }
        }
    }

    std::string_view m_text;
    std::size_t m_maxDepth;
    std::vector<OpenElement> m_open;
    QByteArray m_out;
    std::size_t m_copied = 0;
    bool m_edited = false;
    std::string m_lowered;
    std::unordered_map<std::string, std::uint16_t> m_kinds;
    bool m_matchedFlattened = false;
    std::size_t m_depth = 0; // open elements that the parser will nest
    int m_foreign = 0;
};

} // namespace

std::optional<QByteArray> limitNestingDepth(QByteArrayView html, int maxDepth) {
    return DepthLimiter(html, maxDepth).run();
}

} // namespace skarvel::analysis
