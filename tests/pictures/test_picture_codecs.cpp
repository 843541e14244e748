// Decoders checked against ImageMagick on pictures of every kind, encoders checked by
// ImageMagick reading what they write, and hostile input.
#include "pictures/picture_codecs.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <ostream>

using namespace skarvel;
using namespace skarvel::test;

namespace {

QString tempPath(const QTemporaryDir& dir, const QString& name) {
    return dir.filePath(name);
}

QString saveRaw(const QTemporaryDir& dir, const Rgb24Image& picture, const QString& name) {
    const QString path = tempPath(dir, name);
    writeFile(path, QByteArray(reinterpret_cast<const char*>(picture.pixels.data()),
                               static_cast<qsizetype>(picture.pixels.size())));
    return path;
}

// ImageMagick's rgb: input of a raw picture.
QStringList rawInput(const Rgb24Image& picture, const QString& rawPath) {
    return {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(picture.width).arg(picture.height),
            QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgb:") + rawPath};
}

std::uint32_t le32(const QByteArray& b, int at) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(b.constData()) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

int le16(const QByteArray& b, int at) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(b.constData()) + at;
    return p[0] | (p[1] << 8);
}

bool hasJpegMarker(const QByteArray& b, unsigned char marker) {
    for (qsizetype i = 0; i + 1 < b.size(); ++i)
        if (static_cast<unsigned char>(b[i]) == 0xFF && static_cast<unsigned char>(b[i + 1]) == marker)
            return true;
    return false;
}

Rgb24Image decodeFile(const QString& path, PictureKind kind) {
    return DecodePictureFile(path, kind);
}

// ---------------------------------------------------------------- encoders

class EncoderTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Rgb24Image photo = makePhotoLike(257, 131);

    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = tempPath(dir, name);
        writeFile(path, bytes);
        return path;
    }
};

TEST_F(EncoderTest, JpegIsBaselineColourAtQuality90) {
    const QByteArray bytes = EncodeJpeg(photo);
    const QString path = write(QStringLiteral("p.jpg"), bytes);
    EXPECT_EQ(identifyFormat(
                  path, QStringLiteral("%m %w %h %Q %[interlace] %[colorspace] %[jpeg:sampling-factor]")),
              QStringLiteral("JPEG 257 131 90 None sRGB 2x2,1x1,1x1"));
    EXPECT_TRUE(hasJpegMarker(bytes, 0xC0)) << "no baseline frame header";
    EXPECT_FALSE(hasJpegMarker(bytes, 0xC2)) << "progressive frame header";
    const PixelDiff d = comparePixels(colourOf(magickRgba(path)), photo);
    ASSERT_TRUE(d.sameSize);
    EXPECT_LT(d.meanDiff, 3.0);
}

TEST_F(EncoderTest, PngIsEightBitRgbNotInterlacedAtLevelSevenOrMore) {
    const QByteArray bytes = EncodePng(photo);
    const QString path = write(QStringLiteral("p.png"), bytes);
    EXPECT_EQ(
        identifyFormat(path, QStringLiteral("%m %w %h %[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig] "
                                            "%[png:IHDR.interlace_method]")),
        QStringLiteral("PNG 257 131 2 8 0 (Not interlaced)"));
    // The zlib header of the first IDAT tells the level class: 0xDA is levels 7 to 9.
    const qsizetype idat = bytes.indexOf("IDAT");
    ASSERT_GT(idat, 0);
    EXPECT_EQ(static_cast<unsigned char>(bytes[idat + 4]), 0x78);
    EXPECT_EQ(static_cast<unsigned char>(bytes[idat + 5]), 0xDA);
    const PixelDiff d = comparePixels(colourOf(magickRgba(path)), photo);
    ASSERT_TRUE(d.sameSize);
    EXPECT_EQ(d.maxDiff, 0);
}

TEST_F(EncoderTest, GifHasOneFrameOfAtMost256Colours) {
    const QString path = write(QStringLiteral("p.gif"), EncodeGif(photo));
    const QStringList frames =
        QString::fromUtf8(runMagick(QStringLiteral("identify"), {path})).trimmed().split(u'\n');
    EXPECT_EQ(frames.size(), 1);
    EXPECT_EQ(identifyFormat(path, QStringLiteral("%m %w %h")), QStringLiteral("GIF 257 131"));
    EXPECT_LE(identifyFormat(path, QStringLiteral("%k")).toInt(), 256);
    // For scale: ImageMagick's own 256-colour reduction of this picture (-colors 256 +dither)
    // is 8.4 levels off on average.
    const PixelDiff d = comparePixels(colourOf(magickRgba(path)), photo);
    ASSERT_TRUE(d.sameSize);
    EXPECT_LT(d.meanDiff, 8.0);
}

TEST_F(EncoderTest, GifKeepsTheExactColoursOfPicturesWithUpTo256) {
    for (int colours : {1, 2, 7, 256, 257}) {
        SCOPED_TRACE(colours);
        const Rgb24Image picture = makeFewColours(300, 20, colours);
        const QString path = write(QStringLiteral("few%1.gif").arg(colours), EncodeGif(picture));
        const PixelDiff d = comparePixels(colourOf(magickRgba(path)), picture);
        ASSERT_TRUE(d.sameSize);
        if (colours <= 256)
            EXPECT_EQ(d.maxDiff, 0);
        else
            EXPECT_LE(identifyFormat(path, QStringLiteral("%k")).toInt(), 256);
    }
}

TEST_F(EncoderTest, BmpIs24BitUncompressedBottomUp) {
    const QByteArray bytes = EncodeBmp(photo); // 257 * 3 bytes a row needs padding
    const QString path = write(QStringLiteral("p.bmp"), bytes);
    EXPECT_EQ(le16(bytes, 28), 24);
    EXPECT_EQ(le32(bytes, 30), 0u);
    EXPECT_GT(static_cast<std::int32_t>(le32(bytes, 22)), 0);
    EXPECT_EQ(bytes.size(), 54 + 772 * 131);
    EXPECT_EQ(identifyFormat(path, QStringLiteral("%m %w %h")), QStringLiteral("BMP3 257 131"));
    const PixelDiff d = comparePixels(colourOf(magickRgba(path)), photo);
    ASSERT_TRUE(d.sameSize);
    EXPECT_EQ(d.maxDiff, 0);
}

TEST_F(EncoderTest, OwnDecodersReadBackWhatTheEncodersWrite) {
    const struct {
        PictureKind kind;
        int maxMeanDiff;
    } cases[] = {{PictureKind::Bmp, 0}, {PictureKind::Png, 0}, {PictureKind::Jpeg, 3}, {PictureKind::Gif, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(KindExtension(c.kind).toStdString());
        const PixelDiff d = comparePixels(DecodePicture(EncodePicture(photo, c.kind), c.kind), photo);
        ASSERT_TRUE(d.sameSize);
        EXPECT_LE(d.meanDiff, c.maxMeanDiff);
    }
}

TEST_F(EncoderTest, EmptyPictureIsRefused) {
    for (PictureKind kind : {PictureKind::Bmp, PictureKind::Jpeg, PictureKind::Png, PictureKind::Gif})
        EXPECT_THROW(EncodePicture(Rgb24Image{}, kind), PictureError) << KindExtension(kind).toStdString();
}

TEST_F(EncoderTest, WritePictureFileReplacesAnExistingFile) {
    const QString path = write(QStringLiteral("old.png"), QByteArray(100000, 'x'));
    WritePictureFile(path, photo, PictureKind::Png);
    EXPECT_EQ(readFile(path), EncodePng(photo));
    EXPECT_THROW(WritePictureFile(dir.filePath(QStringLiteral("missing/x.png")), photo, PictureKind::Png),
                 PictureError);
}

// ---------------------------------------------------------------- PNG decoder

struct PngCase {
    const char* name;
    int colorType;
    int bitDepth;
    bool interlaced;
    bool transparency;
};

void PrintTo(const PngCase& c, std::ostream* os) {
    *os << c.name;
}

class PngDecodeTest : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngDecodeTest, MatchesImageMagickWithAlphaBlendedOntoBlack) {
    const PngCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.png"));
    writeFile(path, makePng(23, 17, c.colorType, c.bitDepth, c.interlaced, c.transparency, 7));
    const Rgb24Image ours = decodeFile(path, PictureKind::Png);

    const RgbaPicture reference = magickRgba(path);
    // Alpha channels and palette transparency blend; a single transparent colour keeps colours.
    const bool blends =
        (c.colorType & PNG_COLOR_MASK_ALPHA) || (c.colorType == PNG_COLOR_TYPE_PALETTE && c.transparency);
    const PixelDiff d = comparePixels(ours, blends ? blendedOntoBlack(reference) : colourOf(reference));
    ASSERT_TRUE(d.sameSize);
    // 16-bit samples are rounded to 8 bits before blending.
    EXPECT_LE(d.maxDiff, c.bitDepth == 16 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryColourTypeAndDepth, PngDecodeTest,
    ::testing::Values(PngCase{"gray1", 0, 1, false, false}, PngCase{"gray2", 0, 2, false, false},
                      PngCase{"gray4", 0, 4, false, false}, PngCase{"gray8", 0, 8, false, false},
                      PngCase{"gray16", 0, 16, false, false}, PngCase{"gray2_trns", 0, 2, false, true},
                      PngCase{"gray8_trns", 0, 8, false, true}, PngCase{"gray16_trns", 0, 16, false, true},
                      PngCase{"gray4_interlaced", 0, 4, true, false}, PngCase{"rgb8", 2, 8, false, false},
                      PngCase{"rgb16", 2, 16, false, false}, PngCase{"rgb8_trns", 2, 8, false, true},
                      PngCase{"rgb16_trns", 2, 16, false, true},
                      PngCase{"rgb8_interlaced", 2, 8, true, false}, PngCase{"palette1", 3, 1, false, false},
                      PngCase{"palette2", 3, 2, false, false}, PngCase{"palette4", 3, 4, false, false},
                      PngCase{"palette8", 3, 8, false, false}, PngCase{"palette2_trns", 3, 2, false, true},
                      PngCase{"palette8_trns", 3, 8, false, true},
                      PngCase{"palette8_trns_interlaced", 3, 8, true, true},
                      PngCase{"gray_alpha8", 4, 8, false, false},
                      PngCase{"gray_alpha16", 4, 16, false, false}, PngCase{"rgba8", 6, 8, false, false},
                      PngCase{"rgba16", 6, 16, false, false}, PngCase{"rgba8_interlaced", 6, 8, true, false}),
    [](const ::testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

TEST(PngDecode, AlphaBlendRoundsToNearest) {
    // One RGBA pixel (200, 100, 1) at alpha 128: 200*128/255 = 100.39, 100*128/255 = 50.2, 1*128/255 = 0.502.
    QByteArray png;
    {
        const std::uint8_t pixel[4] = {200, 100, 1, 128};
        // Build the file by hand: signature, IHDR, IDAT, IEND.
        auto chunk = [&png](const char* type, const QByteArray& data) {
            QByteArray body = QByteArray(type, 4) + data;
            const std::uint32_t length = static_cast<std::uint32_t>(data.size());
            const std::uint32_t crc = static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(body.constData()), static_cast<uInt>(body.size())));
            for (int i = 3; i >= 0; --i)
                png.append(static_cast<char>(length >> (8 * i)));
            png.append(body);
            for (int i = 3; i >= 0; --i)
                png.append(static_cast<char>(crc >> (8 * i)));
        };
        png = QByteArray("\x89PNG\r\n\x1a\n", 8);
        chunk("IHDR", QByteArray("\0\0\0\1\0\0\0\1\x08\x06\0\0\0", 13));
        const QByteArray raw = QByteArray(1, '\0') + QByteArray(reinterpret_cast<const char*>(pixel), 4);
        uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
        QByteArray packed(static_cast<qsizetype>(packedSize), '\0');
        compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                 reinterpret_cast<const Bytef*>(raw.constData()), static_cast<uLong>(raw.size()));
        packed.resize(static_cast<qsizetype>(packedSize));
        chunk("IDAT", packed);
        chunk("IEND", {});
    }
    const Rgb24Image out = DecodePicture(png, PictureKind::Png);
    ASSERT_EQ(out.width, 1);
    EXPECT_EQ(out.pixels, (std::vector<std::uint8_t>{100, 50, 1}));
}

// ---------------------------------------------------------------- JPEG decoder

struct JpegCase {
    const char* name;
    const char* options; // ImageMagick options, separated by blanks
    const char* check;   // identify format
    const char* expected;
};

void PrintTo(const JpegCase& c, std::ostream* os) {
    *os << c.name;
}

class JpegDecodeTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(JpegDecodeTest, MatchesImageMagick) {
    const JpegCase& c = GetParam();
    QTemporaryDir dir;
    const Rgb24Image source = makePhotoLike(61, 43, 3);
    const QString path = dir.filePath(QStringLiteral("t.jpg"));
    QStringList args = rawInput(source, saveRaw(dir, source, QStringLiteral("t.rgb")));
    args << QString::fromLatin1(c.options).split(u' ', Qt::SkipEmptyParts) << path;
    runMagick(QStringLiteral("convert"), args);
    ASSERT_EQ(identifyFormat(path, QString::fromLatin1(c.check)), QString::fromLatin1(c.expected));

    const Rgb24Image ours = decodeFile(path, PictureKind::Jpeg);
    const PixelDiff d = comparePixels(
        ours, colourOf(magickRgba(path, {QStringLiteral("-colorspace"), QStringLiteral("sRGB")})));
    ASSERT_TRUE(d.sameSize);
    EXPECT_LE(d.maxDiff, 2);
    EXPECT_LT(d.meanDiff, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JpegDecodeTest,
    ::testing::Values(
        JpegCase{"baseline420", "-quality 85 -sampling-factor 2x2", "%[interlace] %[jpeg:sampling-factor]",
                 "None 2x2,1x1,1x1"},
        JpegCase{"baseline444", "-quality 95 -sampling-factor 1x1", "%[jpeg:sampling-factor]", "1x1,1x1,1x1"},
        JpegCase{"baseline422", "-sampling-factor 2x1", "%[jpeg:sampling-factor]", "2x1,1x1,1x1"},
        JpegCase{"progressive", "-interlace Plane", "%[interlace]", "JPEG"},
        JpegCase{"grayscale", "-colorspace Gray", "%[colorspace] %[channels]", "Gray gray"},
        JpegCase{"progressive_grayscale", "-colorspace Gray -interlace Plane", "%[colorspace] %[interlace]",
                 "Gray JPEG"},
        JpegCase{"cmyk", "-colorspace CMYK", "%[colorspace]", "CMYK"},
        JpegCase{"restart_markers", "-define jpeg:restart-interval=2", "%m", "JPEG"}),
    [](const ::testing::TestParamInfo<JpegCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- BMP decoder

struct BmpCase {
    const char* name;
    const char* options;
    int colours; // colours of the source picture, 0 for many; sources with alpha use the RGBA input
    bool alpha;
    int headerSize; // what the fixture must be, to be sure it is the variant named
    int bitsPerPixel;
    int compression;
    bool topDown;
    int tolerance;
};

void PrintTo(const BmpCase& c, std::ostream* os) {
    *os << c.name;
}

class BmpDecodeTest : public ::testing::TestWithParam<BmpCase> {};

TEST_P(BmpDecodeTest, MatchesImageMagickWithStoredColours) {
    const BmpCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.bmp"));
    QStringList args;
    if (c.alpha) {
        // RGBA input: alpha varies, so colour and alpha must stay apart.
        const QString raw = dir.filePath(QStringLiteral("t.rgba"));
        QByteArray rgba;
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                rgba.append(static_cast<char>(x * 7))
                    .append(static_cast<char>(y * 11))
                    .append(static_cast<char>(x * y))
                    .append(static_cast<char>((x + y) % 3 ? 255 : x * 5));
        writeFile(raw, rgba);
        args << QStringLiteral("-size") << QStringLiteral("37x23") << QStringLiteral("-depth")
             << QStringLiteral("8") << QStringLiteral("rgba:") + raw;
    } else {
        const Rgb24Image source = c.colours ? makeFewColours(37, 23, c.colours) : makePhotoLike(37, 23, 5);
        args << rawInput(source, saveRaw(dir, source, QStringLiteral("t.rgb")));
    }
    // The last option names the output format ("bmp3:") and prefixes the output path.
    QStringList options = QString::fromLatin1(c.options).split(u' ', Qt::SkipEmptyParts);
    const QString format = options.takeLast();
    args << options << format + path;
    runMagick(QStringLiteral("convert"), args);
    QByteArray bytes = readFile(path);
    ASSERT_GT(bytes.size(), 54);
    if (c.topDown) {
        bytes = bmpToTopDown(bytes);
        writeFile(path, bytes);
    }
    ASSERT_EQ(le32(bytes, 14), static_cast<std::uint32_t>(c.headerSize));
    if (c.headerSize == 12) {
        ASSERT_EQ(le16(bytes, 24), c.bitsPerPixel);
    } else {
        ASSERT_EQ(le16(bytes, 28), c.bitsPerPixel);
        ASSERT_EQ(le32(bytes, 30), static_cast<std::uint32_t>(c.compression));
        ASSERT_EQ(static_cast<std::int32_t>(le32(bytes, 22)) < 0, c.topDown);
    }

    const Rgb24Image ours = decodeFile(path, PictureKind::Bmp);
    const PixelDiff d = comparePixels(ours, colourOf(magickRgba(path)));
    ASSERT_TRUE(d.sameSize);
    EXPECT_LE(d.maxDiff, c.tolerance);
}

// ImageMagick widens 6-bit green by a shift where we scale to the full range: up to 3 apart.
INSTANTIATE_TEST_SUITE_P(
    Variants, BmpDecodeTest,
    ::testing::Values(
        BmpCase{"rgb24", "-type TrueColor bmp3:", 0, false, 40, 24, 0, false, 0},
        BmpCase{"rgb24_top_down", "-type TrueColor bmp3:", 0, false, 40, 24, 0, true, 0},
        BmpCase{"rgb32_alpha_ignored", "-define bmp3:alpha=true bmp3:", 0, true, 40, 32, 0, false, 0},
        BmpCase{"bitfields32_alpha_ignored", "bmp:", 0, true, 124, 32, 3, false, 0},
        BmpCase{"bitfields32_top_down", "bmp:", 0, true, 124, 32, 3, true, 0},
        BmpCase{"rgb565", "-define bmp:subtype=RGB565 bmp:", 0, false, 124, 16, 3, false, 3},
        BmpCase{"rgb555", "-define bmp:subtype=RGB555 bmp:", 0, false, 124, 16, 3, false, 1},
        BmpCase{"rgb565_top_down", "-define bmp:subtype=RGB565 bmp:", 0, false, 124, 16, 3, true, 3},
        BmpCase{"palette8", "-compress None -type Palette bmp3:", 100, false, 40, 8, 0, false, 0},
        BmpCase{"palette8_top_down", "-compress None -type Palette bmp3:", 100, false, 40, 8, 0, true, 0},
        BmpCase{"palette4", "-compress None -type Palette bmp3:", 12, false, 40, 4, 0, false, 0},
        BmpCase{"palette4_top_down", "-compress None -type Palette bmp3:", 12, false, 40, 4, 0, true, 0},
        BmpCase{"bilevel1", "-monochrome bmp3:", 0, false, 40, 1, 0, false, 0},
        BmpCase{"bilevel1_top_down", "-monochrome bmp3:", 0, false, 40, 1, 0, true, 0},
        BmpCase{"rle8", "-compress RLE -type Palette bmp3:", 100, false, 40, 8, 1, false, 0},
        BmpCase{"os2_rgb24", "-type TrueColor bmp2:", 0, false, 12, 24, 0, false, 0},
        BmpCase{"os2_palette4", "-type Palette bmp2:", 6, false, 12, 4, 0, false, 0}),
    [](const ::testing::TestParamInfo<BmpCase>& info) { return std::string(info.param.name); });

TEST(BmpDecode, Rle4WithAbsoluteRunsDeltaAndEndOfLine) {
    // 7 x 3 picture, 16-colour palette. Bottom row: 4 pixels 1,2,1,2 then the literal 3,4,5;
    // then a move of 3 right and 1 up, skipping to the top row at x = 3; there 4 pixels a,b,a,b.
    QByteArray bmp(14 + 40 + 64, '\0');
    const QByteArray runs("\x04\x12\x00\x03\x34\x50\x00\x00\x00\x02\x03\x01\x04\xab\x00\x01", 16);
    auto put32 = [&bmp](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<char>(v >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, static_cast<std::uint32_t>(bmp.size() + runs.size()));
    put32(10, static_cast<std::uint32_t>(bmp.size()));
    put32(14, 40);
    put32(18, 7);
    put32(22, 3);
    bmp[26] = 1;
    bmp[28] = 4;
    put32(30, 2);
    put32(34, static_cast<std::uint32_t>(runs.size()));
    for (int i = 0; i < 16; ++i) // palette entry i: blue 16i, green 255 - 16i, red 8i
        put32(54 + 4 * i, static_cast<std::uint32_t>((8 * i) << 16 | (255 - 16 * i) << 8 | (16 * i)));
    bmp += runs;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rle4.bmp"));
    writeFile(path, bmp);
    const Rgb24Image ours = decodeFile(path, PictureKind::Bmp);
    auto colour = [](int i) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(8 * i),
                                         static_cast<std::uint8_t>(255 - 16 * i),
                                         static_cast<std::uint8_t>(16 * i)};
    };
    auto at = [&ours](int x, int y) {
        return std::vector<std::uint8_t>(ours.pixel(x, y), ours.pixel(x, y) + 3);
    };
    ASSERT_EQ(ours.width, 7);
    ASSERT_EQ(ours.height, 3);
    EXPECT_EQ(at(0, 2), colour(1));
    EXPECT_EQ(at(3, 2), colour(2));
    EXPECT_EQ(at(6, 2), colour(5));
    EXPECT_EQ(at(2, 1), colour(0)); // skipped by the move
    EXPECT_EQ(at(3, 0), colour(10));
    EXPECT_EQ(at(6, 0), colour(11));
    // ImageMagick reads the same picture: at least the coded pixels agree.
    const Rgb24Image reference = colourOf(magickRgba(path));
    ASSERT_EQ(reference.width, 7);
    for (auto [x, y] : {std::pair{0, 2}, {1, 2}, {4, 2}, {5, 2}, {6, 2}, {3, 0}, {4, 0}, {5, 0}, {6, 0}})
        EXPECT_EQ(at(x, y), std::vector<std::uint8_t>(reference.pixel(x, y), reference.pixel(x, y) + 3))
            << x << "," << y;
}

// ---------------------------------------------------------------- GIF decoder

struct GifCase {
    const char* name;
    std::function<QStringList(const QTemporaryDir&)> makeArgs; // convert arguments without the output
    int frames;
    bool transparent; // the first frame has transparent pixels
};

void PrintTo(const GifCase& c, std::ostream* os) {
    *os << c.name;
}

class GifDecodeTest : public ::testing::TestWithParam<GifCase> {};

// The first frame on a canvas of the logical screen, filled with the background colour,
// which also shows through transparent pixels.
Rgb24Image expectedFirstFrame(const QString& path) {
    const QByteArray b = readFile(path);
    const int screenW = le16(b, 6), screenH = le16(b, 8);
    const auto flags = static_cast<std::uint8_t>(b[10]);
    const int bgIndex = static_cast<std::uint8_t>(b[11]);
    std::uint8_t bg[3] = {0, 0, 0};
    if (flags & 0x80) {
        std::memcpy(bg, b.constData() + 13 + 3 * bgIndex, 3);
    }
    const QStringList geometry = identifyFormat(path, QStringLiteral("%X %Y")).split(u' ');
    const int left = geometry.value(0).toInt(), top = geometry.value(1).toInt();
    const RgbaPicture frame = magickRgba(path);

    Rgb24Image canvas(screenW, screenH);
    for (int y = 0; y < screenH; ++y)
        for (int x = 0; x < screenW; ++x) {
            std::uint8_t* p = canvas.pixel(x, y);
            std::memcpy(p, bg, 3);
            const int fx = x - left, fy = y - top;
            if (fx >= 0 && fy >= 0 && fx < frame.width && fy < frame.height) {
                const std::uint8_t* s = &frame.rgba[(static_cast<std::size_t>(fy) * frame.width + fx) * 4];
                if (s[3] != 0)
                    std::memcpy(p, s, 3);
            }
        }
    return canvas;
}

TEST_P(GifDecodeTest, FirstFrameOnTheBackground) {
    const GifCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.gif"));
    runMagick(QStringLiteral("convert"), c.makeArgs(dir) << path);
    const QStringList frames =
        QString::fromUtf8(runMagick(QStringLiteral("identify"), {path})).trimmed().split(u'\n');
    ASSERT_EQ(frames.size(), c.frames);

    const RgbaPicture frame = magickRgba(path);
    bool hasTransparent = false;
    for (std::size_t i = 3; i < frame.rgba.size(); i += 4)
        hasTransparent = hasTransparent || frame.rgba[i] == 0;
    ASSERT_EQ(hasTransparent, c.transparent);

    const Rgb24Image ours = decodeFile(path, PictureKind::Gif);
    const PixelDiff d = comparePixels(ours, expectedFirstFrame(path));
    ASSERT_TRUE(d.sameSize) << ours.width << "x" << ours.height;
    EXPECT_EQ(d.maxDiff, 0);
}

QStringList photoInput(const QTemporaryDir& dir, int w, int h, std::uint32_t seed) {
    const Rgb24Image source = makePhotoLike(w, h, seed);
    return rawInput(source, saveRaw(dir, source, QStringLiteral("in%1.rgb").arg(seed)));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, GifDecodeTest,
    ::testing::Values(
        GifCase{"plain", [](const QTemporaryDir& d) { return photoInput(d, 41, 29, 1); }, 1, false},
        GifCase{"interlaced",
                [](const QTemporaryDir& d) {
                    return photoInput(d, 41, 29, 2) << QStringLiteral("-interlace") << QStringLiteral("GIF");
                },
                1, false},
        GifCase{"transparent",
                [](const QTemporaryDir& d) {
                    return photoInput(d, 41, 29, 3)
                           << QStringLiteral("-fuzz") << QStringLiteral("20%")
                           << QStringLiteral("-transparent") << QStringLiteral("red");
                },
                1, true},
        GifCase{"frame_at_offset_on_larger_screen",
                [](const QTemporaryDir& d) {
                    return photoInput(d, 20, 11, 4)
                           << QStringLiteral("-repage") << QStringLiteral("60x45+7+9");
                },
                1, false},
        GifCase{"animated_first_frame",
                [](const QTemporaryDir& d) {
                    return QStringList{QStringLiteral("-delay"), QStringLiteral("10")}
                           << photoInput(d, 30, 20, 5) << photoInput(d, 30, 20, 6);
                },
                2, false},
        GifCase{"animated_transparent_interlaced_offset_frame",
                [](const QTemporaryDir& d) {
                    return QStringList{QStringLiteral("(")}
                           << photoInput(d, 25, 15, 7) << QStringLiteral("-fuzz") << QStringLiteral("20%")
                           << QStringLiteral("-transparent") << QStringLiteral("red")
                           << QStringLiteral("-repage") << QStringLiteral("50x40+20+21")
                           << QStringLiteral(")") << QStringLiteral("(") << photoInput(d, 50, 40, 8)
                           << QStringLiteral("-repage") << QStringLiteral("50x40+0+0") << QStringLiteral(")")
                           << QStringLiteral("-interlace") << QStringLiteral("GIF");
                },
                2, true}),
    [](const ::testing::TestParamInfo<GifCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- hostile input

QByteArray pngWithSize(std::uint32_t w, std::uint32_t h) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray body("IHDR", 4);
    for (std::uint32_t v : {w, h})
        for (int i = 3; i >= 0; --i)
            body.append(static_cast<char>(v >> (8 * i)));
    body.append(QByteArray("\x08\x02\0\0\0", 5));
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.constData()), static_cast<uInt>(body.size())));
    png.append(QByteArray("\0\0\0\x0d", 4)).append(body);
    for (int i = 3; i >= 0; --i)
        png.append(static_cast<char>(crc >> (8 * i)));
    return png;
}

QByteArray randomBytes(int n, std::uint32_t seed) {
    QByteArray b(n, '\0');
    for (char& c : b) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return b;
}

TEST(HostileInput, EveryDecoderRejectsCleanly) {
    const Rgb24Image photo = makePhotoLike(64, 48);
    const QByteArray jpeg = EncodeJpeg(photo);
    const QByteArray png = EncodePng(photo);
    const QByteArray gif = EncodeGif(photo);
    const QByteArray bmp = EncodeBmp(photo);

    QByteArray bmpLyingHeight = bmp; // says 4800 rows, holds 48
    bmpLyingHeight[22] = static_cast<char>(0xC0);
    bmpLyingHeight[23] = static_cast<char>(0x12);
    QByteArray bmpHuge = bmp; // 60000 x 60000 with almost no pixels
    for (int at : {18, 22}) {
        bmpHuge[at] = static_cast<char>(0x60);
        bmpHuge[at + 1] = static_cast<char>(0xEA);
        bmpHuge[at + 2] = 0;
    }
    QByteArray bmpBadDepth = bmp;
    bmpBadDepth[28] = 7;
    QByteArray bmpNoPixels = bmp.left(54);
    QByteArray jpegHuge = jpeg; // frame header saying 65500 x 65500
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    for (int i : {5, 7}) {
        jpegHuge[sof + i] = static_cast<char>(0xFF);
        jpegHuge[sof + i + 1] = static_cast<char>(0xDC);
    }
    QByteArray gifHuge = gif; // screen of 65535 x 65535
    for (int i = 6; i < 10; ++i)
        gifHuge[i] = static_cast<char>(0xFF);
    QByteArray jpegProgressive;
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.jpg")),
                      out = dir.filePath(QStringLiteral("p.jpg"));
        writeFile(in, jpeg);
        runMagick(QStringLiteral("convert"),
                  {in, QStringLiteral("-interlace"), QStringLiteral("Plane"), out});
        jpegProgressive = readFile(out);
        ASSERT_FALSE(jpegProgressive.isEmpty());
    }

    const struct {
        const char* name;
        PictureKind kind;
        QByteArray bytes;
    } cases[] = {
        {"empty bmp", PictureKind::Bmp, {}},
        {"empty jpeg", PictureKind::Jpeg, {}},
        {"empty png", PictureKind::Png, {}},
        {"empty gif", PictureKind::Gif, {}},
        {"random bytes as bmp", PictureKind::Bmp, randomBytes(3000, 1)},
        {"random bytes as jpeg", PictureKind::Jpeg, randomBytes(3000, 2)},
        {"random bytes as png", PictureKind::Png, randomBytes(3000, 3)},
        {"random bytes as gif", PictureKind::Gif, randomBytes(3000, 4)},
        {"random bytes after a BMP signature", PictureKind::Bmp, QByteArray("BM") + randomBytes(3000, 5)},
        {"random bytes after a GIF signature", PictureKind::Gif, QByteArray("GIF89a") + randomBytes(3000, 6)},
        {"random bytes after a JPEG start marker", PictureKind::Jpeg,
         QByteArray("\xFF\xD8\xFF") + randomBytes(3000, 7)},
        {"truncated jpeg", PictureKind::Jpeg, jpeg.left(jpeg.size() / 2)},
        {"jpeg cut inside its header", PictureKind::Jpeg, jpeg.left(100)},
        {"truncated progressive jpeg", PictureKind::Jpeg,
         jpegProgressive.left(jpegProgressive.size() * 2 / 3)},
        {"jpeg claiming 65500 x 65500", PictureKind::Jpeg, jpegHuge},
        {"truncated png", PictureKind::Png, png.left(png.size() / 2)},
        {"png header only", PictureKind::Png, png.left(33)},
        {"png of 70000 x 10", PictureKind::Png, pngWithSize(70000, 10)},
        {"png of 30000 x 30000", PictureKind::Png, pngWithSize(30000, 30000)},
        {"truncated gif", PictureKind::Gif, gif.left(gif.size() / 2)},
        {"gif screen of 65535 x 65535", PictureKind::Gif, gifHuge},
        {"bmp header lying about its height", PictureKind::Bmp, bmpLyingHeight},
        {"bmp of 60000 x 60000", PictureKind::Bmp, bmpHuge},
        {"bmp of 7 bits per pixel", PictureKind::Bmp, bmpBadDepth},
        {"bmp without pixels", PictureKind::Bmp, bmpNoPixels},
        {"truncated bmp", PictureKind::Bmp, bmp.left(bmp.size() - 10)},
        {"jpeg read as png", PictureKind::Png, jpeg},
        {"png read as gif", PictureKind::Gif, png},
    };
    for (const auto& c : cases) {
        Rgb24Image out;
        EXPECT_THROW(DecodePicture(c.bytes, c.kind, out), PictureError) << c.name;
    }
}

TEST(HostileInput, RandomDamageNeverCrashes) {
    // Bytes flipped all over valid files: each decode either succeeds or throws PictureError.
    const Rgb24Image photo = makePhotoLike(40, 30);
    for (PictureKind kind : {PictureKind::Bmp, PictureKind::Jpeg, PictureKind::Png, PictureKind::Gif}) {
        const QByteArray good = EncodePicture(photo, kind);
        std::uint32_t seed = 99;
        for (int round = 0; round < 200; ++round) {
            QByteArray bad = good;
            for (int i = 0; i < 4; ++i) {
                seed = seed * 1664525u + 1013904223u;
                bad[static_cast<qsizetype>((seed >> 8) % static_cast<std::uint32_t>(bad.size()))] =
                    static_cast<char>(seed >> 24);
            }
            Rgb24Image out;
            try {
                DecodePicture(bad, kind, out);
                EXPECT_EQ(out.pixels.size(), static_cast<std::size_t>(out.width) * out.height * 3);
            } catch (const PictureError&) {
            }
        }
    }
}

// ---------------------------------------------------------------- kinds, sizes

TEST(PictureKinds, ChosenByTheLastFourCharacters) {
    const struct {
        const char* path;
        bool caseSensitive;
        std::optional<PictureKind> kind;
    } cases[] = {
        {"a.jpg", true, PictureKind::Jpeg},  {"a.JPG", true, std::nullopt},
        {"a.JPG", false, PictureKind::Jpeg}, {"dir\\12.png", true, PictureKind::Png},
        {"x.Gif", false, PictureKind::Gif},  {"x.bmp", true, PictureKind::Bmp},
        {"a.jpeg", false, std::nullopt},     {"12.???", false, std::nullopt},
        {"png", false, std::nullopt},        {".png", true, PictureKind::Png},
        {"a.png ", true, std::nullopt},      {"", false, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KindFromLastFour(QString::fromLatin1(c.path), c.caseSensitive), c.kind)
            << c.path << " " << c.caseSensitive;
}

TEST(PictureSize, MeasuredByDecodingOrAnError) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("a.gif"));
    writeFile(good, EncodeGif(makeFewColours(33, 17, 5)));
    int w = -1, h = -1;
    QString error;
    EXPECT_TRUE(ReadPictureSize(good, PictureKind::Gif, w, h, &error));
    EXPECT_EQ(w, 33);
    EXPECT_EQ(h, 17);

    const QString bad = dir.filePath(QStringLiteral("b.png"));
    writeFile(bad, randomBytes(500, 9));
    EXPECT_FALSE(ReadPictureSize(bad, PictureKind::Png, w, h, &error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_FALSE(ReadPictureSize(dir.filePath(QStringLiteral("none.png")), PictureKind::Png, w, h, &error));
    EXPECT_FALSE(error.isEmpty());
    const QString empty = dir.filePath(QStringLiteral("empty.jpg"));
    writeFile(empty, {});
    error.clear();
    EXPECT_FALSE(ReadPictureSize(empty, PictureKind::Jpeg, w, h, &error));
    EXPECT_FALSE(error.isEmpty());
}

// ---------------------------------------------------------------- ResizeNearest

Rgb24Image grayRow(std::initializer_list<int> values, bool vertical) {
    const int n = static_cast<int>(values.size());
    Rgb24Image p(vertical ? 1 : n, vertical ? n : 1);
    int i = 0;
    for (int v : values) {
        std::uint8_t* px = vertical ? p.pixel(0, i) : p.pixel(i, 0);
        px[0] = px[1] = px[2] = static_cast<std::uint8_t>(v);
        ++i;
    }
    return p;
}

std::vector<int> grays(const Rgb24Image& p) {
    std::vector<int> out;
    for (std::size_t i = 0; i < p.pixels.size(); i += 3)
        out.push_back(p.pixels[i]);
    return out;
}

TEST(ResizeNearest, PicksSourceIndexByIntegerRule) {
    // Column x takes source x * (w - 1) / (w' - 1): 4 -> 7 gives 0,0,1,1,2,2,3.
    Rgb24Image wide(7, 1);
    ASSERT_TRUE(ResizeNearest(grayRow({10, 20, 30, 40}, false), wide));
    EXPECT_EQ(grays(wide), (std::vector<int>{10, 10, 20, 20, 30, 30, 40}));
    // Rows: 4 -> 3 gives 0, 1, 3.
    Rgb24Image tall(1, 3);
    ASSERT_TRUE(ResizeNearest(grayRow({10, 20, 30, 40}, true), tall));
    EXPECT_EQ(grays(tall), (std::vector<int>{10, 20, 40}));
}

TEST(ResizeNearest, CornersTakeTheSourceCorners) {
    const Rgb24Image source = makePhotoLike(17, 11, 4);
    for (auto [w, h] : {std::pair{40, 30}, {5, 3}, {2, 2}, {17, 11}, {1000, 2}}) {
        Rgb24Image target(w, h);
        ASSERT_TRUE(ResizeNearest(source, target));
        for (auto [tx, ty, sx, sy] :
             {std::tuple{0, 0, 0, 0}, {w - 1, 0, 16, 0}, {0, h - 1, 0, 10}, {w - 1, h - 1, 16, 10}})
            EXPECT_EQ(0, std::memcmp(target.pixel(tx, ty), source.pixel(sx, sy), 3)) << w << "x" << h;
    }
}

TEST(ResizeNearest, SideOfOneTakesIndexZeroAndSideOfZeroDoesNothing) {
    const Rgb24Image source = makePhotoLike(9, 6, 8);
    Rgb24Image column(1, 6);
    ASSERT_TRUE(ResizeNearest(source, column));
    for (int y = 0; y < 6; ++y)
        EXPECT_EQ(0, std::memcmp(column.pixel(0, y), source.pixel(0, y), 3));
    Rgb24Image dot(1, 1);
    ASSERT_TRUE(ResizeNearest(source, dot));
    EXPECT_EQ(0, std::memcmp(dot.pixel(0, 0), source.pixel(0, 0), 3));

    Rgb24Image nothing(0, 5);
    EXPECT_FALSE(ResizeNearest(source, nothing));
    EXPECT_TRUE(nothing.pixels.empty());
    Rgb24Image target(3, 3);
    const auto before = target.pixels;
    EXPECT_FALSE(ResizeNearest(Rgb24Image{}, target));
    EXPECT_EQ(target.pixels, before);
}

TEST(Rgb24Image, ResizeKeepsStorageAndRefusesOversize) {
    Rgb24Image p(300, 200);
    const auto capacity = p.pixels.capacity();
    p.resize(10, 10);
    EXPECT_EQ(p.pixels.size(), 300u);
    EXPECT_EQ(p.pixels.capacity(), capacity);
    EXPECT_THROW(p.resize(-1, 5), PictureError);
    EXPECT_THROW(p.resize(70000, 1), PictureError);
    EXPECT_THROW(p.resize(30000, 30000), PictureError);
}

} // namespace
