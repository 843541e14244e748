// Files whose data cannot back the size they declare: refused by the whole decode and by
// measuring alike, quickly and without taking the picture's memory. The codings that express
// large areas in few bytes (arithmetic-coded JPEG, run-length BMP) still decode when the data
// does back them.
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

using namespace skarvel;
using namespace skarvel::test;

namespace {

void putLe32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

// An RLE8 BMP of w x h whose palette entry 0 is (10, 20, 30) and entry 1 (200, 0, 0): the
// bottom `fullRows` rows are runs of entry 1 ending in end-of-line codes, then the picture
// ends at once, so every other pixel is skipped.
QByteArray rleBmp(std::uint32_t w, std::uint32_t h, std::uint32_t fullRows) {
    QByteArray bmp = rle8BmpHeader(w, h, 2);
    const char palette[8] = {30, 20, 10, 0, 0, 0, char(200), 0};
    std::memcpy(bmp.data() + 54, palette, 8);
    QByteArray row;
    for (std::uint32_t left = w; left > 0; left -= std::min<std::uint32_t>(left, 255))
        row.append(static_cast<char>(std::min<std::uint32_t>(left, 255))).append('\x01');
    row.append(QByteArray("\x00\x00", 2));
    for (std::uint32_t y = 0; y < fullRows; ++y)
        bmp += row;
    bmp += QByteArray("\x00\x01", 2);
    putLe32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    return bmp;
}

// A photo-like picture whose lower three quarters are one flat colour.
Rgb24Image flatBelow(int w, int h) {
    Rgb24Image picture = makePhotoLike(w, h, 7);
    for (int y = h / 4; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = picture.pixel(x, y);
            p[0] = 90;
            p[1] = 140;
            p[2] = 60;
        }
    return picture;
}

// An arithmetic-coded 64 x 48 JPEG claiming 16000 x 15000, its data followed by 1000 restart
// markers for intervals of 1000 MCUs each: the decoder fills every interval with zeros.
QByteArray arithmeticJpegOfRestartMarkers() {
    QByteArray jpeg = withJpegFrameSize(encodeJpegWith(makePhotoLike(64, 48), true, false), 16000, 15000);
    jpeg.insert(jpeg.indexOf(QByteArray("\xFF\xDA", 2)), QByteArray("\xFF\xDD\x00\x04\x03\xE8", 6));
    jpeg.chop(2);
    for (int i = 0; i < 1000; ++i)
        jpeg.append('\xFF').append(static_cast<char>(0xD0 + i % 8));
    return jpeg.append("\xFF\xD9");
}

// The JPEG without its first scan (the DC scan of a progressive picture): from its start of
// scan marker to the next marker that is neither a stuffed byte nor a restart marker.
QByteArray withoutFirstScan(QByteArray jpeg) {
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    qsizetype end = sos + 2;
    while (end + 1 < jpeg.size()) {
        const auto next = static_cast<std::uint8_t>(jpeg[end + 1]);
        if (static_cast<std::uint8_t>(jpeg[end]) == 0xFF && next != 0 && (next < 0xD0 || next > 0xD7))
            break;
        ++end;
    }
    return jpeg.remove(sos, end - sos);
}

QByteArray fuzzFinding(const char* name) {
    return readFile(fixturePath(QStringLiteral("fuzz/") + QLatin1String(name)));
}

void putLe16(QByteArray& b, qsizetype at, unsigned v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}

// A GIF whose screen of screenW x screenH shows black around one frame of frameW x frameH in
// (200, 0, 0) at (left, top).
QByteArray gifFrameOnScreen(unsigned screenW, unsigned screenH, unsigned left, unsigned top, unsigned frameW,
                            unsigned frameH) {
    Rgb24Image frame(static_cast<int>(frameW), static_cast<int>(frameH));
    for (std::size_t i = 0; i < frame.pixels.size(); i += 3)
        frame.pixels[i] = 200;
    QByteArray gif = EncodeGif(frame);
    putLe16(gif, 6, screenW);
    putLe16(gif, 8, screenH);
    gif[11] = 1; // the background: the black entry that pads the colour table
    const qsizetype descriptor = gif.indexOf('\x2C', 13);
    putLe16(gif, descriptor + 1, left);
    putLe16(gif, descriptor + 3, top);
    return gif;
}

// The GIF with the data bytes of its last image sub-blocks turned to 0xFF: codes the decoder's
// table does not hold yet, while the amount of data stays.
QByteArray withBrokenLastBlocks(QByteArray gif, int blocks) {
    const qsizetype descriptor = gif.indexOf('\x2C', 13);
    std::vector<qsizetype> starts;
    for (qsizetype at = descriptor + 11; at < gif.size() && gif[at] != 0;
         at += 1 + static_cast<std::uint8_t>(gif[at]))
        starts.push_back(at);
    for (std::size_t k = starts.size() - static_cast<std::size_t>(blocks); k < starts.size(); ++k)
        for (int i = 1; i <= static_cast<std::uint8_t>(gif[starts[k]]); ++i)
            gif[starts[k] + i] = '\xFF';
    return gif;
}

struct RefusedCase {
    const char* name;
    PictureKind kind;
    std::function<QByteArray()> bytes;
    const char* reason; // part of the error message: which check refused the file
};

} // namespace

TEST(DataBackingTheSize, FilesItCannotBackAreRefusedFastWithoutTheMemory) {
    const RefusedCase cases[] = {
        {"180-byte arithmetic CMYK JPEG claiming 2305 x 64519 (fuzz finding)", PictureKind::Jpeg,
         [] { return fuzzFinding("jpeg/timeout-c81a6c8e49d2"); }, "Premature end"},
        {"203-byte arithmetic JPEG claiming 257 x 64519 (fuzz finding)", PictureKind::Jpeg,
         [] { return fuzzFinding("jpeg/timeout-2b2ff88ca9f5"); }, "Premature end"},
        {"arithmetic JPEG of 64 x 48 claiming 20000 x 12000", PictureKind::Jpeg,
         [] { return withJpegFrameSize(encodeJpegWith(makePhotoLike(64, 48), true, false), 20000, 12000); },
         "Premature end"},
        {"196-byte arithmetic JPEG of restart markers claiming 2049 x 64519 (fuzz finding)",
         PictureKind::Jpeg, [] { return fuzzFinding("jpeg/timeout-db469c295073"); }, "Premature end"},
        {"471-byte arithmetic JPEG claiming 2049 x 64519 (fuzz finding)", PictureKind::Jpeg,
         [] { return fuzzFinding("jpeg/timeout-cf8e7ae71b67"); }, "Premature end"},
        {"arithmetic JPEG whose intervals are restart markers only", PictureKind::Jpeg,
         arithmeticJpegOfRestartMarkers, "Premature end"},
        {"arithmetic progressive JPEG of 64 x 48 claiming 8000 x 8000", PictureKind::Jpeg,
         [] { return withJpegFrameSize(encodeJpegWith(makePhotoLike(64, 48), true, true), 8000, 8000); },
         "Premature end"},
        {"progressive JPEG of 64 x 48 claiming 8000 x 8000", PictureKind::Jpeg,
         [] { return withJpegFrameSize(encodeJpegWith(makePhotoLike(64, 48), false, true), 8000, 8000); },
         "Corrupt JPEG data"},
        {"progressive JPEG without its DC scan", PictureKind::Jpeg,
         [] { return withoutFirstScan(encodeJpegWith(makePhotoLike(64, 48), false, true)); },
         "Inconsistent progression"},
        {"progressive JPEG claiming 20000 x 20000, beyond the coefficient memory", PictureKind::Jpeg,
         [] { return withJpegFrameSize(encodeJpegWith(makePhotoLike(64, 48), false, true), 20000, 20000); },
         "several scans"},
        {"run-length BMP of 2304 x 32769 setting 119 pixels (fuzz finding)", PictureKind::Bmp,
         [] { return fuzzFinding("bmp/timeout-4e7e508ffff8"); }, "sets 119 of"},
        {"run-length BMP of 2057 x 32769 setting 399 pixels (fuzz finding)", PictureKind::Bmp,
         [] { return fuzzFinding("bmp/timeout-8664488251f0"); }, "sets 399 of"},
        {"run-length BMP of 5000 x 5000 ending at once", PictureKind::Bmp,
         [] { return rleBmp(5000, 5000, 0); }, "sets 0 of its 25000000 pixels"},
        {"73-byte GIF: a 12 x 36 frame low on a screen of 10253 x 18761 (fuzz finding)", PictureKind::Gif,
         [] { return fuzzFinding("gif/oom-b1df2aa8903e"); }, "covers 432 of the screen's 192356533 pixels"},
        {"49-byte GIF: a 12 x 36 frame low on a screen of 9997 x 18761 (fuzz finding)", PictureKind::Gif,
         [] { return fuzzFinding("gif/oom-cb75353a4812"); }, "covers 432 of the screen's 187553717 pixels"},
        {"GIF of 3000 x 3000 around a frame of 1000 x 999: 8.01 background pixels per frame pixel",
         PictureKind::Gif, [] { return gifFrameOnScreen(3000, 3000, 2000, 2001, 1000, 999); },
         "covers 999000 of the screen's 9000000 pixels"},
        {"GIF of 6000 x 6000 around a frame of 2000 x 2000 whose data breaks off", PictureKind::Gif,
         [] { return withBrokenLastBlocks(gifFrameOnScreen(6000, 6000, 0, 4000, 2000, 2000), 3); },
         "Image is defective"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = c.bytes();
        ASSERT_FALSE(bytes.isEmpty());
        ASSERT_LT(bytes.size(), 5000);
        const qint64 cpuBefore = processCpuMs();
        Rgb24Image picture;
        try {
            DecodePicture(bytes, c.kind, picture);
            ADD_FAILURE() << "decoded";
        } catch (const PictureError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        // What a scan may decode from no data, never the whole picture.
        EXPECT_LT(picture.pixels.capacity(), std::size_t{32} << 20);
        EXPECT_TRUE(picture.isEmpty());
        EXPECT_THROW(MeasurePicture(bytes, c.kind), PictureError);
        // Processor time, which load does not stretch: the fuzzer found these past its time-out per input.
        EXPECT_LT(processCpuMs() - cpuBefore, 5000);
    }
}

TEST(DataBackingTheSize, ArithmeticAndProgressiveJpegsStillDecode) {
    const struct {
        const char* name;
        Rgb24Image picture;
        bool arithmetic;
        bool progressive;
        int restartRows = 0;
    } cases[] = {
        {"arithmetic", makePhotoLike(161, 97, 2), true, false},
        {"arithmetic progressive", makePhotoLike(161, 97, 3), true, true},
        // The coder drops the zero bytes that end the data, which stand for most of the flat part.
        {"arithmetic, flat lower three quarters", flatBelow(1600, 1200), true, false},
        {"arithmetic, flat lower three quarters, a restart marker every row", flatBelow(1600, 1200), true,
         false, 1},
        {"progressive, flat lower three quarters", flatBelow(1600, 1200), false, true},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = encodeJpegWith(c.picture, c.arithmetic, c.progressive, c.restartRows);
        ASSERT_FALSE(bytes.isEmpty());
        const QString path = dir.filePath(QStringLiteral("a.jpg"));
        writeFile(path, bytes);
        Rgb24Image ours;
        ASSERT_NO_THROW(DecodePicture(bytes, PictureKind::Jpeg, ours));
        const PixelDiff d = comparePixels(ours, colourOf(magickRgba(path)));
        ASSERT_TRUE(d.sameSize);
        EXPECT_LE(d.maxDiff, 2);
        EXPECT_LT(d.meanDiff, 0.5);
        const PictureMeasure m = MeasurePicture(bytes, PictureKind::Jpeg);
        EXPECT_EQ(m.width, c.picture.width);
        EXPECT_EQ(m.height, c.picture.height);
    }
}

// Skipped pixels are free up to 4 megapixels (4 194 304); beyond that the runs must set one pixel for
// every 8 skipped.
TEST(DataBackingTheSize, RunLengthBmpMaySkipWhatItsRunsBack) {
    const struct {
        const char* name;
        std::uint32_t w, h, fullRows;
        bool backed;
    } cases[] = {
        {"2000 x 2000 ending at once: 4 000 000 pixels skipped", 2000, 2000, 0, true},
        {"2100 x 2100 ending at once: 4 410 000 pixels skipped", 2100, 2100, 0, false},
        {"6000 x 6000, 667 rows set: skips 7.99 per pixel set", 6000, 6000, 667, true},
        {"6000 x 6000, 666 rows set: skips 8.01 per pixel set", 6000, 6000, 666, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bmp = rleBmp(c.w, c.h, c.fullRows);
        if (!c.backed) {
            EXPECT_THROW(MeasurePicture(bmp, PictureKind::Bmp), PictureError);
            Rgb24Image picture;
            EXPECT_THROW(DecodePicture(bmp, PictureKind::Bmp, picture), PictureError);
            EXPECT_LT(picture.pixels.capacity(), std::size_t{1} << 20);
            continue;
        }
        const PictureMeasure m = MeasurePicture(bmp, PictureKind::Bmp);
        EXPECT_EQ(m.width, int(c.w));
        EXPECT_EQ(m.height, int(c.h));
        // Bottom-up: the set rows are the last ones; the rest is palette entry 0.
        const std::int64_t th = m.thumbnail.height;
        ASSERT_GT(th, 1);
        for (std::int64_t y = 0; y < th; ++y) {
            const std::int64_t sourceRow = y * (c.h - 1) / (th - 1);
            const bool set = sourceRow >= std::int64_t{c.h} - c.fullRows;
            EXPECT_EQ(m.thumbnail.pixel(0, int(y))[0], set ? 200 : 10) << "thumbnail row " << y;
        }
    }
    // A picture decoded whole: every pixel not set is palette entry 0.
    const Rgb24Image whole = DecodePicture(rleBmp(300, 200, 50), PictureKind::Bmp);
    ASSERT_EQ(whole.height, 200);
    EXPECT_EQ(whole.pixel(299, 149)[0], 10);
    EXPECT_EQ(whole.pixel(299, 149)[2], 30);
    EXPECT_EQ(whole.pixel(0, 150)[0], 200);
    EXPECT_EQ(whole.pixel(0, 150)[2], 0);
}

// The screen around a GIF's frame is free up to 4 megapixels (4 194 304); beyond that the frame must
// cover one screen pixel for every 8 it leaves to the background. Only the part of the frame on the
// screen counts.
TEST(DataBackingTheSize, GifScreenMayExceedItsFrameByWhatTheFrameBacks) {
    const struct {
        const char* name;
        unsigned screenW, screenH, left, top, frameW, frameH;
        bool backed;
    } cases[] = {
        {"2048 x 2048 around one pixel: 4 194 303 background pixels", 2048, 2048, 5, 7, 1, 1, true},
        {"2049 x 2048 around one pixel: 4 196 351 background pixels", 2049, 2048, 5, 7, 1, 1, false},
        {"3000 x 3000 around 1000 x 1000: 8 background pixels per frame pixel", 3000, 3000, 2000, 2000, 1000,
         1000, true},
        {"3000 x 3000 around 2000 x 999 of which 1000 x 999 on the screen", 3000, 3000, 2000, 2001, 2000, 999,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray gif = gifFrameOnScreen(c.screenW, c.screenH, c.left, c.top, c.frameW, c.frameH);
        if (!c.backed) {
            EXPECT_THROW(MeasurePicture(gif, PictureKind::Gif), PictureError);
            Rgb24Image picture;
            try {
                DecodePicture(gif, PictureKind::Gif, picture);
                ADD_FAILURE() << "decoded";
            } catch (const PictureError& e) {
                EXPECT_NE(std::string(e.what()).find("of the screen's"), std::string::npos) << e.what();
            }
            EXPECT_LT(picture.pixels.capacity(), std::size_t{1} << 20);
            continue;
        }
        const PictureMeasure m = MeasurePicture(gif, PictureKind::Gif);
        EXPECT_EQ(m.width, int(c.screenW));
        EXPECT_EQ(m.height, int(c.screenH));
        const Rgb24Image whole = DecodePicture(gif, PictureKind::Gif);
        ASSERT_EQ(whole.width, int(c.screenW));
        ASSERT_EQ(whole.height, int(c.screenH));
        const int right = int(c.left + c.frameW) - 1, bottom = int(c.top + c.frameH) - 1;
        for (const auto& [x, y, inFrame] :
             {std::tuple{int(c.left), int(c.top), true}, std::tuple{right, bottom, true},
              std::tuple{int(c.left) - 1, int(c.top), false}, std::tuple{right, int(c.top) - 1, false},
              std::tuple{0, 0, false}}) {
            SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
            EXPECT_EQ(whole.pixel(x, y)[0], inFrame ? 200 : 0);
            EXPECT_EQ(whole.pixel(x, y)[1], 0);
        }
    }
}
