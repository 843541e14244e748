#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"

#include "common/file_ops.h"
#include "common/text_ops.h"

#include <QFile>

#include <cstring>

namespace skarvel {

namespace detail {

void ThrowPictureError(const char* format, const std::string& what) {
    throw PictureError(std::string(format) + ": " + what);
}

void CheckPictureSize(std::int64_t width, std::int64_t height, const char* format) {
    if (width < 0 || height < 0)
        ThrowPictureError(format, "negative picture size");
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        ThrowPictureError(format, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                                      " pixels is larger than allowed");
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
    }
    return {};
}

void DecodePicture(const std::uint8_t* data, std::size_t size, PictureKind kind, Rgb24Image& out) {
    switch (kind) {
    case PictureKind::Bmp:
        return DecodeBmp(data, size, out);
    case PictureKind::Jpeg:
        return DecodeJpeg(data, size, out);
    case PictureKind::Png:
        return DecodePng(data, size, out);
    case PictureKind::Gif:
        return DecodeGif(data, size, out);
    }
    throw PictureError("unknown picture kind");
}

void DecodePicture(const QByteArray& bytes, PictureKind kind, Rgb24Image& out) {
    DecodePicture(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()),
                  kind, out);
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

bool ReadPictureSize(const QString& path, PictureKind kind, int& width, int& height, QString* error) {
    try {
        Rgb24Image picture;
        DecodePictureFile(path, kind, picture);
        width = picture.width;
        height = picture.height;
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
