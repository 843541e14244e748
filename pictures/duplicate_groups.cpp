#include "pictures/duplicate_groups.h"

#include "pictures/perceptual_hash.h"

#include <QHash>

#include <algorithm>
#include <bit>
#include <numeric>

namespace skarvel {

HammingIndex::HammingIndex(std::vector<std::uint64_t> hashes, int maxDistance)
    : m_hashes(std::move(hashes)), m_maxDistance(std::clamp(maxDistance, 0, 64)) {
    // Substrings of about log2(n) bits leave about one entry per key; at most 16 bits keeps
    // each table's key array small.
    const int n = int(m_hashes.size());
    const int bits = std::clamp(int(std::bit_width(unsigned(std::max(n, 1)))), 8, 16);
    const int count = (64 + bits - 1) / bits;
    m_radius = m_maxDistance / count;
    for (int i = 0; i < count; ++i) {
        Table t;
        t.shift = i * 64 / count;
        t.bits = (i + 1) * 64 / count - t.shift;
        const std::uint64_t mask = (std::uint64_t{1} << t.bits) - 1;
        t.first.assign((size_t{1} << t.bits) + 1, 0);
        for (std::uint64_t h : m_hashes)
            ++t.first[size_t((h >> t.shift) & mask) + 1];
        std::partial_sum(t.first.begin(), t.first.end(), t.first.begin());
        t.entries.resize(m_hashes.size());
        std::vector<int> next(t.first.begin(), t.first.end() - 1);
        for (int e = 0; e < n; ++e)
            t.entries[size_t(next[size_t((m_hashes[size_t(e)] >> t.shift) & mask)]++)] = e;
        m_tables.push_back(std::move(t));
    }
    m_seen.assign(m_hashes.size(), 0);
}

void HammingIndex::probe(const Table& table, std::uint32_t key, int flipsLeft, int fromBit,
                         std::uint64_t hash, std::vector<int>& out) {
    for (int i = table.first[key]; i < table.first[size_t(key) + 1]; ++i) {
        const int e = table.entries[size_t(i)];
        if (m_seen[size_t(e)] == m_query)
            continue;
        m_seen[size_t(e)] = m_query;
        if (HammingDistance(m_hashes[size_t(e)], hash) <= m_maxDistance)
            out.push_back(e);
    }
    if (flipsLeft == 0)
        return;
    for (int bit = fromBit; bit < table.bits; ++bit)
        probe(table, key ^ (std::uint32_t{1} << bit), flipsLeft - 1, bit + 1, hash, out);
}

void HammingIndex::near(std::uint64_t hash, std::vector<int>& out) {
    if (++m_query == 0) {
        std::fill(m_seen.begin(), m_seen.end(), 0);
        m_query = 1;
    }
    for (const Table& t : m_tables) {
        const std::uint32_t key = std::uint32_t((hash >> t.shift) & ((std::uint64_t{1} << t.bits) - 1));
        probe(t, key, std::min(m_radius, t.bits), 0, hash, out);
    }
}

std::vector<int> FindDuplicatePictures(const std::vector<PictureKey>& pictures, int maxDistance) {
    const int n = int(pictures.size());
    std::vector<int> removedFor(size_t(n), -1);
    QHash<QByteArray, std::vector<int>> sameBytes;
    for (int i = 0; i < n; ++i)
        if (!pictures[size_t(i)].sha256.isEmpty())
            sameBytes[pictures[size_t(i)].sha256].push_back(i);

    std::vector<std::uint64_t> hashes;
    if (maxDistance > 0) {
        hashes.reserve(size_t(n));
        for (const PictureKey& p : pictures)
            hashes.push_back(p.perceptualHash);
    }
    HammingIndex index(std::move(hashes), maxDistance);

    // Largest first, table order among equals: each picture met unclaimed is kept and
    // claims the unclaimed pictures that are the same as it.
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    const auto area = [&](int i) {
        return std::int64_t{pictures[size_t(i)].width} * pictures[size_t(i)].height;
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return area(a) > area(b); });
    std::vector<char> settled(size_t(n), 0);
    std::vector<int> near;
    for (int kept : order) {
        if (settled[size_t(kept)])
            continue;
        settled[size_t(kept)] = 1;
        const PictureKey& k = pictures[size_t(kept)];
        const auto claim = [&](int other) {
            if (settled[size_t(other)])
                return;
            settled[size_t(other)] = 1;
            removedFor[size_t(other)] = kept;
        };
        if (!k.sha256.isEmpty())
            for (int other : sameBytes.value(k.sha256))
                claim(other);
        if (maxDistance <= 0)
            continue;
        near.clear();
        index.near(k.perceptualHash, near);
        for (int other : near) {
            const PictureKey& o = pictures[size_t(other)];
            if (SameAspect(k.width, k.height, o.width, o.height))
                claim(other);
        }
    }
    return removedFor;
}

std::vector<int> FindDuplicateFiles(const std::vector<QByteArray>& sha256) {
    std::vector<int> removedFor(sha256.size(), -1);
    QHash<QByteArray, int> first;
    for (int i = 0; i < int(sha256.size()); ++i) {
        if (sha256[size_t(i)].isEmpty())
            continue;
        const auto found = first.constFind(sha256[size_t(i)]);
        if (found == first.cend())
            first.insert(sha256[size_t(i)], i);
        else
            removedFor[size_t(i)] = *found;
    }
    return removedFor;
}

} // namespace skarvel
