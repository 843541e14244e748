#pragma once
// One decoder under fuzzing: it either rejects the bytes with PictureError or gives a
// picture within the size limits whose pixel storage covers every row. A side of 0 is
// allowed: the thumbnail grid draws nothing for such a picture.
#include "fuzz/fuzz_input.h"
#include "pictures/picture_codecs.h"

namespace skarvel::fuzz {

using Decoder = void (*)(const std::uint8_t*, std::size_t, Rgb24Image&);

inline int fuzzDecoder(Decoder decode, const std::uint8_t* data, std::size_t size) {
    Rgb24Image picture;
    try {
        decode(data, size, picture);
    } catch (const PictureError&) {
        return 0;
    }
    FUZZ_CHECK(picture.width >= 0 && picture.height >= 0);
    FUZZ_CHECK(picture.width <= kMaxPictureSide && picture.height <= kMaxPictureSide);
    FUZZ_CHECK(std::int64_t(picture.width) * picture.height <= kMaxPicturePixels);
    FUZZ_CHECK(picture.pixels.size() >= picture.rowBytes() * std::size_t(picture.height));
    return 0;
}

} // namespace skarvel::fuzz
