// The save and export jobs without a window: what a run writes and how it ends, a row
// whose local file is gone or cannot be read named after the closing message.
#include "jobs/export_jobs.h"
#include "pictures/picture_codecs.h"
#include "sqlite_export/sqlite_export.h"
#include "tables/collection_tables.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

using namespace skarvel;

namespace {

// The dialog's side of a run: the endings it was shown.
class RecordingView : public ExportRunView {
public:
    void runStarted(BackgroundJob*, int) override {}
    void rowReached(int) override {}
    void runEnded(BackgroundJob*, const ExportEnding& ending) override { endings.push_back(ending); }
    std::vector<ExportEnding> endings;
};

enum class Kind { SavePictures, SaveSounds, ExportPicturesSQLite, ExportTextsSQLite };

struct Setup {
    TableKind table;
    int exportNameColumn;
};

Setup setupOf(Kind kind) {
    switch (kind) {
    case Kind::SavePictures:
    case Kind::ExportPicturesSQLite:
        return {TableKind::Pictures, col::PicExportName};
    case Kind::SaveSounds:
        return {TableKind::Sounds, col::MediaExportName};
    case Kind::ExportTextsSQLite:
        return {TableKind::Texts, col::TextExportName};
    }
    return {TableKind::Pictures, col::PicExportName};
}

OwnedJob<ExportJob> makeJob(Kind kind, QObject* window, CollectionTable& table) {
    switch (kind) {
    case Kind::SavePictures:
        return MakeOwnedJob<ExportPictures>(window, table);
    case Kind::SaveSounds:
        return MakeOwnedJob<ExportSounds>(window, table);
    case Kind::ExportPicturesSQLite:
        return MakeOwnedJob<ExportPicturesSQLite>(window, table);
    case Kind::ExportTextsSQLite:
        return MakeOwnedJob<ExportTextsSQLite>(window, table);
    }
    return nullptr;
}

QByteArray smallPng() {
    Rgb24Image picture;
    picture.width = 4;
    picture.height = 3;
    picture.pixels.assign(4 * 3 * 3, 200);
    return EncodePng(picture);
}

} // namespace

class ExportJobsTest : public QObject {
    Q_OBJECT
private slots:
    void filesThatCannotBeReadAreLeftOutAndNamed_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("pictures saved") << int(Kind::SavePictures) << "Collection saved!";
        QTest::newRow("sounds saved") << int(Kind::SaveSounds) << "Collection saved!";
        QTest::newRow("pictures exported to SQLite")
            << int(Kind::ExportPicturesSQLite) << "Collection exported to SQLite database!";
        QTest::newRow("texts exported to SQLite")
            << int(Kind::ExportTextsSQLite) << "Collection exported to SQLite database!";
    }
    void filesThatCannotBeReadAreLeftOutAndNamed() {
        QFETCH(int, kind);
        QFETCH(QString, message);
        const Setup setup = setupOf(Kind(kind));
        QTemporaryDir dir;
        const QString local = dir.path() + "/work/";
        const QString out = dir.path() + "/out/";
        QVERIFY(QDir().mkpath(out));
        const QString kept = local + "1.png";
        const QString gone = local + "2.png";
        const QString folderInstead = local + "3.png";
        test::writeFile(kept, smallPng());
        test::writeFile(gone, smallPng());
        QVERIFY(QDir().mkpath(folderInstead));
        CollectionTable table(setup.table);
        const QStringList locals{kept, gone, folderInstead, QString()}; // the last row was never downloaded
        table.setGridRowCount(int(locals.size()) + 1);
        for (int row = 1; row <= int(locals.size()); ++row) {
            table.setCell(col::LocalPath, row, locals[row - 1]);
            table.setCell(setup.exportNameColumn, row, QString("Name%1.png").arg(row));
        }
        QVERIFY(QFile::remove(gone)); // gone between the download and the save

        QObject window;
        RecordingView view;
        OwnedJob<ExportJob> job = makeJob(Kind(kind), &window, table);
        ExportRun run;
        run.view = &view;
        run.folder = out;
        const QString db = dir.path() + "/export.db";
        if (Kind(kind) == Kind::ExportPicturesSQLite || Kind(kind) == Kind::ExportTextsSQLite) {
            run.session = std::make_shared<SqliteExportSession>();
            QVERIFY(run.session->connect(db, false));
            run.session->prepareTable("Export", false, DropStyle::Bare);
        }
        QVERIFY(job->startRun(std::move(run)));
        QTRY_COMPARE(view.endings.size(), size_t(1));

        const ExportEnding& ending = view.endings.front();
        QCOMPARE(ending.message, message);
        QVERIFY(!ending.failed);
        QCOMPARE(ending.unreadFiles,
                 QString("2 files could not be read and were left out: %1, %2.").arg(gone, folderInstead));
        if (Kind(kind) == Kind::SavePictures || Kind(kind) == Kind::SaveSounds)
            QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{"Name1.png"});
        else
            QVERIFY(QFileInfo(db).size() > 0);

        // The next run that reads every file names none.
        test::writeFile(gone, smallPng());
        QVERIFY(QDir(folderInstead).removeRecursively());
        test::writeFile(folderInstead, smallPng());
        ExportRun again;
        again.view = &view;
        again.folder = out;
        if (Kind(kind) == Kind::ExportPicturesSQLite || Kind(kind) == Kind::ExportTextsSQLite) {
            again.session = std::make_shared<SqliteExportSession>();
            QVERIFY(again.session->connect(db, false));
            again.session->prepareTable("Again", false, DropStyle::Bare);
        }
        QTRY_VERIFY(job->Suspended());
        QVERIFY(job->startRun(std::move(again)));
        QTRY_COMPARE(view.endings.size(), size_t(2));
        QCOMPARE(view.endings.back().message, message);
        QCOMPARE(view.endings.back().unreadFiles, QString());
    }

    void oneUnreadFileIsNamedInTheSingularAndManyAreCut() {
        QTemporaryDir dir;
        CollectionTable table(TableKind::Sounds);
        const int rows = 5;
        table.setGridRowCount(rows + 1);
        QStringList paths;
        for (int row = 1; row <= rows; ++row) {
            paths << dir.path() + QString("/gone%1.mp3").arg(row);
            table.setCell(col::LocalPath, row, paths.last());
            table.setCell(col::MediaExportName, row, QString("s%1.mp3").arg(row));
        }
        QObject window;
        RecordingView view;
        auto job = MakeOwnedJob<ExportSounds>(&window, table);
        ExportRun run;
        run.view = &view;
        run.folder = dir.path() + "/";
        QVERIFY(job->startRun(run));
        QTRY_COMPARE(view.endings.size(), size_t(1));
        QCOMPARE(view.endings.back().unreadFiles,
                 QString("5 files could not be read and were left out: %1, %2, %3 and 2 more.")
                     .arg(paths[0], paths[1], paths[2]));

        table.setGridRowCount(2);
        QTRY_VERIFY(job->Suspended());
        QVERIFY(job->startRun(run));
        QTRY_COMPARE(view.endings.size(), size_t(2));
        QCOMPARE(view.endings.back().unreadFiles,
                 QString("1 file could not be read and was left out: %1.").arg(paths[0]));
    }
};

QTEST_GUILESS_MAIN(ExportJobsTest)
#include "test_export_jobs.moc"
