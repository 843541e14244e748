// The perceptual hash: the same scene scaled and encoded again by ImageMagick hashes within the
// default distance of the original, unrelated scenes hash far apart, the hash taken while a
// picture streams through its decoder is the hash of the whole decoded picture, and an SVG's
// hash is near its raster copies'.
#include "pictures/perceptual_hash.h"
#include "pictures/picture_measure.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

using namespace skarvel;
using test::encodeJpegWith;
using test::makePng;
using test::makeScene;

namespace {

constexpr int kDefaultDistance = 4;

// The picture ImageMagick makes of `picture` with the given options, read back by our decoders.
Rgb24Image ThroughMagick(const QTemporaryDir& dir, const Rgb24Image& picture, const QStringList& options,
                         const QString& extension) {
    const QString in = dir.filePath(QStringLiteral("in.png"));
    const QString out = dir.filePath(QStringLiteral("out.") + extension);
    test::writeFile(in, EncodePng(picture, 1));
    test::runMagick(QStringLiteral("convert"), QStringList{in} + options + QStringList{out});
    return DecodePictureFile(out, *KindFromLastFour(out, true));
}

TEST(PerceptualHash, TheSameSceneScaledOrEncodedAgainStaysNear) {
    struct Variant {
        const char* name;
        QStringList options;
        const char* extension;
    };
    const Variant variants[] = {
        {"half size", {"-resize", "50%"}, "png"},
        {"a quarter", {"-resize", "25%"}, "png"},
        {"twice the size", {"-resize", "200%"}, "png"},
        {"JPEG quality 50", {"-quality", "50"}, "jpg"},
        {"60 % as JPEG quality 95", {"-resize", "60%", "-quality", "95"}, "jpg"},
        {"a third as JPEG quality 60", {"-resize", "33%", "-quality", "60"}, "jpg"},
        {"GIF of 256 colours", {}, "gif"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int worst = 0;
    for (const auto& [w, h, seed] : {std::tuple{480, 360, 1u}, std::tuple{360, 480, 2u},
                                     std::tuple{500, 500, 3u}, std::tuple{640, 360, 4u}}) {
        const Rgb24Image original = makeScene(w, h, seed);
        const std::uint64_t hash = PerceptualHash(original);
        for (const Variant& v : variants) {
            const Rgb24Image copy = ThroughMagick(dir, original, v.options, QString::fromLatin1(v.extension));
            const int distance = HammingDistance(hash, PerceptualHash(copy));
            EXPECT_LE(distance, kDefaultDistance) << v.name << " of scene " << seed;
            worst = std::max(worst, distance);
        }
        // Through WebP and back, as a picture saved by one site and served as JPEG by another.
        const QString webp = dir.filePath(QStringLiteral("copy.webp"));
        test::writeFile(dir.filePath(QStringLiteral("in.png")), EncodePng(original, 1));
        test::runMagick(QStringLiteral("convert"),
                        {dir.filePath(QStringLiteral("in.png")), "-resize", "70%", "-quality", "60", webp});
        const Rgb24Image fromWebp = ThroughMagick(dir, test::colourOf(test::magickRgba(webp)),
                                                  {"-quality", "80"}, QStringLiteral("jpg"));
        EXPECT_LE(HammingDistance(hash, PerceptualHash(fromWebp)), kDefaultDistance)
            << "WebP at 70 % of scene " << seed;
        // The program's own thumbnail scaler picks single pixels; the area average still matches.
        Rgb24Image quarter(w / 4, h / 4);
        ASSERT_TRUE(ResizeNearest(original, quarter));
        EXPECT_LE(HammingDistance(hash, PerceptualHash(quarter)), kDefaultDistance)
            << "nearest-neighbour quarter of scene " << seed;
    }
    RecordProperty("worst_distance", worst);
}

TEST(PerceptualHash, UnrelatedScenesAreFarApart) {
    std::vector<std::uint64_t> hashes;
    for (std::uint32_t seed = 100; seed < 160; ++seed)
        hashes.push_back(PerceptualHash(makeScene(160, 120, seed)));
    int nearest = 64;
    for (size_t a = 0; a < hashes.size(); ++a)
        for (size_t b = a + 1; b < hashes.size(); ++b)
            nearest = std::min(nearest, HammingDistance(hashes[a], hashes[b]));
    EXPECT_GT(nearest, 2 * kDefaultDistance);
}

TEST(PerceptualHash, TakenAsThePictureStreamsItIsTheHashOfTheWholeDecode) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Rgb24Image scene = makeScene(203, 151, 7);
    const QString png = dir.filePath(QStringLiteral("scene.png"));
    test::writeFile(png, EncodePng(scene));
    const auto magick = [&](const QStringList& options, const QString& name) {
        const QString out = dir.filePath(name);
        test::runMagick(QStringLiteral("convert"), QStringList{png} + options + QStringList{out});
        return test::readFile(out);
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        PictureKind kind;
    };
    std::vector<Case> cases = {
        {"PNG", EncodePng(scene), PictureKind::Png},
        {"interlaced PNG (seven sparse passes)", magick({"-interlace", "PNG"}, "i.png"), PictureKind::Png},
        {"PNG with alpha", makePng(37, 29, 6, 8, false, false, 5), PictureKind::Png},
        {"JPEG", EncodeJpeg(scene, 85), PictureKind::Jpeg},
        {"progressive JPEG", encodeJpegWith(scene, false, true), PictureKind::Jpeg},
        {"BMP", EncodeBmp(scene), PictureKind::Bmp},
        {"GIF", EncodeGif(scene), PictureKind::Gif},
        {"GIF frame smaller than its screen (the rest is background)",
         magick({"-page", "260x190+30+20"}, "page.gif"), PictureKind::Gif},
        {"interlaced GIF", magick({"-interlace", "GIF"}, "i.gif"), PictureKind::Gif},
        {"1 x 1", EncodePng(makeScene(1, 1, 8)), PictureKind::Png},
        {"narrower than the 32 cells", EncodePng(makeScene(7, 300, 9)), PictureKind::Png},
    };
    // Decoded whole by their libraries, then handed out row by row.
    if (PictureKindBuilt(PictureKind::Webp)) {
        cases.push_back({"WebP", EncodeWebp(scene, 80), PictureKind::Webp});
        cases.push_back({"WebP with alpha",
                         magick({"-alpha", "set", "-channel", "A", "-evaluate", "set", "60%"}, "alpha.webp"),
                         PictureKind::Webp});
    }
    if (PictureKindBuilt(PictureKind::Avif))
        cases.push_back({"AVIF", EncodeAvif(scene), PictureKind::Avif});
    for (const Case& c : cases) {
        ASSERT_FALSE(c.bytes.isEmpty()) << c.name;
        const Rgb24Image whole = DecodePicture(c.bytes, c.kind);
        const std::uint64_t expected = PerceptualHash(whole);
        const PictureMeasure measured = MeasurePicture(c.bytes, c.kind, 100, HashPixels::Yes);
        ASSERT_TRUE(measured.perceptualHash.has_value()) << c.name;
        EXPECT_EQ(*measured.perceptualHash, expected) << c.name;
        EXPECT_EQ(measured.width, whole.width) << c.name;
        const PictureHash hashed = HashPicture(c.bytes, c.kind);
        EXPECT_EQ(hashed.perceptualHash, expected) << c.name;
        EXPECT_EQ(hashed.width, whole.width) << c.name;
        EXPECT_EQ(hashed.height, whole.height) << c.name;
    }
    EXPECT_FALSE(MeasurePicture(EncodePng(scene), PictureKind::Png).perceptualHash.has_value())
        << "hashing is asked for, not done by every measure";
    EXPECT_THROW(HashPicture(QByteArray("not a picture"), PictureKind::Png), PictureError);
}

// An SVG is hashed from a drawing of its own, so the copies a site makes of it (drawn at full size,
// then scaled and encoded) hash near it.
TEST(PerceptualHash, ADrawingHashesNearItsRasterCopies) {
    if (!PictureKindBuilt(PictureKind::Svg))
        GTEST_SKIP() << "built without SVG";
    for (const auto& [w, h, seed] :
         {std::tuple{400, 300, 31u}, std::tuple{300, 450, 32u}, std::tuple{640, 360, 33u}}) {
        const QByteArray svg = test::makeSvgScene(w, h, seed);
        const PictureMeasure measured = MeasurePicture(svg, PictureKind::Svg, 100, HashPixels::Yes);
        EXPECT_EQ(measured.width, w);
        EXPECT_EQ(measured.height, h);
        ASSERT_TRUE(measured.perceptualHash.has_value());
        EXPECT_FALSE(MeasurePicture(svg, PictureKind::Svg).perceptualHash.has_value());
        // The job's hash of a row that lacks one is the download's.
        const PictureHash hashed = HashPicture(svg, PictureKind::Svg);
        EXPECT_EQ(hashed.perceptualHash, *measured.perceptualHash);
        EXPECT_EQ(hashed.width, w);
        EXPECT_EQ(hashed.height, h);

        const Rgb24Image drawn = DecodePicture(svg, PictureKind::Svg);
        Rgb24Image half(w / 2, h / 2);
        ASSERT_TRUE(ResizeNearest(drawn, half));
        struct Copy {
            const char* name;
            QByteArray bytes;
            PictureKind kind;
        };
        std::vector<Copy> copies = {
            {"PNG at full size", EncodePng(drawn), PictureKind::Png},
            {"JPEG at half size", EncodeJpeg(half, 75), PictureKind::Jpeg},
        };
        if (PictureKindBuilt(PictureKind::Webp))
            copies.push_back({"WebP at full size", EncodeWebp(drawn, 70), PictureKind::Webp});
        for (const Copy& c : copies)
            EXPECT_LE(
                HammingDistance(*measured.perceptualHash, PerceptualHash(DecodePicture(c.bytes, c.kind))),
                kDefaultDistance)
                << c.name << " of drawing " << seed;
        const std::uint64_t other =
            HashPicture(test::makeSvgScene(w, h, seed + 10), PictureKind::Svg).perceptualHash;
        EXPECT_GT(HammingDistance(*measured.perceptualHash, other), 2 * kDefaultDistance)
            << "drawing " << seed;
    }
}

TEST(PerceptualHash, WholeRowsAndPixelsHandedOutOneByOneGiveTheSameHash) {
    for (const auto& [w, h] : {std::pair{32, 32}, std::pair{33, 20}, std::pair{47, 90}, std::pair{64, 48},
                               std::pair{97, 31}, std::pair{1000, 7}, std::pair{5, 5}}) {
        const Rgb24Image picture = makeScene(w, h, std::uint32_t(w * h));
        static constexpr std::uint8_t kGrey[3] = {90, 90, 90};
        PerceptualHasher whole, pixels;
        whole.begin(w, h, kGrey);
        pixels.begin(w, h, kGrey);
        for (int y = 0; y < h; ++y) {
            whole.addRow(y, picture.row(y));
            // Odd columns, then even ones, as an interlaced pass would hand them out.
            std::vector<std::uint8_t> odd, even;
            for (int x = 0; x < w; ++x)
                (x % 2 ? odd : even)
                    .insert((x % 2 ? odd : even).end(), picture.pixel(x, y), picture.pixel(x, y) + 3);
            pixels.addPixels(y, 1, 2, w / 2, odd.data());
            pixels.addPixels(y, 0, 2, (w + 1) / 2, even.data());
        }
        EXPECT_EQ(whole.hash(), pixels.hash()) << w << " x " << h;
        EXPECT_EQ(whole.hash(), PerceptualHash(picture)) << w << " x " << h;
    }
}

TEST(PerceptualHash, MeasuringAFileGivesItsBytesHashToo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("a.jpg"));
    const QByteArray bytes = EncodeJpeg(makeScene(120, 90, 11), 90);
    test::writeFile(path, bytes);
    PictureMeasure m;
    QString error;
    ASSERT_TRUE(MeasurePictureFile(path, PictureKind::Jpeg, m, &error)) << error.toStdString();
    EXPECT_EQ(m.sha256.toHex().toStdString(),
              QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString());
    ASSERT_TRUE(m.perceptualHash.has_value());
    EXPECT_EQ(*m.perceptualHash, PerceptualHash(DecodePicture(bytes, PictureKind::Jpeg)));
}

TEST(PerceptualHash, AspectRatiosAtMostTwoPercentApartAreTheSame) {
    struct Case {
        int w1, h1, w2, h2;
        bool same;
    };
    const Case cases[] = {
        {640, 480, 320, 240, true},  {640, 480, 161, 121, true}, // rounding of a quarter size
        {100, 100, 102, 100, true},  {100, 100, 103, 100, false}, {100, 102, 100, 100, true},
        {640, 480, 480, 640, false}, {1, 1000, 1, 1000, true},    {0, 10, 0, 10, false},
        {65535, 1, 65535, 1, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SameAspect(c.w1, c.h1, c.w2, c.h2), c.same)
            << c.w1 << "x" << c.h1 << " against " << c.w2 << "x" << c.h2;
}

} // namespace
