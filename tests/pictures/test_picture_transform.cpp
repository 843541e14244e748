// The picture transform of the save and export: fit arithmetic, target names, skips and
// failures, checked on the written files with ImageMagick.
#include "common/text_ops.h"
#include "pictures/picture_transform.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace skarvel;
using namespace skarvel::test;
using Status = TransformResult::Status;

namespace {

class TransformTest : public ::testing::Test {
protected:
    QTemporaryDir work;   // downloaded pictures
    QTemporaryDir target; // export folder
    PictureTransform transform;

    QString local(const QString& name, const QByteArray& bytes) {
        const QString path = work.filePath(name);
        writeFile(path, bytes);
        return path;
    }
    QString out(const QString& name) const { return target.filePath(name); }
    static TransformSettings settings(int format, bool fit = false, int w = 100, int h = 100) {
        const TransformSettings s{.width = w, .height = h, .fit = fit, .format = format};
        return s;
    }
};

TEST(FitToRectangle, Arithmetic) {
    const struct {
        int w, h, W, H, ew, eh;
    } cases[] = {
        {400, 200, 100, 100, 100, 50},
        {200, 400, 100, 100, 50, 100},
        {50, 50, 100, 100, 100, 100},
        {300, 300, 100, 100, 100, 100},
        {333, 200, 160, 100, 160, 96},  // 200 * 160 / 333 = 96.09
        {320, 200, 160, 100, 160, 100}, // equal ratios take the width branch
        {100, 301, 160, 100, 33, 100},  // 100 * 100 / 301 = 33.2
        {1000, 5, 10, 10, 10, 0},
        {5, 1000, 10, 10, 0, 10},
        {60000, 60000, 10000, 10000, 10000, 10000},
        {0, 10, 100, 100, 0, 0},
        {10, 10, 0, 100, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitToRectangle(c.w, c.h, c.W, c.H), QSize(c.ew, c.eh))
            << c.w << "x" << c.h << " into " << c.W << "x" << c.H;
}

TEST_F(TransformTest, FittedFilesHaveTheFittedSize) {
    const struct {
        int w, h, W, H, format;
        const char* identified;
    } cases[] = {
        {400, 200, 100, 100, kSaveJpeg, "JPEG 100 50"}, {200, 400, 100, 100, kSavePng, "PNG 50 100"},
        {50, 50, 100, 100, kSaveGif, "GIF 100 100"},    {300, 300, 100, 100, kSaveBmp, "BMP3 100 100"},
        {333, 200, 160, 100, kSaveJpeg, "JPEG 160 96"}, {333, 200, 160, 100, kSavePng, "PNG 160 96"},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identified);
        ++row;
        const QString source =
            local(QStringLiteral("%1.png").arg(row), EncodePng(makePhotoLike(c.w, c.h, row)));
        const TransformResult r = transform.transform(source, out(QStringLiteral("n%1.png").arg(row)),
                                                      settings(c.format, true, c.W, c.H));
        ASSERT_EQ(r.status, Status::Written) << r.message.toStdString();
        EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%m %w %h")), QString::fromLatin1(c.identified));
    }
}

TEST_F(TransformTest, FittedPixelsComeFromResizeNearest) {
    const Rgb24Image picture = makePhotoLike(400, 200, 9);
    const QString source = local(QStringLiteral("1.bmp"), EncodeBmp(picture));
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("1.bmp")), settings(kSaveOriginal, true));
    ASSERT_EQ(r.status, Status::Written);
    Rgb24Image expected(100, 50);
    ASSERT_TRUE(ResizeNearest(picture, expected));
    const PixelDiff d = comparePixels(colourOf(magickRgba(r.path)), expected);
    ASSERT_TRUE(d.sameSize);
    EXPECT_EQ(d.maxDiff, 0);
}

TEST_F(TransformTest, FormatReplacesTheExtensionOfTheExportName) {
    const QString source = local(QStringLiteral("3.gif"), EncodeGif(makeFewColours(30, 20, 4)));
    const TransformResult r = transform.transform(source, out(QStringLiteral("7.png")), settings(kSaveJpeg));
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_EQ(r.path, out(QStringLiteral("7.jpg")));
    EXPECT_EQ(r.type, QStringLiteral("jpg"));
    EXPECT_FALSE(QFile::exists(out(QStringLiteral("7.png"))));
    EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%m %w %h %Q")), QStringLiteral("JPEG 30 20 90"));
}

TEST_F(TransformTest, OriginalEncodesByTheExportNameKeepingItsCase) {
    const QString source = local(QStringLiteral("4.jpg"), EncodeJpeg(makePhotoLike(40, 30), 60));
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("12.PNG")), settings(kSaveOriginal));
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_EQ(r.path, out(QStringLiteral("12.PNG")));
    EXPECT_EQ(r.type, QStringLiteral("png"));
    EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%m")), QStringLiteral("PNG"));
}

TEST_F(TransformTest, OriginalJpegIsEncodedAgainAtQuality90) {
    const QByteArray original = EncodeJpeg(makePhotoLike(64, 48), 60);
    const QString source = local(QStringLiteral("5.jpg"), original);
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("5.jpg")), settings(kSaveOriginal));
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_NE(readFile(r.path), original);
    EXPECT_EQ(identifyFormat(source, QStringLiteral("%Q")), QStringLiteral("60"));
    EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%Q")), QStringLiteral("90"));
}

TEST(TargetPathForFormat, ExtensionOfTheFileName) {
    const struct {
        const char* target;
        int format;
        const char* expected;
    } cases[] = {
        {"/out/7.png", kSaveJpeg, "/out/7.jpg"},
        {"/out/12.PNG", kSaveOriginal, "/out/12.PNG"},
        {"/out/x.tar.gz", kSaveBmp, "/out/x.tar.bmp"},
        {"/out/a.b/name", kSavePng, "/out/a.b/name.png"}, // dot in the folder only
        {"C:\\out.d\\name", kSaveGif, "C:\\out.d\\name.gif"},
        {"C:\\out\\7.jpg", kSaveGif, "C:\\out\\7.gif"},
        {"/out/.hidden", kSaveJpeg, "/out/.jpg"},
        {"/out/7.png", 5, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TargetPathForFormat(QString::fromLatin1(c.target), c.format),
                  QString::fromLatin1(c.expected))
            << c.target << " " << c.format;
}

TEST_F(TransformTest, NameWithoutDotGetsTheFormatsExtension) {
    const QString source = local(QStringLiteral("6.png"), EncodePng(makePhotoLike(10, 10)));
    const TransformResult r = transform.transform(source, out(QStringLiteral("noname")), settings(kSaveBmp));
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_EQ(r.path, out(QStringLiteral("noname.bmp")));
    EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%m")), QStringLiteral("BMP3"));
}

TEST_F(TransformTest, RowsThatAreSkipped) {
    const QByteArray png = EncodePng(makePhotoLike(10, 10));
    QByteArray zeroWidthBmp = EncodeBmp(makePhotoLike(4, 4));
    std::memset(zeroWidthBmp.data() + 18, 0, 4);
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("folder.png")));
    const struct {
        const char* name;
        QString localPath;
        const char* exportName;
        int format;
        bool unreadable; // a file was named, but it cannot be read
    } cases[] = {
        {"missing local file", work.filePath(QStringLiteral("gone.png")), "a.png", kSaveOriginal, true},
        {"a folder in place of the local file", work.filePath(QStringLiteral("folder.png")), "a.png",
         kSaveOriginal, true},
        {"no local path", QString(), "a.png", kSaveOriginal, false},
        {"local file ending .jpeg", local(QStringLiteral("1.jpeg"), EncodeJpeg(makePhotoLike(10, 10))),
         "b.jpg", kSaveJpeg, false},
        {"local file of unknown type", local("2" + UnknownTypeFileExtension(), png), "c.png", kSavePng,
         false},
        {"export name of another type with Original", local(QStringLiteral("3.png"), png), "d.txt",
         kSaveOriginal, false},
        {"picture of width 0", local(QStringLiteral("4.bmp"), zeroWidthBmp), "e.bmp", kSaveBmp, false},
        {"unknown format", local(QStringLiteral("5.png"), png), "f.png", 9, false},
    };
    for (const auto& c : cases) {
        const TransformResult r =
            transform.transform(c.localPath, out(QString::fromLatin1(c.exportName)), settings(c.format));
        EXPECT_EQ(r.status, Status::Skipped) << c.name;
        EXPECT_FALSE(r.message.isEmpty()) << c.name;
        EXPECT_EQ(r.unreadable, c.unreadable) << c.name;
    }
    EXPECT_TRUE(QDir(target.path()).isEmpty());
}

TEST_F(TransformTest, RowsThatFail) {
    const QString broken = local(QStringLiteral("1.png"), QByteArray("\x89PNG\r\n\x1a\n garbage", 17));
    TransformResult r = transform.transform(broken, out(QStringLiteral("1.png")), settings(kSaveOriginal));
    EXPECT_EQ(r.status, Status::Failed);
    EXPECT_FALSE(r.unreadable); // read whole, only not decodable
    EXPECT_FALSE(QFile::exists(out(QStringLiteral("1.png"))));

#ifdef __linux__
    // A file that opens but cannot be read (reading this process's memory from its start fails).
    const QString unreadable = work.filePath(QStringLiteral("mem.png"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), unreadable));
    r = transform.transform(unreadable, out(QStringLiteral("mem.png")), settings(kSaveOriginal));
    EXPECT_EQ(r.status, Status::Failed);
    EXPECT_TRUE(r.unreadable) << r.message.toStdString();
#endif

    const QString good = local(QStringLiteral("2.png"), EncodePng(makePhotoLike(10, 10)));
    r = transform.transform(good, target.filePath(QStringLiteral("no/such/folder/2.png")),
                            settings(kSaveOriginal));
    EXPECT_EQ(r.status, Status::Failed);
    EXPECT_FALSE(r.message.isEmpty());

    // The next row works again with the same working pictures.
    r = transform.transform(good, out(QStringLiteral("2.png")), settings(kSavePng));
    EXPECT_EQ(r.status, Status::Written);
}

TEST_F(TransformTest, ExistingTargetIsReplaced) {
    writeFile(out(QStringLiteral("8.gif")), QByteArray(50000, 'z'));
    const QString source = local(QStringLiteral("8.bmp"), EncodeBmp(makeFewColours(16, 8, 3)));
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("8.gif")), settings(kSaveOriginal));
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%m %w %h")), QStringLiteral("GIF 16 8"));
    EXPECT_LT(QFile(r.path).size(), 50000);
}

TEST_F(TransformTest, FittedSideOfZeroBecomesOnePixel) {
    const QString source = local(QStringLiteral("9.png"), EncodePng(makePhotoLike(1000, 5)));
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("9.png")), settings(kSavePng, true, 10, 10));
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_FALSE(r.message.isEmpty());
    EXPECT_EQ(identifyFormat(r.path, QStringLiteral("%w %h")), QStringLiteral("10 1"));
}

TEST_F(TransformTest, AnimatedGifIsWrittenAsItsFirstFrame) {
    const QString source = work.filePath(QStringLiteral("10.gif"));
    runMagick(QStringLiteral("convert"),
              {QStringLiteral("-delay"), QStringLiteral("10"), QStringLiteral("-size"), QStringLiteral("8x6"),
               QStringLiteral("xc:#ff0000"), QStringLiteral("-size"), QStringLiteral("8x6"),
               QStringLiteral("xc:#0000ff"), source});
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("10.bmp")), settings(kSaveOriginal));
    ASSERT_EQ(r.status, Status::Written);
    const Rgb24Image written = colourOf(magickRgba(r.path));
    ASSERT_EQ(written.width, 8);
    EXPECT_EQ(written.pixels[0], 255);
    EXPECT_EQ(written.pixels[2], 0);
}

TEST_F(TransformTest, UpperCaseLocalExtensionIsDecoded) {
    const QString source = local(QStringLiteral("11.JPG"), EncodeJpeg(makePhotoLike(12, 9)));
    const TransformResult r =
        transform.transform(source, out(QStringLiteral("11.jpg")), settings(kSaveOriginal));
    EXPECT_EQ(r.status, Status::Written);
}

TEST_F(TransformTest, BytesInsteadOfAFile) {
    const QString source = local(QStringLiteral("12.png"), EncodePng(makePhotoLike(80, 40)));
    QByteArray bytes;
    const TransformResult r =
        transform.transformToBytes(source, out(QStringLiteral("12.png")), settings(kSaveGif, true), bytes);
    ASSERT_EQ(r.status, Status::Written);
    EXPECT_EQ(r.type, QStringLiteral("gif"));
    EXPECT_EQ(r.path, out(QStringLiteral("12.gif")));
    EXPECT_FALSE(QFile::exists(r.path));
    const Rgb24Image decoded = DecodePicture(bytes, PictureKind::Gif);
    EXPECT_EQ(decoded.width, 100);
    EXPECT_EQ(decoded.height, 50);
}

TEST_F(TransformTest, WorkingPicturesAreReusedAcrossRows) {
    const QString big = local(QStringLiteral("13.bmp"), EncodeBmp(makePhotoLike(300, 200)));
    const QString small = local(QStringLiteral("14.bmp"), EncodeBmp(makePhotoLike(30, 20)));
    ASSERT_EQ(transform.transform(big, out(QStringLiteral("13.bmp")), settings(kSaveOriginal)).status,
              Status::Written);
    const std::uint8_t* storage = transform.decodedPicture().pixels.data();
    ASSERT_EQ(transform.transform(small, out(QStringLiteral("14.bmp")), settings(kSaveOriginal)).status,
              Status::Written);
    EXPECT_EQ(transform.decodedPicture().pixels.data(), storage);
    EXPECT_EQ(transform.decodedPicture().width, 30);
}

} // namespace
