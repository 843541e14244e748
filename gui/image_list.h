#pragma once
// The fourteen 16 x 16 button pictures, drawn once when the list is made.
#include <QIcon>
#include <QObject>
#include <QPixmap>

#include <vector>

class QWidget;

namespace skarvel {

// The pictures of the list, by what they show; the value is the picture's index in the list.
enum class Glyph {
    SourceList, // lines with bullets: a list from source pages
    Download,   // an arrow onto a tray
    Save,       // a floppy disk
    Database,   // a cylinder
    Apply,      // a check mark
    Defaults,   // a circular arrow
    Preview,    // an eye
    Cancel,     // a red cross: cancel or close
    Folder,     // an open folder: choose a folder
    TempFolder, // a clock: the temporary folder
    First,
    Previous,
    Next,
    Last,
};

class ImageList : public QObject {
    Q_OBJECT
public:
    explicit ImageList(QObject* parent);
    static constexpr int kCount = int(Glyph::Last) + 1;
    int count() const { return int(m_images.size()); }
    QPixmap image(Glyph glyph) const;

    // Gives every button under root whose "glyph" property holds an index its picture.
    void applyGlyphs(QWidget* root) const;

private:
    std::vector<QPixmap> m_images;
};

// Marks a button with its picture (its index, as the "glyph" property); the pictures are loaded later.
void SetGlyph(QObject* button, Glyph glyph);

} // namespace skarvel
