// Measuring with the thumbnail in one pass, files that claim far more pixels than they
// hold, and the picture transform on every core.
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"
#include "pictures/picture_thumbnail.h"
#include "pictures/picture_transform.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

using namespace skarvel;
using namespace skarvel::test;

namespace {

struct ClaimCase {
    const char* name;
    PictureKind kind;
    std::function<QByteArray()> bytes;
    int measuredWidth; // 0: measuring fails as well
    int measuredHeight;
};

} // namespace

// Each file claims hundreds of megapixels it does not hold. Decoding whole fails at once
// without taking the memory; measuring fails just as fast, unless the file backs its size
// (then measuring gives it, though decoding whole is beyond the pixel budget).
TEST(PicturesClaimingMoreThanTheyHold, FailFastWithoutTakingTheMemory) {
    const ClaimCase cases[] = {
        {"64-byte run-length BMP", PictureKind::Bmp, [] { return tinyRleBmp(24652, 18194); }, 0, 0},
        {"46-byte interlaced PNG", PictureKind::Png, [] { return tinyPng(24652, 18194, true); }, 0, 0},
        {"46-byte PNG", PictureKind::Png, [] { return tinyPng(24652, 18194, false); }, 0, 0},
        {"GIF frame of 24652 x 18194", PictureKind::Gif,
         [] { return gifWithSizes(24652, 18194, 24652, 18194); }, 0, 0},
        {"GIF frame of zero height", PictureKind::Gif, [] { return gifWithSizes(24652, 18194, 1, 0); }, 0, 0},
        {"GIF frame of zero height on a small screen", PictureKind::Gif,
         [] { return gifWithSizes(10, 10, 1, 0); }, 0, 0},
        {"GIF screen of 24652 x 18194 around one pixel", PictureKind::Gif,
         [] { return gifWithSizes(24652, 18194, 1, 1); }, 0, 0},
        {"JPEG claiming 24652 x 18194", PictureKind::Jpeg, [] { return jpegClaiming(24652, 18194); }, 0, 0},
    };
    for (const ClaimCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = c.bytes();
        ASSERT_LT(bytes.size(), 800);
        const qint64 cpuBefore = processCpuMs();
        Rgb24Image picture;
        EXPECT_THROW(DecodePicture(bytes, c.kind, picture), PictureError);
        EXPECT_LT(picture.pixels.capacity(), std::size_t{4} << 20)
            << "storage taken before the data was there";
        EXPECT_TRUE(picture.isEmpty());
        if (c.measuredWidth == 0) {
            EXPECT_THROW(MeasurePicture(bytes, c.kind), PictureError);
        } else {
            const PictureMeasure m = MeasurePicture(bytes, c.kind);
            EXPECT_EQ(m.width, c.measuredWidth);
            EXPECT_EQ(m.height, c.measuredHeight);
            EXPECT_TRUE(m.thumbnail.isEmpty()) << "beyond the pixel budget no thumbnail is made";
        }
        // Processor time, which load does not stretch; the claimed pixels would take far more.
        EXPECT_LT(processCpuMs() - cpuBefore, 1000);
    }
}

namespace {

struct SameThumbnailCase {
    const char* name;
    PictureKind kind;
    std::function<QByteArray(const QTemporaryDir&)> bytes;
};

// A picture converted by ImageMagick with the given options into a file of the given ending.
QByteArray converted(const QTemporaryDir& dir, const Rgb24Image& picture, const QStringList& options,
                     const QString& output) {
    const QString raw = dir.filePath(QStringLiteral("in.rgb"));
    writeFile(raw, QByteArray(reinterpret_cast<const char*>(picture.pixels.data()),
                              static_cast<qsizetype>(picture.pixels.size())));
    const QString out = dir.filePath(QStringLiteral("out"));
    QStringList args{QStringLiteral("-size"), QStringLiteral("%1x%2").arg(picture.width).arg(picture.height),
                     QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgb:") + raw};
    args << options << (output.contains(u':') ? output + out : out + output);
    runMagick(QStringLiteral("convert"), args);
    QFile file(output.contains(u':') ? out : out + output);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The measuring pass gives exactly the size and the thumbnail pixels that decoding whole
// and scaling gives, whatever order the format delivers its pixels in.
TEST(MeasurePicture, GivesTheSizeAndThumbnailOfTheWholeDecode) {
    const SameThumbnailCase cases[] = {
        {"JPEG 4:2:0, odd size", PictureKind::Jpeg,
         [](const QTemporaryDir&) { return EncodeJpeg(makePhotoLike(333, 211, 1), 90); }},
        {"JPEG taller than wide", PictureKind::Jpeg,
         [](const QTemporaryDir&) { return EncodeJpeg(makePhotoLike(97, 410, 2), 90); }},
        {"JPEG progressive", PictureKind::Jpeg,
         [](const QTemporaryDir& d) {
             return converted(d, makePhotoLike(301, 257, 3),
                              {QStringLiteral("-interlace"), QStringLiteral("Plane")},
                              QStringLiteral(".jpg"));
         }},
        {"JPEG gray", PictureKind::Jpeg,
         [](const QTemporaryDir& d) {
             return converted(d, makePhotoLike(150, 120, 4),
                              {QStringLiteral("-colorspace"), QStringLiteral("Gray")},
                              QStringLiteral(".jpg"));
         }},
        {"JPEG smaller than the cell", PictureKind::Jpeg,
         [](const QTemporaryDir&) { return EncodeJpeg(makePhotoLike(40, 30, 5), 90); }},
        {"PNG RGB", PictureKind::Png,
         [](const QTemporaryDir&) { return makePng(260, 190, 2, 8, false, false, 6); }},
        {"PNG RGB interlaced", PictureKind::Png,
         [](const QTemporaryDir&) { return makePng(260, 190, 2, 8, true, false, 7); }},
        {"PNG palette interlaced with transparency", PictureKind::Png,
         [](const QTemporaryDir&) { return makePng(123, 301, 3, 8, true, true, 8); }},
        {"PNG 16-bit RGBA interlaced", PictureKind::Png,
         [](const QTemporaryDir&) { return makePng(7, 5, 6, 16, true, false, 9); }},
        {"PNG gray 2-bit", PictureKind::Png,
         [](const QTemporaryDir&) { return makePng(1, 1000, 0, 2, false, false, 10); }},
        {"GIF", PictureKind::Gif,
         [](const QTemporaryDir&) { return EncodeGif(makePhotoLike(211, 150, 11)); }},
        {"GIF interlaced frame at an offset", PictureKind::Gif,
         [](const QTemporaryDir& d) {
             return converted(d, makePhotoLike(120, 70, 12),
                              {QStringLiteral("-repage"), QStringLiteral("260x140+70+35"),
                               QStringLiteral("-interlace"), QStringLiteral("GIF")},
                              QStringLiteral(".gif"));
         }},
        {"BMP 24-bit", PictureKind::Bmp,
         [](const QTemporaryDir&) { return EncodeBmp(makePhotoLike(1000, 3, 13)); }},
        {"BMP top-down", PictureKind::Bmp,
         [](const QTemporaryDir&) { return bmpToTopDown(EncodeBmp(makePhotoLike(150, 151, 14))); }},
        {"BMP run-length 8-bit", PictureKind::Bmp,
         [](const QTemporaryDir& d) {
             return converted(d, makeFewColours(230, 170, 9),
                              {QStringLiteral("-compress"), QStringLiteral("RLE"), QStringLiteral("-type"),
                               QStringLiteral("Palette")},
                              QStringLiteral("bmp3:"));
         }},
    };
    for (const SameThumbnailCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QByteArray bytes = c.bytes(dir);
        ASSERT_FALSE(bytes.isEmpty());
        const Rgb24Image whole = DecodePicture(bytes, c.kind);
        const Rgb24Image expected = MakeThumbnail(whole);
        const PictureMeasure m = MeasurePicture(bytes, c.kind);
        EXPECT_EQ(m.width, whole.width);
        EXPECT_EQ(m.height, whole.height);
        EXPECT_EQ(m.placement, ComputeThumbnail(whole.width, whole.height));
        ASSERT_EQ(m.thumbnail.width, expected.width);
        ASSERT_EQ(m.thumbnail.height, expected.height);
        EXPECT_TRUE(m.thumbnail.pixels == expected.pixels);
    }
}

TEST(MeasurePicture, RejectsWhatTheWholeDecodeRejects) {
    const QByteArray jpeg = EncodeJpeg(makePhotoLike(120, 90, 2), 90);
    const QByteArray png = makePng(120, 90, 2, 8, true, false, 3);
    const QByteArray gif = EncodeGif(makePhotoLike(120, 90, 4));
    const QByteArray bmp = EncodeBmp(makePhotoLike(120, 90, 5));
    const struct {
        const char* name;
        PictureKind kind;
        QByteArray bytes;
    } cases[] = {
        {"truncated JPEG", PictureKind::Jpeg, jpeg.left(jpeg.size() * 2 / 3)},
        {"truncated interlaced PNG", PictureKind::Png, png.left(png.size() * 2 / 3)},
        {"truncated GIF", PictureKind::Gif, gif.left(gif.size() * 2 / 3)},
        {"truncated BMP", PictureKind::Bmp, bmp.left(bmp.size() - 400)},
        {"PNG read as JPEG", PictureKind::Jpeg, png},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(DecodePicture(c.bytes, c.kind), PictureError);
        EXPECT_THROW(MeasurePicture(c.bytes, c.kind), PictureError);
    }
}

TEST(MeasurePicture, DecodesEachPictureOnceForSizeAndThumbnail) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1.jpg"));
    writeFile(path, EncodeJpeg(makePhotoLike(640, 480, 1), 90));

    const std::uint64_t before = PictureDecodeCount();
    PictureMeasure m;
    QString error;
    ASSERT_TRUE(MeasurePictureFile(path, PictureKind::Jpeg, m, &error)) << error.toStdString();
    EXPECT_EQ(PictureDecodeCount() - before, 1u);
    EXPECT_EQ(m.width, 640);
    EXPECT_EQ(m.height, 480);
    EXPECT_EQ(m.thumbnail.width, 100);
    EXPECT_EQ(m.thumbnail.height, 75);
    EXPECT_EQ(m.identity, IdentityOfFile(path));

    EXPECT_FALSE(
        MeasurePictureFile(dir.filePath(QStringLiteral("missing.jpg")), PictureKind::Jpeg, m, &error));
    EXPECT_FALSE(error.isEmpty());
}

// Rows on every core give the same files as one row after the other, and the outcomes
// come back in row order; two rows with one target leave the later row's file.
TEST(ParallelPictureTransform, MatchesTheTransformOneRowAfterTheOther) {
    QTemporaryDir dir;
    QStringList locals;
    for (int i = 0; i < 9; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.jpg").arg(i));
        writeFile(path,
                  EncodeJpeg(makePhotoLike(200 + 37 * i, 150 + 11 * i, static_cast<std::uint32_t>(i)), 90));
        locals << path;
    }
    writeFile(locals[3], QByteArray("not a picture"));
    locals[5] = dir.filePath(QStringLiteral("missing.jpg"));
    QDir(dir.path()).mkpath(QStringLiteral("seq"));
    QDir(dir.path()).mkpath(QStringLiteral("par"));
    auto target = [&](const QString& folder, int i) {
        return dir.filePath(folder +
                            QStringLiteral("/out%1.png").arg(i == 8 ? 7 : i)); // rows 7 and 8 collide
    };
    const TransformSettings settings{.width = 120, .height = 90, .fit = true, .format = kSavePng};

    PictureTransform one;
    std::vector<TransformResult> expected;
    for (int i = 0; i < locals.size(); ++i)
        expected.push_back(one.transform(locals[i], target(QStringLiteral("seq"), i), settings));

    ParallelPictureTransform many(3);
    std::vector<TransformResult> got;
    for (int i = 0; i < locals.size(); ++i) {
        many.add(locals[i], target(QStringLiteral("par"), i), settings, false);
        while (auto outcome = many.next(false))
            got.push_back(outcome->result);
    }
    while (auto outcome = many.next(true))
        got.push_back(outcome->result);

    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].status, expected[i].status);
        EXPECT_EQ(got[i].width, expected[i].width);
        EXPECT_EQ(got[i].height, expected[i].height);
        if (expected[i].status == TransformResult::Status::Written) {
            EXPECT_EQ(readFile(got[i].path), readFile(expected[i].path));
        }
    }
    EXPECT_EQ(got[3].status, TransformResult::Status::Failed);
    EXPECT_EQ(got[5].status, TransformResult::Status::Skipped);
    EXPECT_EQ(DecodePictureFile(target(QStringLiteral("par"), 8), PictureKind::Png).width, expected[8].width);
}
