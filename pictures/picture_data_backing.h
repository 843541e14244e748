#pragma once
// How much of a picture its data may leave to a fill colour: a few bytes of run-length codes,
// or a GIF screen around a small frame, can stand for any area.
#include <cstdint>
#include <string>

namespace skarvel::detail {

// Pixels that no data sets are free up to this many; beyond that a picture needs a pixel set by
// its data for every kSkippedPixelsPerSetPixel pixels left to the fill, or its data cannot back
// its size.
inline constexpr std::int64_t kFreeSkippedPixels = 4 * 1024 * 1024;
inline constexpr std::int64_t kSkippedPixelsPerSetPixel = 8;

// Predictive codings with arithmetic or zero-bit entropy codes (WebP, AVIF) can make a flat area of
// any size from a few bytes. Beyond the free pixels such a picture needs a byte of coded data for
// every kPixelsPerCodedByte pixels: no denser than deflate can ever be (PNG), and tens of times
// looser than natural pictures and drawings are coded.
inline constexpr std::int64_t kPixelsPerCodedByte = 1032;

// Throws PictureError (format: "WebP", "AVIF") when a frame of framePixels decoded from codedBytes
// of data, on a canvas of canvasPixels, is not backed by its data.
void CheckCodedDataBacksSize(std::int64_t canvasPixels, std::int64_t framePixels, std::int64_t codedBytes,
                             const char* format);

} // namespace skarvel::detail
