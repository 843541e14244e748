// Responsiveness of the window during a picture harvest of large pictures, and
// how often each picture is decoded.
//
// A web site on 127.0.0.1 serves 20 pages of three 4000 x 3000 JPEGs each. The
// real main window, with its embedded page-analysis service, gets the 20 page
// addresses in its URL list and "Download pictures" is pressed. A 5 ms timer on
// the window thread records the gaps between its ticks: a gap far over 5 ms is a
// stall of the window. When every row has its status, the thumbnail grid is
// scrolled through and painted, and the decode counter tells how many decodes
// the whole run took per downloaded picture.
//
//   bench_harvest_responsiveness [--rounds N] [--pages N] [--per-page N]
//
// Prints every round and the medians; exits 1 when a round's decodes are not one
// per downloaded picture or a picture was not downloaded and drawn. Work files go
// to /dev/shm when it exists.
#include "gui/dialog_service.h"
#include "gui/main_window.h"
#include "gui/thumbnail_grid.h"
#include "pictures/picture_codecs.h"
#include "tables/collection_tables.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <httplib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace skarvel;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kDistinctPictures = 6;
constexpr int kRunTimeoutMs = 600000;
constexpr int kTickMs = 5;

QString ScratchRoot() {
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

// A landscape-like picture: sky and ground gradients, soft blotches from coarse value
// noise, a few discs and fine grain, so the JPEG coder has a photograph's work.
Rgb24Image MakeScene(std::uint32_t seed) {
    Rgb24Image picture(kWidth, kHeight);
    std::uint32_t state = seed * 2654435761u + 1u;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    constexpr int kCoarse = 80;
    const int gw = kWidth / kCoarse + 2;
    const int gh = kHeight / kCoarse + 2;
    std::vector<int> coarse(size_t(gw * gh));
    for (int& v : coarse)
        v = int(next() % 61) - 30;
    struct Disc {
        int x, y, r;
        std::uint8_t c[3];
    };
    std::vector<Disc> discs;
    for (int i = 0; i < 7; ++i)
        discs.push_back({int(next() % kWidth),
                         int(next() % kHeight),
                         80 + int(next() % 400),
                         {std::uint8_t(next()), std::uint8_t(next()), std::uint8_t(next())}});
    const int horizon = kHeight / 3 + int(next() % (kHeight / 3));
    const int hue = int(next() % 60);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* o = picture.row(y);
        const int gy = y / kCoarse;
        const int fy = y % kCoarse;
        for (int x = 0; x < kWidth; ++x, o += 3) {
            const int gx = x / kCoarse;
            const int fx = x % kCoarse;
            const int top =
                coarse[size_t(gy * gw + gx)] * (kCoarse - fx) + coarse[size_t(gy * gw + gx + 1)] * fx;
            const int bottom = coarse[size_t((gy + 1) * gw + gx)] * (kCoarse - fx) +
                               coarse[size_t((gy + 1) * gw + gx + 1)] * fx;
            const int blotch = (top * (kCoarse - fy) + bottom * fy) / (kCoarse * kCoarse);
            const int grain = int(next() % 9) - 4;
            int r, g, b;
            if (y < horizon) {
                r = 90 + hue + y * 100 / horizon;
                g = 140 + y * 80 / horizon;
                b = 230 - y * 40 / horizon;
            } else {
                r = 110 + hue - (y - horizon) * 60 / kHeight;
                g = 120 + (x * 40 / kWidth);
                b = 50 + hue / 2;
            }
            for (const Disc& d : discs)
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) < d.r * d.r) {
                    r = d.c[0];
                    g = d.c[1];
                    b = d.c[2];
                }
            o[0] = std::uint8_t(std::clamp(r + blotch + grain, 0, 255));
            o[1] = std::uint8_t(std::clamp(g + blotch + grain, 0, 255));
            o[2] = std::uint8_t(std::clamp(b + blotch / 2 + grain, 0, 255));
        }
    }
    return picture;
}

// The web site: /page/N.html holds perPage pictures /pictures/N-i.jpg.
class PictureSite {
public:
    PictureSite(int pages, int perPage, std::vector<std::string> jpegs)
        : m_pages(pages), m_perPage(perPage), m_jpegs(std::move(jpegs)) {
        m_server.Get(R"(/page/(\d+)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
            const int page = std::stoi(req.matches[1].str());
            std::string html = "<html><head><title>Page " + std::to_string(page) + "</title></head><body>";
            for (int i = 1; i <= m_perPage; ++i) {
                const std::string name = std::to_string(page) + "-" + std::to_string(i);
                html += "<p>Photo " + name + "</p><img src=\"/pictures/" + name + ".jpg\" alt=\"Photo " +
                        name + "\" title=\"" + name + "\">";
            }
            res.set_content(html + "</body></html>", "text/html");
        });
        m_server.Get(R"(/pictures/(\d+)-(\d+)\.jpg)", [this](const httplib::Request& req,
                                                             httplib::Response& res) {
            const int index = std::stoi(req.matches[1].str()) * m_perPage + std::stoi(req.matches[2].str());
            res.set_content(m_jpegs[size_t(index) % m_jpegs.size()], "image/jpeg");
        });
        // Every keep-alive connection holds a server thread until it idles out (5 s): the
        // page fetches of the service and the picture downloads together need more than
        // the default eight, or a download waits for an idle page connection to end.
        m_server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port > 0)
            m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~PictureSite() {
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    PictureSite(const PictureSite&) = delete;
    PictureSite& operator=(const PictureSite&) = delete;

    bool listening() const { return m_port > 0; }
    int pictureCount() const { return m_pages * m_perPage; }
    QStringList pageUrls() const {
        QStringList urls;
        for (int page = 1; page <= m_pages; ++page)
            urls << QStringLiteral("http://127.0.0.1:%1/page/%2.html").arg(m_port).arg(page);
        return urls;
    }

private:
    int m_pages;
    int m_perPage;
    std::vector<std::string> m_jpegs;
    httplib::Server m_server;
    int m_port = -1;
    std::thread m_thread;
};

// Runs the window thread's event loop until done() holds or timeoutMs passes.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done();
}

void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    WaitUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

// The calling thread's time on a core and time spent runnable but waiting for one,
// from the scheduler's statistics (/proc/thread-self/schedstat), in nanoseconds.
class ThreadSchedule {
public:
    struct Sample {
        double cpuNs = 0;
        double queuedNs = 0;
    };
    ThreadSchedule() : m_fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
    ~ThreadSchedule() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ThreadSchedule(const ThreadSchedule&) = delete;
    ThreadSchedule& operator=(const ThreadSchedule&) = delete;
    Sample sample() const {
        char text[96] = {};
        if (m_fd < 0 || ::pread(m_fd, text, sizeof text - 1, 0) <= 0)
            return {};
        unsigned long long cpu = 0, queued = 0;
        if (std::sscanf(text, "%llu %llu", &cpu, &queued) != 2)
            return {};
        return {double(cpu), double(queued)};
    }

private:
    int m_fd;
};

struct Stalls {
    double longestMs = 0;
    double longestCpuMs = 0;     // the window thread on a core, in the longest gap
    double longestQueuedMs = 0;  // the window thread waiting for a core (the machine's load), in it
    double longestAtSeconds = 0; // when the longest gap ended, from the start
    double p99Ms = 0;
    double longestOwnMs = 0; // the longest gap less its time waiting for a core
    size_t ticks = 0;
    std::vector<double> gapsMs;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(std::ceil(p * double(values.size()))) - 1)];
}

// Gaps between the ticks of a 5 ms timer on the window thread. The scheduler's
// figures tell a gap's cause: CPU time is the window thread's own work, queued
// time the machine's load, and the rest the window thread blocked, waiting.
class StallMeter {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        m_ticks.clear();
        m_clock.start();
        m_first = {0, m_schedule.sample()};
        m_timer.start();
    }
    Stalls stop() {
        tick(); // a stall up to now counts too
        m_timer.stop();
        Stalls s;
        s.ticks = m_ticks.size();
        for (size_t i = 0; i < m_ticks.size(); ++i) {
            const Tick before = i ? m_ticks[i - 1] : m_first;
            const double gapMs = (m_ticks[i].wallNs - before.wallNs) / 1e6;
            s.gapsMs.push_back(gapMs);
            s.longestOwnMs =
                std::max(s.longestOwnMs, gapMs - (m_ticks[i].at.queuedNs - before.at.queuedNs) / 1e6);
            if (gapMs > s.longestMs) {
                s.longestMs = gapMs;
                s.longestCpuMs = (m_ticks[i].at.cpuNs - before.at.cpuNs) / 1e6;
                s.longestQueuedMs = (m_ticks[i].at.queuedNs - before.at.queuedNs) / 1e6;
                s.longestAtSeconds = m_ticks[i].wallNs / 1e9;
            }
        }
        s.p99Ms = Percentile(s.gapsMs, 0.99);
        return s;
    }

private:
    struct Tick {
        double wallNs = 0;
        ThreadSchedule::Sample at;
    };
    void tick() { m_ticks.push_back({double(m_clock.nsecsElapsed()), m_schedule.sample()}); }
    ThreadSchedule m_schedule; // made on the window thread, read there only
    QTimer m_timer;
    QElapsedTimer m_clock;
    Tick m_first;
    std::vector<Tick> m_ticks;
};

struct Round {
    int pictures = 0;          // rows whose status is "OK"
    int rows = 0;              // rows of the table after the harvest
    int drawn = 0;             // thumbnails seen in the painted grid
    std::uint64_t decodes = 0; // from pressing the button until the grid was painted
    double perPicture = 0;
    Stalls run;                // press to the last status
    Stalls paint;              // the grid scrolled through and painted afterwards
    double harvestSeconds = 0; // press to the table's rows (the pages' answers parsed)
    double runSeconds = 0;
    double paintSeconds = 0;
    QStringList messages;
};

template <class W> W* Find(QWidget* root, const char* name) {
    W* widget = root->findChild<W*>(QString::fromLatin1(name));
    if (!widget) {
        std::fprintf(stderr, "no widget named %s\n", name);
        std::exit(2);
    }
    return widget;
}

// Scrolls the thumbnail grid down a cell row at a time, painting it at every stop, and
// collects the picture numbers whose cell shows a thumbnail.
std::set<int> PaintThroughGrid(ThumbnailGrid* grid, int pictures) {
    std::set<int> drawn;
    QScrollBar* bar = grid->verticalScrollBar();
    for (int value = bar->minimum();; value = std::min(bar->maximum(), value + ThumbnailGrid::kCellSize)) {
        bar->setValue(value);
        QCoreApplication::processEvents();
        const QImage shot = grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect visible = shot.rect();
        for (int r = 0; r < grid->rowCount(); ++r)
            for (int c = 0; c < grid->colCount(); ++c) {
                const int k = r * grid->colCount() + c + 1;
                const QRect cell = grid->cellRect(c, r);
                if (k > pictures || !visible.contains(cell))
                    continue;
                // A 4:3 thumbnail leaves the cell's top band empty: a centre unlike it is a drawn picture.
                const QRgb band = shot.pixel(cell.center().x(), cell.top() + 3);
                const QRgb centre = shot.pixel(cell.center());
                if ((band & 0xFFFFFF) != (centre & 0xFFFFFF))
                    drawn.insert(k);
            }
        if (value >= bar->maximum())
            break;
    }
    return drawn;
}

Round RunRound(const PictureSite& site) {
    Round round;
    const QString root = ScratchRoot();
    QTemporaryDir programDir(root + QStringLiteral("/skarvel-bench-program-XXXXXX"));
    QTemporaryDir tempDir(root + QStringLiteral("/skarvel-bench-temp-XXXXXX"));
    if (!programDir.isValid() || !tempDir.isValid()) {
        std::fprintf(stderr, "cannot make the scratch folders under %s\n", qPrintable(root));
        std::exit(2);
    }
    ui::TestAnswers answers; // a message box would otherwise wait for a person
    ui::SetTestAnswers(&answers);
    std::unique_ptr<TForm1> form = CreateWindows(AppEnvironment{programDir.path(), tempDir.path(), {}, {}});
    form->show();

    auto* tabs = Find<QTabWidget>(form.get(), "PageControl1");
    auto* grid = Find<ThumbnailGrid>(form.get(), "DrawGrid1");
    auto* table = qobject_cast<CollectionTable*>(Find<QTableView>(form.get(), "StringGrid1")->model());
    auto* bar = Find<QProgressBar>(form.get(), "ProgressBar1");
    auto* button = Find<QPushButton>(form.get(), "BitBtn1");
    if (!table) {
        std::fprintf(stderr, "StringGrid1 shows no collection table\n");
        std::exit(2);
    }
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->widget(i)->isAncestorOf(grid))
            tabs->setCurrentIndex(i);
    Find<QPlainTextEdit>(form.get(), "URLs_List")->setPlainText(site.pageUrls().join(u'\n'));
    Settle(300); // start-up's one-shot timers and the first paints

    const auto statusCount = [table] {
        int n = 0;
        for (int r = 1; r < table->gridRowCount(); ++r)
            n += table->cell(col::Status, r).isEmpty() ? 0 : 1;
        return n;
    };
    const auto runEnded = [&] { return bar->isHidden() && statusCount() >= site.pictureCount(); };

    StallMeter meter;
    QElapsedTimer clock;
    const std::uint64_t decodesBefore = PictureDecodeCount();
    meter.start();
    clock.start();
    QObject::connect(table, &QAbstractItemModel::rowsInserted, table, [&] {
        if (round.harvestSeconds == 0 && table->gridRowCount() - 1 >= site.pictureCount())
            round.harvestSeconds = double(clock.nsecsElapsed()) / 1e9;
    });
    button->click();
    if (!WaitUntil(runEnded, kRunTimeoutMs))
        std::fprintf(stderr, "the run did not end: %d of %d rows have a status\n", statusCount(),
                     site.pictureCount());
    round.run = meter.stop();
    round.runSeconds = double(clock.nsecsElapsed()) / 1e9;

    for (int r = 1; r < table->gridRowCount(); ++r)
        round.pictures += table->cell(col::Status, r) == QLatin1String("OK") ? 1 : 0;
    round.rows = table->gridRowCount() - 1;
    // Thumbnails still being made are drawn once ready: paint again until all show or 10 s pass.
    std::set<int> drawn;
    clock.start();
    meter.start();
    for (;;) {
        const std::set<int> seen = PaintThroughGrid(grid, round.rows);
        drawn.insert(seen.begin(), seen.end());
        if (int(drawn.size()) >= round.rows || clock.elapsed() > 10000)
            break;
        Settle(100);
    }
    round.paint = meter.stop();
    round.paintSeconds = double(clock.nsecsElapsed()) / 1e9;
    round.drawn = int(drawn.size());
    round.decodes = PictureDecodeCount() - decodesBefore;
    round.perPicture = round.pictures ? double(round.decodes) / round.pictures : 0;
    round.messages = answers.messages;

    form.reset();
    ui::SetTestAnswers(nullptr);
    return round;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

int IntOption(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.multimedia*=false");
    qunsetenv("SKARVEL_SERVICE_HOST"); // the window's own service
    const int rounds = IntOption(argc, argv, "--rounds", 3);
    const int pages = IntOption(argc, argv, "--pages", 20);
    const int perPage = IntOption(argc, argv, "--per-page", 3);
    QApplication app(argc, argv);

    QElapsedTimer making;
    making.start();
    std::vector<std::string> jpegs;
    qint64 bytes = 0;
    for (int i = 0; i < std::min(kDistinctPictures, pages * perPage); ++i) {
        const QByteArray jpeg = EncodeJpeg(MakeScene(std::uint32_t(i + 1)), 90);
        bytes += jpeg.size();
        jpegs.emplace_back(jpeg.constData(), size_t(jpeg.size()));
    }
    std::printf(
        "%d pages x %d pictures of %d x %d (%zu distinct JPEGs, %lld KiB on average), made in %.1f s\n",
        pages, perPage, kWidth, kHeight, jpegs.size(), bytes / qint64(jpegs.size()) / 1024,
        double(making.elapsed()) / 1000);
    std::fflush(stdout);

    PictureSite site(pages, perPage, std::move(jpegs));
    if (!site.listening()) {
        std::fprintf(stderr, "the web site cannot listen on 127.0.0.1\n");
        return 2;
    }

    std::vector<Round> results;
    for (int i = 1; i <= rounds; ++i) {
        results.push_back(RunRound(site));
        std::fprintf(stderr, "round %d of %d done\n", i, rounds);
    }
    const auto median = [&results](const std::function<double(const Round&)>& of) {
        std::vector<double> values;
        for (const Round& r : results)
            values.push_back(of(r));
        return Median(values);
    };

    std::printf(
        "\nstall: the longest gap between the ticks of a 5 ms timer on the window thread, from the press\n"
        "of \"Download pictures\" until the grid has painted every thumbnail; p99: of all the gaps; own:\n"
        "the longest gap less the time the window thread waited for a core (the machine's load).\n\n");
    std::printf("%-6s %8s %8s %12s %10s %8s %8s %8s\n", "round", "pictures", "decodes", "per picture",
                "stall ms", "p99 ms", "own ms", "total s");
    const auto printSummary = [](const char* name, double pictures, double decodes, double perPicture,
                                 double stall, double p99, double own, double total) {
        std::printf("%-6s %8.0f %8.0f %12.2f %10.1f %8.1f %8.1f %8.2f\n", name, pictures, decodes, perPicture,
                    stall, p99, own, total);
    };
    const auto stall = [](const Round& r) { return std::max(r.run.longestMs, r.paint.longestMs); };
    const auto p99 = [](const Round& r) {
        std::vector<double> gaps = r.run.gapsMs;
        gaps.insert(gaps.end(), r.paint.gapsMs.begin(), r.paint.gapsMs.end());
        return Percentile(gaps, 0.99);
    };
    const auto own = [](const Round& r) { return std::max(r.run.longestOwnMs, r.paint.longestOwnMs); };
    const auto total = [](const Round& r) { return r.runSeconds + r.paintSeconds; };
    for (size_t i = 0; i < results.size(); ++i) {
        const Round& r = results[i];
        printSummary(std::to_string(i + 1).c_str(), r.pictures, double(r.decodes), r.perPicture, stall(r),
                     p99(r), own(r), total(r));
    }
    printSummary("median", median([](const Round& r) { return r.pictures; }),
                 median([](const Round& r) { return double(r.decodes); }),
                 median([](const Round& r) { return r.perPicture; }), median(stall), median(p99), median(own),
                 median(total));

    std::printf(
        "\nThe longest stall of each phase, and in it the window thread on a core (cpu), waiting for a\n"
        "core (queued: the machine's load) and neither beyond the timer's 5 ms (blocked); at: seconds\n"
        "into the phase.\n"
        "run: the press until every row has its status; paint: the grid scrolled through and painted.\n\n");
    std::printf("%-6s %-6s %7s %8s %7s %7s %7s %7s %7s %6s %6s\n", "round", "phase", "time s", "stall ms",
                "cpu", "queued", "blocked", "at s", "p99 ms", "ticks", "drawn");
    for (size_t i = 0; i < results.size(); ++i) {
        const Round& r = results[i];
        const auto printPhase = [&](const char* phase, const Stalls& s, double seconds, int drawn) {
            std::printf("%-6zu %-6s %7.2f %8.1f %7.1f %7.1f %7.1f %7.2f %7.1f %6zu %6d\n", i + 1, phase,
                        seconds, s.longestMs, s.longestCpuMs, s.longestQueuedMs,
                        std::max(0.0, s.longestMs - kTickMs - s.longestCpuMs - s.longestQueuedMs),
                        s.longestAtSeconds, s.p99Ms, s.ticks, drawn);
        };
        printPhase("run", r.run, r.runSeconds, 0);
        printPhase("paint", r.paint, r.paintSeconds, r.drawn);
        for (const QString& message : r.messages)
            std::printf("       message shown: %s\n", qPrintable(message));
    }
    std::printf("(the harvest, until the table had its rows: median %.2f s)\n",
                median([](const Round& r) { return r.harvestSeconds; }));

    bool complete = true;
    bool decodedOnce = true;
    for (const Round& r : results) {
        complete = complete && r.pictures == site.pictureCount() && r.drawn == r.pictures;
        decodedOnce = decodedOnce && r.decodes == std::uint64_t(r.pictures);
    }
    if (!decodedOnce) {
        std::printf("the decodes were not one per downloaded picture\n");
        return 1;
    }
    if (!complete) {
        std::printf("not every picture was downloaded and drawn in every round\n");
        return 1;
    }
    return 0;
}
