#pragma once
// The sound and video harvests and downloads.
#include "jobs/window_job.h"

namespace skarvel {

class SoundPagesDownload : public WindowJob {
    Q_OBJECT
public:
    explicit SoundPagesDownload(TForm1* form1) : WindowJob(form1) {}
};

class VideoPagesDownload : public WindowJob {
    Q_OBJECT
public:
    explicit VideoPagesDownload(TForm1* form1) : WindowJob(form1) {}
};

class DownloadSounds : public WindowJob {
    Q_OBJECT
public:
    explicit DownloadSounds(TForm1* form1) : WindowJob(form1) {}
};

class DownloadVideos : public WindowJob {
    Q_OBJECT
public:
    explicit DownloadVideos(TForm1* form1) : WindowJob(form1) {}
};

} // namespace skarvel
