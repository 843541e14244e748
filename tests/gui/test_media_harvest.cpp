// The sound and video harvests and downloads driven from the window, against a
// local web site and the embedded page-analysis service; playing what came.
#include "common/text_ops.h"
#include "audio/audio_library.h"
#include "jobs/media_jobs.h"
#include "tests/audio/sound_files.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/test_media_site.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace skarvel;
using skarvel::test::GuiFixture;
using skarvel::test::MediaSite;
using Delivery = MediaSite::Delivery;
using State = AudioLibrary::ChannelState;

namespace {

constexpr int kJobWaitMs = 90000;

bool soundRunDone(TForm1* form) {
    return test::CurrentJob(form, JobId::SoundPagesDownload)->Suspended() &&
           test::CurrentJob(form, JobId::DownloadSounds)->Suspended();
}

bool videoRunDone(TForm1* form) {
    return test::CurrentJob(form, JobId::VideoPagesDownload)->Suspended() &&
           test::CurrentJob(form, JobId::DownloadVideos)->Suspended();
}

int rowEndingWith(const CollectionTable* table, const QString& urlEnd) {
    for (int r = 1; r < table->gridRowCount(); ++r)
        if (table->cell(col::Url, r).endsWith(urlEnd))
            return r;
    return -1;
}

} // namespace

// Receives what the window asks the shell to open.
class ShellRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class MediaHarvestTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void soundsAndVideosDownloadSideBySide();
    void emptyUrlList();
    void playVideoOpensTheLocalFile();

private:
    QByteArray media(const QString& name) const { return test::readFile(m_media.filePath(name)); }
    QTemporaryDir m_media;
};

void MediaHarvestTest::initTestCase() {
    QVERIFY(m_media.isValid());
    struct Sound {
        const char* file;
        test::Tone tone;
        QStringList encoder;
    } const sounds[] = {
        {"cbr.mp3", {44100, 2, 3.6}, {"-c:a", "libmp3lame", "-b:a", "128k"}},
        {"vbr.mp3", {44100, 2, 7.2}, {"-c:a", "libmp3lame", "-q:a", "2"}},
        {"tone.ogg", {44100, 1, 2.5}, {"-c:a", "libvorbis"}},
        {"tone.wav", {22050, 2, 4.2}, {"-c:a", "pcm_s16le"}},
        // ADTS AAC measures about 1,024 priming samples long; 5.5 s stays within 5 whole seconds.
        {"tone.aac", {44100, 2, 5.5}, {"-c:a", "aac"}},
        {"other.mp3", {44100, 1, 1.5}, {"-c:a", "libmp3lame"}},
    };
    for (const Sound& s : sounds)
        QVERIFY2(test::makeTone(m_media.filePath(s.file), s.tone, s.encoder), s.file);
    const QStringList testCard = {
        "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-t", "1"};
    QVERIFY(test::runProgram("ffmpeg", QStringList(testCard) << "-c:v"
                                                             << "libx264"
                                                             << "-pix_fmt"
                                                             << "yuv420p" << m_media.filePath("clip.mp4")));
    QVERIFY(test::runProgram("ffmpeg", QStringList(testCard) << "-c:v"
                                                             << "libvpx" << m_media.filePath("clip.webm")));
    QVERIFY(test::runProgram("ffmpeg", QStringList(testCard) << "-c:v"
                                                             << "libtheora" << m_media.filePath("clip.ogv")));
}

void MediaHarvestTest::soundsAndVideosDownloadSideBySide() {
    MediaSite site;
    site.add("/cbr.mp3", "audio/mpeg", media("cbr.mp3"));
    site.add("/vbr.mp3", "audio/mpeg", media("vbr.mp3"));
    site.add("/tone.ogg", "audio/ogg", media("tone.ogg"));
    site.add("/tone.wav", "audio/x-wav", media("tone.wav"));
    site.add("/tone.aac", "audio/x-aac", media("tone.aac"));
    site.add("/other.mp3", "audio/mp3", media("other.mp3"));
    site.add("/broken.ogg", "audio/ogg", media("tone.ogg"), Delivery::Chunked);
    site.add("/gone.wav", "audio/x-wav", {}, Delivery::NotFound);
    site.add("/clip.mp4", "video/mp4", media("clip.mp4"));
    site.add("/clip.webm", "video/webm", media("clip.webm"));
    site.add("/clip.ogv", "video/ogg; codecs=\"theora\"", media("clip.ogv"));
    site.add("/broken.mp4", "video/mp4", media("clip.mp4"), Delivery::Chunked);
    site.addPage("/page1.html", R"(<html><body>
        <audio src="cbr.mp3"></audio>
        <audio controls><source src="vbr.mp3" type="audio/mpeg"></audio>
        <a href="tone.ogg">Ogg</a> <a href="tone.wav">Wave</a>
        <audio src="tone.aac"></audio><audio src="other.mp3"></audio><audio src="broken.ogg"></audio>
        <a href="gone.wav">gone</a>
        <video src="clip.mp4"></video>
        <video><source src="clip.webm" type="video/webm"></video>
        <a href="clip.ogv">Ogg video</a>
        <video src="broken.mp4"></video>
        </body></html>)");
    site.addPage("/page2.html", R"(<html><body>
        <audio src="cbr.mp3"></audio><a href="tone.ogg">again</a><video src="clip.mp4"></video>
        </body></html>)");
    // The first download of each job waits for the other's: both jobs must run at once.
    site.meet({"/cbr.mp3", "/clip.mp4"});
    site.start();

    GuiFixture f;
    TForm1* form = f.start();
    const QString page1 = site.url("/page1.html");
    test::URLs_List(form)->setPlainText(page1 + "\n" + site.url("/page2.html") + "\n");
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn8"), Qt::LeftButton);
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn9"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(soundRunDone(form) && videoRunDone(form), kJobWaitMs);
    QVERIFY(site.met());
    QVERIFY(test::ProgressBar(form, 4)->isHidden());
    QVERIFY(test::ProgressBar(form, 5)->isHidden());

    struct Expected {
        const char* urlEnd;
        QString status;
        const char* extension; // nullptr: Local path, Size and Duration stay empty
        const char* source;    // the file served
        int duration;          // -1: not measured
    };
    const QString sep = QDir::separator();

    // Sounds: one row per distinct address, the first page's fields.
    const Expected sounds[] = {
        {"/cbr.mp3", "OK", ".mp3", "cbr.mp3", 3},
        {"/vbr.mp3", "OK", ".mp3", "vbr.mp3", 7},
        {"/tone.ogg", "OK", ".ogg", "tone.ogg", 2},
        {"/tone.wav", "OK", ".wav", "tone.wav", 4},
        {"/tone.aac", "OK", ".aac", "tone.aac", 5},
        {"/other.mp3", "OK", ".???", "other.mp3", 1},
        {"/broken.ogg", "Broken", nullptr, nullptr, -1},
        {"/gone.wav", "Download error", nullptr, nullptr, -1},
    };
    CollectionTable* soundTable = test::soundTable(form);
    QCOMPARE(soundTable->gridRowCount(), 9);
    QCOMPARE(soundTable->cell(col::MediaParent, rowEndingWith(soundTable, "/cbr.mp3")), page1);
    QCOMPARE(soundTable->cell(col::MediaParent, rowEndingWith(soundTable, "/tone.ogg")), page1);
    QCOMPARE(soundTable->cell(col::MediaOriginalName, rowEndingWith(soundTable, "/tone.ogg")),
             QString("tone.ogg"));
    for (const Expected& e : sounds) {
        const int r = rowEndingWith(soundTable, e.urlEnd);
        QVERIFY2(r > 0, e.urlEnd);
        QCOMPARE(soundTable->cell(col::Number, r), QString::number(r));
        QCOMPARE(soundTable->cell(col::Status, r), e.status);
        const QString path = e.extension ? f.workFolder() + "Sounds" + sep + QString::number(r) +
                                               test::fileExtension(e.extension)
                                         : QString();
        QCOMPARE(soundTable->cell(col::LocalPath, r), path);
        if (e.extension) {
            QCOMPARE(test::readFile(path), media(e.source));
            QCOMPARE(soundTable->cell(col::Size, r), QString::number(media(e.source).size()));
        } else {
            QCOMPARE(soundTable->cell(col::Size, r), QString());
        }
        QCOMPARE(soundTable->cell(col::Duration, r),
                 e.duration < 0 ? QString() : QString::number(e.duration));
    }
    // A "Broken" download stays on disk, though its row does not name it.
    QVERIFY(QFile::exists(f.workFolder() + "Sounds" + sep +
                          QString::number(rowEndingWith(soundTable, "/broken.ogg")) + ".ogg"));

    const Expected videos[] = {
        {"/clip.mp4", "OK", ".mp4", "clip.mp4", -1},
        {"/clip.webm", "OK", ".webm", "clip.webm", -1},
        {"/clip.ogv", "OK", ".ogv", "clip.ogv", -1},
        {"/broken.mp4", "Broken", nullptr, nullptr, -1},
    };
    CollectionTable* videoTable = test::videoTable(form);
    QCOMPARE(videoTable->gridRowCount(), 5);
    QCOMPARE(videoTable->cell(col::MediaParent, rowEndingWith(videoTable, "/clip.mp4")), page1);
    for (const Expected& e : videos) {
        const int r = rowEndingWith(videoTable, e.urlEnd);
        QVERIFY2(r > 0, e.urlEnd);
        QCOMPARE(videoTable->cell(col::Status, r), e.status);
        const QString path = e.extension ? f.workFolder() + "Video" + sep + QString::number(r) +
                                               test::fileExtension(e.extension)
                                         : QString();
        QCOMPARE(videoTable->cell(col::LocalPath, r), path);
        QCOMPARE(videoTable->cell(col::Size, r),
                 e.extension ? QString::number(media(e.source).size()) : QString());
        if (e.extension)
            QCOMPARE(test::readFile(path), media(e.source));
        QCOMPARE(videoTable->cell(col::Duration, r), QString());
    }

    // Play the current row's sound; a row without a file leaves it playing.
    AudioLibrary& audio = form->PlayerLibrary();
    test::SetCurrentRow(test::StringGrid2(form), rowEndingWith(soundTable, "/vbr.mp3"));
    form->findChild<QAction*>("Play1")->trigger();
    const quint32 playing = form->PlayerStream();
    QVERIFY(playing != 0);
    QCOMPARE(audio.ChannelIsActive(playing), State::Playing);
    test::SetCurrentRow(test::StringGrid2(form), rowEndingWith(soundTable, "/gone.wav"));
    form->findChild<QAction*>("Play1")->trigger();
    QCOMPARE(form->PlayerStream(), playing);
    QCOMPARE(audio.ChannelIsActive(playing), State::Playing);

    // Downloading the sounds again measures with handles of its own: the player plays on.
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn8"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(soundRunDone(form), kJobWaitMs);
    QCOMPARE(soundTable->cell(col::Duration, rowEndingWith(soundTable, "/vbr.mp3")), QString("7"));
    QCOMPARE(audio.ChannelIsActive(playing), State::Playing);

    // "Play" on another sound first stops the one that plays.
    test::SetCurrentRow(test::StringGrid2(form), rowEndingWith(soundTable, "/tone.ogg"));
    form->findChild<QAction*>("Play1")->trigger();
    QVERIFY(form->PlayerStream() != playing);
    QCOMPARE(audio.ChannelIsActive(playing), State::Stopped);
    QCOMPARE(audio.ChannelIsActive(form->PlayerStream()), State::Playing);
    const quint32 second = form->PlayerStream();
    form->findChild<QAction*>("Stop1")->trigger();
    QCOMPARE(audio.ChannelIsActive(second), State::Stopped);
    form->findChild<QAction*>("Stop1")->trigger();
    QCOMPARE(audio.ChannelIsActive(second), State::Stopped);
}

void MediaHarvestTest::emptyUrlList() {
    MediaSite site;
    site.start();
    GuiFixture f;
    TForm1* form = f.start();
    test::soundTable(form)->setCell(col::Url, 1, "old sound");
    test::videoTable(form)->setCell(col::Url, 1, "old video");
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn8"), Qt::LeftButton);
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn9"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(soundRunDone(form) && videoRunDone(form), kJobWaitMs);

    // The sound harvest ends in the write step of its last item: with none, it
    // never parses, leaves its bar shown at 0 and starts no download.
    QVERIFY(!test::ProgressBar(form, 4)->isHidden());
    QCOMPARE(test::ProgressBar(form, 4)->value(), 0);
    QCOMPARE(test::soundTable(form)->gridRowCount(), 2);
    for (int c = 0; c < test::soundTable(form)->colCount(); ++c)
        QCOMPARE(test::soundTable(form)->cell(c, 1), QString());

    // The video harvest parses an empty buffer into one blank row, whose download fails.
    QVERIFY(test::ProgressBar(form, 5)->isHidden());
    QCOMPARE(test::videoTable(form)->gridRowCount(), 2);
    QCOMPARE(test::videoTable(form)->cell(col::Number, 1), QString());
    QCOMPARE(test::videoTable(form)->cell(col::Url, 1), QString());
    QCOMPARE(test::videoTable(form)->cell(col::Status, 1), QString("Download error"));
    QCOMPARE(test::videoTable(form)->cell(col::LocalPath, 1), QString());
    QCOMPARE(site.targets(), QStringList());
}

void MediaHarvestTest::playVideoOpensTheLocalFile() {
    GuiFixture f;
    TForm1* form = f.start();
    ShellRecorder shell;
    QDesktopServices::setUrlHandler("file", &shell, "open");
    const QString path = f.workFolder() + "Video" + QDir::separator() + "1.webm";
    test::writeFile(path, media("clip.webm"));
    test::videoTable(form)->setCell(col::LocalPath, 1, path);
    test::SetCurrentRow(test::StringGrid4(form), 1);
    form->findChild<QAction*>("Playvideo1")->trigger();
    // A row without a file is handed over all the same; the shell finds nothing to open.
    test::videoTable(form)->setCell(col::LocalPath, 1,
                                    f.workFolder() + "Video" + QDir::separator() + "none.mp4");
    form->findChild<QAction*>("Playvideo1")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(shell.opened,
             QList<QUrl>({QUrl::fromLocalFile(path),
                          QUrl::fromLocalFile(f.workFolder() + "Video" + QDir::separator() + "none.mp4")}));
}

QTEST_MAIN(MediaHarvestTest)
#include "test_media_harvest.moc"
