// The window while "Remove duplicates" runs over a large picture table.
//
// The real main window's picture table gets ROWS rows naming FILES picture files (photo-like
// JPEGs); the rows past the first FILES carry the fingerprint their download would have left,
// the first FILES have none, so the run hashes FILES pictures on its worker and compares all
// ROWS rows. A 5 ms timer on the window thread records the gaps between its ticks (a gap far
// over 5 ms is a stall) and the processor time the window thread spent in each gap. A second
// run over a refilled table, every row fingerprinted, shows the run with nothing to read. The
// same timer on an idle window first shows what stalls the machine causes by itself.
//
//   bench_duplicates_window [--rows N] [--files N]
//
// Work files go to /dev/shm when it exists. Exits 1 when a run's longest gap is over 50 ms.
#include "gui/dialog_service.h"
#include "gui/main_window.h"
#include "jobs/duplicate_jobs.h"
#include "pictures/picture_codecs.h"
#include "tables/collection_tables.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <time.h>

using namespace skarvel;

namespace {

qint64 ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A 320 x 240 photo-like picture of its own: coarse value noise, a gradient, a disc and grain.
Rgb24Image MakePicture(std::uint32_t seed) {
    constexpr int kW = 320, kH = 240, kCell = 40;
    std::uint32_t state = seed * 2654435761u + 1u;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const int gw = kW / kCell + 2, gh = kH / kCell + 2;
    std::vector<int> coarse(size_t(gw * gh * 3));
    for (int& v : coarse)
        v = int(next() % 161) - 80;
    const int cx = int(next() % kW), cy = int(next() % kH), r = 20 + int(next() % 80);
    const std::uint8_t disc[3] = {std::uint8_t(next()), std::uint8_t(next()), std::uint8_t(next())};
    Rgb24Image picture(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* o = picture.pixel(x, y);
            const int gx = x / kCell, gy = y / kCell, fx = x % kCell, fy = y % kCell;
            for (int c = 0; c < 3; ++c) {
                const auto at = [&](int ix, int iy) { return coarse[size_t((iy * gw + ix) * 3 + c)]; };
                const int top = at(gx, gy) * (kCell - fx) + at(gx + 1, gy) * fx;
                const int bottom = at(gx, gy + 1) * (kCell - fx) + at(gx + 1, gy + 1) * fx;
                int v = 128 + (top * (kCell - fy) + bottom * fy) / (kCell * kCell) + (y - kH / 2) / 4 +
                        int(next() % 9) - 4;
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                    v = disc[c];
                o[c] = std::uint8_t(std::clamp(v, 0, 255));
            }
        }
    return picture;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

struct Run {
    double seconds = 0;
    qint64 longestGapMs = 0;
    qint64 longestCpuMs = 0;
    int gapsOver50 = 0;
    QString message;
};

Run Measure(TForm1& window, ui::TestAnswers& answers, bool idleOnly = false, int idleMs = 0) {
    Run run;
    QElapsedTimer clock, sinceTick;
    qint64 cpuAtTick = ThreadCpuNs();
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 gap = sinceTick.restart();
        const qint64 cpu = ThreadCpuNs();
        run.longestGapMs = std::max(run.longestGapMs, gap);
        run.longestCpuMs = std::max(run.longestCpuMs, (cpu - cpuAtTick) / 1000000);
        run.gapsOver50 += gap > 50;
        cpuAtTick = cpu;
    });
    const int messages = int(answers.messages.size());
    clock.start();
    sinceTick.start();
    ticker.start();
    if (idleOnly) {
        WaitUntil([&] { return clock.elapsed() >= idleMs; }, idleMs + 1000);
    } else {
        window.findChild<QAction*>(QStringLiteral("Removeduplicates1"))->trigger();
        WaitUntil([&] { return int(answers.messages.size()) > messages; }, 600000);
    }
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    ticker.stop();
    run.message = answers.messages.value(messages);
    return run;
}

void Fill(CollectionTable& table, const QStringList& files, int rows,
          const std::vector<std::shared_ptr<const ContentFingerprint>>& known, int unknownRows) {
    table.setGridRowCount(rows + 1);
    for (int r = 1; r <= rows; ++r) {
        const int f = (r - 1) % int(files.size());
        table.setRow(r, {QString::number(r), kStatusOK, QStringLiteral("http://127.0.0.1/p/%1.jpg").arg(r),
                         files[f], QStringLiteral("320"), QStringLiteral("240")});
        if (r > unknownRows)
            table.setFingerprint(r, known[size_t(f)]);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int rows = 100000, files = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--rows")
            rows = std::atoi(argv[i + 1]);
        else if (QByteArray(argv[i]) == "--files")
            files = std::atoi(argv[i + 1]);
    }
    const QString root =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir programDir(root + QStringLiteral("/dupbench-XXXXXX"));
    QTemporaryDir tempDir(root + QStringLiteral("/dupbench-XXXXXX"));
    QTemporaryDir pictureDir(root + QStringLiteral("/dupbench-XXXXXX"));

    QStringList paths;
    std::vector<std::shared_ptr<const ContentFingerprint>> known;
    for (int i = 0; i < files; ++i) {
        const QString path = pictureDir.filePath(QStringLiteral("%1.jpg").arg(i));
        WritePictureFile(path, MakePicture(std::uint32_t(i + 1)), PictureKind::Jpeg);
        paths << path;
        known.push_back(RemoveDuplicatePictures::FingerprintPicture(path, PictureTypes::Classic));
    }

    ui::TestAnswers answers;
    ui::SetTestAnswers(&answers);
    auto window = CreateWindows({programDir.path(), tempDir.path()});
    window->show();
    auto* table = qobject_cast<CollectionTable*>(
        window->findChild<QTableView*>(QStringLiteral("StringGrid1"))->model());

    const Run idle = Measure(*window, answers, true, 5000);
    std::printf("idle window for 5 s: longest gap %lld ms, gaps over 50 ms: %d (the machine's own stalls)\n",
                idle.longestGapMs, idle.gapsOver50);

    QElapsedTimer filling;
    filling.start();
    Fill(*table, paths, rows, known, files);
    std::printf("%d rows naming %d pictures (filled in %.1f s)\n", rows, files,
                double(filling.elapsed()) / 1000);
    const Run first = Measure(*window, answers);
    std::printf("first run, %d pictures to hash: %.2f s, \"%s\", %d rows left\n", files, first.seconds,
                qPrintable(first.message), table->gridRowCount() - 1);
    std::printf("  window: longest gap %lld ms, gaps over 50 ms: %d, most window-thread processor time in a "
                "gap %lld ms\n",
                first.longestGapMs, first.gapsOver50, first.longestCpuMs);

    Fill(*table, paths, rows, known, 0);
    const Run second = Measure(*window, answers);
    std::printf("second run, every row fingerprinted: %.2f s, \"%s\", %d rows left\n", second.seconds,
                qPrintable(second.message), table->gridRowCount() - 1);
    std::printf("  window: longest gap %lld ms, gaps over 50 ms: %d, most window-thread processor time in a "
                "gap %lld ms\n",
                second.longestGapMs, second.gapsOver50, second.longestCpuMs);

    window.reset();
    ui::SetTestAnswers(nullptr);
    return std::max(first.longestGapMs, second.longestGapMs) > 50 ? 1 : 0;
}
