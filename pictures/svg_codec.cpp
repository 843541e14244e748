// SVG: the document checked here, then measured and drawn by the helper (picture_svg.h).
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_svg.h"
#include "pictures/picture_thumbnail.h"

#include <cstring>

namespace skarvel::detail {

namespace {

constexpr const char* kFormat = "SVG";

} // namespace

void StreamSvg(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    ForgetSvgHelperUsage();
    CheckSvgDocument(data, size);
    SvgHelper helper(data, size);
    const int width = helper.width(), height = helper.height();
    CheckPictureSize(width, height, kFormat);
    // An SVG has no ground of its own: white, as a page shows it.
    static constexpr std::uint8_t kWhite[3] = {255, 255, 255};
    sink.begin(width, height, kWhite);
    if (width == 0 || height == 0)
        return;
    if (width > kMaxSvgDrawnSide || height > kMaxSvgDrawnSide)
        ThrowPictureError(kFormat, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                                       " pixels is too large to draw");
    helper.draw(width, height, [&sink, width](int y, const std::uint8_t* rgb) {
        if (!sink.wants(y))
            return;
        std::memcpy(sink.rowBuffer(y), rgb, static_cast<std::size_t>(width) * 3);
        sink.rowDone(y);
    });
}

void ReadSvgSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
    ForgetSvgHelperUsage();
    CheckSvgDocument(data, size);
    const SvgHelper helper(data, size);
    CheckPictureSize(helper.width(), helper.height(), kFormat);
    width = helper.width();
    height = helper.height();
}

void MeasureSvg(const std::uint8_t* data, std::size_t size, int cellSize, int& width, int& height,
                Rgb24Image& thumbnail, ThumbnailPlacement& placement) {
    ForgetSvgHelperUsage();
    CheckSvgDocument(data, size);
    SvgHelper helper(data, size);
    width = helper.width();
    height = helper.height();
    CheckPictureSize(width, height, kFormat);
    thumbnail.release();
    placement = {};
    if (width == 0 || height == 0)
        return;
    // A drawing is drawn at the thumbnail's size, whatever its own: no picture is made to be scaled down.
    const ThumbnailPlacement t = ComputeThumbnail(width, height, cellSize);
    if (t.width <= 0 || t.height <= 0)
        return;
    thumbnail.resize(t.width, t.height);
    helper.draw(t.width, t.height, [&thumbnail](int y, const std::uint8_t* rgb) {
        std::memcpy(thumbnail.row(y), rgb, thumbnail.rowBytes());
    });
    placement = t;
}

} // namespace skarvel::detail
