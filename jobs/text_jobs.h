#pragma once
// The text page download.
#include "jobs/window_job.h"

namespace skarvel {

class TextPagesDownload : public WindowJob {
    Q_OBJECT
public:
    explicit TextPagesDownload(TForm1* form1) : WindowJob(form1) {}
};

} // namespace skarvel
