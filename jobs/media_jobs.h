#pragma once
// The sound and video harvests and downloads.
#include "jobs/harvest_job.h"
#include "jobs/media_download_job.h"

namespace skarvel {

// Ends in the write step of its last item, so a run of no items never parses.
class SoundPagesDownload : public HarvestJob {
    Q_OBJECT
public:
    SoundPagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls, TextStore& buffer,
                       ProgressSink& progress, std::function<void()> parser);
};

class VideoPagesDownload : public HarvestJob {
    Q_OBJECT
public:
    VideoPagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls, TextStore& buffer,
                       ProgressSink& progress, std::function<void()> parser);
};

// Saves each row's sound under "Sounds" and measures a complete one in whole seconds.
class DownloadSounds : public MediaDownloadJob {
    Q_OBJECT
public:
    // Whole seconds of a sound file, -1 when it cannot be measured; called on the worker.
    using DurationMeter = std::function<int(const QString& path)>;

    DownloadSounds(QObject* window, CollectionTable& table, ProgressSink& progress,
                   std::function<QString()> workFolder, DurationMeter durationOf);

    // ".mp3", ".ogg", ".wav", ".aac" or UnknownTypeFileExtension() for a lower-case content type.
    static QString ExtensionFor(const QString& contentType);

protected:
    void measure(DownloadItem& item) override;
    void writeItem(const DownloadItem& item, int row) override;

private:
    DurationMeter m_durationOf;
};

// Saves each row's video under "Video"; videos are not measured.
class DownloadVideos : public MediaDownloadJob {
    Q_OBJECT
public:
    DownloadVideos(QObject* window, CollectionTable& table, ProgressSink& progress,
                   std::function<QString()> workFolder);

    // ".webm", ".ogv" (any type starting with "video/ogg"), ".mp4" or UnknownTypeFileExtension().
    static QString ExtensionFor(const QString& contentType);

protected:
    void writeItem(const DownloadItem& item, int row) override;
};

} // namespace skarvel
