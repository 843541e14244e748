// Decoding a 2-megapixel WebP and AVIF and making its 100-pixel thumbnail: Skarvel's measuring pass
// (what a picture download does) beside ImageMagick's convert doing the same (decode, nearest-neighbour
// scaling to the same thumbnail size with -sample, the thumbnail written as PNG), in one run. Every
// file goes to a folder in /dev/shm; each figure is the median of several rounds. convert's figure
// includes starting the process, which the line "convert start-up" measures alone.
//
//   bench_modern_pictures [rounds]     (default 9; build with -DCMAKE_BUILD_TYPE=Release)
#include "common/file_ops.h"
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace skarvel;

namespace {

// Photo-like content: gradients with fine noise, as a camera picture gives a coder work.
Rgb24Image MakePicture(int w, int h) {
    Rgb24Image picture(w, h);
    std::uint32_t state = 2024u;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* o = picture.row(y);
        for (int x = 0; x < w; ++x, o += 3) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 24) % 9) - 4;
            o[0] = static_cast<std::uint8_t>(std::clamp(x * 255 / (w - 1) + noise, 0, 255));
            o[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / (h - 1) + noise, 0, 255));
            o[2] = static_cast<std::uint8_t>(std::clamp((x / 7 + y / 5) % 256 + noise, 0, 255));
        }
    }
    return picture;
}

double MedianMs(int rounds, const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        run();
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QString Convert() {
    const QString im6 = QStandardPaths::findExecutable(QStringLiteral("convert-im6.q16"));
    return im6.isEmpty() ? QStringLiteral("convert") : im6;
}

void RunConvert(const QStringList& args) {
    QProcess p;
    p.start(Convert(), args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        std::fprintf(stderr, "convert %s failed: %s\n", qPrintable(args.join(u' ')),
                     p.readAllStandardError().constData());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const QString folder = QStringLiteral("/dev/shm/skarvel-bench-modern/");
    QDir().mkpath(folder);

    QProcess list;
    list.start(Convert(), {QStringLiteral("-list"), QStringLiteral("format")});
    list.waitForFinished(60000);
    std::printf("ImageMagick's formats (convert -list format | grep -i -E 'webp|avif|heic'):\n");
    for (const QByteArray& line : list.readAllStandardOutput().split('\n'))
        if (line.toLower().contains("webp") || line.toLower().contains("avif") ||
            line.toLower().contains("heic"))
            std::printf("  %s\n", line.trimmed().constData());

    const Rgb24Image picture = MakePicture(1632, 1224);
    const ThumbnailPlacement t = ComputeThumbnail(picture.width, picture.height);
    const QString size = QStringLiteral("%1x%2!").arg(t.width).arg(t.height);
    std::printf("\n%d x %d pixels (%.2f MP), thumbnail %d x %d, median of %d rounds\n", picture.width,
                picture.height, picture.width * double(picture.height) / 1e6, t.width, t.height, rounds);
    const double startup = MedianMs(rounds, [&] {
        RunConvert({QStringLiteral("xc:white"), folder + QStringLiteral("dot.png")});
    });
    std::printf("%-6s %10s %12s %14s %9s\n", "type", "file kB", "Skarvel ms", "convert ms", "ratio");
    for (const PictureKind kind : {PictureKind::Webp, PictureKind::Avif}) {
        if (!PictureKindBuilt(kind))
            continue;
        const QString ext = KindExtension(kind);
        const QString file = folder + QStringLiteral("picture.") + ext;
        const QByteArray encoded = EncodePicture(picture, kind);
        if (!WriteWholeFile(file, encoded))
            return 1;
        const QString ours = folder + QStringLiteral("skarvel-thumbnail-") + ext + QStringLiteral(".png");
        const QString theirs = folder + QStringLiteral("convert-thumbnail-") + ext + QStringLiteral(".png");
        const double skarvel = MedianMs(rounds, [&] {
            PictureMeasure measured;
            if (!MeasurePictureFile(file, kind, measured) ||
                !WriteWholeFile(ours, EncodePng(measured.thumbnail, 7)))
                std::exit(1);
        });
        const double magick = MedianMs(rounds, [&] {
            RunConvert({file, QStringLiteral("-sample"), size, theirs});
        });
        std::printf("%-6s %10.1f %12.1f %14.1f %8.2fx\n", qPrintable(ext), encoded.size() / 1024.0, skarvel,
                    magick, magick / skarvel);
    }
    std::printf("convert start-up (1 x 1 picture): %.1f ms\n", startup);
    return 0;
}
