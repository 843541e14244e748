// The thumbnail made while a downloaded picture is measured, handed to the thumbnail cache:
// the grid then draws it without decoding the file again.
#include "gui/thumbnail_cache.h"
#include "pictures/picture_measure.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace skarvel;
using namespace skarvel::test;

TEST(ThumbnailHandover, EveryPictureIsDecodedOnceForSizeAndThumbnail) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        paths << dir.filePath(QStringLiteral("%1.jpg").arg(i + 1));
        writeFile(paths.back(),
                  EncodeJpeg(makePhotoLike(300 + 50 * i, 200 + 30 * i, static_cast<std::uint32_t>(i)), 90));
    }

    ThumbnailCache cache;
    const std::uint64_t before = PictureDecodeCount();
    for (const QString& path : paths) {
        PictureMeasure measured;
        ASSERT_TRUE(MeasurePictureFile(path, PictureKind::Jpeg, measured));
        cache.put(path, PictureKind::Jpeg, measured);
    }
    for (const QString& path : paths)
        EXPECT_NE(cache.find(path, PictureKind::Jpeg), nullptr) << path.toStdString();
    EXPECT_EQ(cache.pendingCount(), 0);
    EXPECT_EQ(PictureDecodeCount() - before, static_cast<std::uint64_t>(paths.size()));

    // The same pixels as a thumbnail made from the whole picture.
    const Thumbnail expected = ThumbnailOf(DecodePictureFile(paths[2], PictureKind::Jpeg));
    const Thumbnail* handed = cache.find(paths[2], PictureKind::Jpeg);
    ASSERT_NE(handed, nullptr);
    EXPECT_EQ(handed->placement, expected.placement);
    EXPECT_EQ(handed->pixels, expected.pixels);

    // A file replaced after it was measured is decoded again, not drawn from the handover.
    QThread::msleep(20);
    writeFile(paths[0], EncodeJpeg(makePhotoLike(80, 160, 99), 90));
    EXPECT_EQ(cache.find(paths[0], PictureKind::Jpeg), nullptr);
    cache.waitForIdle();
    const Thumbnail* fresh = cache.find(paths[0], PictureKind::Jpeg);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->placement, ComputeThumbnail(80, 160));
}
