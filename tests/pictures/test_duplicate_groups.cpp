// Grouping rows by content: which picture of a group stays, what counts as the same picture,
// and the index that finds near hashes without comparing all pairs.
#include "pictures/duplicate_groups.h"
#include "pictures/perceptual_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

using namespace skarvel;

namespace {

QByteArray Bytes(const char* name) {
    return QByteArray(name).leftJustified(32, '.');
}

// hash with the lowest `bits` bits flipped
std::uint64_t Flipped(std::uint64_t hash, int bits) {
    return hash ^ ((std::uint64_t{1} << bits) - 1);
}

constexpr std::uint64_t kA = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kB = 0x3C6EF372FE94F82Aull; // far from kA

TEST(FindDuplicatePictures, KeepsOnePictureOfEachGroup) {
    struct Case {
        const char* name;
        std::vector<PictureKey> pictures;
        int maxDistance;
        std::vector<int> removedFor;
    };
    const Case cases[] = {
        {"no pictures", {}, 4, {}},
        {"one picture", {{kA, 10, 10, Bytes("a")}}, 4, {-1}},
        {"the largest stays wherever it is",
         {{kA, 100, 75, Bytes("small")},
          {Flipped(kA, 2), 400, 300, Bytes("large")},
          {kA, 200, 150, Bytes("mid")}},
         4,
         {1, -1, 1}},
        {"the first of equal sizes stays",
         {{kA, 40, 30, Bytes("a")},
          {Flipped(kA, 1), 40, 30, Bytes("b")},
          {Flipped(kA, 3), 40, 30, Bytes("c")}},
         4,
         {-1, 0, 0}},
        {"four bits apart are the same, five are not",
         {{kA, 40, 30, Bytes("a")},
          {Flipped(kA, 4), 20, 15, Bytes("b")},
          {Flipped(kA, 5), 20, 15, Bytes("c")}},
         4,
         {-1, 0, -1}},
        {"another aspect ratio is another picture",
         {{kA, 400, 300, Bytes("a")}, {kA, 300, 300, Bytes("b")}, {kA, 100, 76, Bytes("c")}},
         4,
         {-1, -1, 0}},
        {"unrelated pictures all stay", {{kA, 40, 30, Bytes("a")}, {kB, 40, 30, Bytes("b")}}, 4, {-1, -1}},
        {"no chains: a picture near a removed one but far from the kept one stays",
         {{kA, 400, 300, Bytes("a")},
          {Flipped(kA, 4), 200, 150, Bytes("b")},
          {Flipped(kA, 8), 100, 75, Bytes("c")}},
         4,
         {-1, 0, -1}},
        {"distance 0 compares bytes only",
         {{kA, 40, 30, Bytes("a")}, {kA, 40, 30, Bytes("b")}, {kB, 40, 30, Bytes("a")}},
         0,
         {-1, -1, 0}},
        {"the same bytes are the same picture at any distance",
         {{kA, 40, 30, Bytes("a")}, {kB, 40, 30, Bytes("a")}},
         4,
         {-1, 0}},
        {"at distance 0 pictures without a bytes hash are never the same",
         {{kA, 40, 30, {}}, {kA, 40, 30, {}}, {kB, 40, 30, {}}},
         0,
         {-1, -1, -1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindDuplicatePictures(c.pictures, c.maxDistance), c.removedFor) << c.name;
}

TEST(FindDuplicateFiles, TheFirstOfEqualBytesStays) {
    EXPECT_EQ(FindDuplicateFiles({}), std::vector<int>{});
    EXPECT_EQ(FindDuplicateFiles({Bytes("a"), Bytes("b"), Bytes("a"), {}, {}, Bytes("b"), Bytes("a")}),
              (std::vector<int>{-1, -1, 0, -1, -1, 1, 0}));
}

// Hashes in clusters (a centre and copies a few bits off) among random ones, as pictures with
// their resized copies among unrelated pictures.
std::vector<std::uint64_t> ClusteredHashes(int count, std::mt19937_64& random) {
    std::vector<std::uint64_t> hashes;
    while (int(hashes.size()) < count) {
        const std::uint64_t centre = random();
        hashes.push_back(centre);
        for (int copies = int(random() % 4); copies > 0; --copies) {
            std::uint64_t h = centre;
            for (int flips = int(random() % 12); flips > 0; --flips)
                h ^= std::uint64_t{1} << (random() % 64);
            hashes.push_back(h);
        }
    }
    hashes.resize(size_t(count));
    return hashes;
}

TEST(HammingIndex, FindsExactlyWhatComparingAllPairsFinds) {
    std::mt19937_64 random(42);
    for (int count : {1, 50, 3000}) {
        const std::vector<std::uint64_t> hashes = ClusteredHashes(count, random);
        for (int distance : {0, 1, 4, 7, 10, 16}) {
            HammingIndex index(hashes, distance);
            std::vector<int> found;
            for (int q = 0; q < std::min(count, 400); ++q) {
                const std::uint64_t query = q % 2 ? hashes[size_t(q)] : Flipped(hashes[size_t(q)], q % 7);
                found.clear();
                index.near(query, found);
                std::vector<int> expected;
                for (int i = 0; i < count; ++i)
                    if (HammingDistance(hashes[size_t(i)], query) <= distance)
                        expected.push_back(i);
                std::sort(found.begin(), found.end());
                ASSERT_EQ(found, expected) << count << " hashes, distance " << distance << ", query " << q;
            }
        }
    }
}

} // namespace
