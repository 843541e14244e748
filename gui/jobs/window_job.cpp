#include "gui/jobs/window_job.h"

#include "gui/main_window.h"

#include <QProgressBar>

namespace skarvel {

WindowJob::WindowJob(TForm1* form1) : BackgroundJob(form1), Form1(form1) {}

void WindowJob::ShowProgress(QProgressBar* bar, int maximum) {
    bar->setRange(0, std::max(maximum, 0));
    bar->setValue(0);
    bar->show();
}

} // namespace skarvel
