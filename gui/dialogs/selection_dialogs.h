#pragma once
// Selection dialogs: narrow a media table by bounds and types.
#include "tables/collection_tables.h"
#include "gui/dialog_base.h"
#include "rules/selection_rules.h"

#include <array>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace skarvel {

// What the picture, sound and video selection dialogs share; each dialog names
// its table, its download job and what follows a selection.
class SelectionDialog : public SkarvelDialog {
    Q_OBJECT
public:
    SelectionDialog(TForm1* form1, TableKind kind, const QString& objectName, const QString& caption);

    TableKind Kind() const { return m_kind; }
    // The control values as the rules take them.
    SelectionSettings Settings() const;

    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;               // nullptr in the videos dialog
    QLineEdit* Edit4 = nullptr;               // nullptr in the videos dialog
    std::vector<QCheckBox*> typeBoxes;        // CheckBox1 ... in the order of SelectionTypeBoxes
    QCheckBox* deleteEmptyLinesBox = nullptr; // CheckBox4 (pictures) or CheckBox5
    QPushButton* BitBtn1 = nullptr;           // Apply selection
    QPushButton* BitBtn2 = nullptr;           // Default values

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    void Edit1Exit();
    void Edit2Exit();
    void Edit3Exit();
    void Edit4Exit();

protected:
    virtual CollectionTable* Table() const = 0;
    // False while the table's download job runs: its steps write the same cells.
    virtual bool DownloadSuspended() const = 0;
    virtual void SelectionApplied() {}

private:
    void normalise(BoundField field);

    TableKind m_kind;
    std::array<QLineEdit*, 4> m_bounds{}; // by BoundField
};

class TForm7 : public SelectionDialog {
    Q_OBJECT
public:
    explicit TForm7(TForm1* form1);

protected:
    CollectionTable* Table() const override;
    bool DownloadSuspended() const override;
    void SelectionApplied() override;
};

class TForm15 : public SelectionDialog {
    Q_OBJECT
public:
    explicit TForm15(TForm1* form1);

protected:
    CollectionTable* Table() const override;
    bool DownloadSuspended() const override;
};

class TForm23 : public SelectionDialog {
    Q_OBJECT
public:
    explicit TForm23(TForm1* form1);

protected:
    CollectionTable* Table() const override;
    bool DownloadSuspended() const override;
};

} // namespace skarvel
