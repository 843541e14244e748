#pragma once
// The main window: the tabs, the collection tables, the menus and every command.
#include "tables/collection_tables.h"
#include "common/settings.h"
#include "jobs/job_registry.h"
#include "pictures/picture_codecs.h"
#include "tables/text_store.h"
#include "rules/harvest_parser.h"

#include <QFont>
#include <QMainWindow>

#include <memory>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTimer;

namespace skarvel {

class AudioLibrary;
class ImageList;
class MemoLineSource;
class ProgressBarSink;
class ProgressSink;
class PageAnalysisService;
class ThumbnailCache;
class ThumbnailGrid;

// Jobs
class PagesDownload;
class DownloadPictures;
class SoundPagesDownload;
class VideoPagesDownload;
class DownloadSounds;
class DownloadVideos;
class Make_URLs_List;
class TextPagesDownload;
class FilesDownload;
class ExportPictures;
class ExportPicturesSQLite;
class ExportSounds;
class ExportSoundsSQLite;
class ExportVideos;
class ExportVideosSQLite;
class ExportTexts;
class ExportTextsSQLite;

// Dialogs
class TForm6;
class TForm7;
class TForm8;
class TForm10;
class TForm13;
class TForm15;
class TForm16;
class TForm17;
class TForm18;
class TForm23;
class TForm24;
class TForm25;
class TForm26;
class TForm30;
class TForm31;
class TForm32;
class TForm33;
class TForm36;
class TForm37;
class TAboutBox;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(const AppEnvironment& env, QWidget* parent = nullptr);
    ~TForm1() override;

    // Creates the dialogs, in start-up order, owned by this window.
    void CreateDialogs();

    // Stopped job instances whose worker has not ended yet.
    int StoppedJobCount() const { return m_jobs.stoppedCount(); }
    // The current instance of a job, and one put in its place (tests hold and watch jobs this way).
    BackgroundJob* CurrentJob(JobId id) const { return m_jobs.current(id); }
    void InstallJob(JobId id, OwnedJob<> job) { m_jobs.install(id, std::move(job)); }
    // The sound player's stream and the library it plays in (tests watch what plays).
    quint32 PlayerStream() const { return playerStream; }
    AudioLibrary& PlayerLibrary() const { return *audio; }

    // Applies a style by name (letter case ignored); false and an error box when unknown.
    bool ApplyStyle(const QString& name);
    // Caption of the first checked "Style" item, "Iceberg Classico" when none is.
    QString CheckedStyleName() const;

private:
    // The tabs of PageControl1, by their index.
    enum class Tab { Urls, Files, Pictures, Sounds, Videos, Texts };
    Tab currentTab() const;

    // ---- process-wide values
    AppEnvironment env;
    QString programFolder;
    QString settingsPath;
    QString workFolder;
    QString currentStyle;
    QString serviceBase;        // base address of the page-analysis service, ends with "/"
    QString exportFolder;       // shared by the save and export commands; ends with a separator once set
    QString fileDownloadFolder; // the file download's folder; ends with a separator once set
    int pictureDownloadCount = 0;
    bool modernPictures = false; // [COMMON] MODERN_PICTURES: WebP, AVIF and SVG are known too
    PictureTypes pictureTypes() const {
        return modernPictures ? PictureTypes::Modern : PictureTypes::Classic;
    }

    // ---- media: the audio library (sound player and sound measuring) and the thumbnails
    std::unique_ptr<AudioLibrary> audio;
    quint32 playerStream = 0;             // the sound player's stream; window thread only
    ThumbnailCache* thumbnails = nullptr; // made at the first thumbnail paint or picture download
    // The thumbnail cache, made when first needed.
    ThumbnailCache& thumbnailCache();
    void startAudio();

    // ---- collection tables (models) and their grids
    CollectionTable* pictureTable = nullptr;
    CollectionTable* soundTable = nullptr;
    CollectionTable* videoTable = nullptr;
    CollectionTable* textTable = nullptr;
    CollectionTable* fileTable = nullptr;
    QTableView* StringGrid1 = nullptr; // pictures
    QTableView* StringGrid2 = nullptr; // sounds
    QTableView* StringGrid3 = nullptr; // files
    QTableView* StringGrid4 = nullptr; // videos
    QTableView* StringGrid5 = nullptr; // texts
    // Current data row of a grid (1-based, as the table numbers rows).
    static int CurrentRow(QTableView* grid);
    static void SetCurrentRow(QTableView* grid, int row);

    // ---- memos and buffers
    QPlainTextEdit* URLs_List = nullptr;
    QPlainTextEdit* Source_Links = nullptr;
    QPlainTextEdit* Memo_Text_Preview = nullptr;
    TextStore* Memo1 = nullptr;
    TextStore* Memo_Sounds = nullptr;
    TextStore* Memo_Videos = nullptr;
    TextStore* Memo_Texts = nullptr;
    // Lines of a memo as the memo shows them (a final line break adds no line).
    static QStringList MemoLines(const QPlainTextEdit* memo);
    static int MemoLineCount(const QPlainTextEdit* memo);
    static void AppendToMemo(QPlainTextEdit* memo, const QString& text);
    // Runs the harvest parser on an answer buffer: de-duplicates it in place and fills the table.
    static int ParseHarvestBuffer(TextStore& buffer, CollectionTable& table, HarvestKind kind);

    // ---- other controls
    QTabWidget* PageControl1 = nullptr;
    ThumbnailGrid* DrawGrid1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QProgressBar* ProgressBar3 = nullptr;
    QProgressBar* ProgressBar4 = nullptr;
    QProgressBar* ProgressBar5 = nullptr;
    QProgressBar* ProgressBar6 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn6 = nullptr;
    QPushButton* BitBtn7 = nullptr;
    QPushButton* BitBtn8 = nullptr;
    QPushButton* BitBtn9 = nullptr;
    QPushButton* BitBtn10 = nullptr;
    QPushButton* BitBtn11 = nullptr;
    QPushButton* BitBtn12 = nullptr;
    QPushButton* BitBtn13 = nullptr;
    QPushButton* BitBtn14 = nullptr;
    std::vector<QStatusBar*> statusBars; // StatusBar1 .. StatusBar6
    QTimer* Timer2 = nullptr;            // thumbnail refresh
    QTimer* Timer3 = nullptr;            // one-shot glyph loading
    ImageList* ImageList1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QMenu* PopupMenu3 = nullptr;
    QMenu* PopupMenu4 = nullptr;
    QMenu* PopupMenu5 = nullptr;
    QMenu* PopupMenu6 = nullptr;
    QMenu* PopupMenu7 = nullptr;
    std::vector<QAction*> styleActions; // the nine items of the "Style" menu

    // ---- dialogs
    TForm10* Form10 = nullptr;
    TForm7* Form7 = nullptr;
    TForm31* Form31 = nullptr;
    TForm6* Form6 = nullptr;
    TForm13* Form13 = nullptr;
    TForm30* Form30 = nullptr;
    TForm8* Form8 = nullptr;
    TForm33* Form33 = nullptr;
    TForm32* Form32 = nullptr;
    TForm15* Form15 = nullptr;
    TForm16* Form16 = nullptr;
    TForm17* Form17 = nullptr;
    TForm18* Form18 = nullptr;
    TForm23* Form23 = nullptr;
    TForm24* Form24 = nullptr;
    TForm25* Form25 = nullptr;
    TForm26* Form26 = nullptr;
    TAboutBox* AboutBox = nullptr;
    TForm36* Form36 = nullptr;
    TForm37* Form37 = nullptr;

    // ---- jobs: one registry owns them; each reference names the current instance
    JobRegistry m_jobs{this};
    JobRef<ExportPictures> exportPictures{m_jobs, JobId::ExportPictures};
    JobRef<ExportPicturesSQLite> exportPicturesSQLite{m_jobs, JobId::ExportPicturesSQLite};
    JobRef<DownloadPictures> downloadPictures{m_jobs, JobId::DownloadPictures};
    JobRef<PagesDownload> pagesDownload{m_jobs, JobId::PagesDownload};
    JobRef<Make_URLs_List> makeUrlsList{m_jobs, JobId::Make_URLs_List};
    JobRef<FilesDownload> filesDownload{m_jobs, JobId::FilesDownload};
    JobRef<SoundPagesDownload> soundPagesDownload{m_jobs, JobId::SoundPagesDownload};
    JobRef<DownloadSounds> downloadSounds{m_jobs, JobId::DownloadSounds};
    JobRef<ExportSounds> exportSounds{m_jobs, JobId::ExportSounds};
    JobRef<ExportSoundsSQLite> exportSoundsSQLite{m_jobs, JobId::ExportSoundsSQLite};
    JobRef<VideoPagesDownload> videoPagesDownload{m_jobs, JobId::VideoPagesDownload};
    JobRef<DownloadVideos> downloadVideos{m_jobs, JobId::DownloadVideos};
    JobRef<ExportVideos> exportVideos{m_jobs, JobId::ExportVideos};
    JobRef<ExportVideosSQLite> exportVideosSQLite{m_jobs, JobId::ExportVideosSQLite};
    JobRef<TextPagesDownload> textPagesDownload{m_jobs, JobId::TextPagesDownload};
    JobRef<ExportTexts> exportTexts{m_jobs, JobId::ExportTexts};
    JobRef<ExportTextsSQLite> exportTextsSQLite{m_jobs, JobId::ExportTextsSQLite};

private slots:
    // Application shell
    void New1Click();
    void Exit1Click();
    void Parameters1Click();
    void Manual1Click();
    void About1Click();
    void Directorystructure1Click();
    void PageControl1Change();
    void Savepicturecollection1Click();
    void ExportcollectiontoSQLite1Click();
    void Selection1Click();
    void Filenames1Click();
    void StyleItemClick(QAction* item);
    void Timer3Timer();
    bool FormCloseQuery();
    // Row removal
    void Deleterow3Click(); // pictures
    void Deleterow2Click(); // sounds
    void Deleterow1Click(); // videos
    void Delete1Click();    // texts
    void Deleterow4Click(); // files
    // URL list
    void BitBtn6Click();
    void Selectall1Click();
    void PastefromClipboard1Click();
    void Clear1Click();
    void ExtractlastURLinline1Click();
    void Filter1Click();
    // Files
    void BitBtn7Click();
    // Pictures
    void BitBtn1Click();
    void Downloadagain1Click();
    void Continuedownload1Click();
    void Endpagesdownload1Click();
    void BitBtn5Click();
    void BitBtn2Click();
    void FormResize();
    void Timer2Timer();
    void StringGrid1Click();
    void DrawGrid1Click();
    void DrawGrid1DblClick();
    // Sounds and videos
    void BitBtn8Click();
    void BitBtn9Click();
    void Endsoundpagesdownload1Click();
    void Endvideopagesdownload1Click();
    void BitBtn4Click();
    void BitBtn3Click();
    void BitBtn10Click();
    void BitBtn11Click();
    void Play1Click();
    void Stop1Click();
    void Playvideo1Click();
    // Texts
    void BitBtn12Click();
    void BitBtn13Click();
    void BitBtn14Click();
    void StringGrid5Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildUi();
    QWidget* buildUrlsTab();
    QWidget* buildFilesTab();
    QWidget* buildPicturesTab();
    QWidget* buildSoundsTab();
    QWidget* buildVideosTab();
    // The sounds and videos tabs: a grid over the table and a bar of three buttons.
    QWidget* buildMediaTab(QTableView*& grid, const QString& gridName, CollectionTable* table, QMenu* popup,
                           QProgressBar*& bar, const QString& barName,
                           const std::vector<std::pair<QPushButton**, QString>>& buttons);
    QWidget* buildTextsTab();
    void buildMenus();
    void buildPopupMenus();
    QTableView* makeGrid(const QString& name, CollectionTable* model, QMenu* popup);
    QWidget* makeButtonBar(QProgressBar*& bar, const QString& barName,
                           const std::vector<std::pair<QPushButton**, QString>>& buttons);
    void removeCurrentRow(QTableView* grid, CollectionTable* table);
    void createJobs();
    void createJobViews();
    void startService();
    void drawThumbnail(QPainter& painter, int col, int row, const QRect& rect);

    // What the core jobs see of the window: the progress bars and the memos they read.
    std::vector<std::unique_ptr<ProgressBarSink>> m_progressSinks; // ProgressBar1 .. ProgressBar6
    std::unique_ptr<MemoLineSource> m_urlLines;
    std::unique_ptr<MemoLineSource> m_sourceLinkLines;
    ProgressSink& progressSink(int bar) const;
    std::unique_ptr<PageAnalysisService> m_service; // the embedded page-analysis service, when used
    QActionGroup* m_styleGroup = nullptr;
    // What the dialogs see of the window: the folders, the texts tab, the jobs they drive.
    struct Views;
    std::unique_ptr<Views> m_views;
};

// Tahoma, 11 pixels high (a condensed sans where Tahoma is not installed).
QFont ProgramFont();

// Loads one of the nine styles (letter case ignored); false for an unknown name.
bool LoadStyle(const QString& name);

// Creates the main window and every dialog in start-up order.
std::unique_ptr<TForm1> CreateWindows(const AppEnvironment& env);

} // namespace skarvel
