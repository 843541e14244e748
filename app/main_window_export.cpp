// The save and SQLite export commands of the picture, sound, video and text tabs.
#include "app/main_window.h"

#include "export/export_jobs.h"
#include "export/save_dialogs.h"
#include "export/sqlite_dialogs.h"

namespace skarvel {

void TForm1::BitBtn5Click() {}
void TForm1::BitBtn2Click() {}
void TForm1::BitBtn4Click() {}
void TForm1::BitBtn3Click() {}
void TForm1::BitBtn10Click() {}
void TForm1::BitBtn11Click() {}
void TForm1::BitBtn13Click() {}
void TForm1::BitBtn14Click() {}

} // namespace skarvel
