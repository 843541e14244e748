#include "gui/dialogs/selection_dialogs.h"

#include "gui/image_list.h"
#include "jobs/job_control.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace skarvel {

namespace {

QLineEdit* makeEdit(const QString& name, QWidget* parent) {
    auto* edit = MakeNamed<QLineEdit>(name, parent);
    edit->setFixedWidth(90);
    return edit;
}

} // namespace

SelectionDialog::SelectionDialog(QWidget* window, TableKind kind, const QString& objectName,
                                 const QString& caption, CollectionTable& table, const JobControl& download,
                                 std::function<void()> applied)
    : SkarvelDialog(window, objectName, caption), m_kind(kind), m_table(table), m_download(download),
      m_applied(std::move(applied)) {
    const bool twoPairs = SelectionFieldLimits(kind, BoundField::SecondLower).has_value();
    const bool pictures = kind == TableKind::Pictures;

    auto* bounds = new QGridLayout;
    Edit1 = makeEdit(QStringLiteral("Edit1"), this);
    Edit2 = makeEdit(QStringLiteral("Edit2"), this);
    bounds->addWidget(Edit1, 0, 0);
    bounds->addWidget(
        MakeLabel(QStringLiteral("Label1"),
                  pictures ? QStringLiteral("<   Width   <") : QStringLiteral("<      Size      <"), this),
        0, 1, Qt::AlignCenter);
    bounds->addWidget(Edit2, 0, 2);
    if (twoPairs) {
        Edit3 = makeEdit(QStringLiteral("Edit3"), this);
        Edit4 = makeEdit(QStringLiteral("Edit4"), this);
        bounds->addWidget(Edit3, 1, 0);
        bounds->addWidget(
            MakeLabel(QStringLiteral("Label2"),
                      pictures ? QStringLiteral("<   Height   <") : QStringLiteral("<  Duration  <"), this),
            1, 1, Qt::AlignCenter);
        bounds->addWidget(Edit4, 1, 2);
    }
    m_bounds = {Edit1, Edit2, Edit3, Edit4};
    for (size_t f = 0; f < m_bounds.size(); ++f)
        if (m_bounds[f])
            OnFocusLeave(m_bounds[f], [this, f] { normalise(BoundField(f)); });

    auto* types = new QHBoxLayout;
    types->addWidget(MakeLabel(QStringLiteral("Label3"), QStringLiteral("Type:"), this));
    int box = 1;
    for (const SelectionTypeBox& type : SelectionTypeBoxes(kind)) {
        auto* check = MakeNamed<QCheckBox>(QStringLiteral("CheckBox%1").arg(box++), this, type.caption);
        check->setChecked(true);
        types->addWidget(check);
        typeBoxes.push_back(check);
    }
    types->addStretch(1);

    deleteEmptyLinesBox =
        MakeNamed<QCheckBox>(pictures ? QStringLiteral("CheckBox4") : QStringLiteral("CheckBox5"), this,
                             QStringLiteral("Delete empty lines"));
    deleteEmptyLinesBox->setChecked(true);

    BitBtn1 =
        MakeDialogButton(QStringLiteral("BitBtn1"), QStringLiteral("Apply selection"), Glyph::Apply, this);
    BitBtn2 =
        MakeDialogButton(QStringLiteral("BitBtn2"), QStringLiteral("Default values"), Glyph::Defaults, this);
    auto* buttons = MakeButtonRow({BitBtn1, BitBtn2});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bounds);
    layout->addLayout(types);
    layout->addWidget(deleteEmptyLinesBox);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &SelectionDialog::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &SelectionDialog::BitBtn2Click);
}

SelectionSettings SelectionDialog::Settings() const {
    SelectionSettings settings;
    for (size_t f = 0; f < m_bounds.size(); ++f)
        if (m_bounds[f])
            settings.bounds[f] = m_bounds[f]->text();
    for (size_t i = 0; i < typeBoxes.size(); ++i)
        settings.keepType[i] = typeBoxes[i]->isChecked();
    settings.deleteEmptyLines = deleteEmptyLinesBox->isChecked();
    return settings;
}

void SelectionDialog::BitBtn1Click() {
    if (m_download.isRunning())
        return;
    ApplySelection(m_table, Settings());
    if (m_applied)
        m_applied();
}

void SelectionDialog::BitBtn2Click() {
    for (QLineEdit* edit : m_bounds)
        if (edit)
            edit->clear();
    for (QCheckBox* check : typeBoxes)
        check->setChecked(true);
    deleteEmptyLinesBox->setChecked(true);
}

void SelectionDialog::Edit1Exit() {
    normalise(BoundField::FirstLower);
}

void SelectionDialog::Edit2Exit() {
    normalise(BoundField::FirstUpper);
}

void SelectionDialog::Edit3Exit() {
    normalise(BoundField::SecondLower);
}

void SelectionDialog::Edit4Exit() {
    normalise(BoundField::SecondUpper);
}

void SelectionDialog::normalise(BoundField field) {
    QLineEdit* edit = m_bounds[size_t(field)];
    if (!edit)
        return;
    const QString normal = NormaliseSelectionField(m_kind, field, edit->text());
    if (normal != edit->text())
        edit->setText(normal);
}

// ---------------------------------------------------------------- the three dialogs

TForm7::TForm7(QWidget* window, CollectionTable& table, const JobControl& download,
               std::function<void()> applied)
    : SelectionDialog(window, TableKind::Pictures, QStringLiteral("Form7"),
                      QStringLiteral("Picture selection"), table, download, std::move(applied)) {}

TForm15::TForm15(QWidget* window, CollectionTable& table, const JobControl& download)
    : SelectionDialog(window, TableKind::Sounds, QStringLiteral("Form15"), QStringLiteral("Sounds selection"),
                      table, download) {}

TForm23::TForm23(QWidget* window, CollectionTable& table, const JobControl& download)
    : SelectionDialog(window, TableKind::Videos, QStringLiteral("Form23"), QStringLiteral("Videos selection"),
                      table, download) {}

} // namespace skarvel
