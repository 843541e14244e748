// The main window driven as a user would, offscreen.
#include "gui/dialogs/about_box.h"
#include "gui/dialogs/parameters_dialog.h"
#include "gui/thumbnail_grid.h"
#include "common/ini_file.h"
#include "gui/dialogs/selection_dialogs.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

using namespace skarvel;
using skarvel::test::GuiFixture;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void firstStartUsesDefaultsAndCloseWritesSettings();
    void closeSaysWhenTheSettingsCannotBeWritten();
    void everyStyleSurvivesARestart();
    void unknownStyleShowsErrorAndChecksNothing();
    void exitLeavesTheSettingsFileAlone();
    void startupEmptiesOnlyAWorkFolderOfItsOwn();
    void parametersSaveTakesTheFolderAsTyped();
    void newEmptiesTablesAndMemos();
    void deleteRowFollowsTheRemovalRule();
    void tabCommandsDoNothingOnOtherTabs();
    void oneStatusBarPerTab();
    void aboutBoxPictureFollowsTheCursor_data();
    void aboutBoxPictureFollowsTheCursor();
    void controlsCarryTheirNames();
    void thumbnailGridLayout_data();
    void thumbnailGridLayout();
};

static QString checkedStyle(TForm1* form) {
    const QStringList checked = test::CheckedStyles(form);
    return checked.size() == 1 ? checked.front() : "checked: " + checked.join(", ");
}

void MainWindowTest::firstStartUsesDefaultsAndCloseWritesSettings() {
    GuiFixture f;
    TForm1* form = f.start();
    const QString sep = QDir::separator();
    QCOMPARE(f.workFolder(), f.tempDir.path() + sep + "Skarvel" + sep);
    QCOMPARE(checkedStyle(form), QString("Iceberg Classico"));
    QCOMPARE(form->windowTitle(), QString("Orvantic - Skarvel"));
    QCOMPARE(test::PageControl1(form)->currentIndex(), 0);
    for (const char* sub : {"Files", "Pictures", "Sounds", "Video", "Text"})
        QVERIFY2(QDir(f.workFolder() + sub).exists(), sub);
    QVERIFY(!QFile::exists(f.programDir.path() + "/Skarvel.ini"));
    QVERIFY(f.answers.messages.isEmpty());

    form->close();
    IniFile ini(f.programDir.path() + "/Skarvel.ini");
    QCOMPARE(ini.readString("COMMON", "TEMP_DIR", "?"), f.workFolder());
    QCOMPARE(ini.readString("FORM", "STYLE", "?"), QString("Iceberg Classico"));
}

void MainWindowTest::closeSaysWhenTheSettingsCannotBeWritten() {
    GuiFixture f;
    TForm1* form = f.start();
    // A folder where the file belongs cannot be opened for writing, even by root.
    const QString ini = f.programDir.path() + "/Skarvel.ini";
    QVERIFY(QDir().mkdir(ini));
    QVERIFY(form->close());
    QVERIFY(!form->isVisible());
    QCOMPARE(f.answers.messages.size(), 1);
    const QString prefix = "Cannot save the settings to " + QDir::toNativeSeparators(ini) + ": ";
    QVERIFY2(f.answers.messages.front().startsWith(prefix), qPrintable(f.answers.messages.front()));
    QVERIFY(f.answers.messages.front().size() > prefix.size());
}

void MainWindowTest::everyStyleSurvivesARestart() {
    GuiFixture f;
    f.start();
    for (const QString& name : StyleNames()) {
        QAction* item = nullptr;
        for (QAction* a : test::Part<QMenu>(f.form.get(), "Skin1")->actions())
            if (a->text() == name)
                item = a;
        QVERIFY(item);
        item->trigger();
        const QString sheet = qApp->styleSheet();
        QVERIFY2(sheet.contains("Skarvel style \"" + name + "\""), qPrintable(name));
        f.form->close();
        f.restart();
        QCOMPARE(checkedStyle(f.form.get()), name);
        QVERIFY(qApp->styleSheet().contains("Skarvel style \"" + name + "\""));
    }
    QVERIFY(f.answers.messages.isEmpty());
}

void MainWindowTest::unknownStyleShowsErrorAndChecksNothing() {
    GuiFixture f;
    test::writeFile(f.programDir.path() + "/Skarvel.ini", "[FORM]\r\nSTYLE=Plasma Pink\r\n");
    f.start();
    QCOMPARE(f.answers.messages, QStringList{"Style 'Plasma Pink' not found"});
    QCOMPARE(checkedStyle(f.form.get()), QString("Iceberg Classico"));
    QVERIFY(qApp->styleSheet().contains("Skarvel style \"Aqua Graphite\""));

    // A name that differs only in letter case applies the style but checks no item.
    GuiFixture g;
    test::writeFile(g.programDir.path() + "/Skarvel.ini", "[FORM]\r\nSTYLE=luna\r\n");
    g.start();
    QVERIFY(g.answers.messages.isEmpty());
    QVERIFY(qApp->styleSheet().contains("Skarvel style \"Luna\""));
    QCOMPARE(checkedStyle(g.form.get()), QString("Iceberg Classico"));
}

void MainWindowTest::exitLeavesTheSettingsFileAlone() {
    GuiFixture f;
    const QString ini = f.programDir.path() + "/Skarvel.ini";
    const QString work = f.tempDir.path() + "/mine/";
    test::writeFile(ini, ("[COMMON]\r\nTEMP_DIR=" + work + "\r\n[FORM]\r\nSTYLE=Luna\r\n").toUtf8());
    const QByteArray before = test::readFile(ini);
    f.start();
    QCOMPARE(f.workFolder(), work);
    test::SaveWorkFolder(f.form.get(), f.tempDir.path() + "/other/");
    QTimer::singleShot(0, f.form.get(), [&f] { test::Trigger(f.form.get(), "Exit1"); });
    QSignalSpy quit(qApp, &QCoreApplication::aboutToQuit);
    qApp->exec(); // Exit1Click ends this loop
    QCOMPARE(test::readFile(ini), before);
}

void MainWindowTest::startupEmptiesOnlyAWorkFolderOfItsOwn() {
    GuiFixture f;
    const QString sep = QDir::separator();
    const QString def = f.tempDir.path() + sep + "Skarvel" + sep;
    test::writeFile(def + "Pictures/1.jpg", "x");
    test::writeFile(def + "Text/deep/deeper/2.txt", "y");
    test::writeFile(def + ".hidden", "h");
    test::makeHidden(def + ".hidden");
    f.start();
    QVERIFY(!QFile::exists(def + "Pictures/1.jpg"));
    QVERIFY(!QFile::exists(def + "Text/deep/deeper/2.txt"));
    QVERIFY(QDir(def + "Text/deep/deeper").exists());
    QVERIFY(QFile::exists(def + ".hidden"));

    // A folder of the user's, named in the settings file, with files in it is used but never emptied.
    const QString mine = f.tempDir.path() + sep + "MyPictures" + sep;
    test::writeFile(mine + "holiday.jpg", "precious");
    test::writeFile(mine + "Pictures/family.png", "precious");
    f.form->close();
    f.form.reset();
    IniFile settings(f.programDir.path() + "/Skarvel.ini");
    settings.writeString("COMMON", "TEMP_DIR", mine);
    QVERIFY(settings.updateFile());
    f.start();
    QCOMPARE(f.workFolder(), mine);
    QVERIFY(QFile::exists(mine + "holiday.jpg"));
    QVERIFY(QFile::exists(mine + "Pictures/family.png"));
    QVERIFY(QDir(mine + "Sounds").exists());

    // A new folder that the program creates becomes its own and is emptied at the next start.
    const QString fresh = f.tempDir.path() + sep + "Fresh" + sep;
    test::SaveWorkFolder(f.form.get(), fresh); // saving makes the folder structure
    test::writeFile(fresh + "Sounds/3.mp3", "old");
    f.form->close();
    f.restart();
    QVERIFY(!QFile::exists(fresh + "Sounds/3.mp3"));
    // Its hidden marker survives the emptying, so the folder stays the program's own.
    QVERIFY(QFile::exists(fresh + kWorkFolderMarker));
}

void MainWindowTest::parametersSaveTakesTheFolderAsTyped() {
    GuiFixture f;
    f.start();
    const QString base = f.tempDir.path() + QDir::separator() + "Coll";
    test::WhenModalShows([&](QWidget* dialog) {
        QCOMPARE(dialog->objectName(), QString("Form13"));
        auto* edit = test::Part<QLineEdit>(dialog, "Edit1");
        QCOMPARE(edit->text(), DefaultWorkFolder(f.env()));
        edit->setText(base);
        QTest::mouseClick(test::Part<QPushButton>(dialog, "BitBtn3"), Qt::LeftButton);
    });
    test::Trigger(f.form.get(), "Parameters1");
    QCOMPARE(test::ShownWorkFolder(f.form.get()), base);
    // The sub-folders are formed by plain appending; the first step makes "Col".
    QVERIFY(QDir(base + "Pictures").exists());
    QVERIFY(QDir(base + "Text").exists());
    QVERIFY(QDir(base.left(base.size() - 1)).exists());

    test::WhenModalShows([&](QWidget* dialog) {
        QTest::mouseClick(test::Part<QPushButton>(dialog, "BitBtn2"), Qt::LeftButton);
        QCOMPARE(test::Part<QLineEdit>(dialog, "Edit1")->text(), DefaultWorkFolder(f.env()));
        QTest::mouseClick(test::Part<QPushButton>(dialog, "BitBtn4"), Qt::LeftButton);
    });
    test::Trigger(f.form.get(), "Parameters1");
    QCOMPARE(test::ShownWorkFolder(f.form.get()), base);
}

static void fillRows(CollectionTable* t, int n) {
    t->setGridRowCount(n + 1);
    for (int r = 1; r <= n; ++r)
        t->setRow(r, {QString::number(r), "OK", "http://h/" + QString::number(r)});
}

void MainWindowTest::newEmptiesTablesAndMemos() {
    GuiFixture f;
    TForm1* form = f.start();
    test::URLs_List(form)->setPlainText("http://a/1\nhttp://a/2");
    test::Source_Links(form)->setPlainText("http://s/");
    test::Memo_Text_Preview(form)->setPlainText("keep me");
    test::Memo1(form)->setText("buffer");
    for (CollectionTable* t : {test::pictureTable(form), test::soundTable(form), test::videoTable(form),
                               test::textTable(form), test::fileTable(form)})
        fillRows(t, 3);
    test::Trigger(form, "New1");
    QVERIFY(test::URLs_List(form)->toPlainText().isEmpty());
    QVERIFY(test::Source_Links(form)->toPlainText().isEmpty());
    QVERIFY(test::Memo1(form)->text().isEmpty());
    QCOMPARE(test::Memo_Text_Preview(form)->toPlainText(), QString("keep me"));
    for (CollectionTable* t : {test::pictureTable(form), test::soundTable(form), test::videoTable(form),
                               test::textTable(form), test::fileTable(form)}) {
        QCOMPARE(t->gridRowCount(), 2);
        QCOMPARE(t->cell(0, 1), QString());
    }
    QCOMPARE(test::DrawGrid1(form)->rowCount(), 1);
}

void MainWindowTest::deleteRowFollowsTheRemovalRule() {
    GuiFixture f;
    TForm1* form = f.start();
    struct Case {
        QTableView* grid;
        CollectionTable* table;
        const char* remove; // the grid's "Delete row" item
    };
    const Case cases[] = {{test::StringGrid1(form), test::pictureTable(form), "Deleterow3"},
                          {test::StringGrid2(form), test::soundTable(form), "Deleterow2"},
                          {test::StringGrid4(form), test::videoTable(form), "Deleterow1"},
                          {test::StringGrid5(form), test::textTable(form), "Delete1"},
                          {test::StringGrid3(form), test::fileTable(form), "Deleterow4"}};
    for (const Case& c : cases) {
        fillRows(c.table, 5);
        test::SetCurrentRow(c.grid, 2);
        test::Trigger(form, c.remove);
        QCOMPARE(c.table->gridRowCount(), 5);
        QStringList seen;
        for (int r = 1; r < 5; ++r)
            seen << c.table->cell(0, r) + "=" + c.table->cell(2, r);
        QCOMPARE(seen, (QStringList{"1=http://h/1", "2=http://h/3", "3=http://h/4", "4=http://h/5"}));

        fillRows(c.table, 1);
        test::SetCurrentRow(c.grid, 1);
        test::Trigger(form, c.remove);
        QCOMPARE(c.table->gridRowCount(), 2);
        QCOMPARE(c.table->cell(0, 1), QString());
        QCOMPARE(c.table->cell(2, 1), QString());
        c.table->setCell(1, 1, "x"); // an empty URL cell: the command does nothing
        test::Trigger(form, c.remove);
        QCOMPARE(c.table->cell(1, 1), QString("x"));
    }
    // The thumbnail grid keeps step: 7 rows in 3 columns need 3 thumbnail rows, 6 need 2.
    test::DrawGrid1(form)->resize(325, 217);
    fillRows(test::pictureTable(form), 7);
    test::SendResize(form);
    QCOMPARE(test::DrawGrid1(form)->colCount(), 3);
    QCOMPARE(test::DrawGrid1(form)->rowCount(), 3);
    test::SetCurrentRow(test::StringGrid1(form), 7);
    test::Trigger(form, "Deleterow3");
    QCOMPARE(test::DrawGrid1(form)->rowCount(), 2);
}

void MainWindowTest::tabCommandsDoNothingOnOtherTabs() {
    GuiFixture f;
    TForm1* form = f.start();
    QVERIFY(test::ActivateWindowOf(form));
    for (int tab : {0, 1}) {
        test::PageControl1(form)->setCurrentIndex(tab);
        for (const char* keys : {"Ctrl+S", "Ctrl+E", "Ctrl+D", "Ctrl+F"})
            QVERIFY2(
                !test::OpensModal([&] { QTest::keySequence(form, QKeySequence(QString::fromLatin1(keys))); }),
                keys);
    }
    // On the picture tab "Data selection" opens the picture selection.
    test::PageControl1(form)->setCurrentIndex(2);
    QWidget* shown = nullptr;
    test::WhenModalShows([&](QWidget* w) { shown = w; });
    QTest::keySequence(form, QKeySequence("Ctrl+D"));
    QVERIFY(qobject_cast<TForm7*>(shown));
    QCOMPARE(shown->windowTitle(), QString("Picture selection"));
}

void MainWindowTest::oneStatusBarPerTab() {
    GuiFixture f;
    TForm1* form = f.start();
    for (int tab : {0, 3, 5, 1, 2, 4}) {
        test::PageControl1(form)->setCurrentIndex(tab);
        for (int i = 0; i < 6; ++i) {
            auto* bar = form->findChild<QStatusBar*>(QString("StatusBar%1").arg(i + 1));
            QVERIFY(bar);
            QCOMPARE(bar->isVisible(), i == tab);
        }
    }
}

void MainWindowTest::aboutBoxPictureFollowsTheCursor_data() {
    QTest::addColumn<QPoint>("offset"); // cursor relative to the pictures' top-left corner
    QTest::addColumn<int>("picture");
    QTest::newRow("above left") << QPoint(-5, -5) << 1;
    QTest::newRow("above") << QPoint(50, -1) << 2;
    QTest::newRow("above right") << QPoint(100, -1) << 3;
    QTest::newRow("left, level") << QPoint(-1, 0) << 4;
    QTest::newRow("centre") << QPoint(50, 50) << 5;
    QTest::newRow("right edge is outside") << QPoint(100, 99) << 6;
    QTest::newRow("below left") << QPoint(-1, 100) << 7;
    QTest::newRow("below") << QPoint(0, 100) << 8;
    QTest::newRow("below right") << QPoint(300, 300) << 9;
}

void MainWindowTest::aboutBoxPictureFollowsTheCursor() {
    QFETCH(QPoint, offset);
    QFETCH(int, picture);
    GuiFixture f;
    f.start();
    TAboutBox* box = test::Part<TAboutBox>(f.form.get(), "AboutBox");
    for (QLabel* image : box->images)
        QVERIFY(image->isHidden());
    box->show();
    QWidget* area = box->images[0]->parentWidget();
    box->cursorPosition = [&] { return area->mapToGlobal(QPoint(0, 0)) + offset; };
    box->Timer1Timer();
    for (int i = 0; i < 9; ++i)
        QCOMPARE(box->images[size_t(i)]->isVisible(), i + 1 == picture);
    box->close();
}

void MainWindowTest::controlsCarryTheirNames() {
    GuiFixture f;
    TForm1* form = f.start();
    const char* names[] = {"URLs_List",         "Source_Links", "StringGrid1",  "StringGrid2",
                           "StringGrid3",       "StringGrid4",  "StringGrid5",  "DrawGrid1",
                           "Memo_Text_Preview", "PageControl1", "ProgressBar1", "ProgressBar6",
                           "BitBtn1",           "BitBtn14",     "Timer2",       "Timer3",
                           "PopupMenu5",        "Memo1",        "Memo_Sounds",  "Memo_Videos",
                           "Memo_Texts",        "ImageList1",   "Form13",       "Form37",
                           "AboutBox"};
    for (const char* name : names)
        QVERIFY2(form->findChild<QObject*>(name), name);
    const std::pair<const char*, const char*> captions[] = {{"BitBtn6", "Make URLs list from source pages"},
                                                            {"BitBtn7", "Download files"},
                                                            {"BitBtn1", "Download pictures"},
                                                            {"BitBtn5", "Save collection"},
                                                            {"BitBtn2", "Export to SQLite"},
                                                            {"BitBtn8", "Download sounds"},
                                                            {"BitBtn9", "Download videos"},
                                                            {"BitBtn12", "Download texts"}};
    for (const auto& [name, caption] : captions)
        QCOMPARE(form->findChild<QPushButton*>(name)->text(), QString(caption));
    for (int i = 1; i <= 6; ++i)
        QVERIFY(form->findChild<QProgressBar*>(QString("ProgressBar%1").arg(i))->isHidden());
    QCOMPARE(test::pictureTable(form)->cell(6, 0), QString("Export name"));
    QCOMPARE(test::StringGrid1(form)->columnWidth(2), 430);
    // The one-shot glyph timer gives every button its picture and stops.
    QTRY_VERIFY_WITH_TIMEOUT(!form->findChild<QPushButton*>("BitBtn1")->icon().isNull(), test::kWaitMs);
    QVERIFY(!test::Timer3(form)->isActive());
}

void MainWindowTest::thumbnailGridLayout_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("expectedCols");
    QTest::addColumn<int>("expectedRows");
    QTest::newRow("124 wide") << 124 << 3 << 1 << 3;
    QTest::newRow("125 wide") << 125 << 3 << 1 << 3;
    QTest::newRow("224 wide") << 224 << 3 << 1 << 3;
    QTest::newRow("225 wide") << 225 << 3 << 2 << 2;
    QTest::newRow("seven in three columns") << 325 << 7 << 3 << 3;
    QTest::newRow("empty table") << 325 << 0 << 3 << 1;
}

void MainWindowTest::thumbnailGridLayout() {
    QFETCH(int, width);
    QFETCH(int, rows);
    QFETCH(int, expectedCols);
    QFETCH(int, expectedRows);
    GuiFixture f;
    TForm1* form = f.start();
    test::DrawGrid1(form)->resize(width, 217);
    if (rows > 0)
        fillRows(test::pictureTable(form), rows);
    test::SendResize(form);
    QCOMPARE(test::DrawGrid1(form)->colCount(), expectedCols);
    QCOMPARE(test::DrawGrid1(form)->rowCount(), expectedRows);
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
