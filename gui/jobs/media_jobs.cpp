#include "gui/jobs/media_jobs.h"

#include "audio/audio_library.h"
#include "gui/main_window.h"

#include <QFileInfo>

namespace skarvel {

SoundPagesDownload::SoundPagesDownload(TForm1* form1)
    : HarvestJob(form1, {kSoundsScript, &TForm1::Memo_Sounds, &TForm1::ProgressBar4,
                         &TForm1::Endsoundpagesdownload1Click, Ending::LastWriteStep}) {}

VideoPagesDownload::VideoPagesDownload(TForm1* form1)
    : HarvestJob(form1, {kVideosScript, &TForm1::Memo_Videos, &TForm1::ProgressBar5,
                         &TForm1::Endvideopagesdownload1Click, Ending::FinishStep}) {}

// ---------------------------------------------------------------- sounds

DownloadSounds::DownloadSounds(TForm1* form1)
    : MediaDownloadJob(form1, {&TForm1::soundTable, &TForm1::ProgressBar4, "Sounds", col::Size,
                               &DownloadSounds::ExtensionFor}) {}

QString DownloadSounds::ExtensionFor(const QString& contentType) {
    if (contentType == QLatin1String("audio/mpeg"))
        return QStringLiteral(".mp3");
    if (contentType == QLatin1String("audio/ogg"))
        return QStringLiteral(".ogg");
    if (contentType == QLatin1String("audio/x-wav"))
        return QStringLiteral(".wav");
    if (contentType == QLatin1String("audio/x-aac"))
        return QStringLiteral(".aac");
    return QStringLiteral(".???");
}

void DownloadSounds::fetchStep() {
    MediaDownloadJob::fetchStep();
    m_duration = -1;
}

void DownloadSounds::measure() {
    // The window's audio library, through a stream handle of this job's own.
    if (status == kStatusOK && QFileInfo::exists(localPath))
        m_duration = MeasureDurationSeconds(*Form1->audio, localPath);
}

void DownloadSounds::writeResults(CollectionTable& table, int row) {
    table.setCell(col::Status, row, status);
    if (status != kStatusOK)
        return;
    table.setCell(col::LocalPath, row, localPath);
    table.setCell(col::Size, row, QString::number(size));
    table.setCell(col::Duration, row, QString::number(m_duration));
}

// ---------------------------------------------------------------- videos

DownloadVideos::DownloadVideos(TForm1* form1)
    : MediaDownloadJob(form1, {&TForm1::videoTable, &TForm1::ProgressBar5, "Video", col::Size,
                               &DownloadVideos::ExtensionFor}) {}

QString DownloadVideos::ExtensionFor(const QString& contentType) {
    if (contentType == QLatin1String("video/webm"))
        return QStringLiteral(".webm");
    // Only the Ogg test looks at a prefix: "video/ogg" with anything after it is Ogg video.
    if (contentType.left(9) == QLatin1String("video/ogg"))
        return QStringLiteral(".ogv");
    if (contentType == QLatin1String("video/mp4"))
        return QStringLiteral(".mp4");
    return QStringLiteral(".???");
}

void DownloadVideos::writeResults(CollectionTable& table, int row) {
    table.setCell(col::Status, row, status);
    if (status != kStatusOK)
        return;
    table.setCell(col::LocalPath, row, localPath);
    table.setCell(col::Size, row, QString::number(size));
}

} // namespace skarvel
