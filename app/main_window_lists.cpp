// The URL list tab and the file download.
#include "app/main_window.h"

#include "jobs/file_jobs.h"
#include "jobs/list_jobs.h"

namespace skarvel {

void TForm1::BitBtn6Click() {}
void TForm1::Selectall1Click() {}
void TForm1::PastefromClipboard1Click() {}
void TForm1::Clear1Click() {}
void TForm1::ExtractlastURLinline1Click() {}
void TForm1::Filter1Click() {}
void TForm1::BitBtn7Click() {}

} // namespace skarvel
