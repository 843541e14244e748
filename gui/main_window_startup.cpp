// The window's start-up: construction, the service, the jobs and the dialogs.
#include "gui/main_window.h"

#include "audio/audio_library.h"
#include "common/file_ops.h"
#include "common/text_ops.h"
#include "gui/dialogs/about_box.h"
#include "gui/dialogs/file_name_dialogs.h"
#include "gui/dialogs/parameters_dialog.h"
#include "gui/dialogs/save_dialogs.h"
#include "gui/dialogs/selection_dialogs.h"
#include "gui/dialogs/sqlite_dialogs.h"
#include "gui/dialogs/text_preview_dialog.h"
#include "gui/dialogs/text_selection_dialog.h"
#include "gui/dialogs/url_filter_dialog.h"
#include "gui/image_list.h"
#include "jobs/export_jobs.h"
#include "jobs/job_control.h"
#include "gui/jobs/window_adapters.h"
#include "gui/thumbnail_cache.h"
#include "gui/thumbnail_grid.h"
#include "gui/window_interfaces.h"
#include "jobs/file_jobs.h"
#include "jobs/list_jobs.h"
#include "jobs/media_jobs.h"
#include "jobs/picture_jobs.h"
#include "jobs/text_jobs.h"
#include "net/service_client.h"
#include "net/user_agent.h"
#include "service/page_analysis_service.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTableView>

#include <map>

namespace skarvel {

// ---------------------------------------------------------------- what the dialogs see

// The window behind the dialogs' small interfaces.
struct TForm1::Views {
    class ExportFolder : public ExportFolderSetting {
    public:
        explicit ExportFolder(TForm1& w) : m_w(w) {}
        QString exportFolder() const override { return m_w.exportFolder; }
        void setExportFolder(const QString& folder) override { m_w.exportFolder = folder; }

    private:
        TForm1& m_w;
    };

    class WorkFolder : public WorkFolderSetting {
    public:
        explicit WorkFolder(TForm1& w) : m_w(w) {}
        QString workFolder() const override { return m_w.workFolder; }
        QString defaultWorkFolder() const override { return DefaultWorkFolder(m_w.env); }
        void applyWorkFolder(const QString& folder) override {
            m_w.workFolder = folder;
            m_w.Directorystructure1Click();
        }

    private:
        TForm1& m_w;
    };

    class ModernTypes : public PictureTypesSetting {
    public:
        explicit ModernTypes(TForm1& w) : m_w(w) {}
        bool modernPictures() const override { return m_w.modernPictures; }
        void setModernPictures(bool on) override {
            m_w.modernPictures = on;
            m_w.DrawGrid1->viewport()->update();
        }

    private:
        TForm1& m_w;
    };

    class TextTab : public TextTabView {
    public:
        explicit TextTab(TForm1& w) : m_w(w) {}
        int currentRow() const override { return CurrentRow(m_w.StringGrid5); }
        void showResult(int row, const QString& text) override {
            SetCurrentRow(m_w.StringGrid5, row);
            m_w.Memo_Text_Preview->setPlainText(text);
        }
        void openRow(int row) override {
            SetCurrentRow(m_w.StringGrid5, row);
            m_w.StringGrid5Click();
        }
        QString shownPage() const override { return MemoPageText(m_w.Memo_Text_Preview); }

    private:
        TForm1& m_w;
    };

    explicit Views(TForm1& w)
        : exportFolder(w), workFolder(w), pictureTypes(w), textTab(w), m_jobs(w.m_jobs) {}

    // The dialogs' handle of one job of the registry.
    RegistryJobControl& job(JobId id) {
        std::unique_ptr<RegistryJobControl>& control = m_controls[id];
        if (!control)
            control = std::make_unique<RegistryJobControl>(m_jobs, id);
        return *control;
    }

    ExportFolder exportFolder;
    WorkFolder workFolder;
    ModernTypes pictureTypes;
    TextTab textTab;

private:
    JobRegistry& m_jobs;
    std::map<JobId, std::unique_ptr<RegistryJobControl>> m_controls;
};

// ---------------------------------------------------------------- construction

TForm1::TForm1(const AppEnvironment& environment, QWidget* parent) : QMainWindow(parent), env(environment) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Orvantic - Skarvel"));
    setFont(ProgramFont());

    pictureTable = new CollectionTable(TableKind::Pictures, this);
    soundTable = new CollectionTable(TableKind::Sounds, this);
    videoTable = new CollectionTable(TableKind::Videos, this);
    textTable = new CollectionTable(TableKind::Texts, this);
    fileTable = new CollectionTable(TableKind::Files, this);
    pictureTable->setObjectName(QStringLiteral("pictureTable"));
    soundTable->setObjectName(QStringLiteral("soundTable"));
    videoTable->setObjectName(QStringLiteral("videoTable"));
    textTable->setObjectName(QStringLiteral("textTable"));
    fileTable->setObjectName(QStringLiteral("fileTable"));
    Memo1 = new TextStore(QStringLiteral("Memo1"), this);
    Memo_Sounds = new TextStore(QStringLiteral("Memo_Sounds"), this);
    Memo_Videos = new TextStore(QStringLiteral("Memo_Videos"), this);
    Memo_Texts = new TextStore(QStringLiteral("Memo_Texts"), this);
    ImageList1 = new ImageList(this);
    m_views = std::make_unique<Views>(*this);

    buildUi();
    resize(1055, 646 + menuBar()->sizeHint().height());

    // 1. first tab
    PageControl1->setCurrentIndex(int(Tab::Urls));
    PageControl1Change();
    // 2. program folder and settings path
    programFolder = env.programFolder;
    settingsPath = SettingsPath(env);
    // 3-5. settings
    const StartupSettings settings = ReadStartupSettings(env);
    workFolder = settings.workFolder;
    currentStyle = settings.style;
    TableDownloadJob::SetDefaultLimits({settings.maxTransfers, settings.maxTransfersPerHost});
    if (settings.hasUserAgent)
        setUserAgentOverride(settings.userAgent.toUtf8());
    modernPictures = settings.modernPictures;
    for (QAction* item : styleActions)
        if (item->text() == currentStyle)
            item->setChecked(true);
    // 6. style
    ApplyStyle(currentStyle);
    // 7. service base
    startService();
    // 8-9. work folder
    Directorystructure1Click();
    ClearWorkFolder(workFolder, env);
    // 10. tables are laid out by buildUi; 11. jobs
    createJobs();
    // 12. audio library
    startAudio();
}

TForm1::~TForm1() {
    // Jobs go first, each ended while all of it still exists: a worker may be inside a
    // request or waiting to hand a step to this window.
    m_jobs.shutdown();
    m_service.reset();
}

// The service named by SKARVEL_SERVICE_HOST (host:port) when set; otherwise our
// own service, started inside the program on a free port of 127.0.0.1.
void TForm1::startService() {
    const QString host = qEnvironmentVariable("SKARVEL_SERVICE_HOST").trimmed();
    if (!host.isEmpty()) {
        serviceBase = serviceBaseForHost(host);
        return;
    }
    m_service = std::make_unique<PageAnalysisService>();
    QString error;
    if (m_service->start(QStringLiteral("127.0.0.1"), 0, &error)) {
        serviceBase = m_service->baseUrl();
    } else {
        // Without a service every page call fails and adds nothing, as for an unreachable host.
        qWarning("page-analysis service did not start: %s", qPrintable(error));
        serviceBase = serviceBaseForHost(QStringLiteral("127.0.0.1:9"));
    }
}

void TForm1::createJobViews() {
    for (QProgressBar* bar :
         {ProgressBar1, ProgressBar2, ProgressBar3, ProgressBar4, ProgressBar5, ProgressBar6})
        m_progressSinks.push_back(std::make_unique<ProgressBarSink>(bar));
    m_urlLines = std::make_unique<MemoLineSource>(URLs_List);
    m_sourceLinkLines = std::make_unique<MemoLineSource>(Source_Links);
}

ProgressSink& TForm1::progressSink(int bar) const {
    return *m_progressSinks[size_t(bar - 1)];
}

// Every job gets what it works on; the window's values that may change between
// runs (the work folder, the file download folder, the picture download count)
// are read by the job's steps through these functions.
void TForm1::createJobs() {
    createJobViews();
    const auto work = [this] { return workFolder; };
    const auto job = [](auto make) -> JobRegistry::Factory {
        return [make]() -> OwnedJob<> { return make(); };
    };
    m_jobs.create({
        {JobId::ExportPictures, job([this] { return MakeOwnedJob<ExportPictures>(this, *pictureTable); })},
        {JobId::ExportPicturesSQLite,
         job([this] { return MakeOwnedJob<ExportPicturesSQLite>(this, *pictureTable); })},
        {JobId::DownloadPictures, job([this, work] {
             // A downloaded picture's thumbnail comes from its measuring pass: the grid decodes nothing.
             return MakeOwnedJob<DownloadPictures>(
                 this, *pictureTable, progressSink(1), work, [this] { return pictureDownloadCount; },
                 [this](const QString& path, PictureKind kind, const PictureMeasure& measured) {
                     thumbnailCache().put(path, kind, measured);
                 },
                 [this] { return pictureTypes(); });
         })},
        {JobId::PagesDownload, job([this] {
             return MakeOwnedJob<PagesDownload>(this, serviceBase, *m_urlLines, *Memo1, progressSink(1),
                                                [this] { Endpagesdownload1Click(); });
         })},
        {JobId::Make_URLs_List, job([this] {
             return MakeOwnedJob<Make_URLs_List>(
                 this, serviceBase, *m_sourceLinkLines,
                 [this](const QString& answer) { AppendToMemo(URLs_List, answer); }, progressSink(3));
         })},
        {JobId::FilesDownload, job([this] {
             return MakeOwnedJob<FilesDownload>(this, *fileTable, progressSink(2),
                                                [this] { return fileDownloadFolder; });
         })},
        {JobId::SoundPagesDownload, job([this] {
             return MakeOwnedJob<SoundPagesDownload>(this, serviceBase, *m_urlLines, *Memo_Sounds,
                                                     progressSink(4),
                                                     [this] { Endsoundpagesdownload1Click(); });
         })},
        {JobId::DownloadSounds, job([this, work] {
             // The window's audio library, through a stream handle of the job's own.
             return MakeOwnedJob<DownloadSounds>(
                 this, *soundTable, progressSink(4), work,
                 [this](const QString& path) { return MeasureDurationSeconds(*audio, path); });
         })},
        {JobId::ExportSounds, job([this] { return MakeOwnedJob<ExportSounds>(this, *soundTable); })},
        {JobId::ExportSoundsSQLite,
         job([this] { return MakeOwnedJob<ExportSoundsSQLite>(this, *soundTable); })},
        {JobId::VideoPagesDownload, job([this] {
             return MakeOwnedJob<VideoPagesDownload>(this, serviceBase, *m_urlLines, *Memo_Videos,
                                                     progressSink(5),
                                                     [this] { Endvideopagesdownload1Click(); });
         })},
        {JobId::DownloadVideos, job([this, work] {
             return MakeOwnedJob<DownloadVideos>(this, *videoTable, progressSink(5), work);
         })},
        {JobId::ExportVideos, job([this] { return MakeOwnedJob<ExportVideos>(this, *videoTable); })},
        {JobId::ExportVideosSQLite,
         job([this] { return MakeOwnedJob<ExportVideosSQLite>(this, *videoTable); })},
        {JobId::TextPagesDownload, job([this, work] {
             return MakeOwnedJob<TextPagesDownload>(this, *textTable, progressSink(6), work);
         })},
        {JobId::ExportTexts, job([this] { return MakeOwnedJob<ExportTexts>(this, *textTable); })},
        {JobId::ExportTextsSQLite, job([this] { return MakeOwnedJob<ExportTextsSQLite>(this, *textTable); })},
    });
}

void TForm1::CreateDialogs() {
    Views& v = *m_views;
    Form10 = new TForm10(this, v.job(JobId::ExportPicturesSQLite), v.exportFolder, v.pictureTypes);
    Form7 = new TForm7(this, *pictureTable, v.job(JobId::DownloadPictures), [this] { FormResize(); });
    Form31 = new TForm31(this, *textTable);
    Form6 = new TForm6(this, v.job(JobId::ExportPictures), v.exportFolder, v.pictureTypes);
    Form13 = new TForm13(this, v.workFolder, v.pictureTypes);
    Form30 = new TForm30(this, *textTable, v.textTab, [this] { Form37->ShowModal(); });
    Form8 = new TForm8(this, *pictureTable);
    Form33 = new TForm33(this, v.job(JobId::ExportTextsSQLite), v.exportFolder);
    Form32 = new TForm32(this, v.job(JobId::ExportTexts), v.exportFolder);
    Form15 = new TForm15(this, *soundTable, v.job(JobId::DownloadSounds));
    Form16 = new TForm16(this, *soundTable);
    Form17 = new TForm17(this, v.job(JobId::ExportSounds), v.exportFolder);
    Form18 = new TForm18(this, v.job(JobId::ExportSoundsSQLite), v.exportFolder);
    Form23 = new TForm23(this, *videoTable, v.job(JobId::DownloadVideos));
    Form24 = new TForm24(this, *videoTable);
    Form25 = new TForm25(this, v.job(JobId::ExportVideos), v.exportFolder);
    Form26 = new TForm26(this, v.job(JobId::ExportVideosSQLite), v.exportFolder);
    AboutBox = new TAboutBox(this);
    Form36 = new TForm36(this, *URLs_List);
    Form37 = new TForm37(this, *textTable, v.textTab, *Form30);
}

std::unique_ptr<TForm1> CreateWindows(const AppEnvironment& env) {
    // The window's font serves its dialogs too.
    QApplication::setFont(ProgramFont());
    LoadStyle(kStartStyle);
    auto form1 = std::make_unique<TForm1>(env);
    form1->CreateDialogs();
    return form1;
}

} // namespace skarvel
