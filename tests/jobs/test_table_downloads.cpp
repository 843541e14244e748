// The table-driven downloads without a window: each result goes to the row it
// was fetched for, whatever rows are removed while the job runs, and a failed
// row keeps why it failed.
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
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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
    case Kind::Pictures: return TableKind::Pictures;
    case Kind::Sounds: return TableKind::Sounds;
    case Kind::Videos: return TableKind::Videos;
    case Kind::Texts: return TableKind::Texts;
    case Kind::Files: return TableKind::Files;
    }
    return TableKind::Files;
}

// One job of the kind over table, its files under folder (which ends with "/").
std::unique_ptr<BackgroundJob> makeJob(Kind kind, QObject* window, CollectionTable& table, ProgressSink& progress,
                                       const QString& folder, int pictureCount) {
    const auto work = [folder] { return folder; };
    switch (kind) {
    case Kind::Pictures:
        return std::make_unique<DownloadPictures>(window, table, progress, work, [pictureCount] { return pictureCount; });
    case Kind::Sounds:
        return std::make_unique<DownloadSounds>(window, table, progress, work, [](const QString&) { return 7; });
    case Kind::Videos:
        return std::make_unique<DownloadVideos>(window, table, progress, work);
    case Kind::Texts:
        return std::make_unique<TextPagesDownload>(window, table, progress, work);
    case Kind::Files:
        return std::make_unique<FilesDownload>(window, table, progress, work);
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
        std::unique_ptr<BackgroundJob> job;

        Run(Kind kind, const QStringList& urls) {
            folder = dir.path() + "/";
            for (const char* sub : {"Pictures", "Sounds", "Video", "Text"})
                QDir(dir.path()).mkdir(sub);
            table = std::make_unique<CollectionTable>(tableKindOf(kind));
            fillUrls(*table, urls);
            job = makeJob(kind, &window, *table, progress, folder, int(urls.size()));
        }
        ~Run() { job->Shutdown(); }
    };

private slots:
    void aRemovedRowNeitherTakesNorShiftsTheResults_data() { kinds(); }
    void aRemovedRowNeitherTakesNorShiftsTheResults() {
        QFETCH(int, kind);
        HeldSite site;
        Run run(Kind(kind), {site.url("/a"), site.url("/b"), site.url("/c")});
        run.job->Resume();
        // Row 1 is in work, held by the server; the user deletes it.
        QTRY_COMPARE_WITH_TIMEOUT(site.server.requestCount("/a"), 1, 10000);
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
        // Files are named by the number the row had when its item was taken.
        if (Kind(kind) == Kind::Pictures)
            QCOMPARE(t.cell(col::LocalPath, 2), run.folder + "Pictures/2.???");
        if (Kind(kind) == Kind::Texts)
            QCOMPARE(t.cell(col::LocalPath, 2), run.folder + "Text/2.txt");
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
        run.job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(site.server.requestCount("/a"), 1, 10000);
        run.table->removeDataRow(3);
        run.table->removeDataRow(2);
        site.released = true;
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);

        QCOMPARE(run.table->gridRowCount(), 2);
        QCOMPARE(run.table->cell(col::Status, 1), QString("OK"));
        QCOMPARE(fileBytes(run.table->cell(col::LocalPath, 1)), QByteArray("body of /a"));
        QCOMPARE(site.server.requestCount("/b"), 0);
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
        QVERIFY2(run.table->statusReason(1).startsWith("Decode error: "), qPrintable(run.table->statusReason(1)));
    }

    void aBodyThatCannotBeWrittenIsAWriteError() {
        HeldSite site;
        site.released = true;
        Run run(Kind::Texts, {site.url("/b")});
        QDir(run.dir.path()).rmdir("Text"); // nowhere to write the page
        run.job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(run.job->Suspended(), 20000);
        QCOMPARE(run.table->cell(col::Status, 1), QString("Download error"));
        QVERIFY2(run.table->statusReason(1).startsWith("Write error: "), qPrintable(run.table->statusReason(1)));
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
        case 0: QCOMPARE(FailureReason(HttpError("http://h/x: HTTP status 503", 503)), reason); break;
        case 1: QCOMPARE(FailureReason(HttpError("http://h/x: Operation timed out")), reason); break;
        case 2: QCOMPARE(FailureReason(PictureError("not a PNG")), reason); break;
        case 3: QCOMPARE(FailureReason(FileWriteError("cannot write /x")), reason); break;
        default: QCOMPARE(FailureReason(std::runtime_error("out of memory")), reason); break;
        }
    }
};

QTEST_GUILESS_MAIN(TableDownloadsTest)
#include "test_table_downloads.moc"
