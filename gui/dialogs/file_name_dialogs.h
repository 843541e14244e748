#pragma once
// File name dialogs: compute the Export name of every row.
#include "tables/collection_tables.h"
#include "gui/dialog_base.h"
#include "rules/file_name_rules.h"

#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace skarvel {

// What the four "File names" dialogs share; each dialog is given its table.
class FileNamesDialog : public SkarvelDialog {
    Q_OBJECT
public:
    FileNamesDialog(QWidget* window, TableKind kind, const QString& objectName, CollectionTable& table);
    ~FileNamesDialog() override;

    TableKind Kind() const { return m_kind; }
    // The control values as the rules take them.
    FileNameSettings Settings() const;
    // The data rows of the Replaces grid, in order, as (From, To).
    std::vector<ReplacePair> ReplaceRows() const;

    QComboBox* ComboBox1 = nullptr;      // Use
    QComboBox* ComboBox2 = nullptr;      // Register
    QLineEdit* Edit1 = nullptr;          // Max length
    QTableWidget* StringGrid1 = nullptr; // Replaces; its header row is the grid's row 0
    QPushButton* BitBtn1 = nullptr;      // Apply new file names
    QPushButton* BitBtn2 = nullptr;      // Close

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    void Edit1Exit();
    void StringGrid1Exit();
    // key: the key code, 13 for Enter.
    void StringGrid1KeyDown(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void focusChanged(QWidget* old, QWidget* now);
    bool insideGrid(const QWidget* widget) const;
    void setReplaceRows(const std::vector<ReplacePair>& rows);

    TableKind m_kind;
    CollectionTable& m_table;
};

class TForm8 : public FileNamesDialog {
    Q_OBJECT
public:
    TForm8(QWidget* window, CollectionTable& table);
};

class TForm16 : public FileNamesDialog {
    Q_OBJECT
public:
    TForm16(QWidget* window, CollectionTable& table);
};

class TForm24 : public FileNamesDialog {
    Q_OBJECT
public:
    TForm24(QWidget* window, CollectionTable& table);
};

class TForm31 : public FileNamesDialog {
    Q_OBJECT
public:
    TForm31(QWidget* window, CollectionTable& table);
};

} // namespace skarvel
