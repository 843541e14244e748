#pragma once
// Selection dialogs: narrow a media table by bounds and types.
#include "tables/collection_tables.h"
#include "gui/dialog_base.h"
#include "rules/selection_rules.h"

#include <array>
#include <functional>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace skarvel {

class JobControl;

// What the picture, sound and video selection dialogs share; each dialog is
// given its table, the table's download job and what follows a selection.
class SelectionDialog : public SkarvelDialog {
    Q_OBJECT
public:
    // download: while it runs no selection applies, as its steps write the same cells.
    SelectionDialog(QWidget* window, TableKind kind, const QString& objectName, const QString& caption,
                    CollectionTable& table, const JobControl& download, std::function<void()> applied = {});

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

private:
    void normalise(BoundField field);

    TableKind m_kind;
    CollectionTable& m_table;
    const JobControl& m_download;
    std::function<void()> m_applied;
    std::array<QLineEdit*, 4> m_bounds{}; // by BoundField
};

class TForm7 : public SelectionDialog {
    Q_OBJECT
public:
    // applied: the thumbnails follow the table.
    TForm7(QWidget* window, CollectionTable& table, const JobControl& download,
           std::function<void()> applied);
};

class TForm15 : public SelectionDialog {
    Q_OBJECT
public:
    TForm15(QWidget* window, CollectionTable& table, const JobControl& download);
};

class TForm23 : public SelectionDialog {
    Q_OBJECT
public:
    TForm23(QWidget* window, CollectionTable& table, const JobControl& download);
};

} // namespace skarvel
