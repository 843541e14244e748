#pragma once
// The file download.
#include "jobs/window_job.h"

namespace skarvel {

class FilesDownload : public WindowJob {
    Q_OBJECT
public:
    explicit FilesDownload(TForm1* form1) : WindowJob(form1) {}
};

} // namespace skarvel
