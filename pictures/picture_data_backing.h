#pragma once
// How much of a picture its data may leave to a fill colour: a few bytes of run-length codes,
// or a GIF screen around a small frame, can stand for any area.
#include <cstdint>

namespace skarvel::detail {

// Pixels that no data sets are free up to this many; beyond that a picture needs a pixel set by
// its data for every kSkippedPixelsPerSetPixel pixels left to the fill, or its data cannot back
// its size.
inline constexpr std::int64_t kFreeSkippedPixels = std::int64_t{4} * 1024 * 1024;
inline constexpr std::int64_t kSkippedPixelsPerSetPixel = 8;

} // namespace skarvel::detail
