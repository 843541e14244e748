#pragma once
// A background job that belongs to the main window: its steps read and write
// the window's controls.
#include "jobs/background_job.h"

class QProgressBar;

namespace skarvel {

class TForm1;

class WindowJob : public BackgroundJob {
    Q_OBJECT
public:
    explicit WindowJob(TForm1* form1);

protected:
    // The prepare step's progress bar: position 0 of maximum, shown.
    static void ShowProgress(QProgressBar* bar, int maximum);

    TForm1* Form1;
};

} // namespace skarvel
