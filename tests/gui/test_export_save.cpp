// Saving collections into a folder, driven through the real window and dialogs.
#include "common/text_ops.h"
#include "tests/gui/export_test_support.h"

#include <QAction>
#include <QTabWidget>

#include <csignal>
#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace skarvel;
using namespace skarvel::test;

class ExportSaveTest : public QObject {
    Q_OBJECT
private slots:
    void emptyExportNameRefusesOnEveryTab_data();
    void emptyExportNameRefusesOnEveryTab();
    void dialogsCarryTheirControls();
    void menuItemsReachThePictureDialogsOnly();
    void transformFieldsNormaliseOnLeaving();
    void fitToRectangleSizes();
    void formatChoiceAndSkippedRows();
    void chooserCancelAndDeleteBox();
    void filesCopiedByteForByte_data();
    void filesCopiedByteForByte();
    void cancelStopsAfterTheRowInHand_data();
    void cancelStopsAfterTheRowInHand();
    void failedCopiesAreReported();
    void aFileDeletedBeforeTheSaveIsNamedAfterTheClosingMessage_data();
    void aFileDeletedBeforeTheSaveIsNamedAfterTheClosingMessage();
    void exportNamesBecomeValidFileNames();
};

namespace {

struct Tab {
    CollectionTable* table;
    int exportNameColumn;
};

Tab tabOf(TForm1* form, const QString& kind) {
    if (kind == "pictures")
        return {test::pictureTable(form), col::PicExportName};
    if (kind == "sounds")
        return {test::soundTable(form), col::MediaExportName};
    if (kind == "videos")
        return {test::videoTable(form), col::MediaExportName};
    return {test::textTable(form), col::TextExportName};
}

// The "Save collection" button of a tab.
QString saveButton(const QString& kind) {
    if (kind == "pictures")
        return "BitBtn5";
    if (kind == "sounds")
        return "BitBtn4";
    if (kind == "videos")
        return "BitBtn10";
    return "BitBtn13";
}

BackgroundJob* saveJob(TForm1* form, const QString& kind) {
    if (kind == "pictures")
        return test::CurrentJob(form, JobId::ExportPictures);
    if (kind == "sounds")
        return test::CurrentJob(form, JobId::ExportSounds);
    if (kind == "videos")
        return test::CurrentJob(form, JobId::ExportVideos);
    return test::CurrentJob(form, JobId::ExportTexts);
}

} // namespace

void ExportSaveTest::emptyExportNameRefusesOnEveryTab_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("caption");
    QTest::newRow("pictures, save") << "pictures"
                                    << "BitBtn5"
                                    << "Save pictures";
    QTest::newRow("pictures, SQLite") << "pictures"
                                      << "BitBtn2"
                                      << "Export pictures to SQLite";
    QTest::newRow("sounds, save") << "sounds"
                                  << "BitBtn4"
                                  << "Save sounds";
    QTest::newRow("sounds, SQLite") << "sounds"
                                    << "BitBtn3"
                                    << "Export sounds to SQLite";
    QTest::newRow("videos, save") << "videos"
                                  << "BitBtn10"
                                  << "Save videos";
    QTest::newRow("videos, SQLite") << "videos"
                                    << "BitBtn11"
                                    << "Export videos to SQLite";
    QTest::newRow("texts (column 5), save") << "texts"
                                            << "BitBtn13"
                                            << "Save text";
    QTest::newRow("texts (column 5), SQLite") << "texts"
                                              << "BitBtn14"
                                              << "Export text to SQLite";
}

void ExportSaveTest::emptyExportNameRefusesOnEveryTab() {
    QFETCH(QString, kind);
    QFETCH(QString, button);
    QFETCH(QString, caption);
    GuiFixture f;
    TForm1* form = f.start();
    const Tab tab = tabOf(form, kind);
    auto* bitBtn = form->findChild<QPushButton*>(button);
    QVERIFY(bitBtn);

    // The second of three rows has no export name: the command stops there.
    fillTable(tab.table, tab.exportNameColumn, {{"a", "1.x"}, {"b", ""}, {"c", "3.x"}});
    QVERIFY(!OpensModal([&] { QTest::mouseClick(bitBtn, Qt::LeftButton); }));
    QCOMPARE(f.answers.messages, QStringList{"Some pictures have empty names!"});

    // A fresh (empty) table has one blank row: refused as well.
    tab.table->clearToOneEmptyRow();
    QVERIFY(!OpensModal([&] { QTest::mouseClick(bitBtn, Qt::LeftButton); }));
    QCOMPARE(f.answers.messages.size(), 2);

    // Every name filled: the tab's own dialog opens.
    tab.table->setCell(tab.exportNameColumn, 1, "1.x");
    QWidget* shown = nullptr;
    WhenModalShows([&](QWidget* w) { shown = w; });
    QTest::mouseClick(bitBtn, Qt::LeftButton);
    QVERIFY(shown);
    QCOMPARE(shown->windowTitle(), caption);
    QCOMPARE(f.answers.messages.size(), 2);
}

void ExportSaveTest::menuItemsReachThePictureDialogsOnly() {
    GuiFixture f;
    TForm1* form = f.start();
    for (CollectionTable* t : {test::pictureTable(form), test::soundTable(form)})
        fillTable(t, col::PicExportName, {{"x", "1.jpg"}});
    const std::pair<const char*, QString> items[] = {
        {"Savepicturecollection1", "Save pictures"},
        {"ExportcollectiontoSQLite1", "Export pictures to SQLite"}};
    for (const auto& [name, caption] : items) {
        auto* item = form->findChild<QAction*>(name);
        QVERIFY2(item, name);
        test::PageControl1(form)->setCurrentIndex(3);
        QVERIFY(!OpensModal([&] { item->trigger(); }));
        test::PageControl1(form)->setCurrentIndex(2);
        QWidget* shown = nullptr;
        WhenModalShows([&](QWidget* w) { shown = w; });
        item->trigger();
        QVERIFY(shown);
        QCOMPARE(shown->windowTitle(), caption);
    }
    QVERIFY(f.answers.messages.isEmpty());
}

void ExportSaveTest::dialogsCarryTheirControls() {
    GuiFixture f;
    TForm1* form = f.start();
    struct Expected {
        QWidget* dialog;
        const char* deleteBox;
        QString deleteCaption;
        const char* cancel;
        QString listLabel; // "" when the dialog has no media format list
    };
    const Expected cases[] = {
        {test::Part<QWidget>(form, "Form6"), "CheckBox2",
         "Delete all files from directory before export pictures", "BitBtn3", ""},
        {test::Part<QWidget>(form, "Form17"), "CheckBox1",
         "Delete all files from destination directory before export sounds", "BitBtn2", "Save sounds as"},
        {test::Part<QWidget>(form, "Form25"), "CheckBox1",
         "Delete all files from destination directory before export videos", "BitBtn2", "Save videos as"},
        {test::Part<QWidget>(form, "Form32"), "CheckBox1",
         "Delete all files from destination directory before export texts", "BitBtn2", ""},
    };
    for (const Expected& e : cases) {
        const QString name = e.dialog->objectName();
        auto* box = child<QCheckBox>(e.dialog, e.deleteBox);
        QVERIFY2(box, qPrintable(name));
        QCOMPARE(box->text(), e.deleteCaption);
        QVERIFY(!box->isChecked());
        auto* save = child<QPushButton>(e.dialog, "BitBtn1");
        QCOMPARE(save->text(), QString("Save to directory"));
        QCOMPARE(save->property("glyph").toInt(), 2);
        auto* cancel = child<QPushButton>(e.dialog, e.cancel);
        QCOMPARE(cancel->text(), QString("Cancel"));
        QCOMPARE(cancel->property("glyph").toInt(), 7);
        QVERIFY(child<QProgressBar>(e.dialog, "ProgressBar1")->isHidden());
        auto* list = e.dialog->findChild<QComboBox*>("ComboBox1");
        if (name == "Form32") {
            QVERIFY(!list);
        } else {
            QVERIFY(list);
            QCOMPARE(list->currentIndex(), 0);
            const QStringList items = name == "Form6" ? QStringList{"Original", "JPEG", "PNG", "GIF", "BMP"}
                                                      : QStringList{"Original", "MP3", "OGG", "WAV", "AAC"};
            QCOMPARE(list->count(), items.size());
            for (int i = 0; i < items.size(); ++i)
                QCOMPARE(list->itemText(i), items[i]);
        }
        if (!e.listLabel.isEmpty()) {
            bool labelled = false;
            for (QLabel* label : e.dialog->findChildren<QLabel*>())
                labelled = labelled || label->text() == e.listLabel;
            QVERIFY2(labelled, qPrintable(e.listLabel));
        }
    }
    // The transform group of the picture dialog.
    auto* fit = child<QCheckBox>(test::Part<QWidget>(form, "Form6"), "CheckBox1");
    QCOMPARE(fit->text(), QString("Fit to rectangle"));
    QVERIFY(!fit->isChecked());
    QCOMPARE(child<QLineEdit>(test::Part<QWidget>(form, "Form6"), "Edit1")->text(), QString("100"));
    QCOMPARE(child<QLineEdit>(test::Part<QWidget>(form, "Form6"), "Edit2")->text(), QString("100"));
}

void ExportSaveTest::transformFieldsNormaliseOnLeaving() {
    GuiFixture f;
    TForm1* form = f.start();
    fillTable(test::pictureTable(form), col::PicExportName, {{"x", "1.jpg"}});
    bool checked = false;
    WhenModalShows([&](QWidget* dialog) {
        auto* fit = child<QCheckBox>(dialog, "CheckBox1");
        auto* width = child<QLineEdit>(dialog, "Edit1");
        auto* height = child<QLineEdit>(dialog, "Edit2");
        QVERIFY(!width->isEnabled() && !height->isEnabled());
        clickBox(fit);
        QVERIFY(width->isEnabled() && height->isEnabled());
        const std::pair<const char*, const char*> cases[] = {{"5", "10"}, {"20000", "10000"}, {"abc", "100"},
                                                             {"", "100"}, {"160", "160"},     {"-3", "10"}};
        for (const auto& [typed, expected] : cases) {
            typeAndLeave(width, typed, height);
            QTRY_COMPARE_WITH_TIMEOUT(width->text(), QString(expected), kWaitMs);
            typeAndLeave(height, typed, width);
            QTRY_COMPARE_WITH_TIMEOUT(height->text(), QString(expected), kWaitMs);
        }
        clickBox(fit);
        QVERIFY(!width->isEnabled() && !height->isEnabled());
        checked = true;
    });
    test::Press(form, "BitBtn5");
    QVERIFY(checked);
}

void ExportSaveTest::fitToRectangleSizes() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    const QString out = f.tempDir.path() + "/out";
    struct Case {
        QSize source;
        QSize written;
    };
    // Rectangle 100 x 100.
    const Case square[] = {{{400, 200}, {100, 50}},
                           {{200, 400}, {50, 100}},
                           {{50, 50}, {100, 100}}, // enlarged
                           {{300, 300}, {100, 100}}};
    QList<Row> rows;
    for (int i = 0; i < 4; ++i) {
        const QString local = pics + QString::number(i + 1) + ".png";
        writePicture(local, square[i].source.width(), square[i].source.height(), i);
        rows.append({local, QString("fit%1.png").arg(i + 1)});
    }
    fillTable(test::pictureTable(form), col::PicExportName, rows);
    f.answers.directories.push_back(out);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) { clickBox(child<QCheckBox>(d, "CheckBox1")); }, "BitBtn1", "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPictures)->Suspended(), kWaitMs);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(identify(out + QString("/fit%1.png").arg(i + 1)),
                 QString("%1x%2 PNG").arg(square[i].written.width()).arg(square[i].written.height()));

    // Rectangle 160 x 100, picture 333 x 200: 200 * 160 / 333 = 96.09 gives 96.
    writePicture(pics + "9.bmp", 333, 200);
    fillTable(test::pictureTable(form), col::PicExportName, {{pics + "9.bmp", "wide.bmp"}});
    f.answers.directories.push_back(out);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) {
            QVERIFY(child<QCheckBox>(d, "CheckBox1")->isChecked()); // the dialog keeps its values
            child<QLineEdit>(d, "Edit1")->setText("160");
        },
        "BitBtn1", "Collection saved!");
    QCOMPARE(identify(out + "/wide.bmp"), QString("160x96 BMP3"));
}

void ExportSaveTest::formatChoiceAndSkippedRows() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    const QString out = f.tempDir.path() + "/chosen";
    writePicture(pics + "1.png", 40, 30);
    writePicture(pics + "2.jpeg", 40, 30);
    test::writeFile(pics + "3" + UnknownTypeFileExtension(), test::readFile(pics + "1.png"));
    writePicture(pics + "5.gif", 20, 10);
    writePicture(pics + "6.bmp", 30, 20);
    fillTable(test::pictureTable(form), col::PicExportName,
              {{pics + "1.png", "7.png"},
               {pics + "2.jpeg", "2.jpg"},
               {pics + "3" + UnknownTypeFileExtension(), "3.jpg"},
               {pics + "4.png", "4.png"}, // local file deleted
               {pics + "5.gif", "../../escape.gif"},
               {pics + "6.bmp", "noext"}});
    f.answers.directories.push_back(out);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) { child<QComboBox>(d, "ComboBox1")->setCurrentIndex(1); }, "BitBtn1",
        "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPictures)->Suspended(), kWaitMs);
    // Only the decodable rows are written, each as JPEG, and nothing outside the folder.
    QCOMPARE(filesIn(out), (QStringList{".._.._escape.jpg", "7.jpg", "noext.jpg"}));
    QCOMPARE(identify(out + "/7.jpg"), QString("40x30 JPEG"));
    QCOMPARE(identify(out + "/.._.._escape.jpg"), QString("20x10 JPEG"));
    QVERIFY(!QFileInfo::exists(f.tempDir.path() + "/escape.jpg"));
    QVERIFY(!QFileInfo::exists(QFileInfo(f.tempDir.path()).absolutePath() + "/escape.jpg"));

    // "Original" encodes by the export name's own extension, letter case kept; any other ending writes
    // nothing.
    fillTable(test::pictureTable(form), col::PicExportName,
              {{pics + "1.png", "12.PNG"}, {pics + "6.bmp", "a.gif"}, {pics + "5.gif", "b.tif"}});
    const QString out2 = f.tempDir.path() + "/original";
    f.answers.directories.push_back(out2);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) { child<QComboBox>(d, "ComboBox1")->setCurrentIndex(0); }, "BitBtn1",
        "Collection saved!");
    QCOMPARE(filesIn(out2), (QStringList{"12.PNG", "a.gif"}));
    QCOMPARE(identify(out2 + "/12.PNG"), QString("40x30 PNG"));
    QCOMPARE(identify(out2 + "/a.gif"), QString("30x20 GIF"));
}

void ExportSaveTest::chooserCancelAndDeleteBox() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.jpg", 16, 16);
    fillTable(test::pictureTable(form), col::PicExportName, {{pics + "1.jpg", "new.jpg"}});

    // A cancelled chooser changes nothing and starts nothing.
    f.answers.directories.push_back(f.tempDir.path() + "/start");
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); }, [](QWidget*) {}, "BitBtn1", "Collection saved!");
    f.answers.messages.clear();
    f.answers.directoryStarts.clear();
    WhenModalShows([&](QWidget* d) {
        f.answers.directories.push_back(std::nullopt);
        QTest::mouseClick(child<QPushButton>(d, "BitBtn1"), Qt::LeftButton);
        QVERIFY(d->isVisible());
        QVERIFY(test::CurrentJob(form, JobId::ExportPictures)->Suspended());
    });
    test::Press(form, "BitBtn5");
    QCOMPARE(f.answers.directoryStarts, QStringList{QDir::toNativeSeparators(f.tempDir.path() + "/start/")});
    QCOMPARE(exportChooserStart(form, f.answers, "BitBtn5"),
             QDir::toNativeSeparators(f.tempDir.path() + "/start/"));
    QVERIFY(f.answers.messages.isEmpty());

    // The delete box empties the chosen folder of its files; sub-folders and their files stay.
    const QString out = f.tempDir.path() + "/full";
    test::writeFile(out + "/old1.jpg", "old");
    test::writeFile(out + "/old2.txt", "old");
    test::writeFile(out + "/keep/inner.txt", "inner");
    f.answers.directories.push_back(out);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) { clickBox(child<QCheckBox>(d, "CheckBox2")); }, "BitBtn1", "Collection saved!");
    QCOMPARE(filesIn(out), QStringList{"new.jpg"});
    QCOMPARE(test::readFile(out + "/keep/inner.txt"), QByteArray("inner"));
    QCOMPARE(exportChooserStart(form, f.answers, "BitBtn5"),
             QDir::toNativeSeparators(out) + QDir::separator());

    // A typed folder that does not exist yet is created; the next chooser starts at the last folder.
    const QString deep = f.tempDir.path() + "/made/for/export";
    f.answers.directories.push_back(deep);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); }, [](QWidget*) {}, "BitBtn1", "Collection saved!");
    QCOMPARE(f.answers.directoryStarts.last(), QDir::toNativeSeparators(out) + QDir::separator());
    QCOMPARE(filesIn(deep), QStringList{"new.jpg"});
}

void ExportSaveTest::filesCopiedByteForByte_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("ext");
    QTest::newRow("sounds") << "sounds"
                            << "Sounds"
                            << "mp3";
    QTest::newRow("videos") << "videos"
                            << "Video"
                            << "webm";
    QTest::newRow("texts") << "texts"
                           << "Text"
                           << "txt";
}

void ExportSaveTest::filesCopiedByteForByte() {
    QFETCH(QString, kind);
    QFETCH(QString, subFolder);
    QFETCH(QString, ext);
    GuiFixture f;
    TForm1* form = f.start();
    const Tab tab = tabOf(form, kind);
    const QString local = f.workFolder() + subFolder + "/";
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes.append(char((i * 7919) % 256)); // zero bytes, CR and LF included
    test::writeFile(local + "3." + ext, bytes);
    test::writeFile(local + "4." + ext, "second");
    const QString out = f.tempDir.path() + "/saved";
    test::writeFile(out + "/Rain." + ext, "an older file of that name");
    fillTable(tab.table, tab.exportNameColumn,
              {{local + "3." + ext, "Rain." + ext},
               {local + "9." + ext, "Gone." + ext}, // local file deleted
               {local + "4." + ext, "Other.bin"},
               {local + "4." + ext, "../up." + ext}});
    f.answers.directories.push_back(out);
    QWidget* dialog = runDialog(
        f.answers, [&] { test::Press(form, saveButton(kind)); },
        [&](QWidget* d) {
            if (auto* list = d->findChild<QComboBox*>("ComboBox1"))
                list->setCurrentIndex(2); // every file is still copied as it is
        },
        "BitBtn1", "Collection saved!");
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(saveJob(form, kind)->Suspended(), kWaitMs);
    QCOMPARE(filesIn(out), (QStringList{".._up." + ext, "Other.bin", "Rain." + ext}));
    QCOMPARE(test::readFile(out + "/Rain." + ext), bytes);
    QCOMPARE(test::readFile(out + "/Other.bin"), QByteArray("second"));
    QVERIFY(!QFileInfo::exists(f.tempDir.path() + "/up." + ext));

    // Saving into the work folder under the local file's own name leaves the file intact.
    fillTable(tab.table, tab.exportNameColumn, {{local + "3." + ext, "3." + ext}});
    f.answers.directories.push_back(local);
    runDialog(
        f.answers, [&] { test::Press(form, saveButton(kind)); }, [](QWidget*) {}, "BitBtn1",
        "Collection saved!");
    QCOMPARE(test::readFile(local + "3." + ext), bytes);
}

void ExportSaveTest::cancelStopsAfterTheRowInHand_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("pictures (bar moves before the row)") << "pictures";
    QTest::newRow("sounds (bar moves after the row)") << "sounds";
}

void ExportSaveTest::cancelStopsAfterTheRowInHand() {
    QFETCH(QString, kind);
    GuiFixture f;
    TForm1* form = f.start();
    const Tab tab = tabOf(form, kind);
    const QString local = f.workFolder() + (kind == "pictures" ? "Pictures/" : "Sounds/");
    QList<Row> rows;
    for (int i = 1; i <= 30; ++i) {
        const QString path = local + QString::number(i) + (kind == "pictures" ? ".png" : ".mp3");
        if (kind == "pictures")
            writePicture(path, 20, 20, i);
        else
            test::writeFile(path, QByteArray::number(i));
        rows.append({path, QFileInfo(path).fileName()});
    }
    fillTable(tab.table, tab.exportNameColumn, rows);
    BackgroundJob* first = saveJob(form, kind);
    const QString out = f.tempDir.path() + "/cancelled";
    f.answers.directories.push_back(out);

    // "Cancel" is pressed as soon as the bar first moves: the row in hand is finished, no other starts.
    WhenModalShows([&](QWidget* d) {
        startThenCancelAtFirstRow(d, kind == "pictures" ? "BitBtn3" : "BitBtn2", f.answers.messages);
    });
    test::Press(form, saveButton(kind));
    QCOMPARE(f.answers.messages, QStringList{"Collection saved!"});
    QCOMPARE(filesIn(out).size(), 1);
    QVERIFY(saveJob(form, kind) != first);
    QVERIFY(saveJob(form, kind)->Suspended());

    // The fresh job serves the next run in full.
    f.answers.directories.push_back(out);
    runDialog(
        f.answers, [&] { test::Press(form, saveButton(kind)); }, [](QWidget*) {}, "BitBtn1",
        "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(saveJob(form, kind)->Suspended(), kWaitMs);
    QCOMPARE(filesIn(out).size(), 30);
}

namespace {

#ifdef _WIN32
// Windows has no per-process file size limit to imitate a full disk with.
constexpr bool kCanFillTheDisk = false;
using rlim_t = qint64;
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t) {}
};
#else
constexpr bool kCanFillTheDisk = true;

// While it lives, the process cannot write files past `bytes`: a write there fails
// as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_before);
        m_handler = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of a signal
        rlimit limited = m_before;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_before{};
    void (*m_handler)(int) = SIG_DFL;
};
#endif

} // namespace

void ExportSaveTest::failedCopiesAreReported() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString local = f.workFolder() + "Sounds/";
    QByteArray big;
    for (int i = 0; i < 600 * 1024; ++i)
        big.append(char((i * 131) % 256));
    test::writeFile(local + "1.mp3", big);
    test::writeFile(local + "2.mp3", "wind");
    const QList<Row> rows = {{local + "1.mp3", "Rain.mp3"},
                             {local + "9.mp3", "Gone.mp3"}, // no local file: named, not a write failure
                             {local + "2.mp3", "Wind.mp3"}};
    fillTable(test::soundTable(form), col::MediaExportName, rows);

    struct Case {
        const char* what;
        QString folder;
        std::function<void(const QString& folder)> setUp;
        rlim_t sizeLimit; // 0: none
        QString message;
        QStringList filesAfter;
    };
    const Case cases[] = {
        {"a folder stands under the export name",
         f.tempDir.path() + "/taken",
         [](const QString& out) { test::writeFile(out + "/Rain.mp3/inside.txt", "inside"); },
         0,
         "Collection not saved: 1 of 2 files could not be written.",
         {"Wind.mp3"}},
        {"folders stand under both names",
         f.tempDir.path() + "/both",
         [](const QString& out) {
             QDir().mkpath(out + "/Rain.mp3");
             QDir().mkpath(out + "/Wind.mp3");
         },
         0,
         "Collection not saved: 2 of 2 files could not be written.",
         {}},
        {"the disk fills up half-way through a file",
         f.tempDir.path() + "/full",
         [](const QString& out) { test::writeFile(out + "/Rain.mp3", "an older file of that name"); },
         200 * 1024,
         "Collection not saved: 1 of 2 files could not be written.",
         {"Rain.mp3", "Wind.mp3"}},
    };
    for (const Case& c : cases) {
        if (c.sizeLimit && !kCanFillTheDisk)
            continue;
        c.setUp(c.folder);
        f.answers.directories.push_back(c.folder);
        std::unique_ptr<FileSizeLimit> limit;
        if (c.sizeLimit)
            limit = std::make_unique<FileSizeLimit>(c.sizeLimit);
        runDialog(
            f.answers, [&] { test::Press(form, "BitBtn4"); }, [](QWidget*) {}, "BitBtn1", c.message);
        QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportSounds)->Suspended(), kWaitMs);
        QVERIFY2(f.answers.messages.last() ==
                     "1 file could not be read and was left out: " + local + "9.mp3.",
                 c.what);
        limit.reset();
        // No half-written file and no temporary file is left in the folder.
        QVERIFY2(filesIn(c.folder) == c.filesAfter, c.what);
        QVERIFY2(!filesIn(c.folder).contains("Gone.mp3"), c.what);
    }
    QCOMPARE(test::readFile(f.tempDir.path() + "/taken/Rain.mp3/inside.txt"), QByteArray("inside"));
    QCOMPARE(test::readFile(f.tempDir.path() + "/taken/Wind.mp3"), QByteArray("wind"));
    if (kCanFillTheDisk) {
        QCOMPARE(test::readFile(f.tempDir.path() + "/full/Rain.mp3"),
                 QByteArray("an older file of that name"));
        QCOMPARE(test::readFile(f.tempDir.path() + "/full/Wind.mp3"), QByteArray("wind"));
    }
    QVERIFY(QFileInfo(f.tempDir.path() + "/both/Wind.mp3").isDir());

    // With room again the same save succeeds and replaces the older file whole.
    f.answers.directories.push_back(f.tempDir.path() + "/full");
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn4"); }, [](QWidget*) {}, "BitBtn1", "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportSounds)->Suspended(), kWaitMs);
    QCOMPARE(test::readFile(f.tempDir.path() + "/full/Rain.mp3"), big);
    QCOMPARE(filesIn(f.tempDir.path() + "/full"), (QStringList{"Rain.mp3", "Wind.mp3"}));
}

void ExportSaveTest::aFileDeletedBeforeTheSaveIsNamedAfterTheClosingMessage_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("ext");
    QTest::newRow("pictures") << "pictures"
                              << "Pictures"
                              << "png";
    QTest::newRow("sounds") << "sounds"
                            << "Sounds"
                            << "mp3";
    QTest::newRow("videos") << "videos"
                            << "Video"
                            << "mp4";
    QTest::newRow("texts") << "texts"
                           << "Text"
                           << "txt";
}

void ExportSaveTest::aFileDeletedBeforeTheSaveIsNamedAfterTheClosingMessage() {
    QFETCH(QString, kind);
    QFETCH(QString, subFolder);
    QFETCH(QString, ext);
    GuiFixture f;
    TForm1* form = f.start();
    const Tab tab = tabOf(form, kind);
    const QString local = f.workFolder() + subFolder + "/";
    const QStringList paths{local + "1." + ext, local + "2." + ext, local + "3." + ext};
    for (const QString& path : paths) {
        if (kind == "pictures")
            writePicture(path, 20, 10);
        else
            test::writeFile(path, path.toUtf8());
    }
    fillTable(tab.table, tab.exportNameColumn,
              {{paths[0], "One." + ext}, {paths[1], "Two." + ext}, {paths[2], "Three." + ext}});
    // Downloaded, then deleted outside the program before the save.
    QVERIFY(QFile::remove(paths[1]));
    const QString out = f.tempDir.path() + "/saved";
    f.answers.directories.push_back(out);
    f.answers.messages.clear();
    runDialog(
        f.answers, [&] { test::Press(form, saveButton(kind)); }, [](QWidget*) {}, "BitBtn1",
        "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(saveJob(form, kind)->Suspended(), kWaitMs);
    QCOMPARE(
        f.answers.messages,
        (QStringList{"Collection saved!", "1 file could not be read and was left out: " + paths[1] + "."}));
    QCOMPARE(filesIn(out), (QStringList{"One." + ext, "Three." + ext}));
}

void ExportSaveTest::exportNamesBecomeValidFileNames() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString sounds = f.workFolder() + "Sounds/";
    test::writeFile(sounds + "1.mp3", "one");
    test::writeFile(sounds + "2.mp3", "two");
    test::writeFile(sounds + "3.mp3", "three");
    fillTable(test::soundTable(form), col::MediaExportName,
              {{sounds + "1.mp3", "What? \"Rain\": 1|2*.mp3"},
               {sounds + "2.mp3", "con.mp3"},
               {sounds + "3.mp3", QString(300, 'r') + ".mp3. "}});
    const QString out = f.tempDir.path() + "/names";
    f.answers.directories.push_back(out);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn4"); }, [](QWidget*) {}, "BitBtn1", "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportSounds)->Suspended(), kWaitMs);
    QCOMPARE(filesIn(out), (QStringList{"What_ _Rain__ 1_2_.mp3", "_con.mp3", QString(251, 'r') + ".mp3"}));
    QCOMPARE(test::readFile(out + "/What_ _Rain__ 1_2_.mp3"), QByteArray("one"));

    // A picture name without a dot gets the format's extension within the limit.
    const QString pics = f.workFolder() + "Pictures/";
    writePicture(pics + "1.png", 8, 8);
    fillTable(test::pictureTable(form), col::PicExportName, {{pics + "1.png", QString(300, 'p')}});
    const QString picturesOut = f.tempDir.path() + "/pictures";
    f.answers.directories.push_back(picturesOut);
    runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) { child<QComboBox>(d, "ComboBox1")->setCurrentIndex(1); }, "BitBtn1",
        "Collection saved!");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPictures)->Suspended(), kWaitMs);
    QCOMPARE(filesIn(picturesOut), QStringList{QString(251, 'p') + ".jpg"});
    QCOMPARE(identify(picturesOut + "/" + QString(251, 'p') + ".jpg"), QString("8x8 JPEG"));
}

QTEST_MAIN(ExportSaveTest)
#include "test_export_save.moc"
