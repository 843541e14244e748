#pragma once
// The picture harvest and the picture download.
#include "jobs/window_job.h"

namespace skarvel {

class PagesDownload : public WindowJob {
    Q_OBJECT
public:
    explicit PagesDownload(TForm1* form1) : WindowJob(form1) {}
};

class DownloadPictures : public WindowJob {
    Q_OBJECT
public:
    explicit DownloadPictures(TForm1* form1) : WindowJob(form1) {}
};

} // namespace skarvel
