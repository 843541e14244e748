// The selection and file-name dialogs, opened from the Edit menu of the real
// main window and driven by keyboard and mouse.
#include "gui/thumbnail_grid.h"
#include "jobs/media_jobs.h"
#include "jobs/picture_jobs.h"
#include "gui/dialogs/file_name_dialogs.h"
#include "gui/dialogs/selection_dialogs.h"
#include "tests/gui/gui_test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <condition_variable>
#include <functional>
#include <mutex>

using namespace skarvel;
using skarvel::test::GuiFixture;

namespace {

enum Tab { PicturesTab = 2, SoundsTab = 3, VideosTab = 4, TextsTab = 5 };

// Opens the dialog of a menu command on a tab and runs check on it; the dialog
// is closed afterwards if check left it open.
void withDialog(TForm1* form, int tab, const char* command, const std::function<void(QDialog*)>& check) {
    test::PageControl1(form)->setCurrentIndex(tab);
    bool ran = false;
    test::WhenModalShows([&](QWidget* modal) {
        ran = true;
        auto* dialog = qobject_cast<QDialog*>(modal);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        check(dialog);
    });
    form->findChild<QAction*>(command)->trigger();
    QVERIFY2(ran, command);
}

void withSelection(TForm1* form, int tab, const std::function<void(SelectionDialog*)>& check) {
    withDialog(form, tab, "Selection1", [&](QDialog* d) {
        auto* dialog = qobject_cast<SelectionDialog*>(d);
        QVERIFY(dialog);
        check(dialog);
    });
}

void withFileNames(TForm1* form, int tab, const std::function<void(FileNamesDialog*)>& check) {
    withDialog(form, tab, "Filenames1", [&](QDialog* d) {
        auto* dialog = qobject_cast<FileNamesDialog*>(d);
        QVERIFY(dialog);
        check(dialog);
    });
}

// Types text as keystrokes into whatever has the keyboard focus (a cell editor
// opened by the first key receives the rest).
void typeKeys(const QString& text) {
    for (QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

void replaceFieldText(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void setRows(CollectionTable* table, const std::vector<QStringList>& rows) {
    table->setGridRowCount(int(rows.size()) + 1);
    for (int r = 1; r <= int(rows.size()); ++r)
        table->setRow(r, QStringList{QString::number(r)} + rows[size_t(r - 1)]);
}

QStringList column(const CollectionTable* table, int col) {
    QStringList cells;
    for (int r = 1; r < table->gridRowCount(); ++r)
        cells << table->cell(col, r);
    return cells;
}

QStringList gridRows(const QTableWidget* grid) {
    QStringList rows;
    for (int r = 0; r < grid->rowCount(); ++r)
        rows << (grid->item(r, 0) ? grid->item(r, 0)->text() : QString()) + "=" +
                    (grid->item(r, 1) ? grid->item(r, 1)->text() : QString());
    return rows;
}

// Holds the download jobs below inside their item until the test opens it.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_wake.notify_all();
    }
    void pass() {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_open = false;
};

ProgressSink& NoProgress() {
    static struct : ProgressSink {
        void start(int) override {}
        void setValue(int) override {}
        void finish() override {}
    } sink;
    return sink;
}

std::function<QString()> WorkFolder() {
    return [] { return QString(); };
}

// A download job with one item that waits at the gate.
template <class Job> class HeldDownload : public Job {
public:
    template <class... Args>
    HeldDownload(Gate& gate, Args&&... args) : Job(std::forward<Args>(args)...), m_gate(gate) {}

protected:
    // A shutdown lets the held item go.
    void abortWork() override {
        m_gate.open();
        Job::abortWork();
    }
    void prepareStep() override { this->itemCount = 1; }
    void fetchStep() override {}
    void runItems() override { BackgroundJob::runItems(); } // one item at a time, held in work()
    void work() override { m_gate.pass(); }
    bool hasWriteStep() const override { return false; }
    bool hasFinishStep() const override { return false; }

private:
    Gate& m_gate;
};

void clickBox(QCheckBox* box) {
    // On the indicator: a box stretched by its layout is not clickable everywhere.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

} // namespace

class RuleDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void fieldsAreNormalisedWhenTheFocusLeaves_data();
    void fieldsAreNormalisedWhenTheFocusLeaves();
    void clickOnApplyNormalisesBeforeTheSelectionRuns();
    void pictureSelectionDeletesRowsAndRelaysTheThumbnails();
    void soundAndVideoSelectionUseTheirOwnBoxes();
    void selectionIsRefusedWhileTheDownloadRuns();
    void defaultValuesAndValuesKeptBetweenOpenings();
    void fileNamesFromEachDialog_data();
    void fileNamesFromEachDialog();
    void replacesGridIsTidiedOnEnterAndOnLeaving();
};

void RuleDialogsTest::fieldsAreNormalisedWhenTheFocusLeaves_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("leaveByApply"); // else by Tab
    QTest::addColumn<QString>("expected");
    const QString sel = "Selection1";
    const QString names = "Filenames1";
    QTest::newRow("pictures lower width 5, Tab") << int(PicturesTab) << sel << "Edit1"
                                                 << ""
                                                 << "5" << false << "10";
    QTest::newRow("pictures upper width abc, Apply") << int(PicturesTab) << sel << "Edit2"
                                                     << ""
                                                     << "abc" << true << "200";
    QTest::newRow("pictures upper height 20000, Tab") << int(PicturesTab) << sel << "Edit4"
                                                      << ""
                                                      << "20000" << false << "10000";
    QTest::newRow("pictures emptied field stays empty") << int(PicturesTab) << sel << "Edit3"
                                                        << "50"
                                                        << "" << false << "";
    QTest::newRow("sounds lower size 500, Tab") << int(SoundsTab) << sel << "Edit1"
                                                << ""
                                                << "500" << false << "1000";
    QTest::newRow("sounds upper size past 32 bits, Apply") << int(SoundsTab) << sel << "Edit2"
                                                           << ""
                                                           << "99999999999" << true << "1000000";
    QTest::newRow("videos upper size above its cap, Tab") << int(VideosTab) << sel << "Edit2"
                                                          << ""
                                                          << "2100000000" << false << "2000000000";
    QTest::newRow("max length 3, Tab") << int(PicturesTab) << names << "Edit1"
                                       << "40"
                                       << "3" << false << "5";
    QTest::newRow("max length abc, Apply") << int(TextsTab) << names << "Edit1"
                                           << "40"
                                           << "abc" << true << "300";
}

void RuleDialogsTest::fieldsAreNormalisedWhenTheFocusLeaves() {
    QFETCH(int, tab);
    QFETCH(QString, command);
    QFETCH(QString, field);
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(bool, leaveByApply);
    QFETCH(QString, expected);
    GuiFixture f;
    f.start();
    withDialog(f.form.get(), tab, qPrintable(command), [&](QDialog* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>(field);
        QVERIFY(edit);
        edit->setText(before);
        replaceFieldText(edit, typed);
        QCOMPARE(edit->text(), typed); // nothing happens while the focus stays
        if (leaveByApply)
            QTest::mouseClick(dialog->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
        else
            QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), expected);
    });
}

void RuleDialogsTest::clickOnApplyNormalisesBeforeTheSelectionRuns() {
    GuiFixture f;
    f.start();
    // Read as typed, a lower width of 5 would keep the picture 7 wide; normalised to 10 it goes.
    setRows(test::pictureTable(f.form.get()),
            {{"OK", "http://h/1", "w\\1.jpg", "7", "50"}, {"OK", "http://h/2", "w\\2.jpg", "10", "50"}});
    withSelection(f.form.get(), PicturesTab, [&](SelectionDialog* dialog) {
        replaceFieldText(dialog->Edit1, "5");
        QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
        QCOMPARE(dialog->Edit1->text(), QString("10"));
        QVERIFY(dialog->isVisible()); // Apply leaves the dialog open
    });
    QCOMPARE(column(test::pictureTable(f.form.get()), 2), QStringList{"http://h/2"});
}

void RuleDialogsTest::pictureSelectionDeletesRowsAndRelaysTheThumbnails() {
    GuiFixture f;
    f.start();
    TForm1* form = f.form.get();
    setRows(test::pictureTable(form),
            {
                {"OK", "http://h/1", "w\\1.jpg", "100", "100"}, // at the lower bound: kept
                {"OK", "http://h/2", "w\\2.jpg", "99", "100"},  // narrower
                {"OK", "http://h/3", "w\\3.PNG", "150", "150"}, // PNG unticked
                {"OK", "http://h/4", "w\\4.gif", "", "150"},    // empty width
                {"", "http://h/5", "", "", ""},                 // never downloaded: kept
                {"OK", "http://h/6", "w\\6.bmp", "200", "300"}, // at the upper bound: kept
                {"OK", "http://h/7", "w\\7.jpg", "120", "301"}, // higher
            });
    withSelection(form, PicturesTab, [&](SelectionDialog* dialog) {
        test::DrawGrid1(form)->resize(325, 217);
        test::SendResize(form);
        QCOMPARE(test::DrawGrid1(form)->colCount(), 3);
        QCOMPARE(test::DrawGrid1(form)->rowCount(), 3);
        replaceFieldText(dialog->Edit1, "100");
        replaceFieldText(dialog->Edit4, "300");
        clickBox(dialog->findChild<QCheckBox*>("CheckBox2"));
        QVERIFY(!dialog->findChild<QCheckBox*>("CheckBox2")->isChecked());
        QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
        QCOMPARE(test::DrawGrid1(form)->rowCount(), 1);
    });
    QCOMPARE(column(test::pictureTable(form), 2), (QStringList{"http://h/1", "http://h/5", "http://h/6"}));
    QCOMPARE(column(test::pictureTable(form), 0), (QStringList{"1", "2", "3"}));
}

void RuleDialogsTest::soundAndVideoSelectionUseTheirOwnBoxes() {
    GuiFixture f;
    f.start();
    TForm1* form = f.form.get();
    setRows(test::soundTable(form),
            {
                {"OK", "http://s/1", "s\\1.mp3", "1000", "50"},   // at the lower size: strict, goes
                {"OK", "http://s/2", "s\\2.mp3", "1001", "50"},   // kept
                {"OK", "http://s/3", "s\\3.ogg", "5000", "3600"}, // at the upper duration: goes
                {"OK", "http://s/4", "s\\4.wav", "5000", "60"},   // WAV unticked
                {"OK", "http://s/5", "s\\5.aac", "", "60"},       // empty size
            });
    withSelection(form, SoundsTab, [&](SelectionDialog* dialog) {
        replaceFieldText(dialog->Edit1, "1000");
        replaceFieldText(dialog->Edit4, "3600");
        clickBox(dialog->findChild<QCheckBox*>("CheckBox3"));
        QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(column(test::soundTable(form), 2), QStringList{"http://s/2"});

    setRows(test::videoTable(form),
            {
                {"OK", "http://v/1", "v\\1.webm", "5000"}, // WEBM unticked
                {"OK", "http://v/2", "v\\2.mp4", "5000"},
                {"OK", "http://v/3", "v\\3.ogv", ""}, // empty size, box unticked: kept
            });
    withSelection(form, VideosTab, [&](SelectionDialog* dialog) {
        clickBox(dialog->findChild<QCheckBox*>("CheckBox1"));
        clickBox(dialog->findChild<QCheckBox*>("CheckBox5"));
        QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(column(test::videoTable(form), 2), (QStringList{"http://v/2", "http://v/3"}));
}

void RuleDialogsTest::selectionIsRefusedWhileTheDownloadRuns() {
    struct Case {
        int tab;
        CollectionTable* (*table)(TForm1*);
        // Puts a job held at the gate in the window's place.
        BackgroundJob* (*hold)(TForm1*, Gate&);
    };
    const Case cases[] = {
        {PicturesTab, [](TForm1* w) { return test::pictureTable(w); },
         [](TForm1* w, Gate& g) -> BackgroundJob* {
             w->InstallJob(JobId::DownloadPictures,
                           MakeOwnedJob<HeldDownload<DownloadPictures>>(
                               g, w, *test::pictureTable(w), NoProgress(), WorkFolder(), [] { return 1; }));
             return test::CurrentJob(w, JobId::DownloadPictures);
         }},
        {SoundsTab, [](TForm1* w) { return test::soundTable(w); },
         [](TForm1* w, Gate& g) -> BackgroundJob* {
             w->InstallJob(JobId::DownloadSounds, MakeOwnedJob<HeldDownload<DownloadSounds>>(
                                                      g, w, *test::soundTable(w), NoProgress(), WorkFolder(),
                                                      [](const QString&) { return -1; }));
             return test::CurrentJob(w, JobId::DownloadSounds);
         }},
        {VideosTab, [](TForm1* w) { return test::videoTable(w); },
         [](TForm1* w, Gate& g) -> BackgroundJob* {
             w->InstallJob(JobId::DownloadVideos,
                           MakeOwnedJob<HeldDownload<DownloadVideos>>(g, w, *test::videoTable(w),
                                                                      NoProgress(), WorkFolder()));
             return test::CurrentJob(w, JobId::DownloadVideos);
         }},
    };
    for (const Case& c : cases) {
        Gate gate; // outlives the window and its jobs
        GuiFixture f;
        f.start();
        TForm1* form = f.form.get();
        CollectionTable* table = c.table(form);
        // Row 1 goes by "Delete empty lines" (on by default) once the job is idle.
        setRows(table,
                {{"OK", "http://h/1", "w\\1.jpg", ""}, {"OK", "http://h/2", "w\\2.jpg", "500", "500"}});
        BackgroundJob* job = c.hold(form, gate);
        job->Resume();
        QVERIFY(!job->Suspended());
        withSelection(form, c.tab, [&](SelectionDialog* dialog) {
            QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
            QCOMPARE(column(table, 2), (QStringList{"http://h/1", "http://h/2"}));
        });
        QCOMPARE(column(table, 2), (QStringList{"http://h/1", "http://h/2"}));
        QVERIFY(!job->Suspended());
        // Export names do not wait for the download.
        withFileNames(form, c.tab,
                      [&](FileNamesDialog* dialog) { QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton); });
        QCOMPARE(column(table, 6), (QStringList{"1.jpg", "2.jpg"}));

        gate.open();
        QTRY_VERIFY(job->Suspended());
        withSelection(form, c.tab,
                      [&](SelectionDialog* dialog) { QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton); });
        QCOMPARE(column(table, 2), QStringList{"http://h/2"});
        QVERIFY(f.answers.messages.isEmpty());
    }
}

void RuleDialogsTest::defaultValuesAndValuesKeptBetweenOpenings() {
    struct Case {
        int tab;
        QString title;
        QStringList labels;
        QStringList boxes; // type boxes in order, then "Delete empty lines"
        QString emptyLinesBox;
    };
    const Case cases[] = {
        {PicturesTab,
         "Picture selection",
         {"<   Width   <", "<   Height   <", "Type:"},
         {"JPEG", "PNG", "GIF"},
         "CheckBox4"},
        {SoundsTab,
         "Sounds selection",
         {"<      Size      <", "<  Duration  <", "Type:"},
         {"MP3", "OGG", "WAV", "AAC"},
         "CheckBox5"},
        {VideosTab, "Videos selection", {"<      Size      <", "Type:"}, {"WEBM", "MP4", "OGV"}, "CheckBox5"},
    };
    GuiFixture f;
    f.start();
    for (const Case& c : cases) {
        const bool twoPairs = c.labels.size() == 3;
        QList<QLineEdit*> edits;
        withSelection(f.form.get(), c.tab, [&](SelectionDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), c.title);
            QStringList labels;
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                labels << label->text();
            QCOMPARE(labels, c.labels);
            for (int i = 0; i < int(c.boxes.size()); ++i)
                QCOMPARE(dialog->findChild<QCheckBox*>(QString("CheckBox%1").arg(i + 1))->text(), c.boxes[i]);
            QCOMPARE(dialog->findChild<QCheckBox*>(c.emptyLinesBox)->text(), QString("Delete empty lines"));
            QCOMPARE(dialog->findChildren<QCheckBox*>().size(), c.boxes.size() + 1);
            QCOMPARE(dialog->BitBtn1->text(), QString("Apply selection"));
            QCOMPARE(dialog->BitBtn1->property("glyph").toInt(), 4);
            QCOMPARE(dialog->BitBtn2->text(), QString("Default values"));
            QCOMPARE(dialog->BitBtn2->property("glyph").toInt(), 5);
            QCOMPARE(dialog->findChildren<QPushButton*>().size(), 2);
            edits = dialog->findChildren<QLineEdit*>();
            QCOMPARE(edits.size(), twoPairs ? 4 : 2);

            for (QLineEdit* edit : edits) {
                QVERIFY(edit->text().isEmpty());
                replaceFieldText(edit, "1000");
            }
            for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
                QVERIFY(box->isChecked());
                clickBox(box);
            }
        });
        withSelection(f.form.get(), c.tab, [&](SelectionDialog* dialog) {
            QCOMPARE(dialog->findChildren<QLineEdit*>(), edits); // the same instance
            for (QLineEdit* edit : edits)
                QCOMPARE(edit->text(), QString("1000"));
            for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
                QVERIFY(!box->isChecked());
            QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton);
            for (QLineEdit* edit : edits)
                QVERIFY(edit->text().isEmpty());
            for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
                QVERIFY(box->isChecked());
        });
    }

    // The file-name dialogs keep their values too; "Close" ends the dialog.
    withFileNames(f.form.get(), SoundsTab, [&](FileNamesDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QString("File names"));
        QCOMPARE(dialog->ComboBox1->currentText(), QString("New ID"));
        QCOMPARE(dialog->ComboBox2->currentText(), QString("Without changes"));
        QCOMPARE(dialog->Edit1->text(), QString("40"));
        QVERIFY(!dialog->ComboBox1->isEditable());
        QCOMPARE(dialog->BitBtn1->property("glyph").toInt(), 4);
        QCOMPARE(dialog->BitBtn2->property("glyph").toInt(), 7);
        dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText("Parent"));
        dialog->ComboBox2->setCurrentIndex(dialog->ComboBox2->findText("Uppercase"));
        replaceFieldText(dialog->Edit1, "12");
        QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
    });
    withFileNames(f.form.get(), SoundsTab, [&](FileNamesDialog* dialog) {
        QCOMPARE(dialog->ComboBox1->currentText(), QString("Parent"));
        QCOMPARE(dialog->ComboBox2->currentText(), QString("Uppercase"));
        QCOMPARE(dialog->Edit1->text(), QString("12"));
    });
}

void RuleDialogsTest::fileNamesFromEachDialog_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("row"); // one table row from the Status column on
    QTest::addColumn<QString>("use");
    QTest::addColumn<QString>("letterCase");
    QTest::addColumn<QString>("maxLength");
    QTest::addColumn<int>("exportColumn");
    QTest::addColumn<QString>("expected");
    const QStringList picture{
        "OK",    "http://h/p.jpg", "w\\Pictures\\12.jpg", "10", "10", "", "photo.final.JPG", "MY Photo",
        "title", "parent"};
    QTest::newRow("New ID") << int(PicturesTab) << picture << "New ID"
                            << "Without changes"
                            << "40" << 6 << "1.jpg";
    QTest::newRow("Original file name") << int(PicturesTab) << picture << "Original file name (if exists)"
                                        << "Without changes"
                                        << "40" << 6 << "photo.final.jpg";
    QTest::newRow("Temp file name") << int(PicturesTab) << picture << "Temp file name"
                                    << "Without changes"
                                    << "40" << 6 << "12.jpg";
    QTest::newRow("Alt, Capitalize") << int(PicturesTab) << picture << "Alt"
                                     << "Capitalize"
                                     << "40" << 6 << "My photo.jpg";
    QTest::newRow("Header of a text")
        << int(TextsTab) << QStringList{"OK", "http://t/", "w\\Text\\1.txt", "99", "", "", "Chapter One"}
        << "Header"
        << "Lowercase"
        << "40" << 5 << "chapter one.txt";
    QTest::newRow("Parent of a video cut to Max length 10")
        << int(VideosTab)
        << QStringList{"OK", "http://v/", "w\\Video\\1.webm", "99", "", "", "", "abcdefghijkl"} << "Parent"
        << "Without changes"
        << "10" << 6 << "abcdef.webm";
}

void RuleDialogsTest::fileNamesFromEachDialog() {
    QFETCH(int, tab);
    QFETCH(QStringList, row);
    QFETCH(QString, use);
    QFETCH(QString, letterCase);
    QFETCH(QString, maxLength);
    QFETCH(int, exportColumn);
    QFETCH(QString, expected);
    GuiFixture f;
    f.start();
    const std::pair<int, CollectionTable*> tables[] = {{PicturesTab, test::pictureTable(f.form.get())},
                                                       {VideosTab, test::videoTable(f.form.get())},
                                                       {TextsTab, test::textTable(f.form.get())}};
    CollectionTable* table = nullptr;
    for (const auto& [t, model] : tables)
        if (t == tab)
            table = model;
    setRows(table, {row});
    withFileNames(f.form.get(), tab, [&](FileNamesDialog* dialog) {
        const int useIndex = dialog->ComboBox1->findText(use);
        QVERIFY2(useIndex >= 0, qPrintable(use));
        dialog->ComboBox1->setCurrentIndex(useIndex);
        dialog->ComboBox2->setCurrentIndex(dialog->ComboBox2->findText(letterCase));
        replaceFieldText(dialog->Edit1, maxLength);
        QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
        QVERIFY(dialog->isVisible());
    });
    QCOMPARE(table->cell(exportColumn, 1), expected);
}

void RuleDialogsTest::replacesGridIsTidiedOnEnterAndOnLeaving() {
    GuiFixture f;
    f.start();
    setRows(test::pictureTable(f.form.get()), {{"OK", "http://h/", "w\\1.jpg", "10", "10", "", "", "abc"}});
    withFileNames(f.form.get(), PicturesTab, [&](FileNamesDialog* dialog) {
        QTableWidget* grid = dialog->StringGrid1;
        QCOMPARE(grid->horizontalHeaderItem(0)->text(), QString("From"));
        QCOMPARE(grid->horizontalHeaderItem(1)->text(), QString("To"));
        QCOMPARE(gridRows(grid), QStringList{"="});
        auto startTyping = [&](int r, int c) {
            grid->setCurrentCell(r, c);
            grid->setFocus(Qt::MouseFocusReason);
            QTRY_VERIFY(grid->hasFocus());
        };

        // A pair typed into the blank row, Enter in the open cell editor: a new blank row follows.
        startTyping(0, 0);
        typeKeys("a");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // on to the To cell, still editing
        typeKeys("b");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(gridRows(grid), (QStringList{"a=b", "="}));

        // Enter on the grid itself, no editor open.
        startTyping(1, 0);
        typeKeys("q");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(grid->hasFocus());
        QCOMPARE(gridRows(grid), (QStringList{"a=b", "q="}));
        QTest::keyClick(grid, Qt::Key_Enter);
        QCOMPARE(gridRows(grid), (QStringList{"a=b", "q=", "="}));

        // Row 2 loses its From (its To alone does not keep it), row 3 gets a pair: Enter
        // leaves the pairs in rows 1 and 2 and one blank row, a row count of 4 with the header.
        startTyping(1, 0);
        QTest::keyClick(grid, Qt::Key_F2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        typeKeys("Q");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // to row 3, From
        typeKeys("b");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        typeKeys("c");
        QCOMPARE(gridRows(grid), (QStringList{"a=b", "=Q", "b="})); // "c" is still in the editor
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(gridRows(grid), (QStringList{"a=b", "b=c", "="}));
        QCOMPARE(grid->rowCount() + 1, 4);

        // Leaving the grid while a cell is being edited: the text is kept and the grid tidied.
        startTyping(2, 0);
        typeKeys("z");
        QTest::mouseClick(dialog->Edit1, Qt::LeftButton);
        QVERIFY(dialog->Edit1->hasFocus());
        QCOMPARE(gridRows(grid), (QStringList{"a=b", "b=c", "z=", "="}));

        // The pairs work in order: abc -> bbc -> ccc; "z" deletes nothing.
        dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText("Alt"));
        QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(test::pictureTable(f.form.get())->cell(col::PicExportName, 1), QString("ccc.jpg"));
}

QTEST_MAIN(RuleDialogsTest)
#include "test_rule_dialogs.moc"
