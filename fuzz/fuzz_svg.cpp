// Fuzz target: the SVG check and the drawing helper, as a download measures an SVG (its size and a
// thumbnail drawn at the thumbnail's size) and, for a small picture, as the save draws it whole.
#include "fuzz/picture_target.h"
#include "pictures/picture_measure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace skarvel;
    try {
        const PictureMeasure measured = MeasurePicture(data, size, PictureKind::Svg);
        FUZZ_CHECK(measured.width >= 0 && measured.height >= 0);
        FUZZ_CHECK(std::int64_t(measured.width) * measured.height <= kMaxPicturePixels);
        FUZZ_CHECK(measured.thumbnail.pixels.size() >=
                   measured.thumbnail.rowBytes() * std::size_t(measured.thumbnail.height));
        if (std::int64_t(measured.width) * measured.height > 1 << 20)
            return 0;
    } catch (const PictureError&) {
        return 0;
    }
    fuzz::fuzzDecoder(&DecodeSvg, data, size);
    return 0;
}
