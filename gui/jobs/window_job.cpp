#include "gui/jobs/window_job.h"

#include "gui/main_window.h"

namespace skarvel {

WindowJob::WindowJob(TForm1* form1) : BackgroundJob(form1), Form1(form1) {}

} // namespace skarvel
