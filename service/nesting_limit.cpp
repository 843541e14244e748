#include "service/nesting_limit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
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
    return isOneOf(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img",
                          "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements whose text runs to their own end tag: no markup inside.
bool isRawText(std::string_view name) {
    return isOneOf(name, {"script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"});
}

// Start tags that close an open <p>.
bool closesParagraph(std::string_view name) {
    return isOneOf(name, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir",
                          "div", "dl", "fieldset", "figcaption", "figure", "footer", "form", "h1", "h2", "h3",
                          "h4", "h5", "h6", "header", "hgroup", "hr", "listing", "main", "menu", "nav", "ol", "p",
                          "pre", "section", "summary", "table", "ul", "li", "dd", "dt"});
}

bool isHeading(std::string_view name) {
    return isOneOf(name, {"h1", "h2", "h3", "h4", "h5", "h6"});
}

// Formatting elements: the parser may reopen them after closing them, so an
// end tag of theirs is trusted only when it closes the innermost element.
bool isFormatting(std::string_view name) {
    return isOneOf(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt",
                          "u"});
}

// The parser's "special" elements: an end tag of an ordinary element is
// ignored when one of them is open inside the element.
bool isSpecial(std::string_view name) {
    return isOneOf(name, {"address", "applet", "article", "aside", "blockquote", "body", "button", "caption",
                          "center", "colgroup", "dd", "details", "dir", "div", "dl", "dt", "fieldset", "figcaption",
                          "figure", "footer", "form", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head",
                          "header", "hgroup", "html", "li", "listing", "main", "marquee", "menu", "nav", "object",
                          "ol", "p", "plaintext", "pre", "section", "select", "summary", "table", "tbody", "td",
                          "template", "tfoot", "th", "thead", "tr", "ul", "svg", "math", "foreignobject"}) ||
           isRawText(name);
}

// Elements that bound the parser's search for an open element by name.
bool isScopeBoundary(std::string_view name) {
    return isOneOf(name, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template", "svg",
                          "math", "foreignobject"});
}

// Elements worth a few levels beyond the limit: the analysis reads what is inside them.
bool keepsItsContents(std::string_view name) {
    return isOneOf(name, {"a", "picture", "audio", "video", "svg"});
}
constexpr std::size_t kDepthReserve = 16;

struct OpenElement {
    std::uint32_t offset; // of the name in the page
    std::uint32_t length;
    bool flattened; // closed right after its start tag
};

struct Edit {
    std::size_t at;
    std::size_t removed;       // bytes of the page dropped at `at`
    std::string_view inserted; // tag name to close at `at`, or empty
};

class DepthLimiter {
public:
    DepthLimiter(QByteArrayView html, int maxDepth)
        : m_text(html.data(), std::size_t(html.size())), m_maxDepth(std::size_t(maxDepth)) {}

    std::optional<QByteArray> run() {
        scan();
        if (m_edits.empty())
            return std::nullopt;
        QByteArray out;
        out.reserve(qsizetype(m_text.size() + m_edits.size() * 8));
        std::size_t from = 0;
        for (const Edit& e : m_edits) {
            out.append(m_text.data() + from, qsizetype(e.at - from));
            if (!e.inserted.empty()) {
                out.append("</");
                out.append(e.inserted.data(), qsizetype(e.inserted.size()));
                out.append('>');
            }
            from = e.at + e.removed;
        }
        out.append(m_text.data() + from, qsizetype(m_text.size() - from));
        return out;
    }

private:
    std::string_view nameOf(const OpenElement& e) const { return m_text.substr(e.offset, e.length); }

    std::size_t find(std::string_view what, std::size_t from) const {
        const std::size_t at = m_text.find(what, from);
        return at == std::string_view::npos ? m_text.size() : at;
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
            while (pos < n && !isSpace(m_text[pos]) && m_text[pos] != '/' && m_text[pos] != '>' && m_text[pos] != '=')
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

    void popTop() {
        const OpenElement& top = m_open.back();
        if (!top.flattened) {
            --m_depth;
            if (isOneOf(nameOf(top), {"svg", "math"}))
                --m_foreign;
        }
        m_open.pop_back();
    }

    enum class Passing { Anything, AllButScopeBoundaries, AllButSpecialExceptBlocks, OrdinaryOnly, Nothing };

    static bool passes(Passing passing, std::string_view name) {
        switch (passing) {
        case Passing::Anything:
            return true;
        case Passing::AllButScopeBoundaries:
            return !isScopeBoundary(name);
        case Passing::AllButSpecialExceptBlocks:
            return !isSpecial(name) || isOneOf(name, {"address", "div", "p"});
        case Passing::OrdinaryOnly:
            return !isSpecial(name) && !isFormatting(name);
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
            const std::string_view name = nameOf(m_open[m_open.size() - i]);
            if (isTarget(name)) {
                m_matchedFlattened = m_open[m_open.size() - i].flattened;
                for (std::size_t k = 0; k < i; ++k)
                    popTop();
                return true;
            }
            if (isOneOf(name, stops) || !passes(passing, name))
                return false;
        }
        return false;
    }

    void impliedEnds(std::string_view rawName) {
        const std::string_view name = toLowerView(rawName);
        auto named = [](std::initializer_list<std::string_view> names) {
            return [names](std::string_view n) { return isOneOf(n, names); };
        };
        if (closesParagraph(name))
            popTo(named({"p"}), Passing::Nothing);
        if (isHeading(name))
            popTo(isHeading, Passing::Nothing);
        if (name == "li")
            popTo(named({"li"}), Passing::AllButSpecialExceptBlocks);
        else if (name == "dt" || name == "dd")
            popTo(named({"dt", "dd"}), Passing::AllButSpecialExceptBlocks);
        else if (name == "option")
            popTo(named({"option"}), Passing::Nothing);
        else if (name == "optgroup")
            popTo(named({"option", "optgroup"}), Passing::Nothing) && popTo(named({"optgroup"}), Passing::Nothing);
        else if (name == "tr")
            popTo(named({"tr"}), Passing::Anything, {"table", "tbody", "thead", "tfoot", "template"});
        else if (name == "td" || name == "th")
            popTo(named({"td", "th"}), Passing::Anything, {"tr", "table", "tbody", "thead", "tfoot", "template"});
        else if (name == "tbody" || name == "thead" || name == "tfoot")
            popTo(named({"tbody", "thead", "tfoot"}), Passing::Anything, {"table", "template"});
        else if (name == "rt" || name == "rp")
            popTo(named({"rt", "rp"}), Passing::Nothing);
        else if (isOneOf(name, {"a", "button", "nobr"}))
            popTo(named({name}), Passing::Nothing);
    }

    void startTag(std::string_view name, std::size_t end, bool selfClosing) {
        if (isOneOf(name, {"html", "head", "body"}) || isVoid(name))
            return;
        if (selfClosing && m_foreign > 0)
            return;
        impliedEnds(name);
        const bool flatten =
            m_depth >= m_maxDepth && !(m_depth < m_maxDepth + kDepthReserve && keepsItsContents(toLowerView(name)));
        if (flatten) {
            m_edits.push_back({end + 1, 0, name});
        } else {
            ++m_depth;
            if (isOneOf(name, {"svg", "math"}))
                ++m_foreign;
        }
        m_open.push_back({std::uint32_t(name.data() - m_text.data()), std::uint32_t(name.size()), flatten});
    }

    void endTag(std::string_view name, std::size_t begin, std::size_t end) {
        const std::string_view lowered = toLowerView(name);
        const Passing passing = isFormatting(lowered) ? Passing::Nothing
                                : isSpecial(lowered)  ? Passing::AllButScopeBoundaries
                                                      : Passing::OrdinaryOnly;
        // the element's own end tag goes when the element was closed at its start
        if (popTo([lowered](std::string_view n) { return equalsLower(n, lowered); }, passing) && m_matchedFlattened)
            m_edits.push_back({begin, end + 1 - begin, {}});
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
                    std::size_t nameEnd = pos + 1;
                    while (nameEnd < n && !isSpace(m_text[nameEnd]) && m_text[nameEnd] != '/' && m_text[nameEnd] != '>')
                        ++nameEnd;
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
                std::size_t nameEnd = pos;
                while (nameEnd < n && !isSpace(m_text[nameEnd]) && m_text[nameEnd] != '/' && m_text[nameEnd] != '>')
                    ++nameEnd;
                bool selfClosing = false;
                const std::size_t end = tagEnd(nameEnd, selfClosing);
                if (end == std::string_view::npos)
                    return; // a tag cut by the end of the page is dropped by the parser
                const std::string_view name = m_text.substr(pos, nameEnd - pos);
                pos = end + 1;
                if (equalsLower(name, "plaintext"))
                    return;
                if (isRawText(name) && m_foreign == 0) {
                    pos = rawTextEnd(toLowerView(name), pos);
                    continue;
                }
                startTag(name, end, selfClosing);
            }
        }
    }

    std::string_view m_text;
    std::size_t m_maxDepth;
    std::vector<OpenElement> m_open;
    std::vector<Edit> m_edits;
    std::string m_lowered;
    bool m_matchedFlattened = false;
    std::size_t m_depth = 0; // open elements that the parser will nest
    int m_foreign = 0;
};

} // namespace

std::optional<QByteArray> limitNestingDepth(QByteArrayView html, int maxDepth) {
    return DepthLimiter(html, maxDepth).run();
}

} // namespace skarvel::analysis
