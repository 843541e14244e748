#pragma once
// Helpers shared by the codec sources; not part of the library's interface.
#include "pictures/picture_codecs.h"

#include <cstdint>
#include <string>

namespace skarvel {
struct ThumbnailPlacement;
}

namespace skarvel::detail {

[[noreturn]] void ThrowPictureError(const char* format, const std::string& what);

// Throws PictureError unless 0 <= width, height <= kMaxPictureSide and the pixel count is
// within kMaxPicturePixels.
void CheckPictureSize(std::int64_t width, std::int64_t height, const char* format);
// CheckPictureSize, and a PictureError unless the picture fits kDecodePixelBudget, for
// decodes that hold the whole picture.
void CheckWholeDecodeSize(int width, int height);

// round(colour * alpha / 255) for 8-bit values, exact for every pair.
inline std::uint8_t BlendOntoBlack(unsigned colour, unsigned alpha) {
    const unsigned t = colour * alpha + 128;
    return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

// Where a decoder delivers the pixels of a picture as its data is decoded, so that a
// picture can be measured or thumbnailed without ever being held whole. Every decoder
// reads and checks all of its pixel data whatever the sink wants, so that the outcome
// (size, or the error) is the same for every sink.
class RowSink {
public:
    virtual ~RowSink() = default;
    // The picture's size, once its header and the amount of its data were checked, and
    // the colour of every pixel that no row delivers.
    virtual void begin(int width, int height, const std::uint8_t fill[3]) = 0;
    // Whether the colours of row y are needed at all; a decoder may then skip converting them.
    virtual bool wants(int y) const = 0;
    // Where the decoder puts the width * 3 bytes of row y; rowDone(y) follows once they are there.
    virtual std::uint8_t* rowBuffer(int y) = 0;
    virtual void rowDone(int y) = 0;
    // `count` pixels of row y at columns x0, x0 + dx, x0 + 2 dx, ... (an interlaced pass, a frame).
    virtual void putPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb) = 0;
};

// Encoders that write into `out`, reusing its storage; EncodePictureInto uses the settings of
// EncodePicture. On an exception `out` holds no valid file.
void EncodeBmpInto(const Rgb24Image& picture, QByteArray& out);
void EncodePngInto(const Rgb24Image& picture, int compressionLevel, QByteArray& out);
void EncodePictureInto(const Rgb24Image& picture, PictureKind kind, QByteArray& out);

void StreamBmp(const std::uint8_t* data, std::size_t size, RowSink& sink);
void StreamJpeg(const std::uint8_t* data, std::size_t size, RowSink& sink);
void StreamPng(const std::uint8_t* data, std::size_t size, RowSink& sink);
void StreamGif(const std::uint8_t* data, std::size_t size, RowSink& sink);
// The modern kinds, each in its own source and built only with its backend.
void StreamWebp(const std::uint8_t* data, std::size_t size, RowSink& sink);
void StreamAvif(const std::uint8_t* data, std::size_t size, RowSink& sink);
void StreamSvg(const std::uint8_t* data, std::size_t size, RowSink& sink);
// An SVG's size without drawing it, and its size and thumbnail drawn at the thumbnail's size.
void ReadSvgSize(const std::uint8_t* data, std::size_t size, int& width, int& height);
void MeasureSvg(const std::uint8_t* data, std::size_t size, int cellSize, int& width, int& height,
                Rgb24Image& thumbnail, ThumbnailPlacement& placement);
// The picture's width and height, every row checked as a full decode would (an SVG's read
// without drawing it); throws PictureError for a file its decoder rejects.
void ReadPictureSizeOf(const std::uint8_t* data, std::size_t size, PictureKind kind, int& width, int& height);
// Throws PictureError unless this build has the kind's backend.
void CheckKindBuilt(PictureKind kind);
// Counts one pass over a picture's data in PictureDecodeCount() (StreamPicture counts its own).
void CountDecodePass();
void StreamPicture(const std::uint8_t* data, std::size_t size, PictureKind kind, RowSink& sink);

} // namespace skarvel::detail
