#pragma once
#include "gui/dialog_base.h"

class QLineEdit;
class QPushButton;

namespace skarvel {

class WorkFolderSetting;

// "Parameters": the work folder.
class TForm13 : public SkarvelDialog {
    Q_OBJECT
public:
    TForm13(QWidget* window, WorkFolderSetting& workFolder);
    QLineEdit* Edit1;
    QPushButton* BitBtn1; // Select
    QPushButton* BitBtn2; // Temp
    QPushButton* BitBtn3; // Save changes
    QPushButton* BitBtn4; // Cancel

public slots:
    void FormShow();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    WorkFolderSetting& m_workFolder;
};

} // namespace skarvel
