// BMP reader (1/4/8/16/24/32 bits, uncompressed, bit fields, RLE8 and RLE4) and 24-bit writer.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/picture_data_backing.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

namespace skarvel {

namespace {

constexpr const char* kFormat = "BMP";

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

[[noreturn]] void Fail(const std::string& what) {
    detail::ThrowPictureError(kFormat, what);
}

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutU16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// One colour channel given by a bit mask, scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0; // largest value of the field

    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask != 0) {
            shift = std::countr_zero(mask);
            max = mask >> shift;
        }
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (max == 0)
            return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    }
};

struct Palette {
    std::array<std::array<std::uint8_t, 3>, 256> rgb{}; // entries missing from the file stay black
};

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // always positive here; topDown holds the sign
    bool topDown = false;
    int bitsPerPixel = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t masks[3] = {0, 0, 0};
    std::size_t paletteOffset = 0;
    int paletteEntrySize = 4;
    std::size_t pixelOffset = 0;
};

Header ReadHeader(const std::uint8_t* d, std::size_t size) {
    if (size < 26)
        Fail("file too short");
    if (d[0] != 'B' || d[1] != 'M')
        Fail("not a BMP file");
    Header h;
    h.pixelOffset = U32(d + 10);
    const std::uint32_t headerSize = U32(d + 14);
    if (headerSize == 12) {
        // OS/2 1.x core header: 16-bit sizes, 3-byte palette entries, always bottom-up.
        h.width = U16(d + 18);
        h.height = U16(d + 20);
        if (U16(d + 22) != 1)
            Fail("bad plane count");
        h.bitsPerPixel = U16(d + 24);
        h.paletteEntrySize = 3;
        h.paletteOffset = 26;
    } else if (headerSize >= 40 && headerSize <= 1024) {
        if (size < 14 + 40)
            Fail("file too short");
        h.width = static_cast<std::int32_t>(U32(d + 18));
        const std::int64_t height = static_cast<std::int32_t>(U32(d + 22));
        h.topDown = height < 0;
        h.height = height < 0 ? -height : height;
        if (U16(d + 26) != 1)
            Fail("bad plane count");
        h.bitsPerPixel = U16(d + 28);
        h.compression = U32(d + 30);
        h.colorsUsed = U32(d + 46);
        h.paletteOffset = 14 + static_cast<std::size_t>(headerSize);
        if (headerSize == 64 && h.compression >= kBitFields)
            Fail("OS/2 Huffman and RLE24 compression are not supported");
        if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
            // The masks sit right after the 40 bytes of the base header: inside the longer
            // headers, or appended to a plain 40-byte one (before its palette).
            if (size < 14 + 40 + 12)
                Fail("file too short for its colour masks");
            for (int i = 0; i < 3; ++i)
                h.masks[i] = U32(d + 54 + std::ptrdiff_t{4} * i);
            if (headerSize == 40)
                h.paletteOffset += h.compression == kAlphaBitFields ? 16 : 12;
        }
    } else {
        Fail("unsupported header size " + std::to_string(headerSize));
    }

    if (h.width < 0)
        Fail("negative width");
    detail::CheckPictureSize(h.width, h.height, kFormat);

    const int bpp = h.bitsPerPixel;
    switch (h.compression) {
    case kRgb:
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            Fail("unsupported bit depth " + std::to_string(bpp));
        if (bpp == 16) {
            h.masks[0] = 0x7C00;
            h.masks[1] = 0x03E0;
            h.masks[2] = 0x001F;
        } else if (bpp == 32) {
            h.masks[0] = 0x00FF0000;
            h.masks[1] = 0x0000FF00;
            h.masks[2] = 0x000000FF;
        }
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (bpp != 16 && bpp != 32)
            Fail("bit fields need 16 or 32 bits per pixel");
        break;
    case kRle8:
        if (bpp != 8)
            Fail("RLE8 needs 8 bits per pixel");
        break;
    case kRle4:
        if (bpp != 4)
            Fail("RLE4 needs 4 bits per pixel");
        break;
    default:
        Fail("unsupported compression " + std::to_string(h.compression));
    }
    if ((h.compression == kRle8 || h.compression == kRle4) && h.topDown)
        Fail("a run-length coded picture cannot be top-down");
    if (h.pixelOffset >= size && h.width > 0 && h.height > 0)
        Fail("no pixel data");
    return h;
}

std::uint64_t RowStride(const Header& h) {
    return ((static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.bitsPerPixel) + 31) / 32) * 4;
}

// An uncompressed picture must hold all its rows (the last one may lack its padding);
// checked before any pixel memory is taken, so a header cannot ask for more than the file has.
void CheckPixelDataSize(std::size_t size, const Header& h) {
    if (h.compression == kRle8 || h.compression == kRle4 || h.width == 0 || h.height == 0)
        return;
    const std::uint64_t lastRowBytes = (static_cast<std::uint64_t>(h.width) * h.bitsPerPixel + 7) / 8;
    const std::uint64_t needed = RowStride(h) * static_cast<std::uint64_t>(h.height - 1) + lastRowBytes;
    if (needed > size - h.pixelOffset)
        Fail("pixel data shorter than the header says");
}

Palette ReadPalette(const std::uint8_t* d, std::size_t size, const Header& h) {
    Palette palette;
    if (h.bitsPerPixel > 8)
        return palette;
    std::size_t count = std::size_t{1} << h.bitsPerPixel;
    if (h.colorsUsed != 0 && h.colorsUsed < count)
        count = h.colorsUsed;
    // The palette ends where the pixels start (or the file ends); entries past that stay black.
    const std::size_t end = std::min(size, std::max(h.pixelOffset, h.paletteOffset));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = h.paletteOffset + i * static_cast<std::size_t>(h.paletteEntrySize);
        if (at + 3 > end)
            break;
        palette.rgb[i] = {d[at + 2], d[at + 1], d[at]};
    }
    return palette;
}

// The pixel data size was checked by CheckPixelDataSize, so rows nobody wants are not read.
void StreamUncompressed(const std::uint8_t* d, const Header& h, const Palette& palette,
                        detail::RowSink& sink) {
    const int bpp = h.bitsPerPixel;
    const std::uint64_t stride = RowStride(h);
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);
    const int w = static_cast<int>(h.width);
    const int height = static_cast<int>(h.height);
    for (int row = 0; row < height; ++row) {
        const int y = h.topDown ? row : height - 1 - row;
        if (!sink.wants(y))
            continue;
        const std::uint8_t* in = d + h.pixelOffset + stride * static_cast<std::uint64_t>(row);
        std::uint8_t* o = sink.rowBuffer(y);
        switch (bpp) {
        case 1:
        case 4:
        case 8: {
            const int perByte = 8 / bpp;
            const unsigned indexMask = (1u << bpp) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - bpp * (x % perByte + 1);
                const auto& c = palette.rgb[(in[x / perByte] >> shift) & indexMask];
                o[0] = c[0];
                o[1] = c[1];
                o[2] = c[2];
                o += 3;
            }
            break;
        }
        case 16:
            for (int x = 0; x < w; ++x) {
                const std::uint32_t px = U16(in + std::ptrdiff_t{2} * x);
                o[0] = red(px);
                o[1] = green(px);
                o[2] = blue(px);
                o += 3;
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x) {
                o[0] = in[2];
                o[1] = in[1];
                o[2] = in[0];
                in += 3;
                o += 3;
            }
            break;
        case 32:
            if (h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 && h.masks[2] == 0x000000FF) {
                for (int x = 0; x < w; ++x) {
                    o[0] = in[2];
                    o[1] = in[1];
                    o[2] = in[0];
                    in += 4;
                    o += 3;
                }
            } else {
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t px = U32(in + std::ptrdiff_t{4} * x);
                    o[0] = red(px);
                    o[1] = green(px);
                    o[2] = blue(px);
                    o += 3;
                }
            }
            break;
        default:
            Fail("unsupported bit depth");
        }
        sink.rowDone(y);
    }
}

// Walks the codes of run-length data from the bottom row up. put(x, y, index) gets every
// pixel a run sets inside the picture, endRow(y) each row left that a run may have touched.
// Pixels that the runs skip keep palette entry 0.
template <typename Put, typename EndRow>
void WalkRunLength(const std::uint8_t* d, std::size_t size, const Header& h, Put put, EndRow endRow) {
    const bool four = h.compression == kRle4;
    const std::int64_t w = h.width, height = h.height;
    std::size_t p = h.pixelOffset;
    std::int64_t x = 0, y = 0;
    auto emitPixel = [&](unsigned index) {
        if (x < w && y < height)
            put(x, y, index);
        ++x;
    };
    while (y < height) {
        if (p + 2 > size)
            Fail("run-length data ends early");
        const unsigned count = d[p], value = d[p + 1];
        p += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                emitPixel(four ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        if (value == 0) { // end of line
            endRow(y);
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            endRow(y);
            return;
        } else if (value == 2) { // move right and up
            if (p + 2 > size)
                Fail("run-length data ends early");
            x += d[p];
            if (d[p + 1] != 0)
                endRow(y);
            y += d[p + 1];
            p += 2;
        } else { // literal run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            if (p + bytes > size)
                Fail("run-length data ends early");
            for (unsigned i = 0; i < value; ++i) {
                const unsigned b = d[p + (four ? i / 2 : i)];
                emitPixel(four ? ((i % 2 == 0) ? b >> 4 : b & 0x0F) : b);
            }
            p += bytes + (bytes & 1);
        }
    }
}

// End-of-line, delta and end-of-picture codes skip pixels, which then take palette entry 0:
// a few bytes can stand for any area. Up to kFreeSkippedPixels skipped pixels are taken as
// they come; beyond that a picture needs a pixel set by its runs for every
// kSkippedPixelsPerSetPixel skipped ones, or its data cannot back its size.
using detail::kFreeSkippedPixels;
using detail::kSkippedPixelsPerSetPixel;

// Run-length data is walked twice: once to check it, holding nothing, then to deliver the
// rows through one row of pixels.
void StreamRunLength(const std::uint8_t* d, std::size_t size, const Header& h, const Palette& palette,
                     detail::RowSink& sink) {
    std::int64_t setPixels = 0; // a pixel set twice counts twice, which the limits allow for
    WalkRunLength(
        d, size, h, [&setPixels](std::int64_t, std::int64_t, unsigned) { ++setPixels; }, [](std::int64_t) {});
    const std::int64_t skipped = std::max<std::int64_t>(h.width * h.height - setPixels, 0);
    if (skipped > kFreeSkippedPixels && skipped > kSkippedPixelsPerSetPixel * setPixels)
        Fail("run-length data sets " + std::to_string(setPixels) + " of its " +
             std::to_string(h.width * h.height) + " pixels");
    const auto& fill = palette.rgb[0];
    sink.begin(static_cast<int>(h.width), static_cast<int>(h.height), fill.data());
    if (h.width == 0 || h.height == 0)
        return;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(h.width) * 3);
    auto clearRow = [&] {
        for (std::size_t i = 0; i < row.size(); i += 3)
            std::memcpy(&row[i], fill.data(), 3);
    };
    clearRow();
    bool dirty = false;
    WalkRunLength(
        d, size, h,
        [&](std::int64_t x, std::int64_t, unsigned index) {
            std::memcpy(&row[static_cast<std::size_t>(x) * 3], palette.rgb[index & 0xFF].data(), 3);
            dirty = true;
        },
        [&](std::int64_t y) {
            if (!dirty || y >= h.height)
                return;
            const int pictureRow = static_cast<int>(h.height - 1 - y);
            if (sink.wants(pictureRow)) {
                std::memcpy(sink.rowBuffer(pictureRow), row.data(), row.size());
                sink.rowDone(pictureRow);
            }
            clearRow();
            dirty = false;
        });
}

} // namespace

namespace detail {

void StreamBmp(const std::uint8_t* data, std::size_t size, RowSink& sink) {
    if (data == nullptr)
        size = 0;
    const Header h = ReadHeader(data, size);
    CheckPixelDataSize(size, h);
    const Palette palette = ReadPalette(data, size, h);
    if (h.compression == kRle8 || h.compression == kRle4) {
        StreamRunLength(data, size, h, palette, sink);
        return;
    }
    static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
    sink.begin(static_cast<int>(h.width), static_cast<int>(h.height), kBlack);
    if (h.width > 0 && h.height > 0)
        StreamUncompressed(data, h, palette, sink);
}

} // namespace detail

namespace {

// RGB to BGR. The plain loop vectorizes well only with AVX2's shuffles, hence a second build
// of it that the loader picks on processors that have them (an ELF loader feature: Windows
// executables get the plain build); not under ThreadSanitizer, whose instrumented chooser would
// run before its runtime is up and crash the loader.
#if defined(__SANITIZE_THREAD__) || !defined(__ELF__)
#define SKARVEL_AVX2_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SKARVEL_AVX2_CLONES
#endif
#endif
#ifndef SKARVEL_AVX2_CLONES
#define SKARVEL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif
SKARVEL_AVX2_CLONES void SwapRedBlue(const std::uint8_t* in, std::uint8_t* o, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 3) {
        o[i] = in[i + 2];
        o[i + 1] = in[i + 1];
        o[i + 2] = in[i];
    }
}

} // namespace

QByteArray EncodeBmp(const Rgb24Image& picture) {
    QByteArray bytes;
    detail::EncodeBmpInto(picture, bytes);
    return bytes;
}

void detail::EncodeBmpInto(const Rgb24Image& picture, QByteArray& bytes) {
    if (picture.isEmpty())
        Fail("cannot write an empty picture");
    const std::size_t rowBytes = picture.rowBytes();
    const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
    const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(picture.height);
    const std::uint64_t fileSize = 54 + imageSize;
    if (fileSize > 0xFFFFFFFFu)
        Fail("picture too large for a BMP file");

    bytes.resize(static_cast<qsizetype>(fileSize)); // no zeroing: every byte is written below
    auto* d = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::memset(d, 0, 54);
    d[0] = 'B';
    d[1] = 'M';
    PutU32(d + 2, static_cast<std::uint32_t>(fileSize));
    PutU32(d + 10, 54);
    PutU32(d + 14, 40);
    PutU32(d + 18, static_cast<std::uint32_t>(picture.width));
    PutU32(d + 22, static_cast<std::uint32_t>(picture.height));
    PutU16(d + 26, 1);
    PutU16(d + 28, 24);
    PutU32(d + 30, kRgb);
    PutU32(d + 34, static_cast<std::uint32_t>(imageSize));
    PutU32(d + 38, 2835); // 72 dpi
    PutU32(d + 42, 2835);

    for (int row = 0; row < picture.height; ++row) {
        const std::uint8_t* in = picture.row(picture.height - 1 - row);
        std::uint8_t* o = d + 54 + stride * static_cast<std::uint64_t>(row);
        SwapRedBlue(in, o, rowBytes);
        std::memset(o + rowBytes, 0, stride - rowBytes);
    }
}

} // namespace skarvel
