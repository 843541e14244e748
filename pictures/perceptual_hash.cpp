#include "pictures/perceptual_hash.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace skarvel {

namespace {

constexpr int kGrid = PerceptualHasher::kGrid;
constexpr int kLow = 8;
// The same sizes as indices.
constexpr size_t kGridSize = kGrid, kLowSize = kLow;

// Luma in thousandths (Rec. 601 weights), so that sums stay whole numbers.
inline std::int64_t Luma(const std::uint8_t* p) {
    return 299 * std::int64_t{p[0]} + 587 * std::int64_t{p[1]} + 114 * std::int64_t{p[2]};
}

// cos(pi (2 i + 1) k / 2N) with the orthonormal DCT-II factor, for the kLow lowest k.
const std::array<std::array<double, kGrid>, kLow>& DctBasis() {
    static const auto basis = [] {
        std::array<std::array<double, kGrid>, kLow> b{};
        for (int k = 0; k < kLow; ++k) {
            const double scale = std::sqrt((k == 0 ? 1.0 : 2.0) / kGrid);
            for (int i = 0; i < kGrid; ++i)
                b[size_t(k)][size_t(i)] =
                    scale * std::cos(std::numbers::pi * (2 * i + 1) * k / (2.0 * kGrid));
        }
        return b;
    }();
    return basis;
}

} // namespace

void PerceptualHasher::Spans::build(int size) {
    first.assign(size_t(size) + 1, 0);
    cell.clear();
    weight.clear();
    // Source index i spans [i * kGrid, (i + 1) * kGrid), cell c spans [c * size, (c + 1) * size).
    for (int i = 0; i < size; ++i) {
        first[size_t(i)] = int(cell.size());
        const std::int64_t begin = std::int64_t{i} * kGrid, end = begin + kGrid;
        for (std::int64_t c = begin / size; c < kGrid && c * size < end; ++c) {
            const std::int64_t overlap = std::min(end, (c + 1) * size) - std::max(begin, c * size);
            if (overlap <= 0)
                continue;
            cell.push_back(int(c));
            weight.push_back(int(overlap));
        }
    }
    first[size_t(size)] = int(cell.size());
}

void PerceptualHasher::begin(int width, int height, const std::uint8_t fill[3]) {
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    m_fillLuma = Luma(fill);
    m_columns.build(m_width);
    m_rows.build(m_height);
    m_sum.assign(kGridSize * kGridSize, 0);
    m_cover.assign(kGridSize * kGridSize, 0);
    m_rowSum.assign(size_t(kGrid), 0);
    m_rowCover.assign(size_t(kGrid), 0);
}

void PerceptualHasher::addPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb) {
    if (y < 0 || y >= m_height || x0 < 0 || dx < 1 || count <= 0)
        return;
    if (x0 == 0 && dx == 1 && count >= m_width && m_width >= kGrid) {
        addWholeRow(y, rgb);
        return;
    }
    std::fill(m_rowSum.begin(), m_rowSum.end(), 0);
    std::fill(m_rowCover.begin(), m_rowCover.end(), 0);
    const int* first = m_columns.first.data();
    const int* cell = m_columns.cell.data();
    const int* weight = m_columns.weight.data();
    std::int64_t* rowSum = m_rowSum.data();
    std::int64_t* rowCover = m_rowCover.data();
    for (int k = 0, x = x0; k < count && x < m_width; ++k, x += dx, rgb += 3) {
        const std::int64_t luma = Luma(rgb);
        for (int s = first[x]; s < first[x + 1]; ++s) {
            rowSum[cell[s]] += weight[s] * luma;
            rowCover[cell[s]] += weight[s];
        }
    }
    addToCells(y);
}

void PerceptualHasher::addWholeRow(int y, const std::uint8_t* rgb) {
    m_prefix.resize(size_t(m_width) + 1);
    std::int64_t* prefix = m_prefix.data();
    prefix[0] = 0;
    for (int x = 0; x < m_width; ++x, rgb += 3)
        prefix[x + 1] = prefix[x] + Luma(rgb);
    const auto luma = [prefix](std::int64_t x) { return prefix[x + 1] - prefix[x]; };
    // Cell c spans [c w, (c + 1) w) in units of 1/kGrid pixel: the pixels wholly inside it, and
    // the part of a pixel it shares with the cell before or after.
    const std::int64_t w = m_width;
    for (int c = 0; c < kGrid; ++c) {
        const std::int64_t begin = c * w, end = begin + w;
        const std::int64_t first = (begin + kGrid - 1) / kGrid, last = end / kGrid;
        std::int64_t sum = kGrid * (prefix[last] - prefix[first]);
        if (begin % kGrid != 0)
            sum += (kGrid * first - begin) * luma(first - 1);
        if (end % kGrid != 0)
            sum += (end - kGrid * last) * luma(last);
        m_rowSum[size_t(c)] = sum;
        m_rowCover[size_t(c)] = w;
    }
    addToCells(y);
}

void PerceptualHasher::addToCells(int y) {
    const std::int64_t* rowSum = m_rowSum.data();
    const std::int64_t* rowCover = m_rowCover.data();
    for (int s = m_rows.first[size_t(y)]; s < m_rows.first[size_t(y) + 1]; ++s) {
        const std::int64_t w = m_rows.weight[size_t(s)];
        std::int64_t* sum = m_sum.data() + size_t(m_rows.cell[size_t(s)]) * kGrid;
        std::int64_t* cover = m_cover.data() + size_t(m_rows.cell[size_t(s)]) * kGrid;
        for (int c = 0; c < kGrid; ++c) {
            sum[c] += w * rowSum[c];
            cover[c] += w * rowCover[c];
        }
    }
}

std::uint64_t PerceptualHasher::hash() const {
    if (m_width == 0 || m_height == 0)
        return 0;
    // Every cell's weights add up to width * height units.
    const double total = double(m_width) * double(m_height);
    std::array<double, kGridSize * kGridSize> mean{};
    for (size_t i = 0; i < mean.size(); ++i)
        mean[i] = (double(m_sum[i]) + double(std::int64_t(total) - m_cover[i]) * double(m_fillLuma)) /
                  (total * 1000.0);

    const auto& basis = DctBasis();
    // Rows first (8 horizontal frequencies per row), then columns.
    std::array<std::array<double, kLowSize>, kGridSize> rows{};
    for (size_t y = 0; y < kGridSize; ++y)
        for (size_t u = 0; u < kLowSize; ++u) {
            double s = 0;
            for (size_t x = 0; x < kGridSize; ++x)
                s += mean[y * kGridSize + x] * basis[u][x];
            rows[y][u] = s;
        }
    std::array<double, kLowSize * kLowSize> coefficients{};
    for (size_t v = 0; v < kLowSize; ++v)
        for (size_t u = 0; u < kLowSize; ++u) {
            double s = 0;
            for (size_t y = 0; y < kGridSize; ++y)
                s += rows[y][u] * basis[v][y];
            coefficients[v * kLowSize + u] = s;
        }

    std::array<double, kLowSize* kLowSize> sorted = coefficients;
    std::nth_element(sorted.begin(), sorted.begin() + 32, sorted.end());
    const double upper = sorted[32];
    const double lower = *std::max_element(sorted.begin(), sorted.begin() + 32);
    const double median = (lower + upper) / 2;
    std::uint64_t bits = 0;
    for (size_t i = 0; i < coefficients.size(); ++i)
        if (coefficients[i] > median)
            bits |= std::uint64_t{1} << i;
    return bits;
}

std::uint64_t PerceptualHash(const Rgb24Image& picture) {
    PerceptualHasher hasher;
    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    hasher.begin(picture.width, picture.height, kBlack);
    for (int y = 0; y < picture.height; ++y)
        hasher.addRow(y, picture.row(y));
    return hasher.hash();
}

int HammingDistance(std::uint64_t a, std::uint64_t b) {
    return std::popcount(a ^ b);
}

bool SameAspect(int width1, int height1, int width2, int height2) {
    if (width1 <= 0 || height1 <= 0 || width2 <= 0 || height2 <= 0)
        return false;
    // w1 / h1 against w2 / h2 by cross products: the larger at most 1.02 times the smaller.
    const std::int64_t a = std::int64_t{width1} * height2, b = std::int64_t{width2} * height1;
    return std::max(a, b) * 100 <= std::min(a, b) * 102;
}

} // namespace skarvel
