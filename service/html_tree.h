#pragma once
// The parsed page: gumbo's tree behind RAII, and the small readers of it that
// the analysis uses.
#include <gumbo.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

namespace skarvel::analysis {

// The memory of one parse. gumbo makes several small allocations per tag and
// frees most of them again; served from large blocks with free lists by size,
// they cost a fraction of malloc's time, the large blocks are backed by huge
// pages (far fewer page faults), and the whole tree goes at once.
class ParseArena {
public:
    explicit ParseArena(std::size_t expectedBytes);
    ~ParseArena();
    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    void* allocate(std::size_t size) noexcept;
    void release(void* block) noexcept;

private:
    struct Region {
        void* mapping;
        std::size_t length;
    };
    bool grow(std::size_t atLeast) noexcept;

    static constexpr int kClasses = 64 + 27; // 8-byte steps to 512, then powers of two from 1 KB to 64 GB
    void* m_free[kClasses] = {};
    char* m_next = nullptr;
    std::size_t m_left = 0;
    std::size_t m_nextRegion;
    std::vector<Region> m_regions;
};

class HtmlTree {
public:
    // Parses the page with its nesting bounded to kMaxNestingDepth.
    explicit HtmlTree(QByteArrayView utf8Html);
    const GumboNode* root() const { return m_output->document; }

private:
    QByteArray m_flattened; // the parsed text when the page had to be flattened; gumbo points into it
    std::unique_ptr<ParseArena> m_arena; // owns every node of m_output
    GumboOutput* m_output = nullptr;
};

inline bool isElement(const GumboNode* node) {
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

inline const GumboVector* childrenOf(const GumboNode* node) {
    if (node->type == GUMBO_NODE_DOCUMENT)
        return &node->v.document.children;
    if (isElement(node))
        return &node->v.element.children;
    return nullptr;
}

// Visits every element in document order without recursion: enter(node) on
// the way down, leave(node) once its whole subtree has been visited.
template <typename Enter, typename Leave>
void walkElements(const GumboNode* root, Enter&& enter, Leave&& leave) {
    struct Step {
        const GumboNode* node;
        bool leaving;
    };
    std::vector<Step> stack{{root, false}};
    while (!stack.empty()) {
        const Step step = stack.back();
        stack.pop_back();
        if (step.leaving) {
            leave(step.node);
            continue;
        }
        if (isElement(step.node)) {
            enter(step.node);
            stack.push_back({step.node, true});
        }
        if (const GumboVector* children = childrenOf(step.node)) {
            for (unsigned i = children->length; i > 0; --i) {
                const auto* child = static_cast<const GumboNode*>(children->data[i - 1]);
                if (childrenOf(child))
                    stack.push_back({child, false});
            }
        }
    }
}

template <typename Visitor> void forEachElement(const GumboNode* root, Visitor&& visit) {
    walkElements(root, visit, [](const GumboNode*) {});
}

inline const char* rawAttr(const GumboNode* node, const char* name) {
    const GumboAttribute* attr = gumbo_get_attribute(&node->v.element.attributes, name);
    return attr ? attr->value : nullptr;
}

inline QString attr(const GumboNode* node, const char* name) {
    const char* value = rawAttr(node, name);
    return value ? QString::fromUtf8(value) : QString();
}

inline bool hasTag(const GumboNode* node, GumboTag tag) {
    return node && isElement(node) && node->v.element.tag == tag;
}

// gumbo 0.10 has no constant for newer elements such as <picture>.
bool isUnknownElementNamed(const GumboNode* node, const char* name);

// The text, CDATA and blank children of an element, joined.
QString textContent(const GumboNode* node);

} // namespace skarvel::analysis
