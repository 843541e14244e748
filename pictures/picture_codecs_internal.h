#pragma once
// Helpers shared by the codec sources; not part of the library's interface.
#include "pictures/picture_codecs.h"

#include <cstdint>
#include <string>

namespace skarvel::detail {

[[noreturn]] void ThrowPictureError(const char* format, const std::string& what);

// Throws PictureError unless 0 <= width, height <= kMaxPictureSide and the pixel count is
// within kMaxPicturePixels.
void CheckPictureSize(std::int64_t width, std::int64_t height, const char* format);

// round(colour * alpha / 255) for 8-bit values, exact for every pair.
inline std::uint8_t BlendOntoBlack(unsigned colour, unsigned alpha) {
    const unsigned t = colour * alpha + 128;
    return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

} // namespace skarvel::detail
