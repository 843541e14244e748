#pragma once
// A picture's perceptual hash: 64 bits that stay nearly the same when the picture is
// scaled or encoded again, and differ in about half of them between unrelated pictures.
// The luminance is averaged down to 32 x 32 cells (each cell the mean of the source pixels
// it covers, parts of pixels counted by their share), a DCT is taken, and each of its
// 8 x 8 lowest-frequency coefficients is compared with their median.
#include "pictures/picture_codecs.h"

#include <cstdint>
#include <vector>

namespace skarvel {

// Takes decoded pixels as a decoder hands them out: whole rows, or the sparse pixels of
// an interlaced pass, in any order, each pixel at most once.
class PerceptualHasher {
public:
    static constexpr int kGrid = 32;

    // Starts a picture; pixels that are never added count as fill.
    void begin(int width, int height, const std::uint8_t fill[3]);
    // `count` pixels of row y at columns x0, x0 + dx, x0 + 2 dx, ...
    void addPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb);
    void addRow(int y, const std::uint8_t* rgb) { addPixels(y, 0, 1, m_width, rgb); }
    // The hash of what was added; 0 for a picture of width or height 0.
    std::uint64_t hash() const;

private:
    // The cells a source column (or row) covers and by how much, in 1/kGrid of a pixel.
    struct Spans {
        std::vector<int> first; // per source index, into cell/weight; one more at the end
        std::vector<int> cell;
        std::vector<int> weight;
        void build(int size);
    };
    // A whole row at once, from the prefix sums of its luma; for rows at least kGrid wide.
    void addWholeRow(int y, const std::uint8_t* rgb);
    void addToCells(int y);

    int m_width = 0;
    int m_height = 0;
    std::int64_t m_fillLuma = 0;
    Spans m_columns;
    Spans m_rows;
    // Per cell: the weighted luma of the pixels added and the weight they cover.
    std::vector<std::int64_t> m_sum;
    std::vector<std::int64_t> m_cover;
    std::vector<std::int64_t> m_rowSum;
    std::vector<std::int64_t> m_rowCover;
    std::vector<std::int64_t> m_prefix;
};

// The hash of a whole decoded picture.
std::uint64_t PerceptualHash(const Rgb24Image& picture);

int HammingDistance(std::uint64_t a, std::uint64_t b);

// Whether two pictures' aspect ratios are at most 2 % apart; a picture of width or
// height 0 has no aspect and matches none.
bool SameAspect(int width1, int height1, int width2, int height2);

} // namespace skarvel
