// The memory that gumbo parses into: blocks of every size class are usable
// whole, freed blocks are handed out again, and a tree built in it reads back.
#include "service/html_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

using skarvel::analysis::HtmlTree;
using skarvel::analysis::ParseArena;

namespace {

TEST(ParseArena, BlocksOfEverySizeAreDistinctAlignedAndReused) {
    ParseArena arena(1024);
    const std::size_t sizes[] = {0, 1, 8, 9, 511, 512, 513, 1024, 1025, 300 << 10, 5 << 20};
    std::vector<unsigned char*> blocks;
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        auto* block = static_cast<unsigned char*>(arena.allocate(sizes[i]));
        ASSERT_NE(block, nullptr) << sizes[i];
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u) << sizes[i];
        std::memset(block, int(i + 1), sizes[i]);
        blocks.push_back(block);
    }
    // no block was written over by a later one
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        for (std::size_t k = 0; k < sizes[i]; k += 97)
            ASSERT_EQ(blocks[i][k], i + 1) << sizes[i];
    }
    // a freed block serves the next request of its class, once
    arena.release(blocks[3]); // 9 bytes: the class of 16
    arena.release(blocks[7]); // 1 KB: the class of 513 to 1024
    EXPECT_EQ(arena.allocate(900), blocks[7]);
    EXPECT_EQ(arena.allocate(16), blocks[3]);
    void* fresh = arena.allocate(16);
    EXPECT_NE(fresh, blocks[3]);
    EXPECT_NE(fresh, nullptr);
    arena.release(nullptr);
}

TEST(HtmlTree, APageWithManyElementsReadsBackFromTheArena) {
    QByteArray html;
    for (int i = 0; i < 20000; ++i)
        html += "<p title=\"t" + QByteArray::number(i) + "\">text " + QByteArray::number(i) + "</p>";
    const HtmlTree tree(html);
    int paragraphs = 0;
    bool titlesMatch = true;
    skarvel::analysis::forEachElement(tree.root(), [&](const GumboNode* node) {
        if (node->v.element.tag != GUMBO_TAG_P)
            return;
        titlesMatch =
            titlesMatch && skarvel::analysis::attr(node, "title") == QStringLiteral("t%1").arg(paragraphs);
        ++paragraphs;
    });
    EXPECT_EQ(paragraphs, 20000);
    EXPECT_TRUE(titlesMatch);
}

} // namespace
