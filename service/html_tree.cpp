#include "service/html_tree.h"

#include "service/html_analysis.h"
#include "service/nesting_limit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace skarvel::analysis {

namespace {

constexpr std::size_t kHeader = 8; // a block's size class, in front of it
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kLargestRegion = std::size_t(64) << 20;

std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

// Size class of a request and the payload that class serves.
std::pair<int, std::size_t> sizeClass(std::size_t size) {
    if (size <= 512) {
        const std::size_t steps = size <= 8 ? 1 : (size + 7) / 8;
        return {int(steps - 1), steps * 8};
    }
    int exponent = 10;
    while ((std::size_t(1) << exponent) < size)
        ++exponent;
    return {64 + exponent - 10, std::size_t(1) << exponent};
}

void* allocateThunk(void* arena, size_t size) noexcept {
    return static_cast<ParseArena*>(arena)->allocate(size);
}

void releaseThunk(void* arena, void* block) noexcept {
    static_cast<ParseArena*>(arena)->release(block);
}

#ifdef _WIN32
// Windows' large pages need a privilege an ordinary user lacks: plain committed pages.
constexpr bool kHugeHint = false;

void* mapRegion(std::size_t length) noexcept {
    return VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void unmapRegion(void* mapping, std::size_t) noexcept {
    VirtualFree(mapping, 0, MEM_RELEASE);
}

void adviseHuge(void*, std::size_t) noexcept {}
#else
constexpr bool kHugeHint = true;

void* mapRegion(std::size_t length) noexcept {
    void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return mapping == MAP_FAILED ? nullptr : mapping;
}

void unmapRegion(void* mapping, std::size_t length) noexcept {
    munmap(mapping, length);
}

void adviseHuge(void* start, std::size_t length) noexcept {
    madvise(start, length, MADV_HUGEPAGE); // only a hint: without it, ordinary pages
}
#endif

} // namespace

ParseArena::ParseArena(std::size_t expectedBytes)
    : m_nextRegion(std::clamp(roundUp(expectedBytes * 4, std::size_t(64) << 10), std::size_t(256) << 10,
                              kLargestRegion)) {}

ParseArena::~ParseArena() {
    for (const Region& r : m_regions)
        unmapRegion(r.mapping, r.length);
}

bool ParseArena::grow(std::size_t atLeast) noexcept {
    std::size_t length = std::max(m_nextRegion, roundUp(atLeast, kHugePage));
    const bool huge = kHugeHint && length >= kHugePage;
    const std::size_t mapped = huge ? length + kHugePage : length;
    void* mapping = mapRegion(mapped);
    if (!mapping)
        return false;
    try {
        m_regions.push_back({mapping, mapped});
    } catch (...) {
        unmapRegion(mapping, mapped);
        return false;
    }
    auto* start = static_cast<char*>(mapping);
    if (huge) {
        start = reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
        adviseHuge(start, length);
    }
    m_next = start;
    m_left = length;
    m_nextRegion = std::min(m_nextRegion * 2, kLargestRegion);
    return true;
}

void* ParseArena::allocate(std::size_t size) noexcept {
    if (size > (std::size_t(1) << (kClasses - 64 + 9)))
        return nullptr;
    const auto [cls, payload] = sizeClass(size);
    if (void* block = m_free[cls]) {
        m_free[cls] = *static_cast<void**>(block);
        return block;
    }
    const std::size_t needed = kHeader + payload;
    if (needed > m_left && !grow(needed))
        return nullptr;
    char* header = m_next;
    m_next += needed;
    m_left -= needed;
    *reinterpret_cast<std::uint64_t*>(header) = std::uint64_t(cls);
    return header + kHeader;
}

void ParseArena::release(void* block) noexcept {
    if (!block)
        return;
    const auto cls = int(*reinterpret_cast<const std::uint64_t*>(static_cast<char*>(block) - kHeader));
    *static_cast<void**>(block) = m_free[cls];
    m_free[cls] = block;
}

HtmlTree::HtmlTree(QByteArrayView utf8Html) {
    if (std::optional<QByteArray> flattened = limitNestingDepth(utf8Html, kMaxNestingDepth)) {
        m_flattened = std::move(*flattened);
        utf8Html = m_flattened;
    }
    m_arena = std::make_unique<ParseArena>(std::size_t(utf8Html.size()));
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = allocateThunk;
    options.deallocator = releaseThunk;
    options.userdata = m_arena.get();
    options.max_errors = 0; // nobody reads the parse errors; recording them costs time
    // the tree lives in the arena and goes with it, so gumbo_destroy_output is never needed
    m_output = gumbo_parse_with_options(&options, utf8Html.data(), size_t(utf8Html.size()));
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
