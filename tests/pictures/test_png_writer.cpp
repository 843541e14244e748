// The PNG writer: chunk structure and CRCs checked with zlib, the filtered rows inflated with
// zlib, pixels read back by our decoder and by ImageMagick.
#include "pictures/picture_codecs.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct Chunk {
    std::string type;
    QByteArray data;
};

// Every chunk of a PNG file; a test failure for a bad signature, a chunk running past the end
// or a CRC that does not match.
std::vector<Chunk> chunksOf(const QByteArray& png) {
    std::vector<Chunk> chunks;
    const auto* d = reinterpret_cast<const std::uint8_t*>(png.constData());
    const std::size_t size = static_cast<std::size_t>(png.size());
    const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(d, signature, 8) != 0) {
        ADD_FAILURE() << "no PNG signature";
        return chunks;
    }
    std::size_t p = 8;
    while (p < size) {
        if (size - p < 12) {
            ADD_FAILURE() << "chunk header cut short at " << p;
            return chunks;
        }
        const std::uint32_t length = be32(d + p);
        if (length > size - p - 12) {
            ADD_FAILURE() << "chunk at " << p << " runs past the end";
            return chunks;
        }
        const std::uint32_t crc =
            static_cast<std::uint32_t>(crc32(0, d + p + 4, static_cast<uInt>(length + 4)));
        Chunk chunk{std::string(reinterpret_cast<const char*>(d + p + 4), 4),
                    QByteArray(reinterpret_cast<const char*>(d + p + 8), length)};
        EXPECT_EQ(crc, be32(d + p + 8 + length)) << chunk.type << " chunk at " << p;
        chunks.push_back(std::move(chunk));
        p += 12 + length;
    }
    return chunks;
}

// The image data: every IDAT chunk joined and inflated.
QByteArray inflatedImageData(const std::vector<Chunk>& chunks, std::size_t expected) {
    QByteArray stream;
    for (const Chunk& c : chunks)
        if (c.type == "IDAT")
            stream += c.data;
    QByteArray out(static_cast<qsizetype>(expected + 1), '\0');
    uLongf outSize = static_cast<uLongf>(out.size());
    const int rc =
        uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize,
                   reinterpret_cast<const Bytef*>(stream.constData()), static_cast<uLong>(stream.size()));
    EXPECT_EQ(rc, Z_OK) << "zlib stream does not inflate";
    out.resize(static_cast<qsizetype>(outSize));
    return out;
}

// The filter type byte of each row.
std::vector<int> filtersOf(const QByteArray& png, const Rgb24Image& picture) {
    const std::size_t stride = picture.rowBytes() + 1;
    const QByteArray data =
        inflatedImageData(chunksOf(png), stride * static_cast<std::size_t>(picture.height));
    std::vector<int> filters;
    for (qsizetype at = 0; at < data.size(); at += static_cast<qsizetype>(stride))
        filters.push_back(static_cast<unsigned char>(data[at]));
    return filters;
}

Rgb24Image flat(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Rgb24Image p(w, h);
    for (std::size_t i = 0; i < p.pixels.size(); i += 3) {
        p.pixels[i] = r;
        p.pixels[i + 1] = g;
        p.pixels[i + 2] = b;
    }
    return p;
}

struct PictureCase {
    const char* name;
    std::function<Rgb24Image()> make;
};

const PictureCase kPictures[] = {
    {"photo-like 257 x 131 (odd row length)", [] { return makePhotoLike(257, 131, 3); }},
    {"one pixel", [] { return flat(1, 1, 200, 100, 50); }},
    {"one white row of 300", [] { return flat(300, 1, 255, 255, 255); }},
    {"one column of 300", [] { return makePhotoLike(1, 300, 5); }},
    {"seven flat colour bands", [] { return makeFewColours(120, 40, 7); }},
    {"widest side allowed, two rows", [] { return makePhotoLike(kMaxPictureSide, 2, 9); }},
};

TEST(PngWriter, WritesValidChunksThatReadBackPixelExact) {
    QTemporaryDir dir;
    for (int level : {0, 1, 7, 9}) {
        for (const PictureCase& c : kPictures) {
            SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
            const Rgb24Image picture = c.make();
            const QByteArray png = EncodePng(picture, level);

            const std::vector<Chunk> chunks = chunksOf(png);
            ASSERT_GE(chunks.size(), 3u);
            EXPECT_EQ(chunks.front().type, "IHDR");
            EXPECT_EQ(chunks.back().type, "IEND");
            EXPECT_TRUE(chunks.back().data.isEmpty());
            const auto* ihdr = reinterpret_cast<const std::uint8_t*>(chunks.front().data.constData());
            ASSERT_EQ(chunks.front().data.size(), 13);
            EXPECT_EQ(be32(ihdr), static_cast<std::uint32_t>(picture.width));
            EXPECT_EQ(be32(ihdr + 4), static_cast<std::uint32_t>(picture.height));
            // 8 bits, RGB, deflate, adaptive filtering, not interlaced.
            EXPECT_EQ(QByteArray(chunks.front().data.constData() + 8, 5),
                      QByteArray("\x08\x02\x00\x00\x00", 5));
            for (std::size_t i = 1; i + 1 < chunks.size(); ++i)
                EXPECT_EQ(chunks[i].type, "IDAT");

            const PixelDiff ours = comparePixels(DecodePicture(png, PictureKind::Png), picture);
            ASSERT_TRUE(ours.sameSize);
            EXPECT_EQ(ours.maxDiff, 0);
            if (picture.width < 1000) { // ImageMagick is slow on the widest picture
                const QString path = dir.filePath(QStringLiteral("p.png"));
                writeFile(path, png);
                const PixelDiff magick = comparePixels(colourOf(magickRgba(path)), picture);
                ASSERT_TRUE(magick.sameSize);
                EXPECT_EQ(magick.maxDiff, 0);
            }
        }
    }
}

TEST(PngWriter, LevelSetsTheZlibHeaderAndTheEffort) {
    const Rgb24Image picture = makePhotoLike(200, 150, 4);
    const struct {
        int level;
        unsigned char flagByte; // FLEVEL in the top two bits, check bits below
    } cases[] = {{0, 0x01}, {1, 0x01}, {5, 0x5E}, {6, 0x9C}, {7, 0xDA}, {9, 0xDA}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        const std::vector<Chunk> chunks = chunksOf(EncodePng(picture, c.level));
        ASSERT_GE(chunks.size(), 2u);
        ASSERT_GE(chunks[1].data.size(), 2);
        EXPECT_EQ(static_cast<unsigned char>(chunks[1].data[0]), 0x78);
        EXPECT_EQ(static_cast<unsigned char>(chunks[1].data[1]), c.flagByte);
    }
    // Level 0 stores the rows uncompressed; level 7 must do far better on a smooth picture.
    const qsizetype raw = static_cast<qsizetype>(picture.pixels.size());
    EXPECT_GT(EncodePng(picture, 0).size(), raw);
    EXPECT_LT(EncodePng(picture, 7).size(), raw * 3 / 4);
}

TEST(PngWriter, ChoosesTheFilterWithTheSmallestDifferences) {
    Rgb24Image repeatedRows = makePhotoLike(64, 6, 2);
    for (int y = 1; y < repeatedRows.height; ++y)
        std::memcpy(repeatedRows.row(y), repeatedRows.row(0), repeatedRows.rowBytes());
    // One row (zeros above it) rising by 2 a pixel: Sub leaves 2s, Average about 1s and
    // 128s, and Paeth, with nothing above, equals Sub.
    Rgb24Image ramp(90, 1);
    for (int x = 0; x < ramp.width; ++x)
        std::memset(ramp.pixel(x, 0), x * 2, 3);
    const struct {
        const char* name;
        Rgb24Image picture;
        int fromRow;
        int expected; // filter of every row from fromRow on
    } cases[] = {
        {"all black: None, the first of equals", flat(50, 5, 0, 0, 0), 0, 0},
        {"ramp along one row: Sub", ramp, 0, 1},
        {"every row the same: Up (Paeth ties and comes later)", repeatedRows, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> filters = filtersOf(EncodePng(c.picture, 7), c.picture);
        ASSERT_EQ(filters.size(), static_cast<std::size_t>(c.picture.height));
        for (std::size_t y = static_cast<std::size_t>(c.fromRow); y < filters.size(); ++y)
            EXPECT_EQ(filters[y], c.expected) << "row " << y;
    }
    // A photo mixes filters, and every one is a valid filter type.
    const Rgb24Image photo = makePhotoLike(300, 200, 8);
    const std::vector<int> filters = filtersOf(EncodePng(photo, 7), photo);
    ASSERT_EQ(filters.size(), 200u);
    for (int f : filters)
        EXPECT_LE(f, 4);
}

TEST(PngWriter, EmptyPicturesAreRefused) {
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        EXPECT_THROW(EncodePng(Rgb24Image(w, h), 7), PictureError);
    }
}

TEST(PngWriter, ThreadsEncodingAtOnceGiveTheSameBytesAsOne) {
    const Rgb24Image picture = makePhotoLike(180, 120, 6);
    const QByteArray expected7 = EncodePng(picture, 7);
    const QByteArray expected1 = EncodePng(picture, 1);
    std::vector<QByteArray> results(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round)
                results[i] = EncodePng(picture, i % 2 ? 1 : 7);
        });
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i], i % 2 ? expected1 : expected7) << "thread " << i;
}

} // namespace
