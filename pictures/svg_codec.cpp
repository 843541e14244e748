// SVG: the document checked here, then measured and drawn by the helper (picture_svg.h).
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_svg.h"
#include "pictures/picture_thumbnail.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace skarvel::detail {

namespace {

constexpr const char* kFormat = "SVG";

// The helper started on a checked document, its measured size within the pictures' bounds.
std::unique_ptr<SvgHelper> OpenSvg(const std::uint8_t* data, std::size_t size) {
    ForgetSvgHelperUsage();
    CheckSvgDocument(data, size);
    auto helper = std::make_unique<SvgHelper>(data, size);
    CheckPictureSize(helper->width(), helper->height(), kFormat);
    return helper;
}

} // namespace

void StreamSvg(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    const std::unique_ptr<SvgHelper> helper = OpenSvg(data, size);
    const int width = helper->width(), height = helper->height();
    // An SVG has no ground of its own: white, as a page shows it.
    static constexpr std::uint8_t kWhite[3] = {255, 255, 255};
    sink.begin(width, height, kWhite);
    if (width == 0 || height == 0)
        return;
    if (width > kMaxSvgDrawnSide || height > kMaxSvgDrawnSide)
        ThrowPictureError(kFormat, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                                       " pixels is too large to draw");
    helper->draw(width, height, [&sink, width](int y, const std::uint8_t* rgb) {
        if (!sink.wants(y))
            return;
        std::memcpy(sink.rowBuffer(y), rgb, static_cast<std::size_t>(width) * 3);
        sink.rowDone(y);
    });
}

void StreamSvgScaled(const std::uint8_t* data, std::size_t size, int maxSide, int& width, int& height,
                     RowSink& sink) {
    const std::unique_ptr<SvgHelper> helper = OpenSvg(data, size);
    width = helper->width();
    height = helper->height();
    int drawnWidth = width, drawnHeight = height;
    if (std::max(width, height) > maxSide) {
        const auto scaled = [&](int side) {
            return static_cast<int>(std::max<std::int64_t>(
                1, (std::int64_t{side} * maxSide + std::max(width, height) / 2) / std::max(width, height)));
        };
        drawnWidth = width >= height ? maxSide : scaled(width);
        drawnHeight = width >= height ? scaled(height) : maxSide;
    }
    static constexpr std::uint8_t kWhite[3] = {255, 255, 255};
    sink.begin(drawnWidth, drawnHeight, kWhite);
    if (drawnWidth == 0 || drawnHeight == 0)
        return;
    helper->draw(drawnWidth, drawnHeight, [&sink, drawnWidth](int y, const std::uint8_t* rgb) {
        std::memcpy(sink.rowBuffer(y), rgb, static_cast<std::size_t>(drawnWidth) * 3);
        sink.rowDone(y);
    });
}

void ReadSvgSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
    const std::unique_ptr<SvgHelper> helper = OpenSvg(data, size);
    width = helper->width();
    height = helper->height();
}

void MeasureSvg(const std::uint8_t* data, std::size_t size, int cellSize, int& width, int& height,
                Rgb24Image& thumbnail, ThumbnailPlacement& placement) {
    const std::unique_ptr<SvgHelper> helper = OpenSvg(data, size);
    width = helper->width();
    height = helper->height();
    thumbnail.release();
    placement = {};
    if (width == 0 || height == 0)
        return;
    // A drawing is drawn at the thumbnail's size, whatever its own: no picture is made to be scaled down.
    const ThumbnailPlacement t = ComputeThumbnail(width, height, cellSize);
    if (t.width <= 0 || t.height <= 0)
        return;
    thumbnail.resize(t.width, t.height);
    helper->draw(t.width, t.height, [&thumbnail](int y, const std::uint8_t* rgb) {
        std::memcpy(thumbnail.row(y), rgb, thumbnail.rowBytes());
    });
    placement = t;
}

} // namespace skarvel::detail
