// The save and SQLite export commands of the picture, sound, video and text tabs.
#include "gui/main_window.h"

#include "gui/dialog_service.h"
#include "jobs/export_jobs.h"
#include "gui/dialogs/save_dialogs.h"
#include "gui/dialogs/sqlite_dialogs.h"

namespace skarvel {

namespace {

// Opens dialog unless a row of the table has an empty export name; the message
// is the same on every tab.
void OpenWhenAllNamed(TForm1* form1, const CollectionTable* table, int exportNameColumn,
                      SkarvelDialog* dialog) {
    const int rows = table->gridRowCount() - 1;
    for (int row = 1; row <= rows; ++row) {
        if (table->cell(exportNameColumn, row).isEmpty()) {
            ui::ShowMessage(form1, QStringLiteral("Some pictures have empty names!"));
            return;
        }
    }
    dialog->ShowModal();
}

} // namespace

void TForm1::BitBtn5Click() {
    OpenWhenAllNamed(this, pictureTable, col::PicExportName, Form6);
}

void TForm1::BitBtn2Click() {
    OpenWhenAllNamed(this, pictureTable, col::PicExportName, Form10);
}

void TForm1::BitBtn4Click() {
    OpenWhenAllNamed(this, soundTable, col::MediaExportName, Form17);
}

void TForm1::BitBtn3Click() {
    OpenWhenAllNamed(this, soundTable, col::MediaExportName, Form18);
}

void TForm1::BitBtn10Click() {
    OpenWhenAllNamed(this, videoTable, col::MediaExportName, Form25);
}

void TForm1::BitBtn11Click() {
    OpenWhenAllNamed(this, videoTable, col::MediaExportName, Form26);
}

void TForm1::BitBtn13Click() {
    OpenWhenAllNamed(this, textTable, col::TextExportName, Form32);
}

void TForm1::BitBtn14Click() {
    OpenWhenAllNamed(this, textTable, col::TextExportName, Form33);
}

} // namespace skarvel
