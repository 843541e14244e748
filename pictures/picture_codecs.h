#pragma once
// Picture decoding and encoding in 24-bit RGB: BMP, JPEG, PNG and GIF, and where the
// modern picture types are on, WebP, AVIF and SVG.
// Decoders and encoders throw PictureError for any file they reject; none of them
// crashes on hostile input or allocates more than the size limits below allow.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace skarvel {

class PictureError : public std::runtime_error {
public:
    explicit PictureError(const std::string& what) : std::runtime_error(what) {}
};

// Largest picture any decoder accepts: a side of at most kMaxPictureSide pixels and at
// most kMaxPicturePixels pixels in all.
inline constexpr int kMaxPictureSide = 65535;
inline constexpr std::int64_t kMaxPicturePixels = 500'000'000;
// Largest picture decoded whole (for the picture transform): 768 MB of pixels. Larger
// pictures can still be measured, which never holds more than a few rows.
inline constexpr std::int64_t kDecodePixelBudget = 256'000'000;

// 24-bit RGB picture: three bytes per pixel (red, green, blue), rows packed top to bottom.
struct Rgb24Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    Rgb24Image() = default;
    Rgb24Image(int w, int h) { resize(w, h); }

    // Sets the size; the pixel storage keeps its capacity so a reused picture does not
    // allocate again. Contents are unspecified afterwards. Throws PictureError for a
    // negative or oversized request.
    void resize(int w, int h);
    // Frees the pixel storage.
    void release();

    bool isEmpty() const { return width <= 0 || height <= 0; }
    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * 3; }
    std::uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * rowBytes(); }
    const std::uint8_t* row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * rowBytes(); }
    std::uint8_t* pixel(int x, int y) { return row(y) + static_cast<std::size_t>(x) * 3; }
    const std::uint8_t* pixel(int x, int y) const { return row(y) + static_cast<std::size_t>(x) * 3; }
};

enum class PictureKind { Bmp, Jpeg, Png, Gif, Webp, Avif, Svg };

// The picture types the program knows: the four classic ones, or also WebP, AVIF and SVG
// ([COMMON] MODERN_PICTURES=1), each of those only where its backend was built.
enum class PictureTypes { Classic, Modern };

// The kind named by the last four characters of path: ".bmp", ".jpg", ".png" or ".gif".
// Without caseSensitive the ending is lower-cased first (".JPG" counts as ".jpg").
std::optional<PictureKind> KindFromLastFour(const QString& path, bool caseSensitive);
// KindFromLastFour, and with PictureTypes::Modern also ".webp", ".avif" and ".svg" for the
// kinds that were built.
std::optional<PictureKind> KindFromPath(const QString& path, bool caseSensitive, PictureTypes types);
// "bmp", "jpg", "png", "gif", "webp", "avif" or "svg".
QString KindExtension(PictureKind kind);
// WebP, AVIF and SVG.
bool IsModernKind(PictureKind kind);
// Whether this build has the kind's backend (the classic four always; WebP, AVIF and SVG by
// the build options SKARVEL_WEBP, SKARVEL_AVIF and SKARVEL_SVG).
bool PictureKindBuilt(PictureKind kind);

// Decoders. `out` is resized to the picture and filled; its storage is reused. A picture
// of more than kDecodePixelBudget pixels throws PictureError; the pixel storage grows only
// as the file's data proves the rows exist, so a short file that claims a huge size costs
// neither memory nor time.
// Transparency is dropped: a PNG alpha channel is blended onto black (each colour
// becomes round(colour * alpha / 255)); a PNG single transparent colour and the alpha
// bits of a BMP keep the stored colours; a GIF gives its first
// frame on a canvas of its logical screen filled with its background colour, which
// also shows through the frame's transparent pixels.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Rgb24Image& out);
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Rgb24Image& out);
void DecodePng(const std::uint8_t* data, std::size_t size, Rgb24Image& out);
void DecodeGif(const std::uint8_t* data, std::size_t size, Rgb24Image& out);
// WebP and AVIF give their first frame on their canvas, transparency blended onto black as for
// PNG; an SVG is drawn at its own size (see picture_svg.h) on white, as a page shows it. A kind
// that was not built throws PictureError.
void DecodeWebp(const std::uint8_t* data, std::size_t size, Rgb24Image& out);
void DecodeAvif(const std::uint8_t* data, std::size_t size, Rgb24Image& out);
void DecodeSvg(const std::uint8_t* data, std::size_t size, Rgb24Image& out);

void DecodePicture(const std::uint8_t* data, std::size_t size, PictureKind kind, Rgb24Image& out);
void DecodePicture(const QByteArray& bytes, PictureKind kind, Rgb24Image& out);
Rgb24Image DecodePicture(const QByteArray& bytes, PictureKind kind);
// Reads the whole file, then decodes it; a file that cannot be read throws PictureError.
void DecodePictureFile(const QString& path, PictureKind kind, Rgb24Image& out);
Rgb24Image DecodePictureFile(const QString& path, PictureKind kind);

// Width and height of the picture file. Every row is decoded and checked, as a full decode
// would, but never more than a few rows are held. False, with the reason in *error, when
// the file is missing or its decoder rejects it.
bool ReadPictureSize(const QString& path, PictureKind kind, int& width, int& height,
                     QString* error = nullptr);

// Passes over a picture's pixel data so far in this process: every full decode and every
// measuring pass counts one.
std::uint64_t PictureDecodeCount();

// Encoders. An empty picture throws PictureError.
// JPEG: baseline, colour (YCbCr 4:2:0), the given quality.
QByteArray EncodeJpeg(const Rgb24Image& picture, int quality = 90);
// PNG: 8-bit RGB, not interlaced, deflate at the given level.
QByteArray EncodePng(const Rgb24Image& picture, int compressionLevel = 7);
// GIF: one frame; the picture's own colours when it has at most 256, else a palette of
// at most 256 colours made by median-cut quantization, without dithering.
QByteArray EncodeGif(const Rgb24Image& picture);
// BMP: 24 bits per pixel, uncompressed, bottom-up.
QByteArray EncodeBmp(const Rgb24Image& picture);
// WebP through libwebp: lossy at the given quality.
QByteArray EncodeWebp(const Rgb24Image& picture, int quality = 90);
// AVIF through libavif (AV1 by libaom): 8-bit 4:2:0 at the quantizer libavif gives quality 90.
QByteArray EncodeAvif(const Rgb24Image& picture);
// Whether the kind can be written; an SVG cannot (a picture is written as PNG in its place).
bool KindHasEncoder(PictureKind kind);

// The encoding of the kind with the program's settings (JPEG quality 90, PNG level 7, WebP
// quality 90). SVG throws PictureError: nothing writes it.
QByteArray EncodePicture(const Rgb24Image& picture, PictureKind kind);
// Encodes, then writes the file whole, replacing any file of that name.
void WritePictureFile(const QString& path, const Rgb24Image& picture, PictureKind kind);

// Nearest-neighbour copy of src onto dst, whose size is preset: destination row y takes
// source row y * (h - 1) / (h' - 1), column x source column x * (w - 1) / (w' - 1), integer
// divisions, so corners map to corners. A destination side of 1 takes source index 0.
// Returns false, changing nothing, when either picture has a side of 0.
bool ResizeNearest(const Rgb24Image& src, Rgb24Image& dst);

} // namespace skarvel
