#include "gui/dialogs/save_dialogs.h"

#include "common/file_ops.h"
#include "common/text_ops.h"
#include "gui/dialog_service.h"
#include "gui/image_list.h"
#include "jobs/job_control.h"
#include "gui/window_interfaces.h"
#include "sqlite_export/sqlite_export.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace skarvel {

QString NormaliseRectangleSide(const QString& text) {
    return QString::number(std::clamp(ReadInt(text, 100), 10, 10000));
}

// ---------------------------------------------------------------- ExportDialog

ExportDialog::ExportDialog(QWidget* window, const QString& objectName, const QString& caption,
                           ExportJobControl& job, ExportFolderSetting& folder)
    : SkarvelDialog(window, objectName, caption), m_job(job), m_folder(folder) {
    ProgressBar1 = MakeNamed<QProgressBar>(QStringLiteral("ProgressBar1"), this);
    ProgressBar1->hide();
}

void ExportDialog::runStarted(BackgroundJob* job, int rowCount) {
    m_runningJob = job;
    ProgressBar1->setMaximum(std::max(rowCount, 0));
    ProgressBar1->setValue(0);
    ProgressBar1->show();
}

void ExportDialog::rowReached(int position) {
    ProgressBar1->setValue(position);
}

bool ExportDialog::showsRunOf(BackgroundJob* job) const {
    return !m_runningJob || m_runningJob == job;
}

void ExportDialog::runEnded(BackgroundJob* job, const ExportEnding& ending) {
    const bool shown = showsRunOf(job);
    if (shown)
        ProgressBar1->hide();
    if (ending.failed)
        ui::ShowError(this, ending.message);
    else
        ui::ShowMessage(this, ending.message);
    if (!ending.unreadFiles.isEmpty())
        ui::ShowError(this, ending.unreadFiles);
    if (shown) {
        m_runningJob = nullptr;
        close();
    }
}

void ExportDialog::CancelClick() {
    m_job.stop();
    close();
}

bool ExportDialog::jobRunning() const {
    return m_job.isRunning();
}

void ExportDialog::startRun(const QString& folder, std::shared_ptr<SqliteExportSession> session) {
    ExportRun run;
    run.view = this;
    run.folder = folder;
    run.session = std::move(session);
    addRunValues(run);
    if (BackgroundJob* job = m_job.start(std::move(run)))
        m_runningJob = job;
}

QPushButton* ExportDialog::makeCancelButton(const QString& objectName) {
    auto* button = MakeNamed<QPushButton>(objectName, this, QStringLiteral("Cancel"));
    SetGlyph(button, Glyph::Cancel);
    connect(button, &QPushButton::clicked, this, &ExportDialog::CancelClick);
    return button;
}

// ---------------------------------------------------------------- transform group

ImagesTransformGroup::ImagesTransformGroup(QWidget* parent)
    : QGroupBox(QStringLiteral("Images transform"), parent) {
    setObjectName(QStringLiteral("GroupBox1"));
    CheckBox1 = MakeCheckBox(QStringLiteral("CheckBox1"), QStringLiteral("Fit to rectangle"), this);
    Edit1 = MakeNamed<QLineEdit>(QStringLiteral("Edit1"), this, QStringLiteral("100"));
    Edit2 = MakeNamed<QLineEdit>(QStringLiteral("Edit2"), this, QStringLiteral("100"));
    ComboBox1 = MakeNamed<QComboBox>(QStringLiteral("ComboBox1"), this);
    ComboBox1->addItems({QStringLiteral("Original"), QStringLiteral("JPEG"), QStringLiteral("PNG"),
                         QStringLiteral("GIF"), QStringLiteral("BMP")});
    ComboBox1->setCurrentIndex(kSaveOriginal);

    auto* form = new QFormLayout(this);
    form->addRow(CheckBox1);
    form->addRow(QStringLiteral("Width"), Edit1);
    form->addRow(QStringLiteral("Height"), Edit2);
    form->addRow(QStringLiteral("Save images as"), ComboBox1);

    connect(CheckBox1, &QCheckBox::clicked, this, &ImagesTransformGroup::CheckBox1Click);
    OnFocusLeave(Edit1, [this] { Edit1Exit(); });
    OnFocusLeave(Edit2, [this] { Edit2Exit(); });
    CheckBox1Click();
}

TransformSettings ImagesTransformGroup::settings() const {
    TransformSettings s;
    // The fields are normalised when the focus leaves them; a run reads them the same way.
    s.width = NormaliseRectangleSide(Edit1->text()).toInt();
    s.height = NormaliseRectangleSide(Edit2->text()).toInt();
    s.fit = CheckBox1->isChecked();
    s.format = ComboBox1->currentIndex();
    return s;
}

void ImagesTransformGroup::CheckBox1Click() {
    Edit1->setEnabled(CheckBox1->isChecked());
    Edit2->setEnabled(CheckBox1->isChecked());
}

void ImagesTransformGroup::Edit1Exit() {
    Edit1->setText(NormaliseRectangleSide(Edit1->text()));
}

void ImagesTransformGroup::Edit2Exit() {
    Edit2->setText(NormaliseRectangleSide(Edit2->text()));
}

QComboBox* MakeMediaFormatList(QWidget* parent) {
    auto* list = MakeNamed<QComboBox>(QStringLiteral("ComboBox1"), parent);
    list->addItems({QStringLiteral("Original"), QStringLiteral("MP3"), QStringLiteral("OGG"),
                    QStringLiteral("WAV"), QStringLiteral("AAC")});
    list->setCurrentIndex(0);
    return list;
}

// ---------------------------------------------------------------- SaveDialog

SaveDialog::SaveDialog(QWidget* window, const QString& objectName, const QString& caption,
                       ExportJobControl& job, ExportFolderSetting& folder)
    : ExportDialog(window, objectName, caption, job, folder) {
    BitBtn1 = MakeNamed<QPushButton>(QStringLiteral("BitBtn1"), this, QStringLiteral("Save to directory"));
    SetGlyph(BitBtn1, Glyph::Save);
    connect(BitBtn1, &QPushButton::clicked, this, &SaveDialog::BitBtn1Click);
}

void SaveDialog::finishLayout(QBoxLayout* layout, QCheckBox* deleteBox, QPushButton* cancel) {
    m_deleteBox = deleteBox;
    layout->addWidget(deleteBox);
    layout->addWidget(ProgressBar1);
    layout->addLayout(MakeButtonRow({BitBtn1, cancel}));
}

void SaveDialog::BitBtn1Click() {
    if (jobRunning())
        return; // a run of this dialog is in progress
    const auto chosen = ui::ChooseDirectory(this, exportFolder().exportFolder());
    if (!chosen)
        return;
    QString folder = *chosen;
    if (!folder.endsWith(PathSeparator()))
        folder += PathSeparator();
    exportFolder().setExportFolder(folder);
    if (m_deleteBox->isChecked())
        DeleteFilesInFolder(folder);
    startRun(folder);
}

// ---------------------------------------------------------------- the four dialogs

TForm6::TForm6(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder,
               const PictureTypesSetting& types)
    : SaveDialog(window, QStringLiteral("Form6"), QStringLiteral("Save pictures"), job, folder),
      m_types(types) {
    transformGroup = new ImagesTransformGroup(this);
    CheckBox2 = MakeCheckBox(QStringLiteral("CheckBox2"),
                             QStringLiteral("Delete all files from directory before export pictures"), this);
    BitBtn3 = makeCancelButton(QStringLiteral("BitBtn3"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(transformGroup);
    finishLayout(layout, CheckBox2, BitBtn3);
}

void TForm6::addRunValues(ExportRun& run) const {
    run.transform = transformGroup->settings();
    run.transform.types = m_types.modernPictures() ? PictureTypes::Modern : PictureTypes::Classic;
}

MediaSaveDialog::MediaSaveDialog(QWidget* window, const QString& objectName, const QString& caption,
                                 ExportJobControl& job, ExportFolderSetting& folder, const QString& listLabel,
                                 const QString& kindWord)
    : SaveDialog(window, objectName, caption, job, folder) {
    ComboBox1 = MakeMediaFormatList(this);
    CheckBox1 = MakeCheckBox(
        QStringLiteral("CheckBox1"),
        QStringLiteral("Delete all files from destination directory before export ") + kindWord, this);
    BitBtn2 = makeCancelButton(QStringLiteral("BitBtn2"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(listLabel, ComboBox1);
    layout->addLayout(form);
    finishLayout(layout, CheckBox1, BitBtn2);
}

void MediaSaveDialog::addRunValues(ExportRun& run) const {
    run.formatChoice = ComboBox1->currentIndex();
}

TForm17::TForm17(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder)
    : MediaSaveDialog(window, QStringLiteral("Form17"), QStringLiteral("Save sounds"), job, folder,
                      QStringLiteral("Save sounds as"), QStringLiteral("sounds")) {}

TForm25::TForm25(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder)
    : MediaSaveDialog(window, QStringLiteral("Form25"), QStringLiteral("Save videos"), job, folder,
                      QStringLiteral("Save videos as"), QStringLiteral("videos")) {}

TForm32::TForm32(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder)
    : SaveDialog(window, QStringLiteral("Form32"), QStringLiteral("Save text"), job, folder) {
    CheckBox1 =
        MakeCheckBox(QStringLiteral("CheckBox1"),
                     QStringLiteral("Delete all files from destination directory before export texts"), this);
    BitBtn2 = makeCancelButton(QStringLiteral("BitBtn2"));
    auto* layout = new QVBoxLayout(this);
    finishLayout(layout, CheckBox1, BitBtn2);
}

} // namespace skarvel
