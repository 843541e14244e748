#include "jobs/media_jobs.h"

#include "common/text_ops.h"

#include <QFileInfo>

namespace skarvel {

SoundPagesDownload::SoundPagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls,
                                       TextStore& buffer, ProgressSink& progress,
                                       std::function<void()> parser)
    : HarvestJob(window, serviceBase, urls,
                 {kSoundsScript, &buffer, &progress, std::move(parser), Ending::LastWriteStep}) {}

VideoPagesDownload::VideoPagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls,
                                       TextStore& buffer, ProgressSink& progress,
                                       std::function<void()> parser)
    : HarvestJob(window, serviceBase, urls,
                 {kVideosScript, &buffer, &progress, std::move(parser), Ending::FinishStep}) {}

// ---------------------------------------------------------------- sounds

DownloadSounds::DownloadSounds(QObject* window, CollectionTable& table, ProgressSink& progress,
                               std::function<QString()> workFolder, DurationMeter durationOf)
    : MediaDownloadJob(window, table, progress, std::move(workFolder),
                       {"Sounds", col::Size, &DownloadSounds::ExtensionFor}),
      m_durationOf(std::move(durationOf)) {}

QString DownloadSounds::ExtensionFor(const QString& contentType) {
    if (contentType == QLatin1String("audio/mpeg"))
        return QStringLiteral(".mp3");
    if (contentType == QLatin1String("audio/ogg"))
        return QStringLiteral(".ogg");
    if (contentType == QLatin1String("audio/x-wav"))
        return QStringLiteral(".wav");
    if (contentType == QLatin1String("audio/x-aac"))
        return QStringLiteral(".aac");
    return UnknownTypeFileExtension();
}

void DownloadSounds::measure(DownloadItem& item) {
    if (item.status == kStatusOK && QFileInfo::exists(item.localPath))
        item.duration = m_durationOf(item.localPath);
}

void DownloadSounds::writeItem(const DownloadItem& item, int row) {
    table.setStatus(row, item.status);
    if (item.status != kStatusOK)
        return;
    table.setCell(col::LocalPath, row, item.localPath);
    table.setCell(col::Size, row, QString::number(item.size));
    table.setCell(col::Duration, row, QString::number(item.duration));
}

// ---------------------------------------------------------------- videos

DownloadVideos::DownloadVideos(QObject* window, CollectionTable& table, ProgressSink& progress,
                               std::function<QString()> workFolder)
    : MediaDownloadJob(window, table, progress, std::move(workFolder),
                       {"Video", col::Size, &DownloadVideos::ExtensionFor}) {}

QString DownloadVideos::ExtensionFor(const QString& contentType) {
    if (contentType == QLatin1String("video/webm"))
        return QStringLiteral(".webm");
    // Only the Ogg test looks at a prefix: "video/ogg" with anything after it is Ogg video.
    if (contentType.left(9) == QLatin1String("video/ogg"))
        return QStringLiteral(".ogv");
    if (contentType == QLatin1String("video/mp4"))
        return QStringLiteral(".mp4");
    return UnknownTypeFileExtension();
}

void DownloadVideos::writeItem(const DownloadItem& item, int row) {
    table.setStatus(row, item.status);
    if (item.status != kStatusOK)
        return;
    table.setCell(col::LocalPath, row, item.localPath);
    table.setCell(col::Size, row, QString::number(item.size));
}

} // namespace skarvel
