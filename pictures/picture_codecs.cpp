#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_data_backing.h"

#include "common/file_ops.h"
#include "common/text_ops.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace skarvel {

namespace detail {

void ThrowPictureError(const char* format, const std::string& what) {
    throw PictureError(std::string(format) + ": " + what);
}

void CheckCodedDataBacksSize(std::int64_t canvasPixels, std::int64_t framePixels, std::int64_t codedBytes,
                             const char* format) {
    const std::int64_t background = canvasPixels - framePixels;
    if (background > kFreeSkippedPixels && background > kSkippedPixelsPerSetPixel * framePixels)
        ThrowPictureError(format, "the first frame covers " + std::to_string(framePixels) +
                                      " of the canvas's " + std::to_string(canvasPixels) + " pixels");
    if (framePixels > kFreeSkippedPixels && framePixels > kPixelsPerCodedByte * codedBytes)
        ThrowPictureError(format, std::to_string(codedBytes) + " bytes of coded data cannot back " +
                                      std::to_string(framePixels) + " pixels");
}

void CheckKindBuilt(PictureKind kind) {
    if (!PictureKindBuilt(kind))
        throw PictureError(KindExtension(kind).toUpper().toStdString() +
                           ": this build does not read the type");
}

// What stands for a backend this build was made without.
#ifndef SKARVEL_HAVE_SVG
void ReadSvgSize(const std::uint8_t*, std::size_t, int&, int&) {
    CheckKindBuilt(PictureKind::Svg);
}
void MeasureSvg(const std::uint8_t*, std::size_t, int, int&, int&, Rgb24Image&, ThumbnailPlacement&) {
    CheckKindBuilt(PictureKind::Svg);
}
#endif

void CheckPictureSize(std::int64_t width, std::int64_t height, const char* format) {
    if (width < 0 || height < 0)
        ThrowPictureError(format, "negative picture size");
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        ThrowPictureError(format, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                                      " pixels is larger than allowed");
}

void CheckWholeDecodeSize(int width, int height) {
    CheckPictureSize(width, height, "picture");
    if (std::int64_t{width} * height > kDecodePixelBudget)
        throw PictureError("picture of " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels is too large to decode whole");
}

} // namespace detail

void Rgb24Image::resize(int w, int h) {
    detail::CheckPictureSize(w, h, "picture");
    pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    width = w;
    height = h;
}

void Rgb24Image::release() {
    std::vector<std::uint8_t>().swap(pixels);
    width = height = 0;
}

std::optional<PictureKind> KindFromLastFour(const QString& path, bool caseSensitive) {
    QString ending = LastChars(path, 4);
    if (!caseSensitive)
        ending = ending.toLower();
    if (ending == u".bmp")
        return PictureKind::Bmp;
    if (ending == u".jpg")
        return PictureKind::Jpeg;
    if (ending == u".png")
        return PictureKind::Png;
    if (ending == u".gif")
        return PictureKind::Gif;
    return std::nullopt;
}

std::optional<PictureKind> KindFromPath(const QString& path, bool caseSensitive, PictureTypes types) {
    if (const std::optional<PictureKind> classic = KindFromLastFour(path, caseSensitive))
        return classic;
    if (types != PictureTypes::Modern)
        return std::nullopt;
    QString ending = LastChars(path, 5);
    if (!caseSensitive)
        ending = ending.toLower();
    std::optional<PictureKind> kind;
    if (ending == u".webp")
        kind = PictureKind::Webp;
    else if (ending == u".avif")
        kind = PictureKind::Avif;
    else if (ending.endsWith(u".svg"))
        kind = PictureKind::Svg;
    if (kind && !PictureKindBuilt(*kind))
        return std::nullopt;
    return kind;
}

QString KindExtension(PictureKind kind) {
    switch (kind) {
    case PictureKind::Bmp:
        return QStringLiteral("bmp");
    case PictureKind::Jpeg:
        return QStringLiteral("jpg");
    case PictureKind::Png:
        return QStringLiteral("png");
    case PictureKind::Gif:
        return QStringLiteral("gif");
    case PictureKind::Webp:
        return QStringLiteral("webp");
    case PictureKind::Avif:
        return QStringLiteral("avif");
    case PictureKind::Svg:
        return QStringLiteral("svg");
    }
    return {};
}

bool IsModernKind(PictureKind kind) {
    return kind == PictureKind::Webp || kind == PictureKind::Avif || kind == PictureKind::Svg;
}

bool PictureKindBuilt(PictureKind kind) {
    switch (kind) {
    case PictureKind::Webp:
#ifdef SKARVEL_HAVE_WEBP
        return true;
#else
        return false;
#endif
    case PictureKind::Avif:
#ifdef SKARVEL_HAVE_AVIF
        return true;
#else
        return false;
#endif
    case PictureKind::Svg:
#ifdef SKARVEL_HAVE_SVG
        return true;
#else
        return false;
#endif
    default:
        return true;
    }
}

bool KindHasEncoder(PictureKind kind) {
    return kind != PictureKind::Svg && PictureKindBuilt(kind);
}

namespace {

std::atomic<std::uint64_t> g_decodeCount{0};

// The whole picture in an Rgb24Image, its storage grown row by row as the data arrives.
class ImageSink final : public detail::RowSink {
public:
    explicit ImageSink(Rgb24Image& out) : m_out(out) {}

    void begin(int width, int height, const std::uint8_t fill[3]) override {
        detail::CheckWholeDecodeSize(width, height);
        m_out.width = width;
        m_out.height = height;
        m_out.pixels.clear();
        m_rows = 0;
        std::memcpy(m_fill, fill, 3);
    }
    bool wants(int) const override { return true; }
    std::uint8_t* rowBuffer(int y) override {
        ensureRows(y + 1);
        return m_out.row(y);
    }
    void rowDone(int) override {}
    void putPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb) override {
        std::uint8_t* o = rowBuffer(y) + static_cast<std::size_t>(x0) * 3;
        const std::size_t step = static_cast<std::size_t>(dx) * 3;
        for (int i = 0; i < count; ++i, o += step, rgb += 3)
            std::memcpy(o, rgb, 3);
    }
    void finish() { ensureRows(m_out.height); }

private:
    void ensureRows(int rows) {
        if (rows <= m_rows)
            return;
        const std::size_t rowBytes = m_out.rowBytes();
        const std::size_t bytes = static_cast<std::size_t>(rows) * rowBytes;
        if (bytes > m_out.pixels.capacity()) {
            const std::size_t full = static_cast<std::size_t>(m_out.height) * rowBytes;
            m_out.pixels.reserve(std::min(full, std::max(bytes, 2 * m_out.pixels.capacity())));
        }
        const std::size_t old = m_out.pixels.size();
        m_out.pixels.resize(bytes);
        if (m_fill[0] != 0 || m_fill[1] != 0 || m_fill[2] != 0)
            for (std::size_t i = old; i < bytes; i += 3)
                std::memcpy(&m_out.pixels[i], m_fill, 3);
        m_rows = rows;
    }

    Rgb24Image& m_out;
    int m_rows = 0;
    std::uint8_t m_fill[3] = {0, 0, 0};
};

// Size only: every row is decoded into one scratch row and dropped.
class SizeSink final : public detail::RowSink {
public:
    void begin(int w, int h, const std::uint8_t*) override {
        width = w;
        height = h;
        m_row.resize(static_cast<std::size_t>(w) * 3);
    }
    bool wants(int) const override { return false; }
    std::uint8_t* rowBuffer(int) override { return m_row.data(); }
    void rowDone(int) override {}
    void putPixels(int, int, int, int, const std::uint8_t*) override {}

    int width = 0;
    int height = 0;

private:
    std::vector<std::uint8_t> m_row;
};

} // namespace

namespace detail {

void CountDecodePass() {
    g_decodeCount.fetch_add(1, std::memory_order_relaxed);
}

void StreamPicture(const std::uint8_t* data, std::size_t size, PictureKind kind, RowSink& sink) {
    CountDecodePass();
    CheckKindBuilt(kind);
    switch (kind) {
    case PictureKind::Bmp:
        return StreamBmp(data, size, sink);
    case PictureKind::Jpeg:
        return StreamJpeg(data, size, sink);
    case PictureKind::Png:
        return StreamPng(data, size, sink);
    case PictureKind::Gif:
        return StreamGif(data, size, sink);
#ifdef SKARVEL_HAVE_WEBP
    case PictureKind::Webp:
        return StreamWebp(data, size, sink);
#endif
#ifdef SKARVEL_HAVE_AVIF
    case PictureKind::Avif:
        return StreamAvif(data, size, sink);
#endif
#ifdef SKARVEL_HAVE_SVG
    case PictureKind::Svg:
        return StreamSvg(data, size, sink);
#endif
    default:
        break;
    }
    throw PictureError("unknown picture kind");
}

} // namespace detail

#ifndef SKARVEL_HAVE_WEBP
QByteArray EncodeWebp(const Rgb24Image&, int) {
    detail::CheckKindBuilt(PictureKind::Webp);
    return {};
}
#endif
#ifndef SKARVEL_HAVE_AVIF
QByteArray EncodeAvif(const Rgb24Image&) {
    detail::CheckKindBuilt(PictureKind::Avif);
    return {};
}
#endif

std::uint64_t PictureDecodeCount() {
    return g_decodeCount.load(std::memory_order_relaxed);
}

void DecodePicture(const std::uint8_t* data, std::size_t size, PictureKind kind, Rgb24Image& out) {
    ImageSink sink(out);
    try {
        detail::StreamPicture(data, size, kind, sink);
        sink.finish();
    } catch (...) {
        // Keeps the storage for reuse, but never a size its pixels do not fill.
        out.width = out.height = 0;
        out.pixels.clear();
        throw;
    }
}

void DecodeBmp(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Bmp, out);
}
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Jpeg, out);
}
void DecodePng(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Png, out);
}
void DecodeGif(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Gif, out);
}
void DecodeWebp(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Webp, out);
}
void DecodeAvif(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Avif, out);
}
void DecodeSvg(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    DecodePicture(data, size, PictureKind::Svg, out);
}

void DecodePicture(const QByteArray& bytes, PictureKind kind, Rgb24Image& out) {
    DecodePicture(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                  static_cast<std::size_t>(bytes.size()), kind, out);
}

Rgb24Image DecodePicture(const QByteArray& bytes, PictureKind kind) {
    Rgb24Image out;
    DecodePicture(bytes, kind, out);
    return out;
}

void DecodePictureFile(const QString& path, PictureKind kind, Rgb24Image& out) {
    QByteArray bytes;
    if (!ReadWholeFile(path, bytes))
        throw PictureError("cannot read " + path.toStdString());
    DecodePicture(bytes, kind, out);
}

Rgb24Image DecodePictureFile(const QString& path, PictureKind kind) {
    Rgb24Image out;
    DecodePictureFile(path, kind, out);
    return out;
}

void detail::ReadPictureSizeOf(const std::uint8_t* data, std::size_t size, PictureKind kind, int& width,
                               int& height) {
    if (kind == PictureKind::Svg) {
        CheckKindBuilt(kind);
        CountDecodePass();
        ReadSvgSize(data, size, width, height);
        return;
    }
    SizeSink sink;
    StreamPicture(data, size, kind, sink);
    width = sink.width;
    height = sink.height;
}

bool ReadPictureSize(const QString& path, PictureKind kind, int& width, int& height, QString* error) {
    try {
        QByteArray bytes;
        if (!ReadWholeFile(path, bytes))
            throw PictureError("cannot read " + path.toStdString());
        detail::ReadPictureSizeOf(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                  static_cast<std::size_t>(bytes.size()), kind, width, height);
        return true;
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromStdString(e.what());
        return false;
    }
}

QByteArray EncodePicture(const Rgb24Image& picture, PictureKind kind) {
    switch (kind) {
    case PictureKind::Bmp:
        return EncodeBmp(picture);
    case PictureKind::Jpeg:
        return EncodeJpeg(picture, 90);
    case PictureKind::Png:
        return EncodePng(picture, 7);
    case PictureKind::Gif:
        return EncodeGif(picture);
    case PictureKind::Webp:
        detail::CheckKindBuilt(kind);
        return EncodeWebp(picture, 90);
    case PictureKind::Avif:
        detail::CheckKindBuilt(kind);
        return EncodeAvif(picture);
    case PictureKind::Svg:
        break;
    }
    throw PictureError("no encoder for " + KindExtension(kind).toStdString());
}

void detail::EncodePictureInto(const Rgb24Image& picture, PictureKind kind, QByteArray& out) {
    switch (kind) {
    case PictureKind::Bmp:
        return EncodeBmpInto(picture, out);
    case PictureKind::Png:
        return EncodePngInto(picture, 7, out);
    case PictureKind::Jpeg:
    case PictureKind::Gif:
    case PictureKind::Webp:
    case PictureKind::Avif:
    case PictureKind::Svg:
        out = EncodePicture(picture, kind);
        return;
    }
    throw PictureError("unknown picture kind");
}

void WritePictureFile(const QString& path, const Rgb24Image& picture, PictureKind kind) {
    const QByteArray bytes = EncodePicture(picture, kind);
    QString error;
    if (!WriteWholeFile(path, bytes, &error))
        throw PictureError("cannot write " + path.toStdString() + ": " + error.toStdString());
}

bool ResizeNearest(const Rgb24Image& src, Rgb24Image& dst) {
    if (src.isEmpty() || dst.isEmpty())
        return false;
    const std::int64_t w = src.width, h = src.height;
    const std::int64_t dw = dst.width, dh = dst.height;

    // Byte offset of each destination column's source pixel, computed once per call.
    std::vector<std::size_t> columnOffset(static_cast<std::size_t>(dw));
    for (std::int64_t x = 0; x < dw; ++x)
        columnOffset[static_cast<std::size_t>(x)] =
            static_cast<std::size_t>(dw == 1 ? 0 : x * (w - 1) / (dw - 1)) * 3;

    std::int64_t previousSourceRow = -1;
    for (std::int64_t y = 0; y < dh; ++y) {
        const std::int64_t sy = dh == 1 ? 0 : y * (h - 1) / (dh - 1);
        std::uint8_t* out = dst.row(static_cast<int>(y));
        if (sy == previousSourceRow) {
            // Enlarging repeats source rows: copy the row just made.
            std::memcpy(out, dst.row(static_cast<int>(y - 1)), dst.rowBytes());
            continue;
        }
        previousSourceRow = sy;
        const std::uint8_t* in = src.row(static_cast<int>(sy));
        for (std::int64_t x = 0; x < dw; ++x) {
            const std::uint8_t* p = in + columnOffset[static_cast<std::size_t>(x)];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
            out += 3;
        }
    }
    return true;
}

} // namespace skarvel
