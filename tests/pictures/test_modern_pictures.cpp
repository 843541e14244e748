// WebP, AVIF and SVG: known by their extensions only with the modern types on, decoded as
// ImageMagick decodes them, measured (animations by their canvas, SVG by its width and height or
// viewBox), refused when hostile, and saved by the picture transform.
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"
#include "pictures/picture_svg.h"
#include "pictures/picture_thumbnail.h"
#include "pictures/picture_transform.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/host_tool.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

#ifdef SKARVEL_HAVE_SVG
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

using namespace skarvel;
using namespace skarvel::test;

namespace {

QByteArray fixture(const char* name) {
    return readFile(fixturePath(QStringLiteral("modern/") + QLatin1String(name)));
}

QByteArray svg(const QString& attributes,
               const QString& body = QStringLiteral(R"(<rect width="4" height="4"/>)")) {
    return (QStringLiteral(
                R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )") +
            attributes + u'>' + body + QStringLiteral("</svg>"))
        .toUtf8();
}

#define SKIP_UNLESS_BUILT(kind)                                                                              \
    if (!PictureKindBuilt(kind))                                                                             \
    GTEST_SKIP() << "built without " << KindExtension(kind).toStdString()

void putBe32(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// The AVIF with the size its container declares (the 'ispe' property) set to w x h.
QByteArray avifClaiming(QByteArray avif, std::uint32_t w, std::uint32_t h) {
    const qsizetype ispe = avif.indexOf("ispe");
    if (ispe < 0)
        return {};
    putBe32(avif, ispe + 8, w);
    putBe32(avif, ispe + 12, h);
    return avif;
}

// A lossless WebP (a plain VP8L file) whose bitstream header says w x h.
QByteArray losslessWebpClaiming(std::uint32_t w, std::uint32_t h) {
    QByteArray webp = fixture("alpha.webp");
    if (webp.mid(12, 4) != "VP8L" || static_cast<std::uint8_t>(webp[20]) != 0x2f)
        return {};
    const std::uint32_t bits = (w - 1) | ((h - 1) << 14) | (1u << 28);
    for (int i = 0; i < 4; ++i)
        webp[21 + i] = static_cast<char>(bits >> (8 * i));
    return webp;
}

// A lossy WebP of 8 x 8 whose key frame header says w x h.
QByteArray lossyWebpClaiming(std::uint16_t w, std::uint16_t h) {
    QByteArray webp = EncodeWebp(makePhotoLike(8, 8));
    const qsizetype start = webp.indexOf(QByteArray("\x9d\x01\x2a", 3));
    if (webp.mid(12, 4) != "VP8 " || start < 0)
        return {};
    webp[start + 3] = static_cast<char>(w & 0xff);
    webp[start + 4] = static_cast<char>(w >> 8);
    webp[start + 5] = static_cast<char>(h & 0xff);
    webp[start + 6] = static_cast<char>(h >> 8);
    return webp;
}

// The animated fixture with its canvas (VP8X) grown to w x h.
QByteArray animatedWebpOnCanvas(std::uint32_t w, std::uint32_t h) {
    QByteArray webp = fixture("anim.webp");
    const qsizetype vp8x = webp.indexOf("VP8X");
    if (vp8x < 0)
        return {};
    for (int i = 0; i < 3; ++i) {
        webp[vp8x + 12 + i] = static_cast<char>((w - 1) >> (8 * i));
        webp[vp8x + 15 + i] = static_cast<char>((h - 1) >> (8 * i));
    }
    return webp;
}

QString laughs() {
    QString doc = QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n<!ENTITY l0 \"lollollollol\">\n");
    for (int i = 1; i < 10; ++i)
        doc += QStringLiteral("<!ENTITY l%1 \"%2\">\n")
                   .arg(i)
                   .arg(QStringLiteral("&l%1;").arg(i - 1).repeated(10));
    return doc + QStringLiteral("]>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
                                "<text y=\"5\">&l9;</text></svg>");
}

// One entity of 4000 characters used 30 000 times: 120 MB of text from a 90 kB file.
QString quadraticBlowup() {
    return QStringLiteral("<!DOCTYPE svg [<!ENTITY a \"%1\">]>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                          "width=\"10\" height=\"10\"><text y=\"5\">%2</text></svg>")
        .arg(QString(4000, u'A'), QStringLiteral("&a;").repeated(30000));
}

QString nested(int depth) {
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">") +
           QStringLiteral("<g>").repeated(depth) + QStringLiteral("<rect width=\"4\" height=\"4\"/>") +
           QStringLiteral("</g>").repeated(depth) + QStringLiteral("</svg>");
}

struct Hostile {
    const char* name;
    PictureKind kind;
    std::function<QByteArray()> bytes;
    const char* reason; // part of the error; nullptr: may also be drawn, within the limits
};

// Starts this process's peak resident set (VmHWM) again from its present size.
void resetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

TEST(ModernPictureTypes, KnownByTheirExtensionOnlyWhenModernTypesAreOn) {
    const struct {
        const char* path;
        bool caseSensitive;
        PictureTypes types;
        std::optional<PictureKind> kind;
    } cases[] = {
        {"1.webp", true, PictureTypes::Classic, std::nullopt},
        {"1.avif", true, PictureTypes::Classic, std::nullopt},
        {"1.svg", true, PictureTypes::Classic, std::nullopt},
        {"1.jpg", true, PictureTypes::Classic, PictureKind::Jpeg},
        {"1.webp", true, PictureTypes::Modern, PictureKind::Webp},
        {"1.avif", true, PictureTypes::Modern, PictureKind::Avif},
        {"1.svg", true, PictureTypes::Modern, PictureKind::Svg},
        {"1.png", true, PictureTypes::Modern, PictureKind::Png},
        {"1.WEBP", true, PictureTypes::Modern, std::nullopt},
        {"1.WEBP", false, PictureTypes::Modern, PictureKind::Webp},
        {"1.Svg", false, PictureTypes::Modern, PictureKind::Svg},
        {"1.svgz", true, PictureTypes::Modern, std::nullopt},
        {"1.???", true, PictureTypes::Modern, std::nullopt},
        {"webp", true, PictureTypes::Modern, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::optional<PictureKind> expected = c.kind;
        if (expected && !PictureKindBuilt(*expected))
            expected.reset(); // a type whose backend was left out stays unknown
        EXPECT_EQ(KindFromPath(QString::fromLatin1(c.path), c.caseSensitive, c.types), expected);
    }
}

namespace {

// Gradients without fine detail, where 4:2:0 chroma leaves little for two readers to differ on.
Rgb24Image smooth(int w, int h) {
    Rgb24Image picture(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = picture.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
            p[2] = static_cast<std::uint8_t>(128 + (x - y) / 4);
        }
    return picture;
}

// The first frame of path as avifdec (libavif's own tool) writes it, 8 bits per sample.
RgbaPicture avifdecRgba(const QString& path, const QTemporaryDir& dir) {
    const QString png = dir.filePath(QStringLiteral("avifdec.png"));
    const bool ok =
        runHostTool(QStringLiteral("avifdec"), {QStringLiteral("-d"), QStringLiteral("8"), path, png}, 60000)
            .ok();
    if (!ok) {
        ADD_FAILURE() << "avifdec (libavif-bin) failed on " << path.toStdString();
        return {};
    }
    return magickRgba(png);
}

} // namespace

// ImageMagick decodes WebP with libwebp and AVIF with libheif and dav1d: an independent reader,
// which rounds its YUV conversion and upsamples chroma its own way. avifdec converts as libavif
// does, so it checks to the level what this program makes of libavif's picture (alpha, turns).
TEST(ModernPictureTypes, DecodeAsImageMagickAndAvifdecDo) {
    const struct {
        const char* name;
        PictureKind kind;
        std::function<QByteArray()> bytes;
        bool blend;        // the references keep alpha; ours is blended onto black
        int magickMaxDiff; // -1: ImageMagick drops the alpha of this file, so it is no reference
        double magickMeanDiff;
        bool avifdec = true; // avifdec writes the picture as stored, not turned
    } cases[] = {
        {"lossy WebP of 161 x 97", PictureKind::Webp, [] { return EncodeWebp(makePhotoLike(161, 97, 4)); },
         false, 0, 0},
        {"lossless WebP with alpha", PictureKind::Webp, [] { return fixture("alpha.webp"); }, true, 1, 0.5},
        {"AVIF of 161 x 97", PictureKind::Avif, [] { return EncodeAvif(smooth(161, 97)); }, false, 6, 1.5},
        {"10-bit AVIF", PictureKind::Avif, [] { return fixture("ten-bit.avif"); }, false, 6, 1.5},
        {"AVIF turned a quarter and mirrored", PictureKind::Avif, [] { return fixture("turned.avif"); },
         false, 16, 3, false},
        {"AVIF with alpha", PictureKind::Avif, [] { return fixture("alpha.avif"); }, true, -1, 0},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!PictureKindBuilt(c.kind))
            continue;
        const QByteArray bytes = c.bytes();
        ASSERT_FALSE(bytes.isEmpty());
        const QString path = dir.filePath(QStringLiteral("p.") + KindExtension(c.kind));
        writeFile(path, bytes);
        Rgb24Image ours;
        ASSERT_NO_THROW(DecodePicture(bytes, c.kind, ours));
        if (c.magickMaxDiff >= 0) {
            const RgbaPicture magick = magickRgba(path);
            const PixelDiff d = comparePixels(ours, c.blend ? blendedOntoBlack(magick) : colourOf(magick));
            ASSERT_TRUE(d.sameSize) << ours.width << " x " << ours.height;
            EXPECT_LE(d.maxDiff, c.magickMaxDiff);
            EXPECT_LE(d.meanDiff, c.magickMeanDiff);
        }
        if (c.kind == PictureKind::Avif && c.avifdec) {
            const RgbaPicture avifdec = avifdecRgba(path, dir);
            const PixelDiff d = comparePixels(ours, c.blend ? blendedOntoBlack(avifdec) : colourOf(avifdec));
            ASSERT_TRUE(d.sameSize) << ours.width << " x " << ours.height;
            EXPECT_LE(d.maxDiff, 1);
        }
        // Measuring gives the same size and the thumbnail of the whole decode.
        const PictureMeasure m = MeasurePicture(bytes, c.kind);
        EXPECT_EQ(m.width, ours.width);
        EXPECT_EQ(m.height, ours.height);
        EXPECT_EQ(m.thumbnail.pixels, MakeThumbnail(ours).pixels);
        EXPECT_EQ(m.placement, ComputeThumbnail(ours.width, ours.height));
    }
}

TEST(ModernPictureTypes, AnAnimationIsMeasuredByItsCanvasAndShowsItsFirstFrame) {
    SKIP_UNLESS_BUILT(PictureKind::Webp);
    // The first frame is red, 20 x 10 at (10, 6), on a canvas of 40 x 30; the second is blue, whole.
    const Rgb24Image webp = DecodePicture(fixture("anim.webp"), PictureKind::Webp);
    ASSERT_EQ(webp.width, 40);
    ASSERT_EQ(webp.height, 30);
    const std::uint8_t red[3] = {0xdc, 0x1e, 0x1e}, black[3] = {0, 0, 0};
    EXPECT_EQ(std::memcmp(webp.pixel(10, 6), red, 3), 0);
    EXPECT_EQ(std::memcmp(webp.pixel(29, 15), red, 3), 0);
    EXPECT_EQ(std::memcmp(webp.pixel(9, 6), black, 3), 0);
    EXPECT_EQ(std::memcmp(webp.pixel(39, 29), black, 3), 0);
    const PictureMeasure m = MeasurePicture(fixture("anim.webp"), PictureKind::Webp);
    EXPECT_EQ(m.width, 40);
    EXPECT_EQ(m.height, 30);

    if (PictureKindBuilt(PictureKind::Avif)) {
        int w = 0, h = 0;
        QTemporaryDir dir;
        writeFile(dir.filePath("a.avif"), fixture("anim.avif"));
        ASSERT_TRUE(ReadPictureSize(dir.filePath("a.avif"), PictureKind::Avif, w, h));
        EXPECT_EQ(w, 32);
        EXPECT_EQ(h, 24);
    }
}

TEST(ModernPictureTypes, AnSvgMeasuresItsWidthAndHeightInCssPixelsElseItsViewBox) {
    SKIP_UNLESS_BUILT(PictureKind::Svg);
    const struct {
        const char* name;
        QString attributes;
        int width, height; // -1: refused
    } cases[] = {
        {"pixels", QStringLiteral(R"(width="120" height="80")"), 120, 80},
        {"pixels with a unit", QStringLiteral(R"(width="120px" height="80px")"), 120, 80},
        {"inches, centimetres, points", QStringLiteral(R"(width="1in" height="2.54cm")"), 96, 96},
        {"points and picas", QStringLiteral(R"(width="72pt" height="3pc")"), 96, 48},
        {"fractions round up", QStringLiteral(R"(width="10.2" height="10.9")"), 11, 11},
        {"a size beats the viewBox", QStringLiteral(R"(width="50" height="40" viewBox="0 0 500 400")"), 50,
         40},
        {"viewBox only", QStringLiteral(R"(viewBox="0 0 300 150")"), 300, 150},
        {"percentages take the viewBox", QStringLiteral(R"(width="100%" height="100%" viewBox="0 0 64 48")"),
         64, 48},
        {"width and a viewBox", QStringLiteral(R"(width="200" viewBox="0 0 100 50")"), 200, 100},
        {"height and a viewBox", QStringLiteral(R"(height="30" viewBox="0 0 100 50")"), 60, 30},
        {"neither a size nor a viewBox", QString(), -1, -1},
        {"zero width", QStringLiteral(R"(width="0" height="10")"), 0, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = svg(c.attributes);
        if (c.width < 0) {
            EXPECT_THROW(MeasurePicture(bytes, PictureKind::Svg), PictureError);
            continue;
        }
        const PictureMeasure m = MeasurePicture(bytes, PictureKind::Svg);
        EXPECT_EQ(m.width, c.width);
        EXPECT_EQ(m.height, c.height);
    }
}

TEST(ModernPictureTypes, AnSvgIsDrawnAtItsSizeOnWhiteAndItsThumbnailAtTheThumbnailsSize) {
    SKIP_UNLESS_BUILT(PictureKind::Svg);
    // A red square in the left half, a blue one low in the right half, of a 200 x 100 picture.
    const QByteArray bytes =
        svg(QStringLiteral(R"(width="200" height="100" viewBox="0 0 20 10")"),
            QStringLiteral(R"(<rect x="1" y="1" width="8" height="8" fill="#ff0000"/>)"
                           R"(<rect x="12" y="5" width="6" height="4" fill="#0000ff"/>)"));
    const Rgb24Image drawn = DecodePicture(bytes, PictureKind::Svg);
    ASSERT_EQ(drawn.width, 200);
    ASSERT_EQ(drawn.height, 100);
    const std::uint8_t red[3] = {255, 0, 0}, blue[3] = {0, 0, 255}, white[3] = {255, 255, 255};
    EXPECT_EQ(std::memcmp(drawn.pixel(50, 50), red, 3), 0);
    EXPECT_EQ(std::memcmp(drawn.pixel(150, 70), blue, 3), 0);
    EXPECT_EQ(std::memcmp(drawn.pixel(150, 20), white, 3), 0);
    EXPECT_EQ(std::memcmp(drawn.pixel(5, 5), white, 3), 0);

    const PictureMeasure m = MeasurePicture(bytes, PictureKind::Svg);
    EXPECT_EQ(m.placement, ComputeThumbnail(200, 100));
    ASSERT_EQ(m.thumbnail.width, 100);
    ASSERT_EQ(m.thumbnail.height, 50);
    EXPECT_EQ(std::memcmp(m.thumbnail.pixel(25, 25), red, 3), 0);
    EXPECT_EQ(std::memcmp(m.thumbnail.pixel(75, 35), blue, 3), 0);
    EXPECT_EQ(std::memcmp(m.thumbnail.pixel(75, 10), white, 3), 0);
}

TEST(ModernPictureTypes, BrokenFilesFailLikeABrokenJpeg) {
    const QByteArray webp =
        PictureKindBuilt(PictureKind::Webp) ? EncodeWebp(makePhotoLike(64, 48)) : QByteArray();
    const QByteArray avif =
        PictureKindBuilt(PictureKind::Avif) ? EncodeAvif(makePhotoLike(64, 48)) : QByteArray();
    const struct {
        const char* name;
        PictureKind kind;
        QByteArray bytes;
    } cases[] = {
        {"WebP cut in half", PictureKind::Webp, webp.left(webp.size() / 2)},
        {"WebP without its last 10 bytes", PictureKind::Webp, webp.left(webp.size() - 10)},
        {"WebP header only", PictureKind::Webp, webp.left(30)},
        {"a JPEG named WebP", PictureKind::Webp, EncodeJpeg(makePhotoLike(8, 8))},
        {"AVIF cut in half", PictureKind::Avif, avif.left(avif.size() / 2)},
        {"AVIF without its last 10 bytes", PictureKind::Avif, avif.left(avif.size() - 10)},
        {"a PNG named AVIF", PictureKind::Avif, EncodePng(makePhotoLike(8, 8))},
        {"SVG cut short", PictureKind::Svg, svg(QStringLiteral(R"(width="10" height="10")")).left(60)},
        {"HTML named SVG", PictureKind::Svg,
         QByteArray("<html><body><svg width='9' height='9'/></body></html>")},
        {"empty SVG", PictureKind::Svg, QByteArray()},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!PictureKindBuilt(c.kind))
            continue;
        Rgb24Image picture;
        EXPECT_THROW(DecodePicture(c.bytes, c.kind, picture), PictureError);
        EXPECT_TRUE(picture.isEmpty());
        EXPECT_THROW(MeasurePicture(c.bytes, c.kind), PictureError);
        const QString path = dir.filePath(QStringLiteral("p.") + KindExtension(c.kind));
        writeFile(path, c.bytes);
        int w = 0, h = 0;
        QString error;
        EXPECT_FALSE(ReadPictureSize(path, c.kind, w, h, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

// Each case is refused; the time, the memory taken here and by the drawing helper are printed.
TEST(ModernPictureTypes, HostileFilesAreRefusedInBoundedMemoryAndTime) {
    const Hostile cases[] = {
        {"lossless WebP of 78 bytes claiming 16383 x 16383", PictureKind::Webp,
         [] { return losslessWebpClaiming(16383, 16383); }, "cannot back"},
        {"lossy WebP of 8 x 8 claiming 16383 x 16383", PictureKind::Webp,
         [] { return lossyWebpClaiming(16383, 16383); }, "cannot back"},
        {"animated WebP: a 20 x 10 frame on a canvas of 16000 x 16000", PictureKind::Webp,
         [] { return animatedWebpOnCanvas(16000, 16000); }, "covers 200 of the canvas"},
        {"animated WebP: canvas of 16777216 x 16777216", PictureKind::Webp,
         [] { return animatedWebpOnCanvas(1u << 24, 1u << 24); }, "WebP"},
        {"AVIF of 64 x 48 claiming 16000 x 16000", PictureKind::Avif,
         [] { return avifClaiming(EncodeAvif(makePhotoLike(64, 48)), 16000, 16000); }, "cannot back"},
        {"AVIF claiming 60000 x 60000", PictureKind::Avif,
         [] { return avifClaiming(EncodeAvif(makePhotoLike(64, 48)), 60000, 60000); }, "AVIF"},
        {"AVIF of 523 bytes: a box of 64 x 48 around a frame of 2900 x 2900", PictureKind::Avif,
         [] { return fixture("small-box-large-frame.avif"); }, "cannot decode the image"},
        {"SVG: billion laughs", PictureKind::Svg, [] { return laughs().toUtf8(); }, "entit"},
        {"SVG: one entity used 30000 times (quadratic blowup)", PictureKind::Svg,
         [] { return quadraticBlowup().toUtf8(); }, "times its size"},
        {"SVG: a parameter entity", PictureKind::Svg,
         [] {
             return QByteArray("<!DOCTYPE svg [<!ENTITY % p \"<!ENTITY x 'xx'>\"> %p;]>"
                               "<svg xmlns='http://www.w3.org/2000/svg' width='9' height='9'>&x;</svg>");
         },
         "parameter entities"},
        {"SVG: 100000 nested groups", PictureKind::Svg, [] { return nested(100000).toUtf8(); },
         "deeper than 256"},
        {"SVG: 300 nested groups", PictureKind::Svg, [] { return nested(300).toUtf8(); }, "deeper than 256"},
        {"SVG claiming 100000 x 100000", PictureKind::Svg,
         [] { return svg(QStringLiteral(R"(width="100000" height="100000")")); }, "size out of range"},
        {"SVG claiming 60000 x 60000", PictureKind::Svg,
         [] { return svg(QStringLiteral(R"(width="60000" height="60000")")); }, "larger than allowed"},
        {"SVG: uses of uses, 10^19 elements", PictureKind::Svg,
         [] {
             QString defs = QStringLiteral(R"(<defs><rect id="a0" width="1" height="1"/>)");
             for (int i = 1; i < 20; ++i)
                 defs += QStringLiteral("<g id=\"a%1\">").arg(i) +
                         QStringLiteral("<use xlink:href=\"#a%1\"/>").arg(i - 1).repeated(10) +
                         QStringLiteral("</g>");
             return svg(QStringLiteral(R"(width="100" height="100")"),
                        defs + QStringLiteral(R"(</defs><use xlink:href="#a19"/>)"));
         },
         "referenced elements"},
        // Drawn within the helper's limits, or stopped by them (TheDrawingHelperIsHeldToItsLimits).
        {"SVG: two million characters of text", PictureKind::Svg,
         [] {
             return svg(QStringLiteral(R"(width="400" height="300")"),
                        QStringLiteral("<text y=\"20\">") + QStringLiteral("W ").repeated(1000000) +
                            QStringLiteral("</text>"));
         },
         nullptr},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        if (!PictureKindBuilt(c.kind))
            continue;
        const QByteArray bytes = c.bytes();
        ASSERT_FALSE(bytes.isEmpty());
        for (const bool whole : {false, true}) {
            resetPeakMemory();
            const qint64 before = processStatusKiB("VmHWM:");
            const qint64 cpuBefore = processCpuMs();
            Rgb24Image picture;
            QString outcome = QStringLiteral("drawn");
            try {
                if (whole)
                    DecodePicture(bytes, c.kind, picture);
                else
                    (void)MeasurePicture(bytes, c.kind);
                if (c.reason)
                    ADD_FAILURE() << "not refused";
            } catch (const PictureError& e) {
                outcome = QString::fromUtf8(e.what());
                if (c.reason) {
                    EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
                }
            }
#ifdef SKARVEL_HAVE_SVG
            const detail::SvgHelperUsage helper =
                c.kind == PictureKind::Svg ? detail::LastSvgHelperUsage() : detail::SvgHelperUsage{};
#else
            const detail::SvgHelperUsage helper{};
#endif
            // Processor time here and in the drawing helper, which load does not stretch.
            const qint64 took = processCpuMs() - cpuBefore + qint64(helper.cpuSeconds * 1000),
                         grew = processStatusKiB("VmHWM:") - before;
            std::printf("%-66s %-7s %6lld ms  +%6lld kB here  helper %7lld kB %5.2f s  %s\n", c.name,
                        whole ? "decode" : "measure", static_cast<long long>(took),
                        static_cast<long long>(grew), static_cast<long long>(helper.peakKilobytes),
                        helper.cpuSeconds, qPrintable(outcome));
            if (c.reason) {
                EXPECT_TRUE(picture.isEmpty());
            }
            EXPECT_LT(grew, 64 * 1024);
            EXPECT_LT(helper.peakKilobytes, 1024 * 1024);
            // The drawing helper gets 20 s of processor time.
            EXPECT_LT(took, 25000);
        }
    }
}

// The drawing helper exists only where SVG is built (a POSIX process under rlimits).
#ifdef SKARVEL_HAVE_SVG
TEST(ModernPictureTypes, TheDrawingHelperIsHeldToItsLimits) {
    SKIP_UNLESS_BUILT(PictureKind::Svg);
    const QByteArray slow =
        svg(QStringLiteral(R"(width="300" height="300")"),
            QStringLiteral(R"(<filter id="f"><feTurbulence numOctaves="100000"/></filter>)"
                           R"svg(<rect width="300" height="300" filter="url(#f)"/>)svg"));
    const auto drawWith = [](const detail::SvgHelperLimits& limits, int side, const QByteArray& bytes) {
        detail::SvgHelper helper(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 static_cast<std::size_t>(bytes.size()), limits);
        helper.draw(side, side, [](int, const std::uint8_t*) {});
    };
    const struct {
        const char* name;
        detail::SvgHelperLimits limits;
        int side;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"processor time",
         {std::chrono::seconds(1), std::chrono::milliseconds(60000)},
         300,
         slow,
         "processor time of 1 s"},
        {"wall time",
         {std::chrono::seconds(20), std::chrono::milliseconds(1500)},
         300,
         slow,
         "longer than 1 s"},
        // 324 MB of drawing surface in 256 MB of address space.
        {"memory",
         {std::chrono::seconds(20), std::chrono::milliseconds(60000), 256 << 20, 0},
         9000,
         svg(QStringLiteral(R"(width="9000" height="9000")")),
         "drawing surface"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            drawWith(c.limits, c.side, c.bytes);
            ADD_FAILURE() << "drawn";
        } catch (const PictureError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        // Each limit stops the helper within about a second and a half of processor time.
        EXPECT_LT(detail::LastSvgHelperUsage().cpuSeconds, 5.0);
        EXPECT_LT(detail::LastSvgHelperUsage().peakKilobytes, 256 * 1024);
    }
}

TEST(ModernPictureTypes, AMissingOrBrokenDrawingHelperFailsThePictureAlone) {
    SKIP_UNLESS_BUILT(PictureKind::Svg);
    const QByteArray bytes = svg(QStringLiteral(R"(width="10" height="10")"));
    const QByteArray kept = qgetenv("SKARVEL_SVG_HELPER");
    const struct {
        const char* helper;
        const char* reason;
    } cases[] = {
        {"/nonexistent/skarvel-svg", "is missing"},
        {"/bin/true", "the drawing helper"}, // ends at once, whether or not it took the document
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.helper);
        qputenv("SKARVEL_SVG_HELPER", c.helper);
        try {
            (void)MeasurePicture(bytes, PictureKind::Svg);
            ADD_FAILURE() << "measured";
        } catch (const PictureError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
    if (kept.isNull())
        qunsetenv("SKARVEL_SVG_HELPER");
    else
        qputenv("SKARVEL_SVG_HELPER", kept);
    EXPECT_EQ(MeasurePicture(bytes, PictureKind::Svg).width, 10);
}

// Every way an SVG can name something outside itself, pointed at a local server that records
// requests and at a file watched for any opening: nothing is asked for, nothing is opened.
TEST(ModernPictureTypes, AnSvgNeverFetchesAnything) {
    SKIP_UNLESS_BUILT(PictureKind::Svg);
    LocalHttpServer server;
    server.server().Get(".*", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<svg xmlns='http://www.w3.org/2000/svg'/>", "image/svg+xml");
    });
    server.start();
    QTemporaryDir dir;
    const QString secret = dir.filePath(QStringLiteral("secret.png"));
    writeFile(secret, EncodePng(makePhotoLike(4, 4)));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(secret).constData(), IN_OPEN | IN_ACCESS), 0);

    const QString web = server.baseUrl(), file = QStringLiteral("file://") + secret;
    const QStringList bodies = {
        QStringLiteral(R"(<image href="%1/i.png" width="4" height="4"/>)"),
        QStringLiteral(R"(<image xlink:href="%1/i.png" width="4" height="4"/>)"),
        QStringLiteral(R"(<use href="%1/u.svg#a"/>)"),
        QStringLiteral(R"svg(<rect width="4" height="4" fill="url(%1/g.svg#g)"/>)svg"),
        QStringLiteral(R"svg(<style>@import url(%1/s.css); rect { fill: url(%1/g.svg#g) }</style>)svg"),
        QStringLiteral(
            R"svg(<style>@font-face { font-family: F; src: url(%1/f.ttf) }</style><text font-family="F">x</text>)svg"),
        QStringLiteral(
            R"svg(<filter id="f"><feImage href="%1/i.png"/></filter><rect width="4" height="4" filter="url(#f)"/>)svg"),
        QStringLiteral(
            R"(<xi:include xmlns:xi="http://www.w3.org/2001/XInclude" href="%1/x.svg" parse="xml"/>)"),
        QStringLiteral(
            R"(<xi:include xmlns:xi="http://www.w3.org/2001/XInclude" href="%1/x.txt" parse="text"/>)"),
        QStringLiteral(
            R"(<script href="%1/s.js"/><script>fetch("%1/f")</script><a href="%1/a"><rect width="4" height="4"/></a>)"),
    };
    QStringList documents;
    for (const QString& base : {web, file})
        for (const QString& body : bodies) {
            documents << QString::fromUtf8(svg(QStringLiteral(R"(width="8" height="8")"),
                                               QString(body).replace(QStringLiteral("%1"), base)));
        }
    for (const QString& base : {web, file}) {
        documents << QStringLiteral("<?xml-stylesheet href=\"%1/s.css\" type=\"text/css\"?>").arg(base) +
                         QString::fromUtf8(svg(QStringLiteral(R"(width="8" height="8")")));
        documents << QStringLiteral("<!DOCTYPE svg SYSTEM \"%1/d.dtd\">").arg(base) +
                         QString::fromUtf8(svg(QStringLiteral(R"(width="8" height="8")")));
        documents << QStringLiteral("<!DOCTYPE svg [<!ENTITY e SYSTEM \"%1/e.txt\">]>").arg(base) +
                         QString::fromUtf8(svg(QStringLiteral(R"(width="8" height="8")"),
                                               QStringLiteral("<text>&e;</text>")));
    }
    int drawn = 0;
    for (const QString& document : documents) {
        SCOPED_TRACE(document.toStdString());
        const QByteArray bytes = document.toUtf8();
        try {
            (void)MeasurePicture(bytes, PictureKind::Svg);
            DecodePicture(bytes, PictureKind::Svg);
            ++drawn;
        } catch (const PictureError&) {
            // Refusing is as good as drawing without the reference.
        }
    }
    EXPECT_GE(drawn, int(bodies.size())); // most documents are drawn, their references left out
    EXPECT_EQ(server.totalRequests(), 0);
    char events[4096];
    const ssize_t read = ::read(watch, events, sizeof events);
    EXPECT_LT(read, 0) << "the file outside the document was opened or read";
    ::close(watch);
}
#endif

TEST(ModernPictureTypes, TheTransformConvertsCopiesAndWritesModernTypes) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out")) + u'/';
    QDir().mkpath(out);
    struct Source {
        PictureKind kind;
        QByteArray bytes;
        int width, height;
    };
    std::vector<Source> sources;
    if (PictureKindBuilt(PictureKind::Webp))
        sources.push_back({PictureKind::Webp, EncodeWebp(makePhotoLike(120, 80, 2)), 120, 80});
    if (PictureKindBuilt(PictureKind::Avif))
        sources.push_back({PictureKind::Avif, EncodeAvif(makePhotoLike(90, 60, 3)), 90, 60});
    if (PictureKindBuilt(PictureKind::Svg))
        sources.push_back({PictureKind::Svg,
                           svg(QStringLiteral(R"(width="70" height="140")"),
                               QStringLiteral(R"(<circle cx="35" cy="70" r="30" fill="green"/>)")),
                           70, 140});
    if (sources.empty())
        GTEST_SKIP() << "built without WebP, AVIF and SVG";
    PictureTransform transform;
    for (const Source& s : sources) {
        const QString ext = KindExtension(s.kind);
        SCOPED_TRACE(ext.toStdString());
        const QString local = dir.filePath(QStringLiteral("1.") + ext);
        writeFile(local, s.bytes);

        // The classic road does not know the file.
        TransformSettings classic;
        EXPECT_EQ(transform.transform(local, out + QStringLiteral("c.jpg"), classic).status,
                  TransformResult::Status::Skipped);

        TransformSettings settings;
        settings.types = PictureTypes::Modern;
        for (const int format : {kSaveJpeg, kSavePng, kSaveGif, kSaveBmp}) {
            settings.format = format;
            const TransformResult r = transform.transform(local, out + QStringLiteral("a.") + ext, settings);
            ASSERT_EQ(r.status, TransformResult::Status::Written) << r.message.toStdString();
            const auto written = KindFromPath(r.path, true, PictureTypes::Classic);
            ASSERT_TRUE(written);
            const Rgb24Image back = DecodePictureFile(r.path, *written);
            EXPECT_EQ(back.width, s.width);
            EXPECT_EQ(back.height, s.height);
        }

        // "Original" without fitting: the very file.
        settings.format = kSaveOriginal;
        TransformResult r = transform.transform(local, out + QStringLiteral("copy.") + ext, settings);
        ASSERT_EQ(r.status, TransformResult::Status::Written) << r.message.toStdString();
        EXPECT_EQ(r.type, ext);
        EXPECT_EQ(readFile(r.path), s.bytes);
        EXPECT_EQ(r.width, s.width);
        QByteArray encoded;
        r = transform.transformToBytes(local, out + QStringLiteral("copy.") + ext, settings, encoded);
        EXPECT_EQ(encoded, s.bytes);

        // "Original" fitted: its own type where there is an encoder, else PNG under ".png".
        settings.fit = true;
        settings.width = settings.height = 40;
        r = transform.transform(local, out + QStringLiteral("fit.") + ext, settings);
        ASSERT_EQ(r.status, TransformResult::Status::Written) << r.message.toStdString();
        const PictureKind expectedKind = s.kind == PictureKind::Svg ? PictureKind::Png : s.kind;
        EXPECT_EQ(r.type, KindExtension(expectedKind));
        EXPECT_EQ(r.path, out + QStringLiteral("fit.") + KindExtension(expectedKind));
        const Rgb24Image fitted = DecodePictureFile(r.path, expectedKind);
        const QSize size = FitToRectangle(s.width, s.height, 40, 40);
        EXPECT_EQ(fitted.width, size.width());
        EXPECT_EQ(fitted.height, size.height());
        settings.fit = false;
    }

    // A file that does not decode is not copied.
    if (PictureKindBuilt(PictureKind::Webp)) {
        const QString broken = dir.filePath(QStringLiteral("2.webp"));
        writeFile(broken, QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16));
        TransformSettings settings;
        settings.types = PictureTypes::Modern;
        const TransformResult r = transform.transform(broken, out + QStringLiteral("2.webp"), settings);
        EXPECT_EQ(r.status, TransformResult::Status::Failed);
        EXPECT_FALSE(QFile::exists(out + QStringLiteral("2.webp")));
    }
}

TEST(ModernPictureTypes, EncodersWriteWhatTheirDecodersRead) {
    const Rgb24Image picture = makePhotoLike(97, 61, 9);
    for (const PictureKind kind : {PictureKind::Webp, PictureKind::Avif}) {
        SCOPED_TRACE(KindExtension(kind).toStdString());
        if (!PictureKindBuilt(kind))
            continue;
        const QByteArray bytes = EncodePicture(picture, kind);
        const Rgb24Image back = DecodePicture(bytes, kind);
        const PixelDiff d = comparePixels(back, picture);
        ASSERT_TRUE(d.sameSize);
        EXPECT_LT(d.meanDiff, 6.0);
    }
    EXPECT_FALSE(KindHasEncoder(PictureKind::Svg));
    EXPECT_THROW(EncodePicture(picture, PictureKind::Svg), PictureError);
}
