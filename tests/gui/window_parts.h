#pragma once
// The main window's parts found as an outside test finds them: by object name.
// Commands run through the button or menu item a user would press.
#include "gui/jobs/window_adapters.h"
#include "jobs/job_registry.h"
#include "gui/main_window.h"
#include "gui/thumbnail_grid.h"
#include "tables/collection_tables.h"
#include "tables/text_store.h"

#include <QAction>
#include <QApplication>
#include <QResizeEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>

namespace skarvel::test {

// The descendant of root with that object name and class; a missing one ends the run naming it.
template <class T = QWidget> T* Part(const QObject* root, const QString& name) {
    T* found = root->findChild<T*>(name);
    if (!found)
        qFatal("no %s named \"%s\" in \"%s\"", T::staticMetaObject.className(), qPrintable(name),
               qPrintable(root->objectName()));
    return found;
}

inline QTabWidget* PageControl1(const QObject* w) {
    return Part<QTabWidget>(w, QStringLiteral("PageControl1"));
}
inline QPlainTextEdit* URLs_List(const QObject* w) {
    return Part<QPlainTextEdit>(w, QStringLiteral("URLs_List"));
}
inline QPlainTextEdit* Source_Links(const QObject* w) {
    return Part<QPlainTextEdit>(w, QStringLiteral("Source_Links"));
}
inline QPlainTextEdit* Memo_Text_Preview(const QObject* w) {
    return Part<QPlainTextEdit>(w, QStringLiteral("Memo_Text_Preview"));
}
inline ThumbnailGrid* DrawGrid1(const QObject* w) {
    return Part<ThumbnailGrid>(w, QStringLiteral("DrawGrid1"));
}
inline TextStore* Memo1(const QObject* w) {
    return Part<TextStore>(w, QStringLiteral("Memo1"));
}
inline TextStore* Memo_Texts(const QObject* w) {
    return Part<TextStore>(w, QStringLiteral("Memo_Texts"));
}
inline QTimer* Timer2(const QObject* w) {
    return Part<QTimer>(w, QStringLiteral("Timer2"));
}
inline QTimer* Timer3(const QObject* w) {
    return Part<QTimer>(w, QStringLiteral("Timer3"));
}

inline QTableView* StringGrid1(const QObject* w) {
    return Part<QTableView>(w, QStringLiteral("StringGrid1"));
}
inline QTableView* StringGrid2(const QObject* w) {
    return Part<QTableView>(w, QStringLiteral("StringGrid2"));
}
inline QTableView* StringGrid3(const QObject* w) {
    return Part<QTableView>(w, QStringLiteral("StringGrid3"));
}
inline QTableView* StringGrid4(const QObject* w) {
    return Part<QTableView>(w, QStringLiteral("StringGrid4"));
}
inline QTableView* StringGrid5(const QObject* w) {
    return Part<QTableView>(w, QStringLiteral("StringGrid5"));
}

// The collection a grid shows.
inline CollectionTable* TableOf(const QTableView* grid) {
    auto* table = qobject_cast<CollectionTable*>(grid->model());
    if (!table)
        qFatal("grid \"%s\" shows no collection table", qPrintable(grid->objectName()));
    return table;
}
inline CollectionTable* pictureTable(const QObject* w) {
    return TableOf(StringGrid1(w));
}
inline CollectionTable* soundTable(const QObject* w) {
    return TableOf(StringGrid2(w));
}
inline CollectionTable* fileTable(const QObject* w) {
    return TableOf(StringGrid3(w));
}
inline CollectionTable* videoTable(const QObject* w) {
    return TableOf(StringGrid4(w));
}
inline CollectionTable* textTable(const QObject* w) {
    return TableOf(StringGrid5(w));
}

// "ProgressBar1" .. "ProgressBar6".
inline QProgressBar* ProgressBar(const QObject* w, int number) {
    return Part<QProgressBar>(w, QStringLiteral("ProgressBar%1").arg(number));
}

// Lines of a memo as it shows them: a final line break adds no line.
inline QStringList Lines(const QPlainTextEdit* memo) {
    return MemoTextLines(memo);
}

// The grid's current data row (1-based, below the title row); 1 when it has none.
inline int CurrentRow(const QTableView* grid) {
    const QModelIndex current = grid->currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

// Makes a data row (1-based, below the title row) the grid's current row, keeping the column.
inline void SetCurrentRow(QTableView* grid, int row) {
    const int column = grid->currentIndex().isValid() ? grid->currentIndex().column() : 1;
    grid->setCurrentIndex(grid->model()->index(row - 1, column));
}

// Brings up the tab that holds widget, as a user does before pressing one of its buttons.
inline void ShowTabOf(QWidget* widget) {
    for (QWidget* page = widget; page; page = page->parentWidget()) {
        QWidget* stack = page->parentWidget();
        auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
        if (tabs && tabs->indexOf(page) >= 0) {
            tabs->setCurrentWidget(page);
            return;
        }
    }
}

// Has the window act on its present size, as after the user resized it.
inline void SendResize(QWidget* window) {
    QResizeEvent event(window->size(), window->size());
    QApplication::sendEvent(window, &event);
}

// Presses a button of the window: its tab is brought up first and the button clicked.
inline void Press(QWidget* window, const QString& buttonName) {
    auto* button = Part<QPushButton>(window, buttonName);
    ShowTabOf(button);
    if (!button->isEnabled())
        qFatal("button \"%s\" is disabled", qPrintable(buttonName));
    QTest::mouseClick(button, Qt::LeftButton);
}

// Triggers a menu or popup item of the window.
inline void Trigger(QObject* window, const QString& actionName) {
    auto* action = Part<QAction>(window, actionName);
    if (!action->isEnabled())
        qFatal("menu item \"%s\" is disabled", qPrintable(actionName));
    action->trigger();
}

// Captions of the checked items of the "Style" menu.
inline QStringList CheckedStyles(const QObject* window) {
    QStringList checked;
    for (QAction* item : Part<QMenu>(window, QStringLiteral("Skin1"))->actions())
        if (item->isChecked())
            checked << item->text();
    return checked;
}

// The current instance of one of the window's jobs.
template <class Job = BackgroundJob> Job* CurrentJob(const TForm1* window, JobId id) {
    return static_cast<Job*>(window->CurrentJob(id));
}

} // namespace skarvel::test
