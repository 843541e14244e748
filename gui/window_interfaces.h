#pragma once
// The few values and views of the main window that its dialogs work with, each
// behind a small interface the window implements.
#include <QString>

namespace skarvel {

// The folder shared by the save and export commands: where the chooser starts
// and what the last choice was. Ends with a separator once set.
class ExportFolderSetting {
public:
    virtual ~ExportFolderSetting() = default;
    virtual QString exportFolder() const = 0;
    virtual void setExportFolder(const QString& folder) = 0;
};

// The work folder, as the "Parameters" dialog shows and changes it.
class WorkFolderSetting {
public:
    virtual ~WorkFolderSetting() = default;
    virtual QString workFolder() const = 0;
    // The folder the "Temp" button proposes.
    virtual QString defaultWorkFolder() const = 0;
    // Makes folder the work folder and gives it its directory structure.
    virtual void applyWorkFolder(const QString& folder) = 0;
};

// Which picture types the program knows ([COMMON] MODERN_PICTURES, "Parameters"): with the modern
// types on, WebP, AVIF and SVG too.
class PictureTypesSetting {
public:
    virtual ~PictureTypesSetting() = default;
    virtual bool modernPictures() const = 0;
    virtual void setModernPictures(bool on) = 0;
};

// The texts tab as the text selection and preview dialogs use it: the current
// row of its grid and the page shown under it.
class TextTabView {
public:
    virtual ~TextTabView() = default;
    // The current data row (1-based).
    virtual int currentRow() const = 0;
    // Makes row current and shows text as its page, as "Apply selection" leaves it.
    virtual void showResult(int row, const QString& text) = 0;
    // Makes row current and shows its saved page, as a click on the row does.
    virtual void openRow(int row) = 0;
    // The shown page, every character as it stands, with CR LF line breaks.
    virtual QString shownPage() const = 0;
};

} // namespace skarvel
