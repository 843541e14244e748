// The transform decodes into working storage that it keeps from row to row without clearing
// it: pixels that a decoder never delivers must still come out as a plain decode gives them,
// never as what the previous row left there.
#include "pictures/picture_codecs.h"
#include "pictures/picture_transform.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

using namespace skarvel;
using namespace skarvel::test;

namespace {

// Our GIF with a logical screen larger than its frame: the area outside the frame is never
// delivered by the decoder and shows the background.
QByteArray gifFrameOnLargerScreen() {
    QByteArray gif = EncodeGif(makeFewColours(20, 10, 5));
    gif[6] = 35;
    gif[7] = 0;
    gif[8] = 24;
    gif[9] = 0;
    return gif;
}

TEST(TransformStorage, PixelsNoDecoderDeliversComeOutAsAPlainDecodeGivesThem) {
    const struct {
        const char* name;
        QByteArray bytes;
        const char* extension;
        PictureKind kind;
    } cases[] = {
        {"GIF frame smaller than its screen", gifFrameOnLargerScreen(), "gif", PictureKind::Gif},
        {"interlaced PNG", makePng(33, 21, 2, 8, true, false, 4), "png", PictureKind::Png},
        {"JPEG", EncodeJpeg(makePhotoLike(41, 27, 5)), "jpg", PictureKind::Jpeg},
        {"bottom-up BMP", EncodeBmp(makePhotoLike(29, 31, 6)), "bmp", PictureKind::Bmp},
        {"top-down BMP", bmpToTopDown(EncodeBmp(makePhotoLike(29, 31, 7))), "bmp", PictureKind::Bmp},
    };
    QTemporaryDir dir;
    // Larger than every case, so its noise sits under all of their pixels.
    const QString noise = dir.filePath(QStringLiteral("noise.bmp"));
    writeFile(noise, EncodeBmp(makePhotoLike(90, 70, 11)));
    PictureTransform transform;
    for (const auto& c : cases) {
        for (const bool fit : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (fit ? ", fitted" : ""));
            const QString source = dir.filePath(QStringLiteral("s.") + QLatin1String(c.extension));
            writeFile(source, c.bytes);
            const TransformSettings settings{.width = 57, .height = 19, .fit = fit, .format = kSaveBmp};
            QByteArray bytes;
            ASSERT_EQ(
                transform.transformToBytes(noise, dir.filePath(QStringLiteral("n")), settings, bytes).status,
                TransformResult::Status::Written);
            const TransformResult r =
                transform.transformToBytes(source, dir.filePath(QStringLiteral("t")), settings, bytes);
            ASSERT_EQ(r.status, TransformResult::Status::Written) << r.message.toStdString();

            Rgb24Image expected = DecodePicture(c.bytes, c.kind);
            if (fit) {
                const QSize size =
                    FitToRectangle(expected.width, expected.height, settings.width, settings.height);
                Rgb24Image scaled(size.width(), size.height());
                ASSERT_TRUE(ResizeNearest(expected, scaled));
                expected = scaled;
            }
            const PixelDiff d = comparePixels(DecodePicture(bytes, PictureKind::Bmp), expected);
            ASSERT_TRUE(d.sameSize);
            EXPECT_EQ(d.maxDiff, 0);
        }
    }
    // The GIF case only tests the fill if its screen really is larger than its frame.
    const Rgb24Image gif = DecodePicture(gifFrameOnLargerScreen(), PictureKind::Gif);
    EXPECT_EQ(gif.width, 35);
    EXPECT_EQ(gif.height, 24);
}

TEST(TransformStorage, AFailedDecodeLeavesNothingForTheNextRow) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.png"));
    writeFile(good, EncodePng(makePhotoLike(30, 20, 3)));
    const QString cut = dir.filePath(QStringLiteral("cut.png"));
    QByteArray cutBytes = EncodePng(makePhotoLike(60, 40, 4));
    cutBytes.truncate(cutBytes.size() / 2);
    writeFile(cut, cutBytes);
    TransformSettings settings;
    settings.format = kSaveBmp;
    PictureTransform transform;
    QByteArray bytes;
    EXPECT_EQ(transform.transformToBytes(cut, dir.filePath(QStringLiteral("a")), settings, bytes).status,
              TransformResult::Status::Failed);
    EXPECT_TRUE(bytes.isEmpty());
    EXPECT_EQ(transform.decodedPicture().width, 0);
    ASSERT_EQ(transform.transformToBytes(good, dir.filePath(QStringLiteral("b")), settings, bytes).status,
              TransformResult::Status::Written);
    const PixelDiff d = comparePixels(DecodePicture(bytes, PictureKind::Bmp), makePhotoLike(30, 20, 3));
    ASSERT_TRUE(d.sameSize);
    EXPECT_EQ(d.maxDiff, 0);
}

} // namespace
