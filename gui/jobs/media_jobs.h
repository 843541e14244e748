#pragma once
// The sound and video harvests and downloads.
#include "gui/jobs/harvest_job.h"
#include "gui/jobs/media_download_job.h"

namespace skarvel {

// Ends in the write step of its last item, so a run of no items never parses.
class SoundPagesDownload : public HarvestJob {
    Q_OBJECT
public:
    explicit SoundPagesDownload(TForm1* form1);
};

class VideoPagesDownload : public HarvestJob {
    Q_OBJECT
public:
    explicit VideoPagesDownload(TForm1* form1);
};

// Saves each row's sound under "Sounds" and measures a complete one in whole seconds.
class DownloadSounds : public MediaDownloadJob {
    Q_OBJECT
public:
    explicit DownloadSounds(TForm1* form1);

    // ".mp3", ".ogg", ".wav", ".aac" or ".???" for a lower-case content type.
    static QString ExtensionFor(const QString& contentType);

protected:
    void fetchStep() override;
    void measure() override;
    void writeResults(CollectionTable& table, int row) override;

private:
    int m_duration = -1;
};

// Saves each row's video under "Video"; videos are not measured.
class DownloadVideos : public MediaDownloadJob {
    Q_OBJECT
public:
    explicit DownloadVideos(TForm1* form1);

    // ".webm", ".ogv" (any type starting with "video/ogg"), ".mp4" or ".???".
    static QString ExtensionFor(const QString& contentType);

protected:
    void writeResults(CollectionTable& table, int row) override;
};

} // namespace skarvel
