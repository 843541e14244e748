#pragma once
// Text preview: the extraction rules applied to one page, nothing written.
#include "gui/dialog_base.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace skarvel {

class CollectionTable;
class TextTabView;
class TForm30;

class TForm37 : public SkarvelDialog {
    Q_OBJECT
public:
    // selection: the "Text selection" dialog whose rules the preview applies.
    TForm37(QWidget* window, const CollectionTable& texts, TextTabView& tab, const TForm30& selection);

    QLineEdit* Edit1;      // header
    QPlainTextEdit* Memo1; // text
    QPushButton* BitBtn1;  // First
    QPushButton* BitBtn2;  // Previous
    QPushButton* BitBtn3;  // Next
    QPushButton* BitBtn4;  // Last
    QPushButton* BitBtn5;  // Close

public slots:
    void FormShow();
    void Show1Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void moveTo(int row);

    const CollectionTable& m_texts;
    TextTabView& m_tab;
    const TForm30& m_selection;
};

} // namespace skarvel
