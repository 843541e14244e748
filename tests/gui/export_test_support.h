#pragma once
// Helpers of the save and export tests: collection rows backed by files the test
// makes, the dialogs driven through their buttons, and the outside tools
// (ImageMagick's identify, the sqlite3 shell) that check what was written.
#include "tables/collection_tables.h"
#include "jobs/export_jobs.h"
#include "gui/dialogs/save_dialogs.h"
#include "gui/dialogs/sqlite_dialogs.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/host_tool.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <functional>
#include <memory>

namespace skarvel::test {

// Runs a program and gives its standard output; fails the test (empty result) when it cannot run.
inline QByteArray runTool(const QString& program, const QStringList& args) {
    const ToolRun run = runHostTool(program, args, 60000);
    if (!run.ok())
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(args.join(' ')), run.err.constData());
    return run.ok() ? run.out : QByteArray();
}

// "WIDTHxHEIGHT FORMAT" of the first frame as ImageMagick reads the file, e.g. "100x50 JPEG".
inline QString identify(const QString& path) {
    return QString::fromUtf8(
               runTool(QStringLiteral("identify"),
                       {QStringLiteral("-format"), QStringLiteral("%wx%h %m\\n"), path + "[0]"}))
        .trimmed();
}

// ImageMagick itself, not a stand-in that may come first on the PATH.
inline QString magickConvert() {
    const QString im6 = QStandardPaths::findExecutable(QStringLiteral("convert-im6.q16"));
    return im6.isEmpty() ? QStringLiteral("convert") : im6;
}

// A w x h picture with a gradient (so nearest-neighbour copies are not flat),
// written in the format its extension names. GIF goes through ImageMagick, as Qt
// has no GIF writer.
inline void writePicture(const QString& path, int w, int h, int seed = 0) {
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y,
                                QColor((x * 255 / std::max(1, w - 1) + seed) % 256,
                                       (y * 255 / std::max(1, h - 1)) % 256, (seed * 37) % 256));
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("gif")) {
        const QString png = path + ".src.png";
        QVERIFY(image.save(png, "PNG"));
        runTool(magickConvert(), {png, path});
        QFile::remove(png);
        QVERIFY(QFileInfo::exists(path));
        return;
    }
    const char* format = suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") ? "JPG"
                         : suffix == QLatin1String("bmp")                                  ? "BMP"
                                                                                           : "PNG";
    QVERIFY2(image.save(path, format), qPrintable(path));
}

// Result lines of a query run by the sqlite3 shell ("a|b|c" per row).
inline QStringList sqlite(const QString& db, const QString& sql) {
    const QString out = QString::fromUtf8(runTool(QStringLiteral("sqlite3"), {db, sql}));
    return out.split('\n', Qt::SkipEmptyParts);
}

// One collection row: the local file and the export name.
struct Row {
    QString localPath;
    QString exportName;
};

// Fills the table with the rows (numbered, status "OK") from row 1 on.
inline void fillTable(CollectionTable* table, int exportNameColumn, const QList<Row>& rows) {
    table->setGridRowCount(int(rows.size()) + 1);
    for (int i = 0; i < rows.size(); ++i) {
        const int r = i + 1;
        table->setCell(col::Number, r, QString::number(r));
        table->setCell(col::Status, r, kStatusOK);
        table->setCell(col::Url, r, QStringLiteral("http://127.0.0.1/%1").arg(r));
        table->setCell(col::LocalPath, r, rows[i].localPath);
        table->setCell(exportNameColumn, r, rows[i].exportName);
    }
}

template <class T> T* child(QWidget* dialog, const char* name) {
    T* w = dialog->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qWarning("no %s in %s", name, qPrintable(dialog->objectName()));
    return w;
}

// Opens a dialog through openCommand; once it shows, setUp fills its fields, then
// startButton is clicked and the run is awaited: the dialog must close itself
// with the finish message (the run's first message). Returns the dialog that was shown.
inline QWidget* runDialog(ui::TestAnswers& answers, const std::function<void()>& openCommand,
                          const std::function<void(QWidget*)>& setUp, const char* startButton,
                          const QString& finishMessage) {
    QWidget* shown = nullptr;
    WhenModalShows([&](QWidget* dialog) {
        shown = dialog;
        setUp(dialog);
        const qsizetype before = answers.messages.size();
        QTest::mouseClick(child<QPushButton>(dialog, startButton), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(answers.messages.size() > before, 60000);
        QCOMPARE(answers.messages.at(before), finishMessage);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), kWaitMs);
        QVERIFY(child<QProgressBar>(dialog, "ProgressBar1")->isHidden());
    });
    openCommand();
    return shown;
}

// Clicks a check box on its indicator (a box stretched by its layout only takes clicks there and on its
// text).
inline void clickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// Moves the keyboard focus into field, types text and moves the focus on to next, as a user does.
// Focus changes reach the widgets of the active window only, so the field's window is made active
// first; leaving then sends the field the focus-out event that its exit handler waits for.
inline void typeAndLeave(QLineEdit* field, const QString& text, QWidget* next) {
    QVERIFY(ActivateWindowOf(field));
    field->setFocus(Qt::MouseFocusReason);
    QVERIFY(field->hasFocus());
    field->clear();
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(field, c.toLatin1());
        else
            field->insert(QString(c)); // the test keyboard knows ASCII only
    }
    next->setFocus(Qt::MouseFocusReason);
    QVERIFY(next->hasFocus());
}

// Presses the dialog's start button and its cancel button as soon as the progress bar
// first moves, then waits for the run's closing message.
inline void startThenCancelAtFirstRow(QWidget* dialog, const char* cancelName, const QStringList& messages) {
    auto* bar = child<QProgressBar>(dialog, "ProgressBar1");
    auto* cancel = child<QPushButton>(dialog, cancelName);
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(bar, &QProgressBar::valueChanged, [=](int value) {
        if (value < 1)
            return;
        QObject::disconnect(*once);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 30000);
}

// The folder the export choosers start at (one for every save and export): the save dialog of
// a tab whose table has an export name is opened through saveButton and its folder chooser cancelled.
inline QString exportChooserStart(TForm1* form, ui::TestAnswers& answers, const QString& saveButton) {
    QString start = QStringLiteral("(no save dialog)");
    WhenModalShows([&](QWidget* dialog) {
        answers.directories.push_back(std::nullopt);
        const qsizetype before = answers.directoryStarts.size();
        QTest::mouseClick(child<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
        QCOMPARE(answers.directoryStarts.size(), before + 1);
        start = answers.directoryStarts.takeLast();
    });
    Press(form, saveButton);
    return start;
}

// Names of the ordinary files of a folder (dot files too), sorted.
inline QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace skarvel::test
