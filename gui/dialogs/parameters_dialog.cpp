#include "gui/dialogs/parameters_dialog.h"

#include "common/text_ops.h"
#include "gui/dialog_service.h"
#include "gui/image_list.h"
#include "gui/window_interfaces.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace skarvel {

TForm13::TForm13(QWidget* window, WorkFolderSetting& workFolder, PictureTypesSetting& pictureTypes)
    : SkarvelDialog(window, QStringLiteral("Form13"), QStringLiteral("Parameters")), m_workFolder(workFolder),
      m_pictureTypes(pictureTypes) {
    auto* group = MakeNamed<QGroupBox>(QStringLiteral("GroupBox1"), this, QStringLiteral("Work directory"));
    Edit1 = MakeNamed<QLineEdit>(QStringLiteral("Edit1"), group);
    Edit1->setMinimumWidth(360);
    BitBtn1 = MakeNamed<QPushButton>(QStringLiteral("BitBtn1"), group, QStringLiteral("Select"));
    BitBtn2 = MakeNamed<QPushButton>(QStringLiteral("BitBtn2"), group, QStringLiteral("Temp"));
    auto* row = new QHBoxLayout(group);
    row->addWidget(Edit1, 1);
    row->addWidget(BitBtn1);
    row->addWidget(BitBtn2);

    CheckBox1 = MakeCheckBox(QStringLiteral("CheckBox1"),
                             QStringLiteral("Modern picture types (WebP, AVIF, SVG)"), this);

    BitBtn3 = MakeNamed<QPushButton>(QStringLiteral("BitBtn3"), this, QStringLiteral("Save changes"));
    BitBtn4 = MakeNamed<QPushButton>(QStringLiteral("BitBtn4"), this, QStringLiteral("Cancel"));
    auto* buttons = MakeButtonRow({BitBtn3, BitBtn4});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(CheckBox1);
    layout->addLayout(buttons);

    SetGlyph(BitBtn1, Glyph::Folder);
    SetGlyph(BitBtn2, Glyph::TempFolder);
    SetGlyph(BitBtn3, Glyph::Save);
    SetGlyph(BitBtn4, Glyph::Cancel);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm13::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm13::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm13::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm13::BitBtn4Click);
}

void TForm13::showEvent(QShowEvent* event) {
    FormShow();
    SkarvelDialog::showEvent(event);
}

void TForm13::FormShow() {
    Edit1->setText(m_workFolder.workFolder());
    CheckBox1->setChecked(m_pictureTypes.modernPictures());
}

void TForm13::BitBtn1Click() {
    const auto chosen = ui::ChooseDirectory(this, QString());
    if (chosen)
        Edit1->setText(*chosen + PathSeparator());
}

void TForm13::BitBtn2Click() {
    Edit1->setText(m_workFolder.defaultWorkFolder());
}

void TForm13::BitBtn3Click() {
    m_workFolder.applyWorkFolder(Edit1->text());
    m_pictureTypes.setModernPictures(CheckBox1->isChecked());
    close();
}

void TForm13::BitBtn4Click() {
    close();
}

} // namespace skarvel
