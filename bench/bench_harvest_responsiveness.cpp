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
// Prints every round and the medians. Work files go to /dev/shm when it exists.
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

using namespace skarvel;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kDistinctPictures = 6;
constexpr int kRunTimeoutMs = 600000;

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

// Gaps between the ticks of a 5 ms timer on the window thread.
class StallMeter {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        m_gapsMs.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() {
        tick(); // a stall up to now counts too
        m_timer.stop();
    }
    double longestMs() const {
        return m_gapsMs.empty() ? 0 : *std::max_element(m_gapsMs.begin(), m_gapsMs.end());
    }
    double percentileMs(double p) const {
        if (m_gapsMs.empty())
            return 0;
        std::vector<double> sorted = m_gapsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(std::ceil(p * double(sorted.size()))) - 1)];
    }
    size_t ticks() const { return m_gapsMs.size(); }

private:
    void tick() {
        const qint64 now = m_clock.nsecsElapsed();
        m_gapsMs.push_back(double(now - m_last) / 1e6);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    std::vector<double> m_gapsMs;
};

struct Round {
    int pictures = 0;          // rows whose status is "OK"
    int rows = 0;              // rows of the table after the harvest
    int drawn = 0;             // thumbnails seen in the painted grid
    std::uint64_t decodes = 0; // from pressing the button until the grid was painted
    double perPicture = 0;
    double longestMs = 0;
    double p99Ms = 0;
    double runSeconds = 0;   // press to the last status
    double totalSeconds = 0; // press to the painted grid
    size_t ticks = 0;
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
    button->click();
    if (!WaitUntil(runEnded, kRunTimeoutMs))
        std::fprintf(stderr, "the run did not end: %d of %d rows have a status\n", statusCount(),
                     site.pictureCount());
    round.runSeconds = double(clock.nsecsElapsed()) / 1e9;

    for (int r = 1; r < table->gridRowCount(); ++r)
        round.pictures += table->cell(col::Status, r) == QLatin1String("OK") ? 1 : 0;
    round.rows = table->gridRowCount() - 1;
    // Thumbnails still being made are drawn once ready: paint again until all show or 10 s pass.
    std::set<int> drawn;
    QElapsedTimer paintClock;
    paintClock.start();
    for (;;) {
        const std::set<int> seen = PaintThroughGrid(grid, round.rows);
        drawn.insert(seen.begin(), seen.end());
        if (int(drawn.size()) >= round.rows || paintClock.elapsed() > 10000)
            break;
        Settle(100);
    }
    round.drawn = int(drawn.size());
    round.totalSeconds = double(clock.nsecsElapsed()) / 1e9;
    meter.stop();
    round.decodes = PictureDecodeCount() - decodesBefore;
    round.perPicture = round.pictures ? double(round.decodes) / round.pictures : 0;
    round.longestMs = meter.longestMs();
    round.p99Ms = meter.percentileMs(0.99);
    round.ticks = meter.ticks();
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

    PictureSite site(pages, perPage, std::move(jpegs));
    if (!site.listening()) {
        std::fprintf(stderr, "the web site cannot listen on 127.0.0.1\n");
        return 2;
    }

    std::printf("%-6s %8s %8s %12s %12s %10s %10s %9s %9s %7s\n", "round", "pictures", "decodes",
                "per picture", "longest ms", "p99 ms", "run s", "total s", "drawn", "ticks");
    std::vector<double> pictures, decodes, perPicture, longest, p99, run, total;
    bool complete = true;
    for (int i = 1; i <= rounds; ++i) {
        const Round r = RunRound(site);
        std::printf("%-6d %8d %8llu %12.2f %12.1f %10.1f %10.2f %9.2f %9d %7zu\n", i, r.pictures,
                    static_cast<unsigned long long>(r.decodes), r.perPicture, r.longestMs, r.p99Ms,
                    r.runSeconds, r.totalSeconds, r.drawn, r.ticks);
        for (const QString& message : r.messages)
            std::printf("       message shown: %s\n", qPrintable(message));
        std::fflush(stdout);
        complete = complete && r.pictures == site.pictureCount() && r.drawn == r.pictures;
        pictures.push_back(r.pictures);
        decodes.push_back(double(r.decodes));
        perPicture.push_back(r.perPicture);
        longest.push_back(r.longestMs);
        p99.push_back(r.p99Ms);
        run.push_back(r.runSeconds);
        total.push_back(r.totalSeconds);
    }
    std::printf("%-6s %8.0f %8.0f %12.2f %12.1f %10.1f %10.2f %9.2f\n", "median", Median(pictures),
                Median(decodes), Median(perPicture), Median(longest), Median(p99), Median(run),
                Median(total));
    if (!complete) {
        std::printf("not every picture was downloaded and drawn in every round\n");
        return 1;
    }
    return 0;
}
