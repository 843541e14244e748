// Exporting collections into SQLite tables, driven through the real window and
// dialogs and checked with the sqlite3 shell.
#include "tests/gui/export_test_support.h"

#include <memory>

using namespace skarvel;
using namespace skarvel::test;

class ExportSqliteTest : public QObject {
    Q_OBJECT
private slots:
    void dialogsCarryTheirControls();
    void picturesOriginalThenBmp();
    void secondExportIntoTheSameTable();
    void tableNameCleaning();
    void pictureRowsKeepTheirOwnData();
    void nothingWrittenBesideTheDatabase();
    void filesStoredUnchanged_data();
    void filesStoredUnchanged();
    void connectionError();
    void cancelCommitsTheRowsDone();
    void failedCommitKeepsTheDatabaseAsItWas_data();
    void failedCommitKeepsTheDatabaseAsItWas();
};

namespace {

const QString kExported = QStringLiteral("Collection exported to SQLite database!");

// The blob of a row, decoded from the shell's hex.
QByteArray blobOf(const QString& db, const QString& table, int id) {
    const QStringList out =
        sqlite(db, QString("select hex(data) from \"%1\" where id=%2;").arg(table).arg(id));
    return out.isEmpty() ? QByteArray() : QByteArray::fromHex(out.first().toLatin1());
}

// The picture format and size ImageMagick sees in a row's blob.
QString identifyBlob(const QString& db, const QString& table, int id, const QString& scratch) {
    const QString path = scratch + QString("/blob%1").arg(id);
    test::writeFile(path, blobOf(db, table, id));
    return identify(path);
}

// Runs an export dialog into db; setUp fills the dialog's fields first.
void exportTo(
    GuiFixture& f, const QString& button, const QString& db,
    const std::function<void(QWidget*)>& setUp = [](QWidget*) {}) {
    f.answers.saveFiles.push_back(db);
    runDialog(
        f.answers, [&] { test::Press(f.form.get(), button); }, setUp, "BitBtn1", kExported);
}

} // namespace

void ExportSqliteTest::dialogsCarryTheirControls() {
    GuiFixture f;
    TForm1* form = f.start();
    struct Expected {
        QWidget* dialog;
        const char* tableField;
        QString defaultTable;
        const char* dropBox;
        const char* overwriteBox;
        const char* cancel;
        QString listLabel;
    };
    const Expected cases[] = {
        {test::Part<QWidget>(form, "Form10"), "Edit3", "Pictures", "CheckBox2", "CheckBox3", "BitBtn3",
         "Save images as"},
        {test::Part<QWidget>(form, "Form18"), "Edit1", "Sounds", "CheckBox1", "CheckBox2", "BitBtn2",
         "Save sounds as"},
        {test::Part<QWidget>(form, "Form26"), "Edit1", "Videos", "CheckBox1", "CheckBox2", "BitBtn2",
         "Save videos as"},
        {test::Part<QWidget>(form, "Form33"), "Edit1", "Text", "CheckBox1", "CheckBox2", "BitBtn2", ""},
    };
    for (const Expected& e : cases) {
        QCOMPARE(child<QLineEdit>(e.dialog, e.tableField)->text(), e.defaultTable);
        QCOMPARE(child<QCheckBox>(e.dialog, e.dropBox)->text(), QString("Drop table if exists"));
        QCOMPARE(child<QCheckBox>(e.dialog, e.overwriteBox)->text(),
                 QString("Overwrite database file if exists"));
        QVERIFY(!child<QCheckBox>(e.dialog, e.dropBox)->isChecked());
        QVERIFY(!child<QCheckBox>(e.dialog, e.overwriteBox)->isChecked());
        auto* start = child<QPushButton>(e.dialog, "BitBtn1");
        QCOMPARE(start->text(), QString("Export to SQLite"));
        QCOMPARE(start->property("glyph").toInt(), 3);
        QCOMPARE(child<QPushButton>(e.dialog, e.cancel)->property("glyph").toInt(), 7);
        QVERIFY(child<QProgressBar>(e.dialog, "ProgressBar1")->isHidden());
        QStringList labels;
        for (QLabel* label : e.dialog->findChildren<QLabel*>())
            labels << label->text();
        QVERIFY(labels.contains("Table name"));
        if (e.listLabel.isEmpty())
            QVERIFY(!e.dialog->findChild<QComboBox*>("ComboBox1"));
        else
            QVERIFY2(labels.contains(e.listLabel), qPrintable(e.listLabel));
    }
}

void ExportSqliteTest::picturesOriginalThenBmp() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.jpg", 30, 20, 1);
    writePicture(pics + "2.png", 31, 21, 2);
    writePicture(pics + "3.gif", 32, 22, 3);
    fillTable(test::pictureTable(form), col::PicExportName,
              {{pics + "1.jpg", "1.jpg"}, {pics + "2.png", "2.png"}, {pics + "3.gif", "3.gif"}});
    const QString folder = f.tempDir.path() + "/db";
    QDir().mkpath(folder);
    const QString db = folder + "/export.sqlite";
    const QString scratch = f.tempDir.path();

    exportTo(f, "BitBtn2", db);
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    QCOMPARE(sqlite(db, "select id,name,type from Pictures order by id;"),
             (QStringList{"1|1|jpg", "2|2|png", "3|3|gif"}));
    QCOMPARE(identifyBlob(db, "Pictures", 1, scratch), QString("30x20 JPEG"));
    QCOMPARE(identifyBlob(db, "Pictures", 2, scratch), QString("31x21 PNG"));
    QCOMPARE(identifyBlob(db, "Pictures", 3, scratch), QString("32x22 GIF"));
    QCOMPARE(sqlite(db, "select sql from sqlite_master where name='Pictures';"),
             QStringList{
                 "CREATE TABLE `Pictures` (`id` INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,`name` TEXT NOT "
                 "NULL,`type` TEXT NOT NULL,`data` BLOB)"});
    // The export folder is now the database's folder: the next chooser of any tab starts there.
    QCOMPARE(exportChooserStart(form, f.answers, "BitBtn5"),
             QDir::toNativeSeparators(folder) + QDir::separator());

    // "BMP", dropping the first export's table.
    exportTo(f, "BitBtn2", db, [](QWidget* d) {
        child<QComboBox>(d, "ComboBox1")->setCurrentIndex(4);
        clickBox(child<QCheckBox>(d, "CheckBox2"));
    });
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    QCOMPARE(sqlite(db, "select id,name,type from Pictures order by id;"),
             (QStringList{"1|1|bmp", "2|2|bmp", "3|3|bmp"}));
    for (int id = 1; id <= 3; ++id) {
        const QByteArray bmp = blobOf(db, "Pictures", id);
        QVERIFY(bmp.startsWith("BM"));
        QCOMPARE(int(quint8(bmp[28])) | int(quint8(bmp[29])) << 8, 24); // bits per pixel
    }
    QCOMPARE(identifyBlob(db, "Pictures", 2, scratch), QString("31x21 BMP3"));

    fillTable(test::soundTable(form), col::MediaExportName, {{"x", "y.mp3"}});
    WhenModalShows([&](QWidget* d) { QTest::mouseClick(child<QPushButton>(d, "BitBtn1"), Qt::LeftButton); });
    test::Press(form, "BitBtn4"); // the chooser has no answer queued: it is cancelled
    QCOMPARE(f.answers.directoryStarts, QStringList{QDir::toNativeSeparators(folder) + QDir::separator()});
}

void ExportSqliteTest::secondExportIntoTheSameTable() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.jpg", 10, 10);
    writePicture(pics + "2.png", 10, 10);
    fillTable(test::pictureTable(form), col::PicExportName,
              {{pics + "1.jpg", "1.jpg"}, {pics + "2.png", "2.png"}});
    const QString db = f.tempDir.path() + "/twice.db";
    exportTo(f, "BitBtn2", db);
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);

    // Both boxes unchecked: CREATE TABLE fails with the database's own text and no run starts.
    f.answers.messages.clear();
    f.answers.saveFiles.push_back(db);
    WhenModalShows([&](QWidget* d) {
        QTest::mouseClick(child<QPushButton>(d, "BitBtn1"), Qt::LeftButton);
        QCOMPARE(f.answers.messages, QStringList{"table `Pictures` already exists"});
        QVERIFY(d->isVisible());
        QVERIFY(child<QProgressBar>(d, "ProgressBar1")->isHidden());
    });
    test::Press(form, "BitBtn2");
    // A run would have left the job running: its first step waits for this thread.
    QVERIFY(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended());
    deliverQueuedEvents();
    QCOMPARE(f.answers.messages.size(), 1);
    QCOMPARE(sqlite(db, "select id,name,type from Pictures order by id;"),
             (QStringList{"1|1|jpg", "2|2|png"}));

    // The failed attempt left the file free: "Overwrite database file" starts afresh and
    // takes every table of the old file with it.
    runTool("sqlite3", {db, "create table Other(x); insert into Other values(1);"});
    exportTo(f, "BitBtn2", db, [](QWidget* d) { clickBox(child<QCheckBox>(d, "CheckBox3")); });
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    QCOMPARE(sqlite(db, "select name from sqlite_master where type='table' and name<>'sqlite_sequence';"),
             QStringList{"Pictures"});
    QCOMPARE(sqlite(db, "select count(*) from Pictures;"), QStringList{"2"});
}

void ExportSqliteTest::tableNameCleaning() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.png", 8, 8);
    fillTable(test::pictureTable(form), col::PicExportName, {{pics + "1.png", "1.png"}});
    const QString db = f.tempDir.path() + "/names.db";

    exportTo(f, "BitBtn2", db, [](QWidget* d) {
        auto* field = child<QLineEdit>(d, "Edit3");
        auto* other = child<QCheckBox>(d, "CheckBox2");
        typeAndLeave(field, "__", other);
        QTRY_COMPARE_WITH_TIMEOUT(field->text(), QString("Pictures"), kWaitMs);
        typeAndLeave(field, QString::fromUtf8("My Pictures-2é_"), other);
        QTRY_COMPARE_WITH_TIMEOUT(field->text(), QString("MyPictures2"), kWaitMs);
    });
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    QCOMPARE(sqlite(db, "select name,type from MyPictures2;"), QStringList{"1|png"});

    // A name that starts with a digit works, the drop box included, on pictures and texts alike.
    for (int round = 0; round < 2; ++round) {
        exportTo(f, "BitBtn2", db, [round](QWidget* d) {
            child<QLineEdit>(d, "Edit3")->setText("2024");
            child<QCheckBox>(d, "CheckBox2")->setChecked(round == 1);
        });
        QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    }
    QCOMPARE(sqlite(db, "select id,name from \"2024\";"), QStringList{"1|1"});

    test::writeFile(f.workFolder() + "Text/1.txt", "text");
    fillTable(test::textTable(form), col::TextExportName, {{f.workFolder() + "Text/1.txt", "t.txt"}});
    for (int round = 0; round < 2; ++round) {
        exportTo(f, "BitBtn14", db, [](QWidget* d) {
            child<QLineEdit>(d, "Edit1")->setText("1st");
            child<QCheckBox>(d, "CheckBox1")->setChecked(true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportTextsSQLite)->Suspended(), kWaitMs);
    }
    QCOMPARE(sqlite(db, "select id,name,type from \"1st\";"), QStringList{"1|t|txt"});
    QCOMPARE(f.answers.messages, QStringList(5, kExported));
}

void ExportSqliteTest::pictureRowsKeepTheirOwnData() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.jpg", 24, 12, 1);
    writePicture(pics + "2.png", 13, 26, 2);
    writePicture(pics + "3.png", 9, 9, 3);
    writePicture(pics + "4.bmp", 7, 5, 4);
    fillTable(test::pictureTable(form), col::PicExportName,
              {{pics + "1.jpg", "5.jpg"},
               {pics + "2.png", "5.png"},
               {pics + "3.png", "it's.jpg"},
               {pics + "4.bmp", "noext"},
               {pics + "3.png", "x'); drop table Pictures; --.png"}});
    const QString db = f.tempDir.path() + "/own.db";
    exportTo(f, "BitBtn2", db, [](QWidget* d) { child<QComboBox>(d, "ComboBox1")->setCurrentIndex(1); });
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    QCOMPARE(
        sqlite(db, "select id,name,type from Pictures order by id;"),
        (QStringList{"1|5|jpg", "2|5|jpg", "3|it's|jpg", "4||jpg", "5|x'); drop table Pictures; --|jpg"}));
    const QString scratch = f.tempDir.path();
    QCOMPARE(identifyBlob(db, "Pictures", 1, scratch), QString("24x12 JPEG"));
    QCOMPARE(identifyBlob(db, "Pictures", 2, scratch), QString("13x26 JPEG"));
    QCOMPARE(identifyBlob(db, "Pictures", 3, scratch), QString("9x9 JPEG"));
    QCOMPARE(identifyBlob(db, "Pictures", 4, scratch), QString("7x5 JPEG"));
}

void ExportSqliteTest::nothingWrittenBesideTheDatabase() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.png", 10, 10);
    writePicture(pics + "2.gif", 10, 10);
    fillTable(test::pictureTable(form), col::PicExportName,
              {{pics + "1.png", "1.jpg"}, {pics + "2.gif", "photo.gif"}});
    const QString folder = f.tempDir.path() + "/userfolder";
    test::writeFile(folder + "/1.jpg", "the user's own file");
    const QString db = folder + "/pictures.db";
    exportTo(f, "BitBtn2", db);
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), kWaitMs);
    QCOMPARE(filesIn(folder), (QStringList{"1.jpg", "pictures.db"}));
    QCOMPARE(test::readFile(folder + "/1.jpg"), QByteArray("the user's own file"));
    QCOMPARE(sqlite(db, "select name,type from Pictures order by id;"), (QStringList{"1|jpg", "photo|gif"}));
}

void ExportSqliteTest::filesStoredUnchanged_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("sounds") << "sounds";
    QTest::newRow("videos") << "videos";
    QTest::newRow("texts") << "texts";
}

void ExportSqliteTest::filesStoredUnchanged() {
    QFETCH(QString, kind);
    GuiFixture f;
    TForm1* form = f.start();
    CollectionTable* table = kind == "sounds"   ? test::soundTable(form)
                             : kind == "videos" ? test::videoTable(form)
                                                : test::textTable(form);
    const int nameColumn = kind == "texts" ? col::TextExportName : col::MediaExportName;
    const QString local = f.workFolder() + (kind == "sounds"   ? "Sounds/"
                                            : kind == "videos" ? "Video/"
                                                               : "Text/");
    QByteArray rain;
    for (int i = 0; i < 50000; ++i)
        rain.append(char((i * 131) % 256));
    const QByteArray wind("OggS\0\0wind", 10);
    test::writeFile(local + "1.mp3", rain);
    test::writeFile(local + "2.OGG", wind);
    test::writeFile(local + "4.mp3", "song");
    test::writeFile(local + "5.webm", QByteArray());
    fillTable(table, nameColumn,
              {{local + "1.mp3", "Rain.mp3"},
               {local + "2.OGG", "Wind.ogg"},
               {local + "3.mp3", "Gone.mp3"}, // local file deleted: no row
               {local + "4.mp3", "Song.wav"},
               {local + "5.webm", "Clip.webm"}});
    const QString db = f.tempDir.path() + "/media.db";
    const QString command = kind == "sounds" ? "BitBtn3" : kind == "videos" ? "BitBtn11" : "BitBtn14";
    const QString tableName = kind == "sounds" ? "Sounds" : kind == "videos" ? "Videos" : "Text";
    exportTo(f, command, db, [](QWidget* d) {
        if (auto* list = d->findChild<QComboBox*>("ComboBox1"))
            list->setCurrentIndex(3); // the files are stored as they are whatever is chosen
    });
    BackgroundJob* job =
        kind == "sounds"   ? static_cast<BackgroundJob*>(test::CurrentJob(form, JobId::ExportSoundsSQLite))
        : kind == "videos" ? static_cast<BackgroundJob*>(test::CurrentJob(form, JobId::ExportVideosSQLite))
                           : static_cast<BackgroundJob*>(test::CurrentJob(form, JobId::ExportTextsSQLite));
    QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), kWaitMs);
    QCOMPARE(f.answers.messages.last(), "1 file could not be read and was left out: " + local + "3.mp3.");
    const QStringList expected = kind == "texts"
                                     ? QStringList{"1|Rain|txt", "2|Wind|txt", "3|Song|txt", "4|Clip|txt"}
                                     : QStringList{"1|Rain|mp3", "2|Wind|ogg", "3|Song|mp3", "4|Clip|ebm"};
    QCOMPARE(sqlite(db, QString("select id,name,type from %1 order by id;").arg(tableName)), expected);
    QCOMPARE(blobOf(db, tableName, 1), rain);
    QCOMPARE(blobOf(db, tableName, 2), wind);
    QCOMPARE(sqlite(db, QString("select typeof(data),length(data) from %1 where id=4;").arg(tableName)),
             QStringList{"blob|0"});
}

void ExportSqliteTest::connectionError() {
    GuiFixture f;
    TForm1* form = f.start();
    test::writeFile(f.workFolder() + "Sounds/1.mp3", "x");
    fillTable(test::soundTable(form), col::MediaExportName, {{f.workFolder() + "Sounds/1.mp3", "a.mp3"}});
    QDir().mkpath(f.tempDir.path() + "/before");
    exportTo(f, "BitBtn3", f.tempDir.path() + "/before/first.db");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportSoundsSQLite)->Suspended(), kWaitMs);
    f.answers.messages.clear();
    const QString db = f.tempDir.path() + "/missing/folder/x.db";
    f.answers.saveFiles.push_back(db);
    WhenModalShows([&](QWidget* d) {
        QTest::mouseClick(child<QPushButton>(d, "BitBtn1"), Qt::LeftButton);
        QCOMPARE(f.answers.messages, QStringList{"Database connection error!"});
        QVERIFY(child<QProgressBar>(d, "ProgressBar1")->isHidden());
    });
    test::Press(form, "BitBtn3");
    QVERIFY(test::CurrentJob(form, JobId::ExportSoundsSQLite)->Suspended());
    QVERIFY(!QFileInfo::exists(db));
    QCOMPARE(exportChooserStart(form, f.answers, "BitBtn4"),
             QDir::toNativeSeparators(f.tempDir.path() + "/before/"));

    // A cancelled file chooser does nothing at all.
    f.answers.messages.clear();
    WhenModalShows([&](QWidget* d) { QTest::mouseClick(child<QPushButton>(d, "BitBtn1"), Qt::LeftButton); });
    test::Press(form, "BitBtn3");
    QVERIFY(f.answers.messages.isEmpty());
}

void ExportSqliteTest::cancelCommitsTheRowsDone() {
    GuiFixture f;
    TForm1* form = f.start();
    QList<Row> rows;
    for (int i = 1; i <= 40; ++i) {
        const QString path = f.workFolder() + QString("Sounds/%1.mp3").arg(i);
        test::writeFile(path, QByteArray::number(i));
        rows.append({path, QString("s%1.mp3").arg(i)});
    }
    fillTable(test::soundTable(form), col::MediaExportName, rows);
    BackgroundJob* first = test::CurrentJob(form, JobId::ExportSoundsSQLite);
    const QString db = f.tempDir.path() + "/cancel.db";
    f.answers.saveFiles.push_back(db);
    WhenModalShows([&](QWidget* d) { startThenCancelAtFirstRow(d, "BitBtn2", f.answers.messages); });
    test::Press(form, "BitBtn3");
    QCOMPARE(f.answers.messages, QStringList{kExported});
    QVERIFY(test::CurrentJob(form, JobId::ExportSoundsSQLite) != first);
    QCOMPARE(sqlite(db, "select id,name,type from Sounds;"), QStringList{"1|s1|mp3"});

    // The fresh job serves the next export in full.
    exportTo(f, "BitBtn3", db, [](QWidget* d) { child<QCheckBox>(d, "CheckBox1")->setChecked(true); });
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportSoundsSQLite)->Suspended(), kWaitMs);
    QCOMPARE(sqlite(db, "select count(*) from Sounds;"), QStringList{"40"});
}

void ExportSqliteTest::failedCommitKeepsTheDatabaseAsItWas_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("pictures") << "pictures";
    QTest::newRow("sounds") << "sounds";
}

// Another program holds a read transaction on the file past the busy time-out, so
// the export's commit cannot take the file.
void ExportSqliteTest::failedCommitKeepsTheDatabaseAsItWas() {
    QFETCH(QString, kind);
    GuiFixture f;
    TForm1* form = f.start();
    const bool pictures = kind == "pictures";
    const QString table = pictures ? "Pictures" : "Sounds";
    const QString local = f.workFolder() + (pictures ? "Pictures/" : "Sounds/");
    QList<Row> rows;
    for (int i = 1; i <= 3; ++i) {
        const QString path = local + QString::number(i) + (pictures ? ".png" : ".mp3");
        if (pictures)
            writePicture(path, 8, 8, i);
        else
            test::writeFile(path, QByteArray::number(i));
        rows.append({path, QFileInfo(path).fileName()});
    }
    fillTable(pictures ? test::pictureTable(form) : test::soundTable(form),
              pictures ? col::PicExportName : col::MediaExportName, rows);

    const QString db = f.tempDir.path() + "/held.db";
    sqlite(db, QString("create table %1 (id integer primary key, name text, type text, data blob);"
                       "insert into %1 (name, type) values ('old', 'mp3');")
                   .arg(table));
    QCOMPARE(sqlite(db, QString("select name from %1;").arg(table)), QStringList{"old"});
    SqliteDatabase reader;
    QVERIFY(reader.open(db));
    reader.exec("begin; select count(*) from sqlite_master;");

    f.answers.saveFiles.push_back(db);
    runDialog(
        f.answers, [&] { pictures ? test::Press(form, "BitBtn2") : test::Press(form, "BitBtn3"); },
        [&](QWidget* d) {
            static_cast<SqliteDialog*>(d)->busyTimeoutMs = 200;
            child<QCheckBox>(d, pictures ? "CheckBox2" : "CheckBox1")
                ->setChecked(true); // drop table if exists
        },
        "BitBtn1",
        "Collection not exported to SQLite database: 3 rows could not be committed (database is locked).");
    QTRY_VERIFY_WITH_TIMEOUT(pictures ? test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended()
                                      : test::CurrentJob(form, JobId::ExportSoundsSQLite)->Suspended(),
                             kWaitMs);

    reader.exec("commit;");
    reader.close();
    // The drop, the new table and the rows went back together.
    QCOMPARE(sqlite(db, QString("select name, type from %1;").arg(table)), QStringList{"old|mp3"});
    QCOMPARE(sqlite(db, "select name from sqlite_master where type='table';"), QStringList{table});

    // Once the other program lets go, the same export goes through.
    exportTo(f, pictures ? "BitBtn2" : "BitBtn3", db, [&](QWidget* d) {
        child<QCheckBox>(d, pictures ? "CheckBox2" : "CheckBox1")->setChecked(true);
    });
    QCOMPARE(sqlite(db, QString("select name from %1 order by id;").arg(table)),
             (QStringList{"1", "2", "3"}));
}

QTEST_MAIN(ExportSqliteTest)
#include "test_export_sqlite.moc"
