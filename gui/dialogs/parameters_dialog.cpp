#include "gui/dialogs/parameters_dialog.h"

#include "common/text_ops.h"
#include "gui/dialog_service.h"
#include "gui/image_list.h"
#include "gui/window_interfaces.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace skarvel {

TForm13::TForm13(QWidget* window, WorkFolderSetting& workFolder)
    : SkarvelDialog(window, QStringLiteral("Form13"), QStringLiteral("Parameters")),
      m_workFolder(workFolder) {
    auto* group = new QGroupBox(QStringLiteral("Work directory"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    Edit1 = new QLineEdit(group);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMinimumWidth(360);
    BitBtn1 = new QPushButton(QStringLiteral("Select"), group);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn2 = new QPushButton(QStringLiteral("Temp"), group);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    auto* row = new QHBoxLayout(group);
    row->addWidget(Edit1, 1);
    row->addWidget(BitBtn1);
    row->addWidget(BitBtn2);

    BitBtn3 = new QPushButton(QStringLiteral("Save changes"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    BitBtn4 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn4->setObjectName(QStringLiteral("BitBtn4"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn3);
    buttons->addWidget(BitBtn4);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    SetGlyph(BitBtn1, 8);
    SetGlyph(BitBtn2, 9);
    SetGlyph(BitBtn3, 2);
    SetGlyph(BitBtn4, 7);

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
    close();
}

void TForm13::BitBtn4Click() {
    close();
}

} // namespace skarvel
