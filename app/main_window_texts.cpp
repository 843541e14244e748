// The text tab: download, preview, save and export.
#include "app/main_window.h"

#include "jobs/text_jobs.h"

namespace skarvel {

void TForm1::BitBtn12Click() {}
void TForm1::StringGrid5Click() {}

} // namespace skarvel
