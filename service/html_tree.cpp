#include "service/html_tree.h"

#include "service/html_analysis.h"
#include "service/nesting_limit.h"

#include <cstring>

namespace skarvel::analysis {

HtmlTree::HtmlTree(QByteArrayView utf8Html) {
    if (std::optional<QByteArray> flattened = limitNestingDepth(utf8Html, kMaxNestingDepth)) {
        m_flattened = std::move(*flattened);
        utf8Html = m_flattened;
    }
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // nobody reads the parse errors; recording them costs time
    m_output.reset(gumbo_parse_with_options(&options, utf8Html.data(), size_t(utf8Html.size())));
}

bool isUnknownElementNamed(const GumboNode* node, const char* name) {
    if (!node || !isElement(node) || node->v.element.tag != GUMBO_TAG_UNKNOWN)
        return false;
    GumboStringPiece piece = node->v.element.original_tag;
    if (!piece.data || piece.length == 0)
        return false;
    gumbo_tag_from_original_text(&piece);
    return piece.length == std::strlen(name) && qstrnicmp(piece.data, name, piece.length) == 0;
}

QString textContent(const GumboNode* node) {
    QString text;
    if (const GumboVector* children = childrenOf(node)) {
        for (unsigned i = 0; i < children->length; ++i) {
            const auto* child = static_cast<const GumboNode*>(children->data[i]);
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_CDATA ||
                child->type == GUMBO_NODE_WHITESPACE)
                text += QString::fromUtf8(child->v.text.text);
        }
    }
    return text;
}

} // namespace skarvel::analysis
