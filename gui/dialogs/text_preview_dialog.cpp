#include "gui/dialogs/text_preview_dialog.h"

#include "gui/dialogs/text_selection_dialog.h"
#include "gui/image_list.h"
#include "gui/window_interfaces.h"
#include "rules/text_rules.h"
#include "tables/collection_tables.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace skarvel {

TForm37::TForm37(QWidget* window, const CollectionTable& texts, TextTabView& tab, const TForm30& selection)
    : SkarvelDialog(window, QStringLiteral("Form37"), QStringLiteral("Text preview"), false), m_texts(texts),
      m_tab(tab), m_selection(selection) {
    Edit1 = MakeNamed<QLineEdit>(QStringLiteral("Edit1"), this);
    Memo1 = MakeNamed<QPlainTextEdit>(QStringLiteral("Memo1"), this);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    const std::pair<QPushButton**, const char*> buttons[] = {{&BitBtn1, "First"},
                                                             {&BitBtn2, "Previous"},
                                                             {&BitBtn3, "Next"},
                                                             {&BitBtn4, "Last"},
                                                             {&BitBtn5, "Close"}};
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    int number = 1;
    for (const auto& [button, caption] : buttons) {
        auto* b = MakeNamed<QPushButton>(QStringLiteral("BitBtn%1").arg(number++), this,
                                         QString::fromLatin1(caption));
        // Enter in the memo must not step through the pages.
        b->setAutoDefault(false);
        buttonRow->addWidget(b);
        *button = b;
    }
    SetGlyph(BitBtn1, Glyph::First);
    SetGlyph(BitBtn2, Glyph::Previous);
    SetGlyph(BitBtn3, Glyph::Next);
    SetGlyph(BitBtn4, Glyph::Last);
    SetGlyph(BitBtn5, Glyph::Cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Header"), this));
    layout->addWidget(Edit1);
    layout->addWidget(new QLabel(QStringLiteral("Text"), this));
    layout->addWidget(Memo1, 1);
    layout->addLayout(buttonRow);
    resize(640, 480);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm37::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm37::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm37::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm37::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm37::BitBtn5Click);
}

void TForm37::showEvent(QShowEvent* event) {
    FormShow();
    SkarvelDialog::showEvent(event);
}

void TForm37::FormShow() {
    Show1Click();
}

void TForm37::Show1Click() {
    // The memo as it stands, also when typed into by hand or cleaned by "Apply selection".
    const TextResult result = ApplyTextRules(m_tab.shownPage(), m_selection.Rules());
    Memo1->setPlainText(result.text);
    Edit1->setText(result.header);
}

void TForm37::moveTo(int row) {
    m_tab.openRow(row);
    Show1Click();
}

void TForm37::BitBtn1Click() {
    moveTo(1);
}

void TForm37::BitBtn2Click() {
    const int row = m_tab.currentRow();
    if (row > 1)
        moveTo(row - 1);
}

void TForm37::BitBtn3Click() {
    const int row = m_tab.currentRow();
    if (row < m_texts.gridRowCount() - 1)
        moveTo(row + 1);
}

void TForm37::BitBtn4Click() {
    moveTo(m_texts.gridRowCount() - 1);
}

void TForm37::BitBtn5Click() {
    close();
}

} // namespace skarvel
