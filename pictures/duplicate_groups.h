#pragma once
// Which rows of a collection hold the same content as another row: pictures by their
// bytes or by their perceptual hash, other files by their bytes.
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skarvel {

// The stored hashes within a Hamming distance of a query, by multi-index hashing: the 64
// bits are cut into m substrings, and two hashes at most d bits apart differ in at most
// d / m bits (rounded down) of one of them; so only the entries filed under the keys that
// near each substring of the query are compared, never all of them. m is chosen for the
// number of hashes and the distance, so that a query looks at few keys and few entries.
class HammingIndex {
public:
    HammingIndex(const std::vector<std::uint64_t>& hashes, int maxDistance);

    // Appends to out, once each and in no set order, every stored position whose hash is
    // at most maxDistance bits from hash.
    void near(std::uint64_t hash, std::vector<int>& out) const;

private:
    struct Entry {
        std::uint64_t hash;
        int position;
    };
    struct Table {
        int shift = 0;
        int bits = 0;
        std::vector<int> first; // per key, into entries; one more at the end
        std::vector<Entry> entries;
        std::uint32_t keyOf(std::uint64_t hash) const {
            return std::uint32_t((hash >> shift) & ((std::uint64_t{1} << bits) - 1));
        }
    };
    void probe(std::size_t table, std::uint32_t key, int flipsLeft, int fromBit, std::uint64_t hash,
               std::vector<int>& out) const;

    int m_maxDistance;
    int m_radius = 0; // bits a matching substring may differ in
    std::vector<Table> m_tables;
};

// A decoded picture of one row.
struct PictureKey {
    std::uint64_t perceptualHash = 0;
    int width = 0;
    int height = 0;
    QByteArray sha256; // of the file's bytes; empty matches nothing
};

// Two pictures are the same when their bytes are (same SHA-256), or, for a maxDistance
// above 0, when their perceptual hashes are at most maxDistance bits apart and their aspect
// ratios at most 2 % apart. Each group keeps the picture of the largest width x height, the
// first among equals; the others are removed for it, each of them the same as the kept one.
// For every picture: the position of the picture it is removed for, or -1 when it stays.
std::vector<int> FindDuplicatePictures(const std::vector<PictureKey>& pictures, int maxDistance);

// For every file: the position of the first file with the same SHA-256, or -1 when it is the
// first (or has no hash).
std::vector<int> FindDuplicateFiles(const std::vector<QByteArray>& sha256);

} // namespace skarvel
