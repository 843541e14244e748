// "Remove duplicates" without a window: only files without a current fingerprint are read (or
// read before their picture type was known), rows changed while the job reads are left alone,
// sounds and videos are compared byte for byte reading only files of a shared size, and no
// step holds the window thread long.
#include "jobs/duplicate_jobs.h"
#include "pictures/picture_codecs.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QThread>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <time.h>

using namespace skarvel;

namespace {

constexpr int kRunWaitMs = 120000;

class RecordingProgress : public ProgressSink {
public:
    void start(int max) override {
        maximum = max;
        shown = true;
    }
    void setValue(int position) override {
        positions << position;
        if (onFirstMove && positions.size() == 1)
            onFirstMove();
    }
    void finish() override { shown = false; }
    int maximum = -1;
    bool shown = false;
    QList<int> positions;
    std::function<void()> onFirstMove; // runs inside the job's first step after the prepare step
};

// The processor time of the calling thread: what a step costs the window thread, however busy
// the machine is with other work.
qint64 ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The application whose thread is the window thread: it watches every step a job hands to it,
// the processor time it takes and the rows it removes from the watched table.
class TimingApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::MetaCall || QThread::currentThread() != thread())
            return QCoreApplication::notify(receiver, event);
        const int rowsBefore = watched ? watched->gridRowCount() : 0;
        const qint64 start = ThreadCpuNs();
        const bool done = QCoreApplication::notify(receiver, event);
        longestStepMs = std::max(longestStepMs, (ThreadCpuNs() - start) / 1000000);
        if (watched) {
            const int removed = rowsBefore - watched->gridRowCount();
            mostRemovedInAStep = std::max(mostRemovedInAStep, removed);
            stepsThatRemoved += removed > 0 ? 1 : 0;
        }
        ++steps;
        return done;
    }
    const CollectionTable* watched = nullptr;
    qint64 longestStepMs = 0;
    int steps = 0;
    int mostRemovedInAStep = 0;
    int stepsThatRemoved = 0;
};

// The Local path cells of the table, one per row ("" for none).
QStringList localPaths(const CollectionTable& t) {
    QStringList out;
    for (int r = 1; r < t.gridRowCount(); ++r)
        out << QFileInfo(t.cell(col::LocalPath, r)).fileName();
    return out;
}

QStringList numbers(const CollectionTable& t) {
    QStringList out;
    for (int r = 1; r < t.gridRowCount(); ++r)
        out << t.cell(col::Number, r);
    return out;
}

void fillRows(CollectionTable& t, const QStringList& paths) {
    t.setGridRowCount(int(paths.size()) + 1);
    for (int r = 1; r <= int(paths.size()); ++r)
        t.setRow(r, {QString::number(r), kStatusOK, QStringLiteral("http://site/%1").arg(r), paths[r - 1]});
}

// What the window gives a job: its table, a progress bar and the report of each run.
struct Window {
    explicit Window(TableKind kind = TableKind::Pictures) : table(kind) {}
    QObject object;
    CollectionTable table;
    RecordingProgress progress;
    int reported = -1;

    DuplicateRemovalJob::Finished report() {
        return [this](int removed) { reported = removed; };
    }
    OwnedJob<RemoveDuplicatePictures> pictureJob(int maxDistance, std::function<PictureTypes()> types = {}) {
        return MakeOwnedJob<RemoveDuplicatePictures>(&object, table, progress, maxDistance, report(),
                                                     std::move(types));
    }
    // Runs the job once and returns the removed count it reported; the report comes once the
    // job is ready for the next run.
    int run(DuplicateRemovalJob& job) {
        reported = -1;
        job.Resume();
        if (!QTest::qWaitFor([&] { return reported >= 0; }, kRunWaitMs))
            qFatal("the run did not end");
        if (!job.Suspended())
            qFatal("the run was reported before the job was ready for the next");
        return reported;
    }
};

class DuplicateJobsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString file(const QString& name) const { return dir.filePath(name); }
    void writePicture(const QString& name, const Rgb24Image& picture, PictureKind kind) {
        test::writeFile(file(name), EncodePicture(picture, kind));
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        const Rgb24Image a = test::makeScene(400, 300, 1);
        Rgb24Image half(200, 150);
        QVERIFY(ResizeNearest(a, half));
        writePicture("a.png", a, PictureKind::Png);
        writePicture("a-half.png", half, PictureKind::Png);
        writePicture("a.jpg", a, PictureKind::Jpeg);
        writePicture("b.png", test::makeScene(400, 300, 2), PictureKind::Png);
        QFile::copy(file("b.png"), file("b-copy.png"));
        test::writeFile(file("broken.png"), "not a picture");
        QFile::copy(file("broken.png"), file("broken-copy.png"));
    }

    void readsOnlyFilesWithoutACurrentFingerprint() {
        Window w;
        auto job = w.pictureJob(4);
        // Rows 1 and 4 carry what the download's measuring pass learnt.
        fillRows(w.table,
                 {file("a.png"), file("b.png"), file("a-half.png"), file("b-copy.png"), file("a.jpg"),
                  file("broken.png"), file("broken-copy.png"), file("missing.png"), ""});
        w.table.setFingerprint(
            1, RemoveDuplicatePictures::FingerprintPicture(file("a.png"), PictureTypes::Classic));
        w.table.setFingerprint(
            4, RemoveDuplicatePictures::FingerprintPicture(file("b-copy.png"), PictureTypes::Classic));

        std::uint64_t decodes = PictureDecodeCount();
        QCOMPARE(w.run(*job), 3);
        QCOMPARE(PictureDecodeCount() - decodes, std::uint64_t{5}); // rows 2, 3, 5, 6, 7
        QCOMPARE(localPaths(w.table),
                 QStringList({"a.png", "b.png", "broken.png", "broken-copy.png", "missing.png", ""}));
        QCOMPARE(numbers(w.table), QStringList({"1", "2", "3", "4", "5", "6"}));
        QCOMPARE(w.progress.maximum, 9);
        QVERIFY(!w.progress.shown);
        QVERIFY(w.table.fingerprint(3) &&
                !w.table.fingerprint(3)->decoded); // a file that does not decode stays
        QCOMPARE(w.table.fingerprint(5), nullptr);

        // The second run reads nothing; a file changed since is read again.
        decodes = PictureDecodeCount();
        QCOMPARE(w.run(*job), 0);
        QCOMPARE(PictureDecodeCount(), decodes);
        QFile::remove(file("broken-copy.png"));
        QVERIFY(QFile::copy(file("a.png"), file("broken-copy.png")));
        QCOMPARE(w.run(*job), 1);
        QCOMPARE(PictureDecodeCount() - decodes, std::uint64_t{1});
        QCOMPARE(localPaths(w.table), QStringList({"a.png", "b.png", "broken.png", "missing.png", ""}));
    }

    void distanceZeroComparesBytesOnly() {
        Window w;
        auto job = w.pictureJob(0);
        fillRows(w.table,
                 {file("a.png"), file("a-half.png"), file("a.jpg"), file("b.png"), file("b-copy.png")});
        QCOMPARE(w.run(*job), 1);
        QCOMPARE(localPaths(w.table), QStringList({"a.png", "a-half.png", "a.jpg", "b.png"}));
    }

    void rowsChangedWhileTheJobReadsAreLeftAlone() {
        Window w;
        auto job = w.pictureJob(4);
        fillRows(w.table,
                 {file("a.png"), file("a-half.png"), file("a.jpg"), file("b-copy.png"), file("b.png")});
        // After the rows were taken: a's row goes, and b's copy now names another file.
        w.progress.onFirstMove = [&] {
            w.table.removeDataRow(1);
            w.table.setCell(col::LocalPath, 3, file("elsewhere.png"));
        };
        QCOMPARE(w.run(*job), 0);
        QCOMPARE(localPaths(w.table), QStringList({"a-half.png", "a.jpg", "elsewhere.png", "b.png"}));
    }

    // A WebP is decoded only while the modern types are on; a row read before they were is read again.
    void theRunsPictureTypesDecideWhatDecodes() {
        if (!PictureKindBuilt(PictureKind::Webp))
            QSKIP("built without WebP");
        writePicture("a.webp", test::makeScene(400, 300, 1), PictureKind::Webp);
        Window w;
        PictureTypes types = PictureTypes::Classic;
        auto job = w.pictureJob(4, [&] { return types; });
        fillRows(w.table, {file("a.jpg"), file("a.webp"), file("b.png")});
        QCOMPARE(w.run(*job), 0);
        QVERIFY(w.table.fingerprint(2) && !w.table.fingerprint(2)->decoded);

        types = PictureTypes::Modern;
        const std::uint64_t decodes = PictureDecodeCount();
        QCOMPARE(w.run(*job), 1);
        QCOMPARE(PictureDecodeCount() - decodes, std::uint64_t{1});
        QCOMPARE(localPaths(w.table), QStringList({"a.jpg", "b.png"}));
    }

    void soundsAndVideosGoByteForByteReadingOnlySharedSizes() {
        test::writeFile(file("x.mp3"), QByteArray(100, 'x'));
        test::writeFile(file("y.mp3"), QByteArray(100, 'y'));
        test::writeFile(file("x-copy.mp3"), QByteArray(100, 'x'));
        test::writeFile(file("z.mp3"), QByteArray(7, 'z'));
        for (const TableKind kind : {TableKind::Sounds, TableKind::Videos}) {
            Window w(kind);
            auto job = MakeOwnedJob<RemoveDuplicateFiles>(&w.object, w.table, w.progress, w.report());
            fillRows(w.table,
                     {file("x.mp3"), file("y.mp3"), "", file("x-copy.mp3"), file("z.mp3"), file("x.mp3")});
            QCOMPARE(w.run(*job), 2);
            QCOMPARE(localPaths(w.table), QStringList({"x.mp3", "y.mp3", "", "z.mp3"}));
            QCOMPARE(numbers(w.table), QStringList({"1", "2", "3", "4"}));
            QVERIFY(w.table.fingerprint(1) && w.table.fingerprint(2));
            QCOMPARE(w.table.fingerprint(4), nullptr); // the only file of its size is never read
        }
    }

    void emptyTableRemovesNothing() {
        Window w;
        auto job = w.pictureJob(4);
        QCOMPARE(w.run(*job), 0);
        QVERIFY(w.table.isEmptyTable());
        QCOMPARE(w.progress.maximum, 0);
    }

    // 25,000 rows, most of them known from their download: the window thread runs the
    // prepare and finish steps over all of them, and each step stays short.
    void resultsReachTheWindowInBoundedSteps() {
        Window w;
        auto job = w.pictureJob(4);
        const QStringList files{file("a.png"), file("a-half.png"), file("a.jpg"), file("b.png")};
        constexpr int kRows = 25000; // applied over several window steps
        w.table.setGridRowCount(kRows + 1);
        std::vector<std::shared_ptr<const ContentFingerprint>> known;
        for (const QString& f : files)
            known.push_back(RemoveDuplicatePictures::FingerprintPicture(f, PictureTypes::Classic));
        for (int r = 1; r <= kRows; ++r) {
            w.table.setRow(r, {QString::number(r), kStatusOK, QStringLiteral("http://site/%1").arg(r),
                               files[(r - 1) % files.size()]});
            if (r > int(files.size()))
                w.table.setFingerprint(r, known[size_t((r - 1) % files.size())]);
        }
        auto* app = static_cast<TimingApplication*>(QCoreApplication::instance());
        app->longestStepMs = 0;
        app->steps = app->mostRemovedInAStep = app->stepsThatRemoved = 0;
        app->watched = &w.table;
        QCOMPARE(w.run(*job), kRows - 2); // one row of a, one of b
        app->watched = nullptr;
        QCOMPARE(localPaths(w.table), QStringList({"a.png", "b.png"}));
        qInfo("longest of %d window steps over %d rows: %lld ms of processor time", app->steps, kRows,
              app->longestStepMs);
        // No window step removes more than 10,000 rows: the results come in three steps of them.
        // (How long a step takes is measured by bench_duplicates_window, not asserted here.)
        QVERIFY(app->steps >= 6); // prepare, the bar, three of results, finish
        QCOMPARE(app->stepsThatRemoved, 3);
        QVERIFY2(app->mostRemovedInAStep <= 10000,
                 qPrintable(QStringLiteral("a step removed %1 rows").arg(app->mostRemovedInAStep)));
    }
};

} // namespace

int main(int argc, char** argv) {
    TimingApplication app(argc, argv);
    DuplicateJobsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_duplicate_jobs.moc"
