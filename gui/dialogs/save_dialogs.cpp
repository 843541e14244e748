#include "gui/dialogs/save_dialogs.h"

#include "gui/dialog_service.h"
#include "gui/image_list.h"
#include "gui/main_window.h"
#include "common/file_ops.h"
#include "common/text_ops.h"
#include "gui/jobs/export_jobs.h"

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

ExportDialog::ExportDialog(TForm1* form1, const QString& objectName, const QString& caption, JobSlot job)
    : SkarvelDialog(form1, objectName, caption), m_job(std::move(job)) {
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
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

void ExportDialog::closeRun() {
    m_runningJob = nullptr;
    close();
}

void ExportDialog::CancelClick() {
    m_job.stop();
    close();
}

BackgroundJob* ExportDialog::idleJob() const {
    BackgroundJob* job = m_job.current();
    return job && job->Suspended() ? job : nullptr;
}

void ExportDialog::startRun(BackgroundJob* job) {
    m_runningJob = job;
    job->Resume();
}

QPushButton* ExportDialog::makeCancelButton(const QString& objectName) {
    auto* button = new QPushButton(QStringLiteral("Cancel"), this);
    button->setObjectName(objectName);
    SetGlyph(button, 7);
    connect(button, &QPushButton::clicked, this, &ExportDialog::CancelClick);
    return button;
}

void ExportDialog::addButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton* b : buttons)
        row->addWidget(b);
    layout->addLayout(row);
}

// ---------------------------------------------------------------- transform group

ImagesTransformGroup::ImagesTransformGroup(QWidget* parent)
    : QGroupBox(QStringLiteral("Images transform"), parent) {
    setObjectName(QStringLiteral("GroupBox1"));
    CheckBox1 = MakeCheckBox(QStringLiteral("CheckBox1"), QStringLiteral("Fit to rectangle"), this);
    Edit1 = new QLineEdit(QStringLiteral("100"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit2 = new QLineEdit(QStringLiteral("100"), this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
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
    auto* list = new QComboBox(parent);
    list->setObjectName(QStringLiteral("ComboBox1"));
    list->addItems({QStringLiteral("Original"), QStringLiteral("MP3"), QStringLiteral("OGG"),
                    QStringLiteral("WAV"), QStringLiteral("AAC")});
    list->setCurrentIndex(0);
    return list;
}

// ---------------------------------------------------------------- SaveDialog

SaveDialog::SaveDialog(TForm1* form1, const QString& objectName, const QString& caption, JobSlot job)
    : ExportDialog(form1, objectName, caption, std::move(job)) {
    BitBtn1 = new QPushButton(QStringLiteral("Save to directory"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    SetGlyph(BitBtn1, 2);
    connect(BitBtn1, &QPushButton::clicked, this, &SaveDialog::BitBtn1Click);
}

void SaveDialog::finishLayout(QBoxLayout* layout, QCheckBox* deleteBox, QPushButton* cancel) {
    m_deleteBox = deleteBox;
    layout->addWidget(deleteBox);
    layout->addWidget(ProgressBar1);
    addButtonRow(layout, {BitBtn1, cancel});
}

void SaveDialog::BitBtn1Click() {
    BackgroundJob* job = idleJob();
    if (!job)
        return; // a run of this dialog is in progress
    TForm1* form1 = Form1();
    const auto chosen = ui::ChooseDirectory(this, form1->exportFolder);
    if (!chosen)
        return;
    QString folder = *chosen;
    if (!folder.endsWith(PathSeparator()))
        folder += PathSeparator();
    form1->exportFolder = folder;
    if (m_deleteBox->isChecked())
        DeleteFilesInFolder(folder);
    startRun(job);
}

// ---------------------------------------------------------------- the four dialogs

TForm6::TForm6(TForm1* form1)
    : SaveDialog(form1, QStringLiteral("Form6"), QStringLiteral("Save pictures"),
                 SlotOf(form1, &TForm1::exportPictures)) {
    transformGroup = new ImagesTransformGroup(this);
    CheckBox2 = MakeCheckBox(QStringLiteral("CheckBox2"),
                             QStringLiteral("Delete all files from directory before export pictures"), this);
    BitBtn3 = makeCancelButton(QStringLiteral("BitBtn3"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(transformGroup);
    finishLayout(layout, CheckBox2, BitBtn3);
}

MediaSaveDialog::MediaSaveDialog(TForm1* form1, const QString& objectName, const QString& caption,
                                 JobSlot job, const QString& listLabel, const QString& kindWord)
    : SaveDialog(form1, objectName, caption, std::move(job)) {
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

TForm17::TForm17(TForm1* form1)
    : MediaSaveDialog(form1, QStringLiteral("Form17"), QStringLiteral("Save sounds"),
                      SlotOf(form1, &TForm1::exportSounds), QStringLiteral("Save sounds as"),
                      QStringLiteral("sounds")) {}

TForm25::TForm25(TForm1* form1)
    : MediaSaveDialog(form1, QStringLiteral("Form25"), QStringLiteral("Save videos"),
                      SlotOf(form1, &TForm1::exportVideos), QStringLiteral("Save videos as"),
                      QStringLiteral("videos")) {}

TForm32::TForm32(TForm1* form1)
    : SaveDialog(form1, QStringLiteral("Form32"), QStringLiteral("Save text"),
                 SlotOf(form1, &TForm1::exportTexts)) {
    CheckBox1 =
        MakeCheckBox(QStringLiteral("CheckBox1"),
                     QStringLiteral("Delete all files from destination directory before export texts"), this);
    BitBtn2 = makeCancelButton(QStringLiteral("BitBtn2"));
    auto* layout = new QVBoxLayout(this);
    finishLayout(layout, CheckBox1, BitBtn2);
}

} // namespace skarvel
