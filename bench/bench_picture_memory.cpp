// Peak memory and time of measuring a picture (size and thumbnail in one pass).
//
//   bench_picture_memory --make-jpeg PATH W H       writes a W x H JPEG (this process takes the memory)
//   bench_picture_memory --make-claim PATH KIND     writes a tiny KIND file (bmp, png, gif, jpg) claiming
//   20000 x 20000 bench_picture_memory --measure PATH KIND        measures PATH; prints size, time and peak
//   memory
// Each measure runs in a fresh process, so its peak (VmHWM) is its own.
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"

#include "common/file_ops.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <optional>
#include <zlib.h>
#include <cstring>
#include <string>

using namespace skarvel;

namespace {

long PeakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

std::optional<PictureKind> Kind(const char* name) {
    return KindFromLastFour(QStringLiteral(".") + QString::fromLatin1(name), false);
}

void Put(QByteArray& b, qsizetype at, std::uint32_t v, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<char>(v >> (8 * (bigEndian ? bytes - 1 - i : i)));
}

// A small valid file of the kind whose header is then made to claim 20000 x 20000.
QByteArray Claim(PictureKind kind) {
    constexpr std::uint32_t kSide = 20000;
    Rgb24Image tiny(8, 8);
    switch (kind) {
    case PictureKind::Bmp: { // run-length data that stops after one row
        QByteArray bmp(58, '\0');
        bmp[0] = 'B';
        bmp[1] = 'M';
        Put(bmp, 10, 58, 4, false);
        Put(bmp, 14, 40, 4, false);
        Put(bmp, 18, kSide, 4, false);
        Put(bmp, 22, kSide, 4, false);
        Put(bmp, 26, 1, 2, false);
        Put(bmp, 28, 8, 2, false);
        Put(bmp, 30, 1, 4, false);
        Put(bmp, 46, 1, 4, false);
        return bmp + QByteArray("\x05\x00\x00\x00", 4);
    }
    case PictureKind::Png: { // the IHDR of an 8 x 8 picture rewritten, its CRC made again
        QByteArray png = EncodePng(tiny, 7);
        Put(png, 16, kSide, 4, true);
        Put(png, 20, kSide, 4, true);
        png[28] = 1; // interlaced
        Put(png, 29,
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)), 4,
            true);
        return png;
    }
    case PictureKind::Gif: {
        QByteArray gif = EncodeGif(tiny);
        Put(gif, 6, kSide, 2, false);
        Put(gif, 8, kSide, 2, false);
        const qsizetype frame = gif.indexOf('\x2C', 13);
        Put(gif, frame + 5, kSide, 2, false);
        Put(gif, frame + 7, kSide, 2, false);
        return gif;
    }
    case PictureKind::Jpeg: {
        QByteArray jpeg = EncodeJpeg(tiny, 90);
        const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
        Put(jpeg, sof + 5, kSide, 2, true);
        Put(jpeg, sof + 7, kSide, 2, true);
        return jpeg;
    }
    default: // this tool knows the four classic kinds only
        break;
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--make-jpeg") == 0) {
        const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
        Rgb24Image picture(w, h);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* o = picture.row(y);
            for (int x = 0; x < w; ++x, o += 3) {
                o[0] = static_cast<std::uint8_t>(x * 7 + y);
                o[1] = static_cast<std::uint8_t>(y * 3);
                o[2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            }
        }
        return WriteWholeFile(QString::fromLocal8Bit(argv[2]), EncodeJpeg(picture, 90)) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--make-claim") == 0) {
        const auto kind = Kind(argv[3]);
        return kind && WriteWholeFile(QString::fromLocal8Bit(argv[2]), Claim(*kind)) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0) {
        const auto kind = Kind(argv[3]);
        if (!kind)
            return 1;
        const QString path = QString::fromLocal8Bit(argv[2]);
        const long before = PeakKb();
        QElapsedTimer clock;
        clock.start();
        PictureMeasure m;
        QString error;
        const bool ok = MeasurePictureFile(path, *kind, m, &error);
        const qint64 ms = clock.elapsed();
        std::printf("%-28s %9lld bytes  %s  %6lld ms  peak %7ld kB (before %ld kB)\n",
                    qPrintable(path.section(u'/', -1)), static_cast<long long>(QFile(path).size()),
                    ok ? qPrintable(QStringLiteral("%1 x %2, thumbnail %3 x %4")
                                        .arg(m.width)
                                        .arg(m.height)
                                        .arg(m.thumbnail.width)
                                        .arg(m.thumbnail.height))
                       : qPrintable(QStringLiteral("fails: ") + error),
                    static_cast<long long>(ms), PeakKb(), before);
        return 0;
    }
    std::fprintf(stderr, "usage: see the top of bench_picture_memory.cpp\n");
    return 2;
}
