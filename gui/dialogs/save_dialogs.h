#pragma once
// Save dialogs: write a collection into a folder. Also the ground that the
// SQLite export dialogs share with them: the progress of a run, its job, Cancel.
#include "gui/dialog_base.h"
#include "pictures/picture_transform.h"

#include <QGroupBox>
#include <QPointer>

#include <functional>
#include <initializer_list>
#include <memory>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace skarvel {

class BackgroundJob;
template <class Job> class JobRef;

// The window's reference to one job class: its current instance, and the stop
// that replaces a running instance by a fresh suspended one.
struct JobSlot {
    std::function<BackgroundJob*()> current;
    std::function<void()> stop;
};

// A dialog that starts a save or export job and shows its run.
class ExportDialog : public SkarvelDialog {
    Q_OBJECT
public:
    ExportDialog(TForm1* form1, const QString& objectName, const QString& caption, JobSlot job);

    QProgressBar* ProgressBar1 = nullptr;

    // Called by the job's steps on the window thread.
    void runStarted(BackgroundJob* job, int rowCount);
    void rowReached(int position);
    // True while job's run is the one this dialog shows.
    bool showsRunOf(BackgroundJob* job) const;
    // Ends the shown run: the dialog closes.
    void closeRun();

public slots:
    // "Cancel": stops a running job (a fresh one takes its place) and closes.
    void CancelClick();

protected:
    // The job's current instance when it is idle, else nullptr: a run in progress
    // is never joined by a second start.
    BackgroundJob* idleJob() const;
    // Resumes job for a run of this dialog.
    void startRun(BackgroundJob* job);
    // A "Cancel" button with its glyph, wired to CancelClick.
    QPushButton* makeCancelButton(const QString& objectName);
    // A button row: the given buttons right-aligned.
    void addButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons);

private:
    JobSlot m_job;
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
    SaveDialog(TForm1* form1, const QString& objectName, const QString& caption, JobSlot job);

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
    explicit TForm6(TForm1* form1);
    ImagesTransformGroup* transformGroup = nullptr;
    QCheckBox* CheckBox2 = nullptr; // Delete all files from directory before export pictures
    QPushButton* BitBtn3 = nullptr; // Cancel
};

// The sound and video save dialogs: a format list and the delete box.
class MediaSaveDialog : public SaveDialog {
    Q_OBJECT
public:
    MediaSaveDialog(TForm1* form1, const QString& objectName, const QString& caption, JobSlot job,
                    const QString& listLabel, const QString& kindWord);
    QComboBox* ComboBox1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn2 = nullptr; // Cancel
};

class TForm17 : public MediaSaveDialog {
    Q_OBJECT
public:
    explicit TForm17(TForm1* form1);
};

class TForm25 : public MediaSaveDialog {
    Q_OBJECT
public:
    explicit TForm25(TForm1* form1);
};

class TForm32 : public SaveDialog {
    Q_OBJECT
public:
    explicit TForm32(TForm1* form1);
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn2 = nullptr; // Cancel
};

// The window's reference to job class Job, for a dialog's JobSlot.
template <class Job, class Window> JobSlot SlotOf(Window* form1, JobRef<Job> Window::*member) {
    return JobSlot{[form1, member]() -> BackgroundJob* { return (form1->*member).get(); },
                   [form1, member] { form1->StopJob(form1->*member); }};
}

} // namespace skarvel
