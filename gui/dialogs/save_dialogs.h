#pragma once
// Save dialogs: write a collection into a folder. Also the ground that the
// SQLite export dialogs share with them: the progress of a run, its job, Cancel.
#include "gui/dialog_base.h"
#include "jobs/export_jobs.h"
#include "pictures/picture_transform.h"

#include <QGroupBox>
#include <QPointer>

#include <initializer_list>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace skarvel {

class ExportFolderSetting;
class PictureTypesSetting;
class ExportJobControl;

// A dialog that starts a save or export job and shows its run.
class ExportDialog : public SkarvelDialog, public ExportRunView {
    Q_OBJECT
public:
    ExportDialog(QWidget* window, const QString& objectName, const QString& caption, ExportJobControl& job,
                 ExportFolderSetting& folder);

    QProgressBar* ProgressBar1 = nullptr;

    // Called by the job's steps on the window thread.
    void runStarted(BackgroundJob* job, int rowCount) override;
    void rowReached(int position) override;
    // A stopped job ending after a new run has begun leaves that run's view alone.
    void runEnded(BackgroundJob* job, const ExportEnding& ending) override;

public slots:
    // "Cancel": stops a running job (a fresh one takes its place) and closes.
    void CancelClick();

protected:
    // True while a run is in progress: it is never joined by a second start.
    bool jobRunning() const;
    // Starts a run of the job with the folder and the dialog's values.
    void startRun(const QString& folder, std::shared_ptr<SqliteExportSession> session = {});
    // The dialog's own values of a run (transform, format list).
    virtual void addRunValues(ExportRun& run) const { Q_UNUSED(run); }
    ExportFolderSetting& exportFolder() const { return m_folder; }
    // A "Cancel" button with its glyph, wired to CancelClick.
    QPushButton* makeCancelButton(const QString& objectName);

private:
    // True while job's run is the one this dialog shows.
    bool showsRunOf(BackgroundJob* job) const;

    ExportJobControl& m_job;
    ExportFolderSetting& m_folder;
    QPointer<BackgroundJob> m_runningJob; // the job whose run this dialog shows
};

// "Width" / "Height" of the transform: the integer of the text, 100 when it is not
// one, clamped to 10 to 10000.
QString NormaliseRectangleSide(const QString& text);

// The group "Images transform" of the picture save and export dialogs.
class ImagesTransformGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit ImagesTransformGroup(QWidget* parent);

    QCheckBox* CheckBox1 = nullptr; // Fit to rectangle
    QLineEdit* Edit1 = nullptr;     // Width
    QLineEdit* Edit2 = nullptr;     // Height
    QComboBox* ComboBox1 = nullptr; // Save images as

    // The run settings as the fields stand.
    TransformSettings settings() const;

public slots:
    void CheckBox1Click();
    void Edit1Exit();
    void Edit2Exit();
};

// "Original", "MP3", "OGG", "WAV", "AAC", "Original" selected: the format list of
// the sound and video dialogs.
QComboBox* MakeMediaFormatList(QWidget* parent);

// A dialog that saves into a folder picked by the user.
class SaveDialog : public ExportDialog {
    Q_OBJECT
public:
    SaveDialog(QWidget* window, const QString& objectName, const QString& caption, ExportJobControl& job,
               ExportFolderSetting& folder);

    QPushButton* BitBtn1 = nullptr; // Save to directory

public slots:
    // Picks the folder (it becomes the export folder), empties it when asked, starts the job.
    void BitBtn1Click();

protected:
    // Adds the delete box, the progress bar and the buttons under the dialog's own fields.
    void finishLayout(QBoxLayout* layout, QCheckBox* deleteBox, QPushButton* cancel);

private:
    QCheckBox* m_deleteBox = nullptr; // "Delete all files ..." of the dialog
};

class TForm6 : public SaveDialog {
    Q_OBJECT
public:
    TForm6(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder,
           const PictureTypesSetting& types);
    ImagesTransformGroup* transformGroup = nullptr;
    QCheckBox* CheckBox2 = nullptr; // Delete all files from directory before export pictures
    QPushButton* BitBtn3 = nullptr; // Cancel

protected:
    void addRunValues(ExportRun& run) const override;

private:
    const PictureTypesSetting& m_types;
};

// The sound and video save dialogs: a format list and the delete box.
class MediaSaveDialog : public SaveDialog {
    Q_OBJECT
public:
    MediaSaveDialog(QWidget* window, const QString& objectName, const QString& caption, ExportJobControl& job,
                    ExportFolderSetting& folder, const QString& listLabel, const QString& kindWord);
    QComboBox* ComboBox1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn2 = nullptr; // Cancel

protected:
    void addRunValues(ExportRun& run) const override;
};

class TForm17 : public MediaSaveDialog {
    Q_OBJECT
public:
    TForm17(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder);
};

class TForm25 : public MediaSaveDialog {
    Q_OBJECT
public:
    TForm25(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder);
};

class TForm32 : public SaveDialog {
    Q_OBJECT
public:
    TForm32(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder);
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn2 = nullptr; // Cancel
};

} // namespace skarvel
