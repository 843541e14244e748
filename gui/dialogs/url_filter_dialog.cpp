#include "gui/dialogs/url_filter_dialog.h"

#include "gui/image_list.h"
#include "gui/jobs/window_adapters.h"
#include "rules/url_filter.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace skarvel {

TForm36::TForm36(QWidget* window, QPlainTextEdit& urls)
    : SkarvelDialog(window, QStringLiteral("Form36"), QStringLiteral("URLs filter")), m_urls(urls) {
    setMinimumSize(308, 160);
    Label1 = MakeNamed<QLabel>(QStringLiteral("Label1"), this, QStringLiteral("Contains"));
    Edit1 = MakeNamed<QLineEdit>(QStringLiteral("Edit1"), this);
    Label2 = MakeNamed<QLabel>(QStringLiteral("Label2"), this, QStringLiteral("Not contains"));
    Edit2 = MakeNamed<QLineEdit>(QStringLiteral("Edit2"), this);
    Label1->setBuddy(Edit1);
    Label2->setBuddy(Edit2);

    BitBtn1 = MakeNamed<QPushButton>(QStringLiteral("BitBtn1"), this, QStringLiteral("Apply"));
    BitBtn3 = MakeNamed<QPushButton>(QStringLiteral("BitBtn3"), this, QStringLiteral("Close"));
    // Enter in a field must not close the dialog through a default button.
    BitBtn1->setAutoDefault(false);
    BitBtn3->setAutoDefault(false);

    auto* fields = new QGridLayout;
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(Edit1, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(Edit2, 1, 1);
    auto* buttons = MakeButtonRow({BitBtn1, BitBtn3});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addStretch(1);
    layout->addLayout(buttons);

    SetGlyph(BitBtn1, Glyph::Apply);
    SetGlyph(BitBtn3, Glyph::Cancel);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm36::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm36::BitBtn3Click);
}

void TForm36::BitBtn1Click() {
    QPlainTextEdit* list = &m_urls;
    const QStringList kept = FilterUrlLines(MemoTextLines(list), Edit1->text(), Edit2->text());
    QString text;
    for (const QString& line : kept)
        text += line + u'\n';
    // One edit of the document, so that Undo brings the list back.
    QTextCursor all(list->document());
    all.select(QTextCursor::Document);
    all.insertText(text);
}

void TForm36::BitBtn3Click() {
    close();
}

} // namespace skarvel
