// The sound and video tabs: harvest commands, playing, save and export.
#include "gui/main_window.h"

#include "audio/audio_library.h"
#include "jobs/duplicate_jobs.h"
#include "jobs/media_jobs.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QTableView>
#include <QUrl>

namespace skarvel {

void TForm1::startAudio() {
    audio = std::make_unique<AudioLibrary>();
    if (!audio->Init(AudioLibrary::kDefaultDevice, 44100))
        audio->Init(AudioLibrary::kNoSoundDevice, 44100);
    audio->SetVolume(1.0f);
    audio->Start();
}

void TForm1::BitBtn8Click() {
    Memo_Sounds->clear();
    soundTable->clearToOneEmptyRow();
    soundPagesDownload->Resume();
}

void TForm1::BitBtn9Click() {
    Memo_Videos->clear();
    videoTable->clearToOneEmptyRow();
    videoPagesDownload->Resume();
}

void TForm1::Endsoundpagesdownload1Click() {
    ParseHarvestBuffer(*Memo_Sounds, *soundTable, HarvestKind::Sounds);
    downloadSounds->Resume();
}

void TForm1::Endvideopagesdownload1Click() {
    ParseHarvestBuffer(*Memo_Videos, *videoTable, HarvestKind::Videos);
    downloadVideos->Resume();
}

void TForm1::Removeduplicates2Click() {
    removeDuplicateSounds->Resume();
}

void TForm1::Removeduplicates3Click() {
    removeDuplicateVideos->Resume();
}

void TForm1::Play1Click() {
    const QString path = soundTable->cell(col::LocalPath, CurrentRow(StringGrid2));
    if (!QFileInfo(path).isFile())
        return;
    audio->ChannelStop(playerStream);
    audio->StreamFree(playerStream);
    playerStream = audio->StreamCreateFile(path);
    audio->ChannelPlay(playerStream, false);
}

void TForm1::Stop1Click() {
    audio->ChannelStop(playerStream);
    audio->StreamFree(playerStream);
}

void TForm1::Playvideo1Click() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(videoTable->cell(col::LocalPath, CurrentRow(StringGrid4))));
}

} // namespace skarvel
