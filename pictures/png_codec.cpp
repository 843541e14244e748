// PNG through libpng. libpng reports errors by longjmp; as in the JPEG codec, every setjmp
// sits in a function whose locals are all trivial, and the owners of memory live in the callers.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

namespace skarvel {

namespace {

constexpr const char* kFormat = "PNG";

struct ErrorState {
    char message[256];
};

void OnError(png_structp png, png_const_charp message) {
    auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "error");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void ReadFromSource(png_structp png, png_bytep target, png_size_t length) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (length > source->size - source->pos)
        png_error(png, "file ends early");
    std::memcpy(target, source->data + source->pos, length);
    source->pos += length;
}

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ErrorState errors{};
    Source source{};
    ~Reader() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// Turns one row of 8-bit gray, gray+alpha, RGB or RGBA samples into RGB, blending any alpha
// onto black.
void ToRgb(const std::uint8_t* in, int channels, int width, std::uint8_t* out) {
    switch (channels) {
    case 1:
        for (int x = 0; x < width; ++x, out += 3)
            out[0] = out[1] = out[2] = in[x];
        break;
    case 2:
        for (int x = 0; x < width; ++x, in += 2, out += 3)
            out[0] = out[1] = out[2] = detail::BlendOntoBlack(in[0], in[1]);
        break;
    case 3:
        std::memcpy(out, in, static_cast<std::size_t>(width) * 3);
        break;
    case 4:
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = detail::BlendOntoBlack(in[0], in[3]);
            out[1] = detail::BlendOntoBlack(in[1], in[3]);
            out[2] = detail::BlendOntoBlack(in[2], in[3]);
        }
        break;
    default:
        break;
    }
}

// The libpng calls of a decode; all locals trivial. `rows` receives the decoded samples of
// the whole picture when it is interlaced, else of one row at a time.
bool DecodeSteps(Reader* r, Rgb24Image* out, std::vector<std::uint8_t>* rows,
                 std::vector<png_bytep>* rowPointers) {
    if (setjmp(png_jmpbuf(r->png)))
        return false;
    png_set_user_limits(r->png, kMaxPictureSide, kMaxPictureSide);
    png_set_read_fn(r->png, &r->source, ReadFromSource);
    png_read_info(r->png, r->info);

    const png_uint_32 width = png_get_image_width(r->png, r->info);
    const png_uint_32 height = png_get_image_height(r->png, r->info);
    detail::CheckPictureSize(width, height, kFormat);
    const int colorType = png_get_color_type(r->png, r->info);
    const int bitDepth = png_get_bit_depth(r->png, r->info);

    // Colours are kept as stored: no gamma or colour-profile correction, and a single
    // transparent colour of a gray or RGB picture (tRNS) stays opaque. Palette transparency
    // becomes alpha, blended onto black like an alpha channel.
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(r->png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(r->png);
    if (bitDepth == 16)
        png_set_scale_16(r->png);
    const int passes = png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);

    const int channels = png_get_channels(r->png, r->info);
    const std::size_t rowBytes = png_get_rowbytes(r->png, r->info);
    if (png_get_bit_depth(r->png, r->info) != 8 || channels < 1 || channels > 4 ||
        rowBytes != static_cast<std::size_t>(width) * static_cast<std::size_t>(channels))
        png_error(r->png, "unexpected sample layout");

    out->resize(static_cast<int>(width), static_cast<int>(height));
    if (passes > 1) {
        rows->resize(rowBytes * height);
        rowPointers->resize(height);
        for (png_uint_32 y = 0; y < height; ++y)
            (*rowPointers)[y] = rows->data() + rowBytes * y;
        png_read_image(r->png, rowPointers->data());
        for (png_uint_32 y = 0; y < height; ++y)
            ToRgb((*rowPointers)[y], channels, static_cast<int>(width), out->row(static_cast<int>(y)));
    } else if (channels == 3) {
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(r->png, out->row(static_cast<int>(y)), nullptr);
    } else {
        rows->resize(rowBytes);
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(r->png, rows->data(), nullptr);
            ToRgb(rows->data(), channels, static_cast<int>(width), out->row(static_cast<int>(y)));
        }
    }
    // Whatever follows the pixels (text chunks, IEND) is not needed.
    return true;
}

struct Writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ErrorState errors{};
    QByteArray* bytes = nullptr;
    ~Writer() {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

void WriteToBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* bytes = static_cast<QByteArray*>(png_get_io_ptr(png));
    bool ok = true;
    try {
        bytes->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    } catch (...) {
        ok = false;
    }
    if (!ok)
        png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

bool EncodeSteps(Writer* w, const Rgb24Image* picture, int level) {
    if (setjmp(png_jmpbuf(w->png)))
        return false;
    png_set_write_fn(w->png, w->bytes, WriteToBytes, FlushNothing);
    png_set_compression_level(w->png, level);
    png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(picture->width),
                 static_cast<png_uint_32>(picture->height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w->png, w->info);
    for (int y = 0; y < picture->height; ++y)
        png_write_row(w->png, picture->row(y));
    png_write_end(w->png, nullptr);
    return true;
}

} // namespace

void DecodePng(const std::uint8_t* data, std::size_t size, Rgb24Image& out) {
    if (data == nullptr || size < 8 || png_sig_cmp(data, 0, 8) != 0)
        detail::ThrowPictureError(kFormat, "not a PNG file");
    Reader r;
    r.source = {data, size, 0};
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r.errors, OnError, OnWarning);
    if (!r.png)
        detail::ThrowPictureError(kFormat, "cannot start the decoder");
    r.info = png_create_info_struct(r.png);
    if (!r.info)
        detail::ThrowPictureError(kFormat, "cannot start the decoder");
    std::vector<std::uint8_t> rows;
    std::vector<png_bytep> rowPointers;
    if (!DecodeSteps(&r, &out, &rows, &rowPointers))
        detail::ThrowPictureError(kFormat, r.errors.message);
}

QByteArray EncodePng(const Rgb24Image& picture, int compressionLevel) {
    if (picture.isEmpty())
        detail::ThrowPictureError(kFormat, "cannot write an empty picture");
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(picture.pixels.size() / 4 + 1024));
    Writer w;
    w.bytes = &bytes;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w.errors, OnError, OnWarning);
    if (!w.png)
        detail::ThrowPictureError(kFormat, "cannot start the encoder");
    w.info = png_create_info_struct(w.png);
    if (!w.info)
        detail::ThrowPictureError(kFormat, "cannot start the encoder");
    if (!EncodeSteps(&w, &picture, compressionLevel))
        detail::ThrowPictureError(kFormat, w.errors.message);
    return bytes;
}

} // namespace skarvel
