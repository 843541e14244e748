#include "gui/dialogs/sqlite_dialogs.h"

#include "common/text_ops.h"
#include "gui/dialog_service.h"
#include "gui/image_list.h"
#include "gui/window_interfaces.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace skarvel {

namespace {

QLineEdit* makeTableNameField(const QString& name, const QString& defaultTable, QWidget* parent) {
    auto* field = MakeNamed<QLineEdit>(name, parent, defaultTable);
    return field;
}

} // namespace

SqliteDialog::SqliteDialog(QWidget* window, const QString& objectName, const QString& caption,
                           ExportJobControl& job, ExportFolderSetting& folder, const QString& defaultTable,
                           DropStyle dropStyle)
    : ExportDialog(window, objectName, caption, job, folder), m_defaultTable(defaultTable),
      m_dropStyle(dropStyle) {
    BitBtn1 = MakeNamed<QPushButton>(QStringLiteral("BitBtn1"), this, QStringLiteral("Export to SQLite"));
    SetGlyph(BitBtn1, Glyph::Database);
    connect(BitBtn1, &QPushButton::clicked, this, &SqliteDialog::BitBtn1Click);
}

void SqliteDialog::finishLayout(QBoxLayout* layout, QLineEdit* tableName, QCheckBox* dropBox,
                                QCheckBox* overwriteBox, QPushButton* cancel) {
    m_tableName = tableName;
    m_dropBox = dropBox;
    m_overwriteBox = overwriteBox;
    OnFocusLeave(tableName, [this] { TableNameExit(); });

    auto* group =
        MakeNamed<QGroupBox>(QStringLiteral("GroupBox2"), this, QStringLiteral("SQLite properties"));
    tableName->setParent(group);
    dropBox->setParent(group);
    overwriteBox->setParent(group);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Table name"), tableName);
    form->addRow(dropBox);
    form->addRow(overwriteBox);
    layout->addWidget(group);
    layout->addWidget(ProgressBar1);
    layout->addLayout(MakeButtonRow({BitBtn1, cancel}));
}

void SqliteDialog::TableNameExit() {
    m_tableName->setText(CleanTableName(m_tableName->text(), m_defaultTable));
}

void SqliteDialog::BitBtn1Click() {
    if (jobRunning())
        return; // a run of this dialog is in progress
    const auto file = ui::ChooseSaveFile(this, exportFolder().exportFolder());
    if (!file)
        return;
    auto session = std::make_shared<SqliteExportSession>(busyTimeoutMs);
    if (!session->connect(*file, m_overwriteBox->isChecked())) {
        ui::ShowMessage(this, QStringLiteral("Database connection error!"));
        return;
    }
    // The field is cleaned when the focus leaves it; a click that never moved the focus gets the same.
    TableNameExit();
    try {
        session->prepareTable(m_tableName->text(), m_dropBox->isChecked(), m_dropStyle);
    } catch (const SqliteError& e) {
        ui::ShowError(this, e.text());
        return;
    }
    exportFolder().setExportFolder(DirectoryOfPath(*file) + PathSeparator());
    startRun(QString(), std::move(session));
}

TForm10::TForm10(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder,
                 const PictureTypesSetting& types)
    : SqliteDialog(window, QStringLiteral("Form10"), QStringLiteral("Export pictures to SQLite"), job, folder,
                   QStringLiteral("Pictures"), DropStyle::Bare),
      m_types(types) {
    transformGroup = new ImagesTransformGroup(this);
    Edit3 = makeTableNameField(QStringLiteral("Edit3"), QStringLiteral("Pictures"), this);
    CheckBox2 = MakeCheckBox(QStringLiteral("CheckBox2"), QStringLiteral("Drop table if exists"), this);
    CheckBox3 =
        MakeCheckBox(QStringLiteral("CheckBox3"), QStringLiteral("Overwrite database file if exists"), this);
    BitBtn3 = makeCancelButton(QStringLiteral("BitBtn3"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(transformGroup);
    finishLayout(layout, Edit3, CheckBox2, CheckBox3, BitBtn3);
}

void TForm10::addRunValues(ExportRun& run) const {
    run.transform = transformGroup->settings();
    run.transform.types = m_types.modernPictures() ? PictureTypes::Modern : PictureTypes::Classic;
}

FileSqliteDialog::FileSqliteDialog(QWidget* window, const QString& objectName, const QString& caption,
                                   ExportJobControl& job, ExportFolderSetting& folder,
                                   const QString& listLabel, const QString& defaultTable, DropStyle dropStyle)
    : SqliteDialog(window, objectName, caption, job, folder, defaultTable, dropStyle) {
    auto* layout = new QVBoxLayout(this);
    if (!listLabel.isEmpty()) {
        ComboBox1 = MakeMediaFormatList(this);
        auto* form = new QFormLayout;
        form->addRow(listLabel, ComboBox1);
        layout->addLayout(form);
    }
    Edit1 = makeTableNameField(QStringLiteral("Edit1"), defaultTable, this);
    CheckBox1 = MakeCheckBox(QStringLiteral("CheckBox1"), QStringLiteral("Drop table if exists"), this);
    CheckBox2 =
        MakeCheckBox(QStringLiteral("CheckBox2"), QStringLiteral("Overwrite database file if exists"), this);
    BitBtn2 = makeCancelButton(QStringLiteral("BitBtn2"));
    finishLayout(layout, Edit1, CheckBox1, CheckBox2, BitBtn2);
}

void FileSqliteDialog::addRunValues(ExportRun& run) const {
    run.formatChoice = ComboBox1 ? ComboBox1->currentIndex() : 0;
}

TForm18::TForm18(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder)
    : FileSqliteDialog(window, QStringLiteral("Form18"), QStringLiteral("Export sounds to SQLite"), job,
                       folder, QStringLiteral("Save sounds as"), QStringLiteral("Sounds"), DropStyle::Bare) {}

TForm26::TForm26(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder)
    : FileSqliteDialog(window, QStringLiteral("Form26"), QStringLiteral("Export videos to SQLite"), job,
                       folder, QStringLiteral("Save videos as"), QStringLiteral("Videos"), DropStyle::Bare) {}

TForm33::TForm33(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder)
    : FileSqliteDialog(window, QStringLiteral("Form33"), QStringLiteral("Export text to SQLite"), job, folder,
                       QString(), QStringLiteral("Text"), DropStyle::Backquoted) {}

} // namespace skarvel
