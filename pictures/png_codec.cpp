// PNG reading through libpng (the writer is png_writer.cpp). libpng reports errors by longjmp; as in the JPEG
// codec, every setjmp sits in a function whose locals are all trivial, and the owners of memory live in the
// callers.
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

std::uint32_t U32Be(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Deflate gives at most 258 bytes for two bits (a 1-bit length code and a 1-bit distance code).
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// Whether the IDAT chunks hold enough bytes to inflate to the filtered rows the header
// declares. Checked before any row is decoded, so a few bytes claiming a huge picture fail
// at once; libpng would fail on them too, only later.
bool DataCanHoldRows(const std::uint8_t* data, std::size_t size) {
    if (size < 33)
        return true; // libpng reports the missing header itself
    const std::uint64_t width = U32Be(data + 16), height = U32Be(data + 20);
    const int bitDepth = data[24], colorType = data[25], interlace = data[28];
    int samples = 1;
    switch (colorType) {
    case 2:
        samples = 3;
        break;
    case 4:
        samples = 2;
        break;
    case 6:
        samples = 4;
        break;
    default:
        break;
    }
    const std::uint64_t bitsPerPixel =
        static_cast<std::uint64_t>(samples) * static_cast<std::uint64_t>(bitDepth);
    auto filteredBytes = [&](std::uint64_t cols, std::uint64_t rows) -> std::uint64_t {
        if (cols == 0 || rows == 0)
            return 0;
        return rows * (1 + (cols * bitsPerPixel + 7) / 8);
    };
    std::uint64_t needed = 0;
    if (interlace == 0) {
        needed = filteredBytes(width, height);
    } else {
        for (int pass = 0; pass < 7; ++pass)
            needed += filteredBytes(PNG_PASS_COLS(width, pass), PNG_PASS_ROWS(height, pass));
    }
    std::uint64_t idat = 0;
    for (std::size_t p = 8; p + 8 <= size;) {
        const std::uint64_t length = U32Be(data + p);
        if (std::memcmp(data + p + 4, "IDAT", 4) == 0)
            idat += std::min<std::uint64_t>(length, size - p - 8);
        else if (std::memcmp(data + p + 4, "IEND", 4) == 0)
            break;
        p += 12 + static_cast<std::size_t>(std::min<std::uint64_t>(length, size));
    }
    // The zlib header and check value hold no row bytes; one block header's worth of slack.
    return needed <= idat * kMaxDeflateRatio + kMaxDeflateRatio;
}

// The libpng calls of a decode; all locals trivial. `row` receives one row of samples.
bool StreamSteps(Reader* r, detail::RowSink* sink, std::vector<std::uint8_t>* row) {
    if (setjmp(png_jmpbuf(r->png)))
        return false;
    png_set_user_limits(r->png, kMaxPictureSide, kMaxPictureSide);
    png_set_chunk_malloc_max(r->png, 8u << 20);
    png_set_read_fn(r->png, &r->source, ReadFromSource);
    png_read_info(r->png, r->info);

    const png_uint_32 width = png_get_image_width(r->png, r->info);
    const png_uint_32 height = png_get_image_height(r->png, r->info);
    detail::CheckPictureSize(width, height, kFormat);
    if (!DataCanHoldRows(r->source.data, r->source.size))
        png_error(r->png, "image data too short for the picture");
    const int colorType = png_get_color_type(r->png, r->info);
    const int bitDepth = png_get_bit_depth(r->png, r->info);
    const bool interlaced = png_get_interlace_type(r->png, r->info) != PNG_INTERLACE_NONE;

    // Colours are kept as stored: no gamma or colour-profile correction, and a single
    // transparent colour of a gray or RGB picture (tRNS) stays opaque. Palette transparency
    // becomes alpha, blended onto black like an alpha channel.
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(r->png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(r->png);
    if (bitDepth == 16)
        png_set_scale_16(r->png);
    // Interlaced passes are read as the small pictures they are, each pixel put in its place.
    png_read_update_info(r->png, r->info);

    const int channels = png_get_channels(r->png, r->info);
    const std::size_t rowBytes = png_get_rowbytes(r->png, r->info);
    if (png_get_bit_depth(r->png, r->info) != 8 || channels < 1 || channels > 4 ||
        rowBytes != static_cast<std::size_t>(width) * static_cast<std::size_t>(channels))
        png_error(r->png, "unexpected sample layout");

    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    sink->begin(static_cast<int>(width), static_cast<int>(height), kBlack);
    row->resize(rowBytes + static_cast<std::size_t>(width) * 3);
    std::uint8_t* samples = row->data();
    std::uint8_t* rgb = row->data() + rowBytes;
    if (!interlaced) {
        for (png_uint_32 y = 0; y < height; ++y) {
            const int yi = static_cast<int>(y);
            if (!sink->wants(yi)) {
                png_read_row(r->png, samples, nullptr);
                continue;
            }
            std::uint8_t* target = sink->rowBuffer(yi);
            if (channels == 3) {
                png_read_row(r->png, target, nullptr);
            } else {
                png_read_row(r->png, samples, nullptr);
                ToRgb(samples, channels, static_cast<int>(width), target);
            }
            sink->rowDone(yi);
        }
    } else {
        for (int pass = 0; pass < 7; ++pass) {
            const png_uint_32 cols = PNG_PASS_COLS(width, pass), rows = PNG_PASS_ROWS(height, pass);
            if (cols == 0 || rows == 0)
                continue; // libpng skips empty passes too
            for (png_uint_32 pr = 0; pr < rows; ++pr) {
                png_read_row(r->png, samples, nullptr);
                const int y = static_cast<int>(PNG_ROW_FROM_PASS_ROW(pr, pass));
                if (!sink->wants(y))
                    continue;
                ToRgb(samples, channels, static_cast<int>(cols), rgb);
                sink->putPixels(y, static_cast<int>(PNG_PASS_START_COL(pass)), 1 << PNG_PASS_COL_SHIFT(pass),
                                static_cast<int>(cols), rgb);
            }
        }
    }
    // Whatever follows the pixels (text chunks, IEND) is not needed.
    return true;
}

} // namespace

namespace detail {

void StreamPng(const std::uint8_t* data, std::size_t size, RowSink& sink) {
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
    std::vector<std::uint8_t> row;
    if (!StreamSteps(&r, &sink, &row))
        detail::ThrowPictureError(kFormat, r.errors.message);
}

} // namespace detail

} // namespace skarvel
