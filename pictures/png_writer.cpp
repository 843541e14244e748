// PNG writer: 8-bit RGB, adaptive row filters, one zlib stream from libdeflate, chunks
// written here. libpng cannot hand its filtered rows to another deflate implementation, and
// libdeflate at level 7 encodes our pictures about three times faster than zlib at level 7,
// no larger.
#include "pictures/picture_codecs.h"
#include "pictures/picture_codecs_internal.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace skarvel {

namespace {

constexpr const char* kFormat = "PNG";
constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A chunk's length field holds at most 2^31 - 1.
constexpr std::uint64_t kMaxChunkData = 0x7FFFFFFF;
// Scratch rows larger than this are freed after the picture instead of kept for the next one.
constexpr std::size_t kKeptScratchBytes = std::size_t{64} * 1024 * 1024;

enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

#ifndef _WIN32
// One compressor per thread and level: allocating one costs more than compressing a small picture.
// Not on Windows: mingw's emulated thread-local storage is freed at a thread's end before the
// destructors of its variables run, and they would free it again.
libdeflate_compressor* CompressorFor(int level) {
    thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor;
    thread_local int compressorLevel = -1;
    if (!compressor || compressorLevel != level) {
        compressor.reset(libdeflate_alloc_compressor(level));
        compressorLevel = level;
        if (!compressor)
            detail::ThrowPictureError(kFormat, "cannot start the encoder");
    }
    return compressor.get();
}
#endif

void PutU32Be(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// The two zlib header bytes: deflate with a 32 KB window, and the level class zlib itself
// records for `level` (libdeflate counts its levels differently and would record another).
void WriteZlibHeader(std::uint8_t* p, int level) {
    const unsigned levelClass = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    const unsigned header = 0x7800u | (levelClass << 6);
    p[0] = 0x78;
    p[1] = static_cast<std::uint8_t>((header + (31 - header % 31) % 31) & 0xFF);
}

// Length, type and CRC around `length` data bytes that already sit at chunk + 8.
std::size_t FinishChunk(std::uint8_t* chunk, const char type[4], std::size_t length) {
    PutU32Be(chunk, static_cast<std::uint32_t>(length));
    std::memcpy(chunk + 4, type, 4);
    PutU32Be(chunk + 8 + length, libdeflate_crc32(0, chunk + 4, length + 4));
    return length + 12;
}

// Sum of the filtered bytes read as signed values, the usual measure of how well a row will
// compress: rows of small differences cost least.
std::uint32_t Cost(const std::uint8_t* row, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        // A byte of 128 or more stands for the negative value byte - 256.
        sum += row[i] < 128 ? row[i] : 256u - row[i];
    }
    return sum;
}

// The four filters other than None of one row of n bytes, into out[kSub - 1] ... out[kPaeth - 1].
// `up` is the previous row (all zeros for the first).
void FilterRow(const std::uint8_t* row, const std::uint8_t* up, std::size_t n, std::uint8_t* const out[4]) {
    constexpr std::size_t bpp = 3;
    std::uint8_t* sub = out[0];
    std::uint8_t* upf = out[1];
    std::uint8_t* avg = out[2];
    std::uint8_t* paeth = out[3];
    const std::size_t lead = std::min(bpp, n);
    for (std::size_t i = 0; i < lead; ++i) {
        sub[i] = row[i];
        upf[i] = static_cast<std::uint8_t>(row[i] - up[i]);
        avg[i] = static_cast<std::uint8_t>(row[i] - (up[i] >> 1));
        paeth[i] = static_cast<std::uint8_t>(row[i] - up[i]);
    }
    for (std::size_t i = bpp; i < n; ++i) {
        const int a = row[i - bpp], b = up[i], c = up[i - bpp], x = row[i];
        sub[i] = static_cast<std::uint8_t>(x - a);
        upf[i] = static_cast<std::uint8_t>(x - b);
        avg[i] = static_cast<std::uint8_t>(x - ((a + b) >> 1));
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        paeth[i] = static_cast<std::uint8_t>(x - predictor);
    }
}

struct Scratch {
    std::vector<std::uint8_t> filtered; // filter byte + filtered row, for every row
    std::vector<std::uint8_t> rows;     // zero row, then the four candidate rows

    void trim() {
        if (filtered.capacity() > kKeptScratchBytes)
            std::vector<std::uint8_t>().swap(filtered);
        if (rows.capacity() > kKeptScratchBytes)
            std::vector<std::uint8_t>().swap(rows);
    }
};

// The data PNG compresses: each row preceded by its filter type, the filter chosen per row as
// the one of least Cost (the first of equals, None before Sub, Up, Average, Paeth).
void FilterPicture(const Rgb24Image& picture, Scratch& scratch) {
    const std::size_t n = picture.rowBytes();
    scratch.filtered.resize(static_cast<std::size_t>(picture.height) * (n + 1));
    scratch.rows.assign(5 * n, 0);
    const std::uint8_t* zeros = scratch.rows.data();
    std::uint8_t* const candidates[4] = {scratch.rows.data() + n, scratch.rows.data() + 2 * n,
                                         scratch.rows.data() + 3 * n, scratch.rows.data() + 4 * n};
    std::uint8_t* out = scratch.filtered.data();
    for (int y = 0; y < picture.height; ++y, out += n + 1) {
        const std::uint8_t* row = picture.row(y);
        FilterRow(row, y == 0 ? zeros : picture.row(y - 1), n, candidates);
        std::uint8_t best = kNone;
        std::uint32_t bestCost = Cost(row, n);
        for (std::uint8_t f = kSub; f <= kPaeth; ++f) {
            const std::uint32_t cost = Cost(candidates[f - 1], n);
            if (cost < bestCost) {
                bestCost = cost;
                best = f;
            }
        }
        out[0] = best;
        std::memcpy(out + 1, best == kNone ? row : candidates[best - 1], n);
    }
}

} // namespace

QByteArray EncodePng(const Rgb24Image& picture, int compressionLevel) {
    QByteArray bytes;
    detail::EncodePngInto(picture, compressionLevel, bytes);
    bytes.squeeze();
    return bytes;
}

void detail::EncodePngInto(const Rgb24Image& picture, int compressionLevel, QByteArray& bytes) {
    if (picture.isEmpty())
        detail::ThrowPictureError(kFormat, "cannot write an empty picture");
    // zlib's scale: 0 to 9, -1 for its default.
    const int level = compressionLevel < 0 ? 6 : std::min(compressionLevel, 9);
#ifdef _WIN32
    const std::unique_ptr<libdeflate_compressor, FreeCompressor> own(libdeflate_alloc_compressor(level));
    if (!own)
        detail::ThrowPictureError(kFormat, "cannot start the encoder");
    libdeflate_compressor* compressor = own.get();
    Scratch scratch;
#else
    libdeflate_compressor* compressor = CompressorFor(level);
    thread_local Scratch scratch;
#endif
    FilterPicture(picture, scratch);
    const std::size_t dataSize = scratch.filtered.size();
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor, dataSize);

    constexpr std::size_t kIdatAt = sizeof kSignature + 25;
    bytes.resize(static_cast<qsizetype>(bound) + static_cast<qsizetype>(kIdatAt + 8 + 2 + 4 + 4 + 12));
    auto* d = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::memcpy(d, kSignature, sizeof kSignature);
    std::uint8_t* ihdr = d + sizeof kSignature;
    PutU32Be(ihdr + 8, static_cast<std::uint32_t>(picture.width));
    PutU32Be(ihdr + 12, static_cast<std::uint32_t>(picture.height));
    const std::uint8_t rest[5] = {8, 2, 0, 0, 0}; // 8 bits, RGB, deflate, adaptive filters, not interlaced
    std::memcpy(ihdr + 16, rest, sizeof rest);
    FinishChunk(ihdr, "IHDR", 13);

    // One IDAT chunk holds the whole zlib stream: the largest picture allowed stays below the
    // chunk limit even stored uncompressed, but the check stays in case the limits grow.
    std::uint8_t* idat = d + kIdatAt;
    std::uint8_t* stream = idat + 8;
    WriteZlibHeader(stream, level);
    const std::size_t deflated =
        libdeflate_deflate_compress(compressor, scratch.filtered.data(), dataSize, stream + 2, bound);
    if (deflated == 0) {
        scratch.trim();
        detail::ThrowPictureError(kFormat, "compression failed");
    }
    PutU32Be(stream + 2 + deflated, libdeflate_adler32(1, scratch.filtered.data(), dataSize));
    const std::size_t compressed = deflated + 6;
    scratch.trim();
    if (compressed > kMaxChunkData)
        detail::ThrowPictureError(kFormat, "picture too large for a PNG file");
    std::uint8_t* iend = idat + FinishChunk(idat, "IDAT", compressed);
    FinishChunk(iend, "IEND", 0);
    bytes.resize(static_cast<qsizetype>(iend + 12 - d));
}

} // namespace skarvel
