// The text tab: download, preview, save and export.
#include "gui/main_window.h"

#include "jobs/text_jobs.h"
#include "rules/text_rules.h"

#include <QPlainTextEdit>
#include <QTableView>

namespace skarvel {

void TForm1::BitBtn12Click() {
    Memo_Texts->clear();
    if (URLs_List->toPlainText().isEmpty()) {
        textTable->clearToOneEmptyRow();
    } else {
        // Every line becomes a row, blank ones too: their requests fail and say so.
        const QStringList lines = MemoLines(URLs_List);
        textTable->setGridRowCount(int(lines.size()) + 1);
        for (int i = 0; i < int(lines.size()); ++i)
            textTable->setRow(i + 1, {QString::number(i + 1), QString(), lines[i]});
    }
    textPagesDownload->Resume();
}

void TForm1::StringGrid5Click() {
    const QString path = textTable->cell(col::LocalPath, CurrentRow(StringGrid5));
    // A missing file or an empty Local path gives "": the memo is emptied.
    Memo_Text_Preview->setPlainText(LoadPageText(path));
}

} // namespace skarvel
