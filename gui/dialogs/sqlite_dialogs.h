#pragma once
// SQLite export dialogs: write a collection into a database table.
#include "gui/dialogs/save_dialogs.h"
#include "sqlite_export/sqlite_export.h"

#include <memory>

namespace skarvel {

// A dialog that opens an export database, prepares its table and starts the job
// that fills it. Each export has a session of its own, so a stopped job still
// committing its rows never shares a connection with the next export.
class SqliteDialog : public ExportDialog {
    Q_OBJECT
public:
    SqliteDialog(QWidget* window, const QString& objectName, const QString& caption, ExportJobControl& job,
                 ExportFolderSetting& folder, const QString& defaultTable, DropStyle dropStyle);

    QPushButton* BitBtn1 = nullptr;            // Export to SQLite
    int busyTimeoutMs = kDefaultBusyTimeoutMs; // of the connection each export opens

public slots:
    void BitBtn1Click();
    // The table-name field on leaving it: letters and digits only, the default when none are left.
    void TableNameExit();

protected:
    // Wires the SQLite properties and adds them, the progress bar and the buttons under the dialog's own
    // fields.
    void finishLayout(QBoxLayout* layout, QLineEdit* tableName, QCheckBox* dropBox, QCheckBox* overwriteBox,
                      QPushButton* cancel);

private:
    QString m_defaultTable;
    DropStyle m_dropStyle;
    QLineEdit* m_tableName = nullptr;
    QCheckBox* m_dropBox = nullptr;
    QCheckBox* m_overwriteBox = nullptr;
};

class TForm10 : public SqliteDialog {
    Q_OBJECT
public:
    TForm10(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder,
            const PictureTypesSetting& types);
    ImagesTransformGroup* transformGroup = nullptr;
    QLineEdit* Edit3 = nullptr;     // Table name
    QCheckBox* CheckBox2 = nullptr; // Drop table if exists
    QCheckBox* CheckBox3 = nullptr; // Overwrite database file if exists
    QPushButton* BitBtn3 = nullptr; // Cancel

protected:
    void addRunValues(ExportRun& run) const override;

private:
    const PictureTypesSetting& m_types;
};

// The sound, video and text export dialogs.
class FileSqliteDialog : public SqliteDialog {
    Q_OBJECT
public:
    // listLabel empty: the dialog has no format list.
    FileSqliteDialog(QWidget* window, const QString& objectName, const QString& caption,
                     ExportJobControl& job, ExportFolderSetting& folder, const QString& listLabel,
                     const QString& defaultTable, DropStyle dropStyle);
    QComboBox* ComboBox1 = nullptr; // nullptr on the text dialog
    QLineEdit* Edit1 = nullptr;     // Table name
    QCheckBox* CheckBox1 = nullptr; // Drop table if exists
    QCheckBox* CheckBox2 = nullptr; // Overwrite database file if exists
    QPushButton* BitBtn2 = nullptr; // Cancel

protected:
    void addRunValues(ExportRun& run) const override;
};

class TForm18 : public FileSqliteDialog {
    Q_OBJECT
public:
    TForm18(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder);
};

class TForm26 : public FileSqliteDialog {
    Q_OBJECT
public:
    TForm26(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder);
};

class TForm33 : public FileSqliteDialog {
    Q_OBJECT
public:
    TForm33(QWidget* window, ExportJobControl& job, ExportFolderSetting& folder);
};

} // namespace skarvel
