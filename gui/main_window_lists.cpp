// The URL list tab and the file download.
#include "gui/main_window.h"

#include "gui/dialog_service.h"
#include "gui/dialogs/url_filter_dialog.h"
#include "common/text_ops.h"
#include "jobs/file_jobs.h"
#include "jobs/list_jobs.h"

#include <QPlainTextEdit>
#include <QTextCursor>

namespace skarvel {

void TForm1::BitBtn6Click() {
    URLs_List->clear();
    if (Source_Links->toPlainText().isEmpty()) {
        ui::ShowMessage(this, QStringLiteral("Enter source link(s) please"));
        return;
    }
    makeUrlsList->Resume();
}

void TForm1::Selectall1Click() {
    URLs_List->selectAll();
    URLs_List->copy();
}

void TForm1::PastefromClipboard1Click() {
    URLs_List->paste();
}

void TForm1::Clear1Click() {
    URLs_List->clear();
}

void TForm1::ExtractlastURLinline1Click() {
    // Every block of the document, the empty one after a final line break too,
    // so the line count stays as it was.
    QStringList lines = URLs_List->toPlainText().split(u'\n');
    for (QString& line : lines)
        line = ExtractLastUrl(line);
    // One edit of the document, so that Undo brings the lines back.
    QTextCursor all(URLs_List->document());
    all.select(QTextCursor::Document);
    all.insertText(lines.join(u'\n'));
}

void TForm1::Filter1Click() {
    Form36->ShowModal();
}

void TForm1::BitBtn7Click() {
    const QStringList lines = MemoLines(URLs_List);
    if (lines.isEmpty()) {
        fileTable->clearToOneEmptyRow();
        return;
    }
    const std::optional<QString> chosen = ui::ChooseDirectory(this, fileDownloadFolder);
    if (!chosen)
        return;
    fileDownloadFolder = *chosen;
    if (!fileDownloadFolder.endsWith(u'/') && !fileDownloadFolder.endsWith(PathSeparator()))
        fileDownloadFolder += PathSeparator();

    fileTable->setGridRowCount(int(lines.size()) + 1);
    for (int i = 0; i < int(lines.size()); ++i)
        fileTable->setRow(i + 1, {QString::number(i + 1), QString(), lines[i], QString(), QString()});
    filesDownload->Resume();
}

} // namespace skarvel
