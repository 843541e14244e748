#include "pictures/duplicate_groups.h"

#include "pictures/perceptual_hash.h"

#include <QHash>

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

namespace skarvel {

namespace {

double Combinations(int n, int k) {
    double c = 1;
    for (int i = 0; i < k; ++i)
        c = c * (n - i) / (i + 1);
    return c;
}

// The number of substrings that makes a query cheapest: each of its keys within the radius is a
// bucket to look up, holding about n / 2^bits entries to compare. Substrings of at most 16 bits
// keep each table's key array small.
int SubstringCount(std::size_t n, int maxDistance) {
    int best = 4;
    double bestCost = 0;
    for (int count = 4; count <= 16; ++count) {
        const int bits = 64 / count; // the shorter substrings
        const int radius = maxDistance / count;
        double probes = 0;
        for (int k = 0; k <= std::min(radius, bits); ++k)
            probes += Combinations(bits, k);
        const double cost = count * probes * (1 + double(n) / double(std::uint64_t{1} << bits));
        if (count == 4 || cost < bestCost) {
            best = count;
            bestCost = cost;
        }
    }
    return best;
}

// The groups of two or more pictures with the same SHA-256. Sorted by the hashes' first eight
// bytes rather than hashed whole: a hundred thousand rows take a few milliseconds.
std::vector<std::vector<int>> SameBytes(const std::vector<PictureKey>& pictures) {
    std::vector<std::pair<std::uint64_t, int>> byPrefix;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const QByteArray& sha = pictures[i].sha256;
        if (sha.size() < 8)
            continue;
        std::uint64_t prefix = 0;
        std::memcpy(&prefix, sha.constData(), sizeof prefix);
        byPrefix.emplace_back(prefix, int(i));
    }
    std::sort(byPrefix.begin(), byPrefix.end());
    std::vector<std::vector<int>> groups;
    for (size_t run = 0; run < byPrefix.size();) {
        size_t end = run + 1;
        while (end < byPrefix.size() && byPrefix[end].first == byPrefix[run].first)
            ++end;
        // Within a run of equal prefixes (almost always one picture), equal hashes in table order.
        std::vector<char> taken(end - run, 0);
        for (size_t a = run; a < end; ++a) {
            if (taken[a - run])
                continue;
            std::vector<int> group{byPrefix[a].second};
            for (size_t b = a + 1; b < end; ++b)
                if (!taken[b - run] && pictures[size_t(byPrefix[b].second)].sha256 ==
                                           pictures[size_t(byPrefix[a].second)].sha256) {
                    taken[b - run] = 1;
                    group.push_back(byPrefix[b].second);
                }
            if (group.size() > 1)
                groups.push_back(std::move(group));
        }
        run = end;
    }
    return groups;
}

} // namespace

HammingIndex::HammingIndex(const std::vector<std::uint64_t>& hashes, int maxDistance)
    : m_maxDistance(std::clamp(maxDistance, 0, 64)) {
    const int count = SubstringCount(hashes.size(), m_maxDistance);
    m_radius = m_maxDistance / count;
    for (int i = 0; i < count; ++i) {
        Table t;
        t.shift = i * 64 / count;
        t.bits = (i + 1) * 64 / count - t.shift;
        t.first.assign((std::size_t{1} << t.bits) + 1, 0);
        for (std::uint64_t h : hashes)
            ++t.first[std::size_t(t.keyOf(h)) + 1];
        std::partial_sum(t.first.begin(), t.first.end(), t.first.begin());
        // Each entry keeps its hash, so that a bucket is compared in one pass over memory.
        t.entries.resize(hashes.size());
        std::vector<int> next(t.first.begin(), t.first.end() - 1);
        for (std::size_t e = 0; e < hashes.size(); ++e)
            t.entries[std::size_t(next[t.keyOf(hashes[e])]++)] = {hashes[e], int(e)};
        m_tables.push_back(std::move(t));
    }
}

void HammingIndex::probe(std::size_t table, std::uint32_t key, int flipsLeft, int fromBit, std::uint64_t hash,
                         std::vector<int>& out) const {
    const Table& t = m_tables[table];
    for (int i = t.first[key]; i < t.first[std::size_t(key) + 1]; ++i) {
        const Entry& e = t.entries[std::size_t(i)];
        const std::uint64_t diff = e.hash ^ hash;
        if (std::popcount(diff) > m_maxDistance)
            continue;
        // An entry an earlier table also led to was reported there.
        bool seen = false;
        for (std::size_t earlier = 0; earlier < table && !seen; ++earlier)
            seen = std::popcount(m_tables[earlier].keyOf(diff)) <= m_radius;
        if (!seen)
            out.push_back(e.position);
    }
    if (flipsLeft == 0)
        return;
    for (int bit = fromBit; bit < t.bits; ++bit)
        probe(table, key ^ (std::uint32_t{1} << bit), flipsLeft - 1, bit + 1, hash, out);
}

void HammingIndex::near(std::uint64_t hash, std::vector<int>& out) const {
    for (std::size_t t = 0; t < m_tables.size(); ++t)
        probe(t, m_tables[t].keyOf(hash), std::min(m_radius, m_tables[t].bits), 0, hash, out);
}

std::vector<int> FindDuplicatePictures(const std::vector<PictureKey>& pictures, int maxDistance) {
    const int n = int(pictures.size());
    std::vector<int> removedFor(size_t(n), -1);
    const std::vector<std::vector<int>> sameBytes = SameBytes(pictures);
    std::vector<int> bytesGroup(size_t(n), -1);
    for (size_t g = 0; g < sameBytes.size(); ++g)
        for (int i : sameBytes[g])
            bytesGroup[size_t(i)] = int(g);

    std::vector<std::uint64_t> hashes;
    if (maxDistance > 0) {
        hashes.reserve(size_t(n));
        for (const PictureKey& p : pictures)
            hashes.push_back(p.perceptualHash);
    }
    const HammingIndex index(hashes, maxDistance);

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
        if (bytesGroup[size_t(kept)] >= 0)
            for (int other : sameBytes[size_t(bytesGroup[size_t(kept)])])
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
