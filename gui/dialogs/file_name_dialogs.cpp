#include "gui/dialogs/file_name_dialogs.h"

#include "gui/image_list.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace skarvel {

namespace {

constexpr int kEnterKey = 13;

bool isEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Cell editor of the Replaces grid: Enter commits the typed text and closes the
// editor before the grid sees the key, so tidying reads what was typed.
class ReplacesDelegate : public QStyledItemDelegate {
public:
    ReplacesDelegate(QObject* parent, std::function<void()> onEnter)
        : QStyledItemDelegate(parent), m_onEnter(std::move(onEnter)) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* editor = qobject_cast<QWidget*>(object);
        if (editor && isEnter(event)) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            m_onEnter();
            return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    std::function<void()> m_onEnter;
};

QString cellText(const QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

FileNamesDialog::FileNamesDialog(QWidget* window, TableKind kind, const QString& objectName,
                                 CollectionTable& table)
    : SkarvelDialog(window, objectName, QStringLiteral("File names")), m_kind(kind), m_table(table) {
    ComboBox1 = MakeNamed<QComboBox>(QStringLiteral("ComboBox1"), this);
    ComboBox1->addItems(FileNameUseItems(kind));
    ComboBox1->setCurrentIndex(UseNewId);
    ComboBox2 = MakeNamed<QComboBox>(QStringLiteral("ComboBox2"), this);
    ComboBox2->addItems(LetterCaseItems());
    ComboBox2->setCurrentIndex(KeepCase);
    Edit1 = MakeNamed<QLineEdit>(QStringLiteral("Edit1"), this, QStringLiteral("40"));
    OnFocusLeave(Edit1, [this] { Edit1Exit(); });

    StringGrid1 = MakeNamed<QTableWidget>(QStringLiteral("StringGrid1"), this, 1, 2);
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("From"), QStringLiteral("To")});
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->horizontalHeader()->setStretchLastSection(true);
    StringGrid1->setColumnWidth(0, 140);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                                 QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    StringGrid1->setItemDelegate(
        new ReplacesDelegate(StringGrid1, [this] { StringGrid1KeyDown(kEnterKey); }));
    StringGrid1->setMinimumSize(300, 130);
    StringGrid1->installEventFilter(this);

    auto* fields = new QGridLayout;
    fields->addWidget(MakeLabel(QStringLiteral("Label1"), QStringLiteral("Use"), this), 0, 0);
    fields->addWidget(ComboBox1, 0, 1);
    fields->addWidget(MakeLabel(QStringLiteral("Label2"), QStringLiteral("Register"), this), 1, 0);
    fields->addWidget(ComboBox2, 1, 1);
    fields->addWidget(MakeLabel(QStringLiteral("Label3"), QStringLiteral("Max length"), this), 2, 0);
    fields->addWidget(Edit1, 2, 1);
    fields->setColumnStretch(1, 1);

    BitBtn1 = MakeDialogButton(QStringLiteral("BitBtn1"), QStringLiteral("Apply new file names"),
                               Glyph::Apply, this);
    BitBtn2 = MakeDialogButton(QStringLiteral("BitBtn2"), QStringLiteral("Close"), Glyph::Cancel, this);
    auto* buttons = MakeButtonRow({BitBtn1, BitBtn2});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(MakeLabel(QStringLiteral("Label4"), QStringLiteral("Replaces"), this));
    layout->addWidget(StringGrid1, 1);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &FileNamesDialog::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &FileNamesDialog::BitBtn2Click);
    connect(qApp, &QApplication::focusChanged, this, &FileNamesDialog::focusChanged);
}

FileNamesDialog::~FileNamesDialog() {
    // Deleting the children moves the focus; by then this object is half gone.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

std::vector<ReplacePair> FileNamesDialog::ReplaceRows() const {
    std::vector<ReplacePair> rows;
    rows.reserve(size_t(StringGrid1->rowCount()));
    for (int r = 0; r < StringGrid1->rowCount(); ++r)
        rows.emplace_back(cellText(StringGrid1, r, 0), cellText(StringGrid1, r, 1));
    return rows;
}

void FileNamesDialog::setReplaceRows(const std::vector<ReplacePair>& rows) {
    StringGrid1->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        StringGrid1->setItem(r, 0, new QTableWidgetItem(rows[size_t(r)].first));
        StringGrid1->setItem(r, 1, new QTableWidgetItem(rows[size_t(r)].second));
    }
}

FileNameSettings FileNamesDialog::Settings() const {
    FileNameSettings settings;
    settings.use = ComboBox1->currentIndex();
    settings.letterCase = ComboBox2->currentIndex();
    settings.maxLength = Edit1->text();
    settings.replaces = ReplaceRows();
    return settings;
}

void FileNamesDialog::BitBtn1Click() {
    ApplyFileNames(m_table, m_kind, Settings());
}

void FileNamesDialog::BitBtn2Click() {
    close();
}

void FileNamesDialog::Edit1Exit() {
    const QString normal = NormaliseMaxLength(Edit1->text());
    if (normal != Edit1->text())
        Edit1->setText(normal);
}

void FileNamesDialog::StringGrid1Exit() {
    setReplaceRows(TidyReplaceRows(ReplaceRows()));
}

void FileNamesDialog::StringGrid1KeyDown(int key) {
    if (key == kEnterKey)
        setReplaceRows(TidyReplaceRows(ReplaceRows()));
}

bool FileNamesDialog::insideGrid(const QWidget* widget) const {
    return widget && (widget == StringGrid1 || StringGrid1->isAncestorOf(widget));
}

void FileNamesDialog::focusChanged(QWidget* old, QWidget* now) {
    // The grid's cell editor commits on losing focus before this runs. A move
    // to another window (or the dialog closing) does not leave the grid.
    if (insideGrid(old) && now && now->window() == this && !insideGrid(now))
        StringGrid1Exit();
}

bool FileNamesDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == StringGrid1 && isEnter(event)) {
        StringGrid1KeyDown(kEnterKey);
        return true;
    }
    return SkarvelDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- the four dialogs

TForm8::TForm8(QWidget* window, CollectionTable& table)
    : FileNamesDialog(window, TableKind::Pictures, QStringLiteral("Form8"), table) {}

TForm16::TForm16(QWidget* window, CollectionTable& table)
    : FileNamesDialog(window, TableKind::Sounds, QStringLiteral("Form16"), table) {}

TForm24::TForm24(QWidget* window, CollectionTable& table)
    : FileNamesDialog(window, TableKind::Videos, QStringLiteral("Form24"), table) {}

TForm31::TForm31(QWidget* window, CollectionTable& table)
    : FileNamesDialog(window, TableKind::Texts, QStringLiteral("Form31"), table) {}

} // namespace skarvel
