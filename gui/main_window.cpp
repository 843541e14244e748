// The application shell: the shared helpers, the menu commands, closing and row removal.
#include "gui/main_window.h"

#include "common/file_ops.h"
#include "common/text_ops.h"
#include "gui/dialog_service.h"
#include "gui/dialogs/about_box.h"
#include "gui/dialogs/file_name_dialogs.h"
#include "gui/dialogs/parameters_dialog.h"
#include "gui/dialogs/selection_dialogs.h"
#include "gui/dialogs/text_selection_dialog.h"
#include "gui/image_list.h"
#include "gui/jobs/window_adapters.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>

namespace skarvel {

// ---------------------------------------------------------------- helpers

int TForm1::CurrentRow(QTableView* grid) {
    const QModelIndex current = grid->currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

void TForm1::SetCurrentRow(QTableView* grid, int row) {
    const int column = grid->currentIndex().isValid() ? grid->currentIndex().column() : 1;
    grid->setCurrentIndex(grid->model()->index(row - 1, column));
}

QStringList TForm1::MemoLines(const QPlainTextEdit* memo) {
    return MemoTextLines(memo);
}

int TForm1::MemoLineCount(const QPlainTextEdit* memo) {
    return int(MemoLines(memo).size());
}

int TForm1::ParseHarvestBuffer(TextStore& buffer, CollectionTable& table, HarvestKind kind) {
    QString text = buffer.text();
    const int n = ParseHarvest(text, table, kind);
    buffer.setText(text);
    return n;
}

void TForm1::AppendToMemo(QPlainTextEdit* memo, const QString& text) {
    if (text.isEmpty())
        return;
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    plain.replace(u'\r', u'\n');
    cursor.insertText(plain);
}

// ---------------------------------------------------------------- shell commands

void TForm1::PageControl1Change() {
    const int current = PageControl1->currentIndex();
    for (size_t i = 0; i < statusBars.size(); ++i)
        statusBars[i]->setVisible(int(i) == current);
}

void TForm1::Directorystructure1Click() {
    MakeDirectoryStructure(workFolder);
}

void TForm1::New1Click() {
    URLs_List->clear();
    Source_Links->clear();
    fileTable->clearToOneEmptyRow();
    pictureTable->clearToOneEmptyRow();
    Memo1->clear();
    FormResize();
    Memo_Sounds->clear();
    soundTable->clearToOneEmptyRow();
    Memo_Videos->clear();
    videoTable->clearToOneEmptyRow();
    textTable->clearToOneEmptyRow();
}

void TForm1::Exit1Click() {
    // Ends the application without the close query: the settings file is not written.
    QCoreApplication::exit(0);
}

void TForm1::Parameters1Click() {
    Form13->ShowModal();
}

void TForm1::Manual1Click() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(HelpFilePath(env)));
}

void TForm1::About1Click() {
    AboutBox->ShowModal();
}

TForm1::Tab TForm1::currentTab() const {
    return Tab(PageControl1->currentIndex());
}

void TForm1::Savepicturecollection1Click() {
    if (currentTab() == Tab::Pictures)
        BitBtn5Click();
}

void TForm1::ExportcollectiontoSQLite1Click() {
    if (currentTab() == Tab::Pictures)
        BitBtn2Click();
}

void TForm1::Selection1Click() {
    switch (currentTab()) {
    case Tab::Pictures:
        Form7->ShowModal();
        break;
    case Tab::Sounds:
        Form15->ShowModal();
        break;
    case Tab::Videos:
        Form23->ShowModal();
        break;
    case Tab::Texts:
        Form30->ShowModal();
        break;
    case Tab::Urls:
    case Tab::Files:
        break;
    }
}

void TForm1::Filenames1Click() {
    switch (currentTab()) {
    case Tab::Pictures:
        Form8->ShowModal();
        break;
    case Tab::Sounds:
        Form16->ShowModal();
        break;
    case Tab::Videos:
        Form24->ShowModal();
        break;
    case Tab::Texts:
        Form31->ShowModal();
        break;
    case Tab::Urls:
    case Tab::Files:
        break;
    }
}

void TForm1::Timer3Timer() {
    Timer3->stop();
    ImageList1->applyGlyphs(this);
}

bool TForm1::FormCloseQuery() {
    QString error;
    // The window closes all the same; the user learns why the next start will not find the values.
    if (!WriteSettings(env, workFolder, CheckedStyleName(), modernPictures, &error))
        ui::ShowError(this, QStringLiteral("Cannot save the settings to %1: %2")
                                .arg(QDir::toNativeSeparators(SettingsPath(env)), error));
    return true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->setAccepted(FormCloseQuery());
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

// ---------------------------------------------------------------- row removal

void TForm1::removeCurrentRow(QTableView* grid, CollectionTable* table) {
    if (table->gridRowCount() == 2 && table->cell(col::Url, 1).isEmpty())
        return;
    table->removeDataRow(CurrentRow(grid));
}

void TForm1::Deleterow3Click() {
    removeCurrentRow(StringGrid1, pictureTable);
    FormResize();
}

void TForm1::Deleterow2Click() {
    removeCurrentRow(StringGrid2, soundTable);
}

void TForm1::Deleterow1Click() {
    removeCurrentRow(StringGrid4, videoTable);
}

void TForm1::Delete1Click() {
    removeCurrentRow(StringGrid5, textTable);
}

void TForm1::Deleterow4Click() {
    removeCurrentRow(StringGrid3, fileTable);
}

void TForm1::ShowDuplicatesRemoved(int removed) {
    ui::ShowMessage(this, QStringLiteral("Duplicates removed: %1").arg(removed));
}

} // namespace skarvel
