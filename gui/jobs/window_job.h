#pragma once
// A background job that belongs to the main window: its steps read and write
// the window's controls.
#include "jobs/background_job.h"

namespace skarvel {

class TForm1;

class WindowJob : public BackgroundJob {
    Q_OBJECT
public:
    explicit WindowJob(TForm1* form1);

protected:
    TForm1* Form1;
};

} // namespace skarvel
