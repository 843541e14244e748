#pragma once
// Text selection: the extraction rules of the text collection.
#include "gui/dialog_base.h"
#include "rules/file_name_rules.h"
#include "rules/text_rules.h"

#include <QTableWidget>

#include <functional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QPlainTextEdit;
class QPushButton;

namespace skarvel {

class CollectionTable;
class TextTabView;

// The whole text of a memo with CR LF line breaks and every character kept as
// it stands (QPlainTextEdit::toPlainText would turn no-break spaces into spaces).
QString MemoPageText(const QPlainTextEdit* memo);

// A two-column (From, To) replacement grid whose header row has no captions.
class ReplacementGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit ReplacementGrid(QWidget* parent = nullptr);
    std::vector<ReplacePair> Rows() const;
    void SetRows(const std::vector<ReplacePair>& rows);
    // Writes the text of an open cell editor into its cell and closes the editor.
    void CommitEditor();

signals:
    void keyDown(int key);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class TForm30 : public SkarvelDialog {
    Q_OBJECT
public:
    // showPreview: opens "Text preview" (made after this dialog).
    TForm30(QWidget* window, CollectionTable& texts, TextTabView& tab, std::function<void()> showPreview);

    // The rules as the controls hold them now.
    TextRules Rules() const;

    // Group "Text"
    QGroupBox* GroupBox1;
    QPlainTextEdit* Memo1; // block begins
    QCheckBox* CheckBox1;
    QPlainTextEdit* Memo2; // block ends
    QCheckBox* CheckBox2;
    ReplacementGrid* StringGrid1;
    QPlainTextEdit* Memo5; // delete lines containing
    QGroupBox* RadioGroup1;
    QButtonGroup* RadioGroup1Items; // ids: TextRules::No, All, DoubleAndMore
    QCheckBox* CheckBox3;
    // Group "Header"
    QGroupBox* GroupBox2;
    QPlainTextEdit* Memo3;
    QCheckBox* CheckBox4;
    QPlainTextEdit* Memo4;
    QCheckBox* CheckBox5;
    QCheckBox* CheckBox6;

    QPushButton* BitBtn1; // Apply selection
    QPushButton* BitBtn2; // Preview
    QPushButton* BitBtn3; // Default values
    QPushButton* BitBtn4; // Close

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void StringGrid1Exit();
    void StringGrid1KeyDown(int key);

private:
    void tidyReplacements();

    CollectionTable& m_texts;
    TextTabView& m_tab;
    std::function<void()> m_showPreview;
};

} // namespace skarvel
