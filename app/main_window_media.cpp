// The sound and video tabs: harvest commands, playing, save and export.
#include "app/main_window.h"

#include "jobs/media_jobs.h"

namespace skarvel {

void TForm1::BitBtn8Click() {}
void TForm1::BitBtn9Click() {}
void TForm1::Endsoundpagesdownload1Click() {}
void TForm1::Endvideopagesdownload1Click() {}
void TForm1::Play1Click() {}
void TForm1::Stop1Click() {}
void TForm1::Playvideo1Click() {}

} // namespace skarvel
