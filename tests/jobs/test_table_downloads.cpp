// The table-driven downloads without a window: each result goes to the row it
// was fetched for, whatever rows are removed while the job runs, and a failed
// row keeps why it failed.
#include "common/text_ops.h"
#include "jobs/failure_reason.h"
#include "jobs/file_jobs.h"
#include "jobs/media_jobs.h"
#include "jobs/picture_jobs.h"
#include "jobs/text_jobs.h"
#include "net/http_client.h"
#include "pictures/picture_codecs.h"
#include "tests/support/local_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace skarvel;

namespace {

class RecordingProgress : public ProgressSink {
public:
    void start(int maximum) override {
        this->maximum = maximum;
        shown = true;
    }
    void setValue(int position) override { positions << position; }
    void finish() override { shown = false; }
    int maximum = -1;
    bool shown = false;
    QList<int> positions;
};

// Serves /a, /b and /c with bodies of their own; /a is held until released.
class HeldSite {
public:
    HeldSite() {
        for (const char* path : {"/a", "/b", "/c"}) {
            const std::string p = path;
            server.server().Get(path, [this, p](const httplib::Request&, httplib::Response& res) {
                if (p == "/a") {
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                    while (!released && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                res.set_content("body of " + p, "application/octet-stream");
            });
        }
        server.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("no", "text/plain");
        });
        server.start();
    }
    ~HeldSite() { released = true; }
    QString url(const char* path) const { return server.baseUrl() + QLatin1String(path); }

    test::LocalHttpServer server;
    std::atomic<bool> released{false};
};

enum class Kind { Pictures, Sounds, Videos, Texts, Files };

TableKind tableKindOf(Kind kind) {
    switch (kind) {
    case Kind::Pictures:
        return TableKind::Pictures;
    case Kind::Sounds:
        return TableKind::Sounds;
    case Kind::Videos:
        return TableKind::Videos;
    case Kind::Texts:
        return TableKind::Texts;
    case Kind::Files:
        return TableKind::Files;
    }
    return TableKind::Files;
}

// One job of the kind over table, its files under folder (which ends with "/").
OwnedJob<> makeJob(Kind kind, QObject* window, CollectionTable& table, ProgressSink& progress,
                   const QString& folder, int pictureCount) {
    const auto work = [folder] { return folder; };
    switch (kind) {
    case Kind::Pictures:
        return MakeOwnedJob<DownloadPictures>(window, table, progress, work,
                                              [pictureCount] { return pictureCount; });
    case Kind::Sounds:
        return MakeOwnedJob<DownloadSounds>(window, table, progress, work, [](const QString&) { return 7; });
    case Kind::Videos:
        return MakeOwnedJob<DownloadVideos>(window, table, progress, work);
    case Kind::Texts:
        return MakeOwnedJob<TextPagesDownload>(window, table, progress, work);
    case Kind::Files:
        return MakeOwnedJob<FilesDownload>(window, table, progress, work);
    }
    return nullptr;
}

void fillUrls(CollectionTable& table, const QStringList& urls) {
    table.setGridRowCount(int(urls.size()) + 1);
    for (int i = 0; i < int(urls.size()); ++i)
        table.setRow(i + 1, {QString::number(i + 1), QString(), urls[i]});
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing " + path.toUtf8() + ">");
}

using Clock = std::chrono::steady_clock;

// A server that turns requests away with a status and Retry-After: "/once" the first time only,
// "/always" every time; every other path answers a body. It notes when each request came.
class RefusingSite {
public:
    RefusingSite(int status, std::string retryAfter) {
        server.server().Get(R"(/.*)", [=, this](const httplib::Request& req, httplib::Response& res) {
            int seen = 0;
            {
                std::lock_guard lock(m_mutex);
                m_arrivals[req.path].push_back(Clock::now());
                seen = int(m_arrivals[req.path].size());
            }
            if (req.path == "/always" || (req.path == "/once" && seen == 1)) {
                res.status = status;
                res.set_header("Retry-After", retryAfter);
                res.set_content("not now", "text/plain");
                return;
            }
            res.set_content("body of " + req.path, "application/octet-stream");
        });
        server.start();
    }
    QString url(const char* path) const { return server.baseUrl() + QLatin1String(path); }
    std::vector<Clock::time_point> arrivals(const std::string& path) const {
        std::lock_guard lock(m_mutex);
        const auto found = m_arrivals.find(path);
        return found == m_arrivals.end() ? std::vector<Clock::time_point>{} : found->second;
    }

    test::LocalHttpServer server;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<Clock::time_point>> m_arrivals;
};

} // namespace

class TableDownloadsTest : public QObject {
    Q_OBJECT
private:
    static void kinds() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("failureWord");
        QTest::newRow("picture download") << int(Kind::Pictures) << QString("Download error");
        QTest::newRow("sound download") << int(Kind::Sounds) << QString("Download error");
        QTest::newRow("video download") << int(Kind::Videos) << QString("Download error");
        QTest::newRow("text download") << int(Kind::Texts) << QString("Download error");
        QTest::newRow("file download") << int(Kind::Files) << QString("Error");
    }

    struct Run {
        QTemporaryDir dir;
        QString folder;
        QObject window;
        std::unique_ptr<CollectionTable> table;
        RecordingProgress progress;
        OwnedJob<> job;

        Run(Kind kind, const QStringList& urls) {
            folder = dir.path() + "/";
            for (const char* sub : {"Pictures", "Sounds", "Video", "Text"})
                QDir(dir.path()).mkdir(sub);
            table = std::make_unique<CollectionTable>(tableKindOf(kind));
            fillUrls(*table, urls);
            job = makeJob(kind, &window, *table, progress, folder, int(urls.size()));
        }
    };

private slots:
    void aRemovedRowNeitherTakesNorShiftsTheResults_data() { kinds(); }
    void aRemovedRowNeitherTakesNorShiftsTheResults() {
        QFETCH(int, kind);
        HeldSite site;
        Run run(Kind(kind), {site.url("/a"), site.url("/b"), site.url("/c")});
        run.job->Resume();
        // Row 1 is in work, held by the server; the user deletes it.
        QTRY_COMPARE_WITH_TIMEOUT(site.server.requestCount("/a"), 1, 30000);
        run.table->removeDataRow(1);
        site.released = true;
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);

        CollectionTable& t = *run.table;
        QCOMPARE(t.gridRowCount(), 3);
        QCOMPARE(t.cell(col::Url, 1), site.url("/b"));
        QCOMPARE(t.cell(col::Url, 2), site.url("/c"));
        for (int row : {1, 2}) {
            QCOMPARE(t.cell(col::Status, row), QString("OK"));
            // Each row names a file holding its own address's body, not the one of the row above.
            const QByteArray expected = row == 1 ? "body of /b" : "body of /c";
            QCOMPARE(fileBytes(t.cell(col::LocalPath, row)), expected);
        }
        // Files are named by the number the row had when its item was taken: every row of the run
        // was taken before row 1 went away.
        if (Kind(kind) == Kind::Pictures)
            QCOMPARE(t.cell(col::LocalPath, 2),
                     run.folder + "Pictures" + QDir::separator() + "3" + UnknownTypeFileExtension());
        if (Kind(kind) == Kind::Texts)
            QCOMPARE(t.cell(col::LocalPath, 2), run.folder + "Text" + QDir::separator() + "3.txt");
        QCOMPARE(site.server.requestCount("/b"), 1);
        QCOMPARE(site.server.requestCount("/c"), 1);
        QCOMPARE(run.progress.maximum, 3); // the run keeps the count it started with
        QVERIFY(!run.progress.shown);
    }

    void aRowRemovedBeforeItsTurnIsNeverFetched_data() { kinds(); }
    void aRowRemovedBeforeItsTurnIsNeverFetched() {
        QFETCH(int, kind);
        HeldSite site;
        Run run(Kind(kind), {site.url("/a"), site.url("/b"), site.url("/c")});
        // One transfer at a time: /b waits for a slot behind the held /a, and /c is not taken
        // before /b has started.
        static_cast<TableDownloadJob*>(run.job.get())->setLimits({1, 1});
        run.job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(site.server.requestCount("/a"), 1, 30000);
        run.table->removeDataRow(3);
        site.released = true;
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);

        QCOMPARE(run.table->gridRowCount(), 3);
        QCOMPARE(run.table->cell(col::Status, 1), QString("OK"));
        QCOMPARE(fileBytes(run.table->cell(col::LocalPath, 1)), QByteArray("body of /a"));
        QCOMPARE(fileBytes(run.table->cell(col::LocalPath, 2)), QByteArray("body of /b"));
        QCOMPARE(site.server.requestCount("/c"), 0);
        QCOMPARE(run.progress.positions.size(), 3); // the bar still walks every item of the run
    }

    void aFailedRowShowsItsStatusWordAndKeepsTheReason_data() { kinds(); }
    void aFailedRowShowsItsStatusWordAndKeepsTheReason() {
        QFETCH(int, kind);
        QFETCH(QString, failureWord);
        HeldSite site;
        site.released = true;
        Run run(Kind(kind), {site.url("/missing"), "http://127.0.0.1:1/refused", site.url("/b")});
        run.job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);

        CollectionTable& t = *run.table;
        QCOMPARE(t.cell(col::Status, 1), failureWord);
        QCOMPARE(t.statusReason(1), QString("HTTP 404"));
        QCOMPARE(t.data(t.index(0, col::Status), Qt::ToolTipRole).toString(), QString("HTTP 404"));
        QCOMPARE(t.cell(col::Status, 2), failureWord);
        QVERIFY2(t.statusReason(2).startsWith("Network error: "), qPrintable(t.statusReason(2)));
        QCOMPARE(t.cell(col::LocalPath, 1), QString()); // a failure writes the status only
        QCOMPARE(t.cell(col::Status, 3), QString("OK"));
        QCOMPARE(t.statusReason(3), QString());
    }

    // Later rows answered first: each row still gets its own body, file and size, and the bar
    // counts completed items.
    void rowsCompletingOutOfOrderKeepTheirOwnResults_data() { kinds(); }
    void rowsCompletingOutOfOrderKeepTheirOwnResults() {
        QFETCH(int, kind);
        test::LocalHttpServer server;
        std::atomic<int> releasedUpTo{4}; // paths /1../3 answer once releasedUpTo <= their number
        for (int i = 1; i <= 3; ++i) {
            server.server().Get(
                "/" + std::to_string(i), [i, &releasedUpTo](const httplib::Request&, httplib::Response& res) {
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                    while (releasedUpTo > i && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    res.set_content(std::string(size_t(i) * 10, char('a' + i)), "application/octet-stream");
                });
        }
        server.start();
        const QString base = server.baseUrl();
        Run run(Kind(kind), {base + "/1", base + "/2", base + "/3"});
        run.job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(server.totalRequests(), 3, 30000);
        CollectionTable& t = *run.table;
        for (int row : {3, 2, 1}) {
            releasedUpTo = row;
            QTRY_COMPARE_WITH_TIMEOUT(t.cell(col::Status, row), QString("OK"), 30000);
            for (int later = 1; later < row; ++later)
                QCOMPARE(t.cell(col::Status, later), QString()); // earlier rows are still in flight
        }
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);
        const int pathColumn = Kind(kind) == Kind::Files ? col::FileName : col::LocalPath;
        for (int row = 1; row <= 3; ++row) {
            const QString path = t.cell(pathColumn, row);
            QCOMPARE(fileBytes(path), QByteArray(row * 10, char('a' + row)));
            if (Kind(kind) != Kind::Files)
                QVERIFY2(QFileInfo(path).completeBaseName() == QString::number(row), qPrintable(path));
        }
        if (Kind(kind) == Kind::Sounds || Kind(kind) == Kind::Videos)
            QCOMPARE(t.cell(col::Size, 2), QString("20"));
        if (Kind(kind) == Kind::Texts)
            QCOMPARE(t.cell(col::TextSize, 2), QString("20"));
        if (Kind(kind) == Kind::Files)
            QCOMPARE(t.cell(col::FileSize, 2), QString("20"));
        // The text download counts completed items; the others stand one short until the bar is hidden.
        QCOMPARE(run.progress.positions,
                 (Kind(kind) == Kind::Texts ? QList<int>{1, 2, 3} : QList<int>{0, 1, 2}));
        // Only the final files are left: no temporary file stays beside them.
        QDir folder(QFileInfo(t.cell(pathColumn, 1)).absolutePath());
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    // Six rows on one host with a per-host limit of 2: two answers are in progress at once, never more.
    void thePerHostLimitHolds() {
        test::LocalHttpServer server;
        std::atomic<int> inProgress{0};
        std::atomic<int> most{0};
        const auto heldUntil = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        server.server().Get(R"(/p/\d+)", [&](const httplib::Request&, httplib::Response& res) {
            const int now = ++inProgress;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            // Held until two are in at once, however slowly a busy machine sends the second, then a
            // while longer, for a third past the limit to show.
            while (most < 2 && std::chrono::steady_clock::now() < heldUntil)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            --inProgress;
            res.set_content("x", "application/octet-stream");
        });
        server.start();
        QStringList urls;
        for (int i = 1; i <= 6; ++i)
            urls << server.baseUrl() + "/p/" + QString::number(i);
        Run run(Kind::Videos, urls);
        static_cast<TableDownloadJob*>(run.job.get())->setLimits({8, 2});
        run.job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);
        for (int row = 1; row <= 6; ++row)
            QCOMPARE(run.table->cell(col::Status, row), QString("OK"));
        QCOMPARE(most.load(), 2);
    }

    // A body shorter than it declared: the media downloads keep it under its name as "Broken", the
    // file download keeps nothing; a failed transfer leaves no file at all.
    void shortAndFailedBodies_data() { kinds(); }
    void shortAndFailedBodies() {
        QFETCH(int, kind);
        QFETCH(QString, failureWord);
        test::RawHttpServer shortBody("HTTP/1.1 200 OK\r\nContent-Type: application/x-thing\r\n"
                                      "Content-Length: 100\r\nConnection: close\r\n\r\n" +
                                      std::string(40, 'z'));
        HeldSite site;
        site.released = true;
        Run run(Kind(kind),
                {shortBody.baseUrl() + "/short", site.url("/missing"), "http://127.0.0.1:1/refused"});
        run.job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);

        CollectionTable& t = *run.table;
        QCOMPARE(t.cell(col::Status, 2), failureWord);
        QCOMPARE(t.cell(col::Status, 3), failureWord);
        const QString sub = Kind(kind) == Kind::Pictures ? "Pictures"
                            : Kind(kind) == Kind::Sounds ? "Sounds"
                            : Kind(kind) == Kind::Videos ? "Video"
                            : Kind(kind) == Kind::Texts  ? "Text"
                                                         : "";
        const QString name =
            Kind(kind) == Kind::Texts ? QStringLiteral("1.txt") : QString("1" + UnknownTypeFileExtension());
        QStringList expected;
        if (Kind(kind) == Kind::Texts) {
            QCOMPARE(t.cell(col::Status, 1), QString("OK")); // a text page is kept as it came
            QCOMPARE(t.cell(col::TextSize, 1), QString("40"));
            expected << name;
        } else if (Kind(kind) == Kind::Files) {
            QCOMPARE(t.cell(col::Status, 1), QString("Broken"));
            QCOMPARE(t.cell(col::FileName, 1), QString());
        } else {
            QCOMPARE(t.cell(col::Status, 1), QString("Broken"));
            QCOMPARE(fileBytes(run.folder + sub + "/" + name), QByteArray(40, 'z'));
            expected << name;
        }
        // Nothing else is left in the folder: no file for the failed rows, no temporary file.
        QCOMPARE(QDir(run.folder + sub).entryList(QDir::Files | QDir::Hidden), expected);
    }

    // A 429 or 503 with Retry-After: the row is asked once more after the wait and ends as its
    // second answer says; a second refusal fails the row with the status of a failed item.
    void retryAfterIsWaitedOutOnceForEveryDownload_data() { kinds(); }
    void retryAfterIsWaitedOutOnceForEveryDownload() {
        QFETCH(int, kind);
        QFETCH(QString, failureWord);
        for (const int status : {429, 503}) {
            RefusingSite site(status, "1");
            Run run(Kind(kind), {site.url("/once"), site.url("/always")});
            run.job->Resume();
            QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);

            CollectionTable& t = *run.table;
            QCOMPARE(t.cell(col::Status, 1), QString("OK"));
            const int pathColumn = Kind(kind) == Kind::Files ? col::FileName : col::LocalPath;
            QCOMPARE(fileBytes(t.cell(pathColumn, 1)), QByteArray("body of /once"));
            QCOMPARE(t.cell(col::Status, 2), failureWord);
            QCOMPARE(t.statusReason(2), QStringLiteral("HTTP %1").arg(status));
            for (const char* path : {"/once", "/always"}) {
                const auto times = site.arrivals(path);
                QCOMPARE(times.size(), size_t(2));
                QVERIFY2(times[1] - times[0] >= std::chrono::milliseconds(950),
                         "the retry came before the asked wait");
            }
            QCOMPARE(run.progress.positions.size(), 2); // the bar counts each row once, when it ends
        }
    }

    // Stopping the job or closing the window while a row waits out a long Retry-After ends the run at
    // once; a row on another host was not held up by the wait.
    void aWaitForRetryAfterEndsWhenTheJobStops_data() {
        QTest::addColumn<bool>("windowCloses");
        QTest::newRow("the job is stopped") << false;
        QTest::newRow("the window closes") << true;
    }
    void aWaitForRetryAfterEndsWhenTheJobStops() {
        QFETCH(bool, windowCloses);
        RefusingSite busy(503, "60");
        HeldSite other;
        other.released = true;
        Run run(Kind::Files, {busy.url("/always"), other.url("/b")});
        run.job->Resume();
        // The other host's row may end before the busy host has even been asked.
        QTRY_COMPARE_WITH_TIMEOUT(run.table->cell(col::Status, 2), QString("OK"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.arrivals("/always").size(), size_t(1), 30000);

        const auto stoppedAt = Clock::now();
        if (windowCloses) {
            run.job->Shutdown();
            QVERIFY(run.job->isFinished());
        } else {
            run.job->Terminate();
            QTRY_VERIFY_WITH_TIMEOUT(run.job->isFinished(), 30000);
            QCOMPARE(run.table->cell(col::Status, 1), QString("Error"));
            QCOMPARE(run.table->statusReason(1), QString("HTTP 503"));
            QCOMPARE(run.progress.positions.size(), 2);
        }
        QVERIFY2(Clock::now() - stoppedAt < std::chrono::seconds(15),
                 "the stop waited for the Retry-After of 60 s");
        QCOMPARE(busy.arrivals("/always").size(), size_t(1));
    }

    void aPictureThatDoesNotDecodeSaysSo() {
        HeldSite site;
        site.server.server().Get("/broken.png", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("\x89PNG not really", "image/png");
        });
        site.released = true;
        Run run(Kind::Pictures, {site.url("/broken.png")});
        run.job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);
        QCOMPARE(run.table->cell(col::Status, 1), QString("Download error"));
        QVERIFY2(run.table->statusReason(1).startsWith("Decode error: "),
                 qPrintable(run.table->statusReason(1)));
    }

    void aBodyThatCannotBeWrittenIsAWriteError() {
        HeldSite site;
        site.released = true;
        Run run(Kind::Texts, {site.url("/b")});
        QDir(run.dir.path()).rmdir("Text"); // nowhere to write the page
        run.job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);
        QCOMPARE(run.table->cell(col::Status, 1), QString("Download error"));
        QVERIFY2(run.table->statusReason(1).startsWith("Write error: "),
                 qPrintable(run.table->statusReason(1)));
    }

    void reasonsOfErrors_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("reason");
        QTest::newRow("an HTTP error status") << 0 << "HTTP 503";
        QTest::newRow("a time-out") << 1 << "Network error: http://h/x: Operation timed out";
        QTest::newRow("a picture its decoder rejects") << 2 << "Decode error: not a PNG";
        QTest::newRow("a file not written") << 3 << "Write error: cannot write /x";
        QTest::newRow("anything else") << 4 << "out of memory";
    }
    void reasonsOfErrors() {
        QFETCH(int, which);
        QFETCH(QString, reason);
        switch (which) {
        case 0:
            QCOMPARE(FailureReason(HttpError("http://h/x: HTTP status 503", 503)), reason);
            break;
        case 1:
            QCOMPARE(FailureReason(HttpError("http://h/x: Operation timed out")), reason);
            break;
        case 2:
            QCOMPARE(FailureReason(PictureError("not a PNG")), reason);
            break;
        case 3:
            QCOMPARE(FailureReason(FileWriteError("cannot write /x")), reason);
            break;
        default:
            QCOMPARE(FailureReason(std::runtime_error("out of memory")), reason);
            break;
        }
    }
};

QTEST_GUILESS_MAIN(TableDownloadsTest)
#include "test_table_downloads.moc"
