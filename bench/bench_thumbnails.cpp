// Cost of painting a full thumbnail grid of large pictures: twenty 12-megapixel
// JPEGs, as ten columns by two rows of 100 x 100 cells.
//
//   DecodeOnEveryPaint   each paint decodes every file again (what a repaint costs without the cache)
//   FirstPaint           window-thread time of the first paint: decoding is only handed to workers
//   FirstPaintComplete   from a cold cache until every thumbnail is drawn (wall time)
//   Repaint              a repaint with every thumbnail made (the 2 s refresh while nothing changed)
//   RepaintOneChanged    a repaint right after one file was rewritten
#include "gui/thumbnail_cache.h"
#include "common/file_ops.h"
#include "pictures/picture_codecs.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace skarvel;

namespace {

constexpr int kColumns = 10;
constexpr int kRows = 2;
constexpr int kPictures = kColumns * kRows;
constexpr int kCell = 100;

struct Screen {
    QTemporaryDir folder;
    QStringList paths;
};
Screen* g_screen = nullptr;

// Photo-like 4000 x 3000 content, so the JPEG decoder has a camera picture's work.
QByteArray MakeLargeJpeg() {
    Rgb24Image picture(4000, 3000);
    std::uint32_t state = 2024u;
    for (int y = 0; y < picture.height; ++y) {
        std::uint8_t* o = picture.row(y);
        for (int x = 0; x < picture.width; ++x, o += 3) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 24) % 9) - 4;
            o[0] = static_cast<std::uint8_t>(std::clamp((x * 255 / 3999) + noise, 0, 255));
            o[1] = static_cast<std::uint8_t>(std::clamp((y * 255 / 2999) + noise, 0, 255));
            o[2] = static_cast<std::uint8_t>(std::clamp(((x + y) % 256) + noise, 0, 255));
        }
    }
    return EncodeJpeg(picture, 90);
}

QRect CellRect(int index) {
    return QRect((index % kColumns) * kCell, (index / kColumns) * kCell, kCell, kCell);
}

// One paint of the grid, as the window's paint handler does it.
int PaintFromCache(ThumbnailCache& cache, QPainter& painter) {
    int drawn = 0;
    for (int i = 0; i < kPictures; ++i)
        if (const Thumbnail* t = cache.find(g_screen->paths[i], PictureKind::Jpeg)) {
            DrawThumbnailInCell(painter, CellRect(i), *t);
            ++drawn;
        }
    return drawn;
}

// The first paint of the grid, which asks for every thumbnail, and the wait until all are made.
void FirstPaint(ThumbnailCache& cache, QImage& canvas) {
    {
        QPainter painter(&canvas);
        PaintFromCache(cache, painter);
    }
    cache.waitForIdle();
}

QImage Canvas() {
    QImage canvas(kColumns * kCell, kRows * kCell, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    return canvas;
}

void DecodeOnEveryPaint(benchmark::State& state) {
    QImage canvas = Canvas();
    for (auto _ : state) {
        QPainter painter(&canvas);
        for (int i = 0; i < kPictures; ++i) {
            const Thumbnail t = ThumbnailOf(DecodePictureFile(g_screen->paths[i], PictureKind::Jpeg));
            DrawThumbnailInCell(painter, CellRect(i), t);
        }
    }
}
BENCHMARK(DecodeOnEveryPaint)->Unit(benchmark::kMillisecond)->Iterations(2);

void FirstPaint(benchmark::State& state) {
    QImage canvas = Canvas();
    for (auto _ : state) {
        state.PauseTiming();
        auto cache = std::make_unique<ThumbnailCache>();
        state.ResumeTiming();
        {
            QPainter painter(&canvas);
            benchmark::DoNotOptimize(PaintFromCache(*cache, painter));
        }
        state.PauseTiming();
        cache->waitForIdle();
        cache.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(FirstPaint)->Unit(benchmark::kMillisecond)->Iterations(3);

void FirstPaintComplete(benchmark::State& state) {
    QImage canvas = Canvas();
    for (auto _ : state) {
        ThumbnailCache cache;
        FirstPaint(cache, canvas);
        QPainter painter(&canvas);
        if (PaintFromCache(cache, painter) != kPictures)
            state.SkipWithError("not every thumbnail was made");
    }
}
BENCHMARK(FirstPaintComplete)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void Repaint(benchmark::State& state) {
    QImage canvas = Canvas();
    ThumbnailCache cache;
    FirstPaint(cache, canvas);
    for (auto _ : state) {
        QPainter painter(&canvas);
        if (PaintFromCache(cache, painter) != kPictures)
            state.SkipWithError("a thumbnail is missing");
    }
}
BENCHMARK(Repaint)->Unit(benchmark::kMicrosecond);

void RepaintOneChanged(benchmark::State& state) {
    QImage canvas = Canvas();
    ThumbnailCache cache;
    FirstPaint(cache, canvas);
    QFile changing(g_screen->paths[0]);
    qint64 step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A new modification time is a new version of the file.
        changing.open(QIODevice::ReadWrite);
        changing.setFileTime(QDateTime::currentDateTimeUtc().addSecs(++step),
                             QFileDevice::FileModificationTime);
        changing.close();
        state.ResumeTiming();
        QPainter painter(&canvas);
        benchmark::DoNotOptimize(PaintFromCache(cache, painter));
        state.PauseTiming();
        cache.waitForIdle();
        state.ResumeTiming();
    }
}
BENCHMARK(RepaintOneChanged)->Unit(benchmark::kMicrosecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    Screen screen;
    if (!screen.folder.isValid())
        return 1;
    const QByteArray jpeg = MakeLargeJpeg();
    for (int i = 0; i < kPictures; ++i) {
        const QString path = screen.folder.filePath(QStringLiteral("%1.jpg").arg(i + 1));
        if (!WriteWholeFile(path, jpeg)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        screen.paths.append(path);
    }
    std::printf("%d pictures of 4000 x 3000, %lld bytes each\n", kPictures,
                static_cast<long long>(jpeg.size()));
    g_screen = &screen;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_screen = nullptr;
    return 0;
}
