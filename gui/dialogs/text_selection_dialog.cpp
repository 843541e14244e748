#include "gui/dialogs/text_selection_dialog.h"

#include "gui/dialog_service.h"
#include "gui/image_list.h"
#include "gui/window_interfaces.h"
#include "rules/line_list.h"
#include "tables/collection_tables.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTextDocument>
#include <QVBoxLayout>

#include <utility>

namespace skarvel {

QString MemoPageText(const QPlainTextEdit* memo) {
    QString text = memo->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator)
            c = u'\n';
    return CrLfLineBreaks(text);
}

// ---------------------------------------------------------------- replacement grid

ReplacementGrid::ReplacementGrid(QWidget* parent) : QTableWidget(1, 2, parent) {
    setHorizontalHeaderLabels({QString(), QString()});
    verticalHeader()->hide();
    horizontalHeader()->setFixedHeight(8);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->setDefaultSectionSize(20);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

std::vector<ReplacePair> ReplacementGrid::Rows() const {
    std::vector<ReplacePair> rows;
    for (int r = 0; r < rowCount(); ++r) {
        const QTableWidgetItem* from = item(r, 0);
        const QTableWidgetItem* to = item(r, 1);
        rows.emplace_back(from ? from->text() : QString(), to ? to->text() : QString());
    }
    return rows;
}

void ReplacementGrid::SetRows(const std::vector<ReplacePair>& rows) {
    clearContents();
    setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        setItem(r, 0, new QTableWidgetItem(rows[size_t(r)].first));
        setItem(r, 1, new QTableWidgetItem(rows[size_t(r)].second));
    }
}

void ReplacementGrid::CommitEditor() {
    if (state() != QAbstractItemView::EditingState)
        return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void ReplacementGrid::keyPressEvent(QKeyEvent* event) {
    emit keyDown(event->key());
    // Enter belongs to the grid: passed on, it would reach the dialog's buttons.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------- the dialog

namespace {

// A marker field and its "include this text" box.
struct MarkerField {
    QPlainTextEdit* memo;
    QCheckBox* include;
};

// A grid on group whose first two rows are the "Block begins" and "Block ends" markers.
QGridLayout* blockMarkerRows(QWidget* group, MarkerField begins, MarkerField ends) {
    auto* grid = new QGridLayout(group);
    int row = 0;
    for (const auto& [caption, field] :
         {std::pair{QStringLiteral("Block begins"), begins}, std::pair{QStringLiteral("Block ends"), ends}}) {
        grid->addWidget(new QLabel(caption, group), row, 0, Qt::AlignTop);
        grid->addWidget(field.memo, row, 1);
        grid->addWidget(field.include, row, 2, Qt::AlignTop);
        ++row;
    }
    return grid;
}

QPlainTextEdit* makeMemo(const QString& name, QWidget* parent) {
    auto* memo = MakeNamed<QPlainTextEdit>(name, parent);
    memo->setFixedSize(300, 48);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    return memo;
}

bool inside(const QWidget* widget, const QWidget* container) {
    return widget && (widget == container || container->isAncestorOf(widget));
}

} // namespace

TForm30::TForm30(QWidget* window, CollectionTable& texts, TextTabView& tab, std::function<void()> showPreview)
    : SkarvelDialog(window, QStringLiteral("Form30"), QStringLiteral("Text selection")), m_texts(texts),
      m_tab(tab), m_showPreview(std::move(showPreview)) {
    GroupBox1 = MakeNamed<QGroupBox>(QStringLiteral("GroupBox1"), this, QStringLiteral("Text"));
    Memo1 = makeMemo(QStringLiteral("Memo1"), GroupBox1);
    CheckBox1 = MakeCheckBox(QStringLiteral("CheckBox1"), QStringLiteral("include this text"), GroupBox1);
    Memo2 = makeMemo(QStringLiteral("Memo2"), GroupBox1);
    CheckBox2 = MakeCheckBox(QStringLiteral("CheckBox2"), QStringLiteral("include this text"), GroupBox1);
    StringGrid1 = MakeNamed<ReplacementGrid>(QStringLiteral("StringGrid1"), GroupBox1);
    StringGrid1->setFixedSize(300, 90);
    Memo5 = makeMemo(QStringLiteral("Memo5"), GroupBox1);
    RadioGroup1 =
        MakeNamed<QGroupBox>(QStringLiteral("RadioGroup1"), GroupBox1, QStringLiteral("Delete empty lines"));
    RadioGroup1Items = new QButtonGroup(RadioGroup1);
    auto* radioLayout = new QHBoxLayout(RadioGroup1);
    const std::pair<QString, int> choices[] = {{QStringLiteral("No"), TextRules::No},
                                               {QStringLiteral("All"), TextRules::All},
                                               {QStringLiteral("Double and more"), TextRules::DoubleAndMore}};
    for (const auto& [caption, id] : choices) {
        auto* option = new QRadioButton(caption, RadioGroup1);
        RadioGroup1Items->addButton(option, id);
        radioLayout->addWidget(option);
    }
    RadioGroup1Items->button(TextRules::No)->setChecked(true);
    CheckBox3 = MakeCheckBox(QStringLiteral("CheckBox3"), QStringLiteral("Strip tags"), GroupBox1);

    auto* deleteLabel = new QWidget(GroupBox1);
    auto* deleteLabelLayout = new QVBoxLayout(deleteLabel);
    deleteLabelLayout->setContentsMargins(0, 0, 0, 0);
    deleteLabelLayout->addWidget(new QLabel(QStringLiteral("Delete lines"), deleteLabel));
    deleteLabelLayout->addWidget(new QLabel(QStringLiteral("containing"), deleteLabel));
    deleteLabelLayout->addStretch(1);

    auto* text = blockMarkerRows(GroupBox1, {Memo1, CheckBox1}, {Memo2, CheckBox2});
    text->addWidget(new QLabel(QStringLiteral("Replacements"), GroupBox1), 2, 0, Qt::AlignTop);
    text->addWidget(StringGrid1, 2, 1);
    text->addWidget(deleteLabel, 3, 0);
    text->addWidget(Memo5, 3, 1);
    text->addWidget(RadioGroup1, 4, 0, 1, 2);
    text->addWidget(CheckBox3, 4, 2);

    GroupBox2 = MakeNamed<QGroupBox>(QStringLiteral("GroupBox2"), this, QStringLiteral("Header"));
    Memo3 = makeMemo(QStringLiteral("Memo3"), GroupBox2);
    CheckBox4 = MakeCheckBox(QStringLiteral("CheckBox4"), QStringLiteral("include this text"), GroupBox2);
    Memo4 = makeMemo(QStringLiteral("Memo4"), GroupBox2);
    CheckBox5 = MakeCheckBox(QStringLiteral("CheckBox5"), QStringLiteral("include this text"), GroupBox2);
    CheckBox6 = MakeCheckBox(QStringLiteral("CheckBox6"), QStringLiteral("Strip tags"), GroupBox2);
    auto* header = blockMarkerRows(GroupBox2, {Memo3, CheckBox4}, {Memo4, CheckBox5});
    header->addWidget(CheckBox6, 2, 2);

    BitBtn1 =
        MakeDialogButton(QStringLiteral("BitBtn1"), QStringLiteral("Apply selection"), Glyph::Apply, this);
    BitBtn2 = MakeDialogButton(QStringLiteral("BitBtn2"), QStringLiteral("Preview"), Glyph::Preview, this);
    BitBtn3 =
        MakeDialogButton(QStringLiteral("BitBtn3"), QStringLiteral("Default values"), Glyph::Defaults, this);
    BitBtn4 = MakeDialogButton(QStringLiteral("BitBtn4"), QStringLiteral("Close"), Glyph::Cancel, this);
    auto* buttons = MakeButtonRow({BitBtn1, BitBtn2, BitBtn3, BitBtn4});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm30::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm30::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm30::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm30::BitBtn4Click);
    connect(StringGrid1, &ReplacementGrid::keyDown, this, &TForm30::StringGrid1KeyDown);
    // Focus moving into a cell editor stays inside the grid; only leaving the grid counts.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (inside(old, StringGrid1) && now && !inside(now, StringGrid1))
            StringGrid1Exit();
    });
}

TextRules TForm30::Rules() const {
    TextRules rules;
    rules.blockBegin = MemoPageText(Memo1);
    rules.blockEnd = MemoPageText(Memo2);
    rules.includeBegin = CheckBox1->isChecked();
    rules.includeEnd = CheckBox2->isChecked();
    rules.replacements = StringGrid1->Rows();
    rules.stripTags = CheckBox3->isChecked();
    rules.deleteLinesContaining = MemoPageText(Memo5);
    const int choice = RadioGroup1Items->checkedId();
    rules.emptyLines = choice == TextRules::All             ? TextRules::All
                       : choice == TextRules::DoubleAndMore ? TextRules::DoubleAndMore
                                                            : TextRules::No;
    rules.headerBegin = MemoPageText(Memo3);
    rules.headerEnd = MemoPageText(Memo4);
    rules.includeHeaderBegin = CheckBox4->isChecked();
    rules.includeHeaderEnd = CheckBox5->isChecked();
    rules.stripHeaderTags = CheckBox6->isChecked();
    return rules;
}

void TForm30::BitBtn1Click() {
    StringGrid1->CommitEditor();
    QString error;
    const bool written = ApplyTextRulesToTable(
        m_texts, Rules(), [this](int row, const TextResult& result) { m_tab.showResult(row, result.text); },
        &error);
    if (!written)
        ui::ShowError(this, error);
}

void TForm30::BitBtn2Click() {
    StringGrid1->CommitEditor();
    m_showPreview();
}

void TForm30::BitBtn3Click() {
    for (QPlainTextEdit* memo : {Memo1, Memo2, Memo3, Memo4, Memo5})
        memo->clear();
    for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6})
        box->setChecked(true);
    StringGrid1->CommitEditor();
    StringGrid1->SetRows({ReplacePair()});
}

void TForm30::BitBtn4Click() {
    close();
}

void TForm30::StringGrid1Exit() {
    tidyReplacements();
}

void TForm30::StringGrid1KeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        tidyReplacements();
}

void TForm30::tidyReplacements() {
    StringGrid1->CommitEditor();
    StringGrid1->SetRows(TidyReplaceRows(StringGrid1->Rows()));
}

} // namespace skarvel
