#pragma once
// Test helpers for pictures: ImageMagick as the independent decoder, pixel comparison,
// and fixture makers.
#include "pictures/picture_codecs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace skarvel::test {

// Runs an ImageMagick tool ("convert" or "identify") and returns its standard output.
// Records a test failure (and returns empty) when the tool cannot run or fails.
QByteArray runMagick(const QString& tool, const QStringList& args);
// identify -format of the first frame of path.
QString identifyFormat(const QString& path, const QString& format);

struct RgbaPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};
// The first frame of path as decoded by ImageMagick, 8 bits per sample. extraArgs go
// after the input name (for example -colorspace sRGB).
RgbaPicture magickRgba(const QString& path, const QStringList& extraArgs = {});
// The stored colours, alpha dropped.
Rgb24Image colourOf(const RgbaPicture& picture);
// Alpha blended onto black, computed in floating point and rounded.
Rgb24Image blendedOntoBlack(const RgbaPicture& picture);

struct PixelDiff {
    bool sameSize = false;
    int maxDiff = 0;
    double meanDiff = 0;
};
PixelDiff comparePixels(const Rgb24Image& a, const Rgb24Image& b);

// A w x h picture with gradients, a flat block and fine noise (many colours).
Rgb24Image makePhotoLike(int w, int h, std::uint32_t seed = 1);
// A photograph-like w x h picture whose layout the seed chooses: a gradient, smooth value
// noise at three scales and soft-edged discs, placed relative to the picture's size (the same
// seed at another size is the same scene), and fine grain.
Rgb24Image makeScene(int w, int h, std::uint32_t seed);
// An SVG drawing of w x h CSS pixels whose layout the seed chooses: a gradient ground and
// overlapping translucent ellipses and rectangles, placed by the viewBox (any size, same drawing).
QByteArray makeSvgScene(int w, int h, std::uint32_t seed);
// A w x h picture of `colours` distinct flat colours in bands.
Rgb24Image makeFewColours(int w, int h, int colours);

// A PNG made with libpng: every row filled with pseudo-random samples (which fit any
// bit depth), a full random palette for colour type 3, and with `transparency` a tRNS
// chunk (alpha of palette entries, or the colour of the first pixel for gray and RGB).
QByteArray makePng(int width, int height, int colorType, int bitDepth, bool interlaced, bool transparency,
                   std::uint32_t seed);

// An uncompressed bottom-up BMP turned top-down: negated height, rows reversed.
QByteArray bmpToTopDown(const QByteArray& bottomUp);

// Tiny hostile files that claim far more pixels than they hold.
// 8 + 25 + 13 = 46 bytes: a PNG header claiming w x h, one byte of image data, no IEND.
QByteArray tinyPng(std::uint32_t w, std::uint32_t h, bool interlaced);
// A 64-byte run-length BMP of w x h whose runs stop long before the picture does.
QByteArray tinyRleBmp(std::uint32_t w, std::uint32_t h);
// The file header, information header and an all-black palette of an 8-bit RLE8 BMP of w x h,
// its data offset set; the caller appends the runs and sets the file size (offset 2).
QByteArray rle8BmpHeader(std::uint32_t w, std::uint32_t h, std::uint32_t paletteEntries);
// A one-pixel GIF with its screen and first frame set to the given sizes.
QByteArray gifWithSizes(unsigned screenW, unsigned screenH, unsigned frameW, unsigned frameH);
// A real 8 x 8 JPEG whose frame header claims w x h.
QByteArray jpegClaiming(unsigned w, unsigned h);
// The JPEG with its frame header (any coding) saying w x h.
QByteArray withJpegFrameSize(QByteArray jpeg, unsigned w, unsigned h);
// A JPEG written by libjpeg at quality 90, 4:2:0, with arithmetic coding and/or in progressive
// scans, which EncodeJpeg never writes, and a restart marker every restartRows MCU rows (0: none).
// Empty when libjpeg refuses.
QByteArray encodeJpegWith(const Rgb24Image& picture, bool arithmetic, bool progressive, int restartRows = 0);

} // namespace skarvel::test
