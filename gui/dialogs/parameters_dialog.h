#pragma once
#include "gui/dialog_base.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace skarvel {

class PictureTypesSetting;
class WorkFolderSetting;

// "Parameters": the work folder and the picture types.
class TForm13 : public SkarvelDialog {
    Q_OBJECT
public:
    TForm13(QWidget* window, WorkFolderSetting& workFolder, PictureTypesSetting& pictureTypes);
    QLineEdit* Edit1;
    QCheckBox* CheckBox1; // Modern picture types (WebP, AVIF, SVG)
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
    PictureTypesSetting& m_pictureTypes;
};

} // namespace skarvel
