#pragma once
// The save and SQLite export jobs.
#include "jobs/window_job.h"

namespace skarvel {

class ExportPictures : public WindowJob {
    Q_OBJECT
public:
    explicit ExportPictures(TForm1* form1) : WindowJob(form1) {}
};

class ExportPicturesSQLite : public WindowJob {
    Q_OBJECT
public:
    explicit ExportPicturesSQLite(TForm1* form1) : WindowJob(form1) {}
};

class ExportSounds : public WindowJob {
    Q_OBJECT
public:
    explicit ExportSounds(TForm1* form1) : WindowJob(form1) {}
};

class ExportSoundsSQLite : public WindowJob {
    Q_OBJECT
public:
    explicit ExportSoundsSQLite(TForm1* form1) : WindowJob(form1) {}
};

class ExportVideos : public WindowJob {
    Q_OBJECT
public:
    explicit ExportVideos(TForm1* form1) : WindowJob(form1) {}
};

class ExportVideosSQLite : public WindowJob {
    Q_OBJECT
public:
    explicit ExportVideosSQLite(TForm1* form1) : WindowJob(form1) {}
};

class ExportTexts : public WindowJob {
    Q_OBJECT
public:
    explicit ExportTexts(TForm1* form1) : WindowJob(form1) {}
};

class ExportTextsSQLite : public WindowJob {
    Q_OBJECT
public:
    explicit ExportTextsSQLite(TForm1* form1) : WindowJob(form1) {}
};

} // namespace skarvel
