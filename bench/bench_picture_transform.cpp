// Speed of the picture transform (decode, fit, encode) on pictures of about 2 megapixels.
//
//   bench_picture_transform [Google Benchmark options]     per-step and per-row timings
//   bench_picture_transform --generate DIR COUNT            writes COUNT JPEG pictures into DIR
//   bench_picture_transform --run IN OUT FORMAT FIT W H     transforms every picture of IN into OUT
//   bench_picture_transform --fit-sizes IN W H              prints "name width height" after fitting
// The last three serve bench/compare_picture_transform.sh, which times the same work beside ImageMagick.
#include "pictures/picture_codecs.h"
#include "pictures/picture_thumbnail.h"
#include "pictures/picture_transform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace skarvel;

namespace {

constexpr QSize kSizes[] = {{1600, 1200}, {1200, 1600}, {1920, 1080}, {1440, 1440}, {1700, 1150}};

// Photo-like content: smooth colour fields, a few hard-edged shapes and fine noise, so that
// every encoder has realistic work (JPEG detail, PNG entropy, GIF colour reduction).
Rgb24Image MakePicture(int index) {
    const QSize size = kSizes[index % std::size(kSizes)];
    Rgb24Image p(size.width(), size.height());
    std::uint32_t state = 12345u + static_cast<std::uint32_t>(index) * 7919u;
    auto random = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const double f1 = 0.004 + (index % 7) * 0.001, f2 = 0.006 + (index % 5) * 0.001;
    std::vector<double> columnWave(static_cast<std::size_t>(p.width));
    for (int x = 0; x < p.width; ++x)
        columnWave[static_cast<std::size_t>(x)] = std::sin(x * f1);
    for (int y = 0; y < p.height; ++y) {
        const double rowWave = std::cos(y * f2);
        std::uint8_t* o = p.row(y);
        for (int x = 0; x < p.width; ++x, o += 3) {
            const double w = columnWave[static_cast<std::size_t>(x)];
            const int noise = static_cast<int>(random() % 7) - 3;
            o[0] = static_cast<std::uint8_t>(
                std::clamp(static_cast<int>(128 + 90 * w * rowWave) + noise, 0, 255));
            o[1] =
                static_cast<std::uint8_t>(std::clamp(static_cast<int>(120 + 80 * rowWave) + noise, 0, 255));
            o[2] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(110 + 100 * w) + noise, 0, 255));
        }
    }
    for (int shape = 0; shape < 12; ++shape) {
        const int x0 = static_cast<int>(random() % static_cast<std::uint32_t>(p.width));
        const int y0 = static_cast<int>(random() % static_cast<std::uint32_t>(p.height));
        const int w = 40 + static_cast<int>(random() % 300), h = 40 + static_cast<int>(random() % 300);
        const std::uint8_t colour[3] = {static_cast<std::uint8_t>(random()),
                                        static_cast<std::uint8_t>(random()),
                                        static_cast<std::uint8_t>(random())};
        for (int y = y0; y < std::min(p.height, y0 + h); ++y)
            for (int x = x0; x < std::min(p.width, x0 + w); ++x)
                std::memcpy(p.pixel(x, y), colour, 3);
    }
    return p;
}

QStringList PicturesIn(const QString& folder) {
    QStringList files;
    const auto names = QDir(folder).entryList(
        {QStringLiteral("*.jpg"), QStringLiteral("*.png"), QStringLiteral("*.gif"), QStringLiteral("*.bmp")},
        QDir::Files, QDir::Name);
    for (const QString& name : names)
        files << QDir(folder).filePath(name);
    return files;
}

int Generate(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i)
        WritePictureFile(QDir(folder).filePath(QStringLiteral("%1.jpg").arg(i + 1, 4, 10, QLatin1Char('0'))),
                         MakePicture(i), PictureKind::Jpeg);
    std::printf("generated %d pictures in %s\n", count, qPrintable(folder));
    return 0;
}

// As the save job runs it: rows on every core, files written in row order.
int Run(const QString& in, const QString& out, int format, bool fit, int w, int h) {
    QDir().mkpath(out);
    const QStringList files = PicturesIn(in);
    ParallelPictureTransform transform;
    const TransformSettings settings{.width = w, .height = h, .fit = fit, .format = format};
    int written = 0;
    auto take = [&](const ParallelPictureTransform::Outcome& o) {
        if (o.result.status == TransformResult::Status::Written)
            ++written;
        else
            std::fprintf(stderr, "%s\n", qPrintable(o.result.message));
    };
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files) {
        transform.add(file, QDir(out).filePath(QFileInfo(file).fileName()), settings, false);
        while (transform.queued() > 0) {
            auto o = transform.next(transform.queued() > transform.depth());
            if (!o)
                break;
            take(*o);
        }
    }
    while (auto o = transform.next(true))
        take(*o);
    std::printf("pictures %lld written %d seconds %.3f\n", static_cast<long long>(files.size()), written,
                timer.nsecsElapsed() / 1e9);
    return written == files.size() ? 0 : 1;
}

int FitSizes(const QString& in, int w, int h) {
    Rgb24Image picture;
    for (const QString& file : PicturesIn(in)) {
        DecodePictureFile(file, *KindFromLastFour(file, false), picture);
        QSize size = FitToRectangle(picture.width, picture.height, w, h).expandedTo(QSize(1, 1));
        std::printf("%s %d %d\n", qPrintable(QFileInfo(file).fileName()), size.width(), size.height());
    }
    return 0;
}

// ---------------------------------------------------------------- Google Benchmark

struct Inputs {
    QTemporaryDir dir;
    QStringList files;
    std::vector<QByteArray> jpegs;
    Rgb24Image picture = MakePicture(0);
    Inputs() {
        for (int i = 0; i < 4; ++i) {
            const Rgb24Image p = MakePicture(i);
            jpegs.push_back(EncodeJpeg(p));
            files << dir.filePath(QStringLiteral("%1.jpg").arg(i));
            WritePictureFile(files.back(), p, PictureKind::Jpeg);
        }
    }
};

Inputs& SharedInputs() {
    static Inputs inputs;
    return inputs;
}

void BM_TransformRow(benchmark::State& state) {
    Inputs& in = SharedInputs();
    QTemporaryDir out;
    PictureTransform transform;
    const TransformSettings settings{
        .width = 800, .height = 600, .fit = state.range(1) != 0, .format = static_cast<int>(state.range(0))};
    qsizetype i = 0;
    for (auto _ : state) {
        const QString& file = in.files[i++ % in.files.size()];
        const TransformResult r = transform.transform(file, out.filePath(QStringLiteral("x.jpg")), settings);
        if (r.status != TransformResult::Status::Written)
            state.SkipWithError("transform failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransformRow)
    ->ArgNames({"format", "fit"})
    ->ArgsProduct({{kSaveJpeg, kSavePng, kSaveGif, kSaveBmp}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_DecodeJpeg(benchmark::State& state) {
    Inputs& in = SharedInputs();
    Rgb24Image out;
    std::size_t i = 0;
    for (auto _ : state)
        DecodePicture(in.jpegs[i++ % in.jpegs.size()], PictureKind::Jpeg, out);
}
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);

void BM_Encode(benchmark::State& state) {
    const auto kind = static_cast<PictureKind>(state.range(0));
    const Rgb24Image& picture = SharedInputs().picture;
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodePicture(picture, kind));
}
BENCHMARK(BM_Encode)
    ->ArgName("kind")
    ->DenseRange(static_cast<int>(PictureKind::Bmp), static_cast<int>(PictureKind::Gif))
    ->Unit(benchmark::kMillisecond);

void BM_ResizeNearest(benchmark::State& state) {
    const Rgb24Image& picture = SharedInputs().picture;
    Rgb24Image target(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        if (!ResizeNearest(picture, target))
            state.SkipWithError("empty picture");
}
BENCHMARK(BM_ResizeNearest)->Args({800, 600})->Args({3200, 2400})->Unit(benchmark::kMicrosecond);

void BM_Thumbnail(benchmark::State& state) {
    const Rgb24Image& picture = SharedInputs().picture;
    for (auto _ : state)
        benchmark::DoNotOptimize(MakeThumbnail(picture));
}
BENCHMARK(BM_Thumbnail)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    auto arg = [&](int i) { return QString::fromLocal8Bit(argv[i]); };
    try {
        if (mode == u"--generate" && argc == 4)
            return Generate(arg(2), arg(3).toInt());
        if (mode == u"--run" && argc == 8)
            return Run(arg(2), arg(3), arg(4).toInt(), arg(5).toInt() != 0, arg(6).toInt(), arg(7).toInt());
        if (mode == u"--fit-sizes" && argc == 5)
            return FitSizes(arg(2), arg(3).toInt(), arg(4).toInt());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (mode.startsWith(u"--generate") || mode.startsWith(u"--run") || mode.startsWith(u"--fit-sizes")) {
        std::fprintf(stderr, "usage: see the top of bench_picture_transform.cpp\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
