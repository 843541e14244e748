#pragma once
// The fourteen 16 x 16 button pictures, drawn once when the list is made.
#include <QIcon>
#include <QObject>
#include <QPixmap>

#include <vector>

class QWidget;

namespace skarvel {

class ImageList : public QObject {
    Q_OBJECT
public:
    explicit ImageList(QObject* parent);
    static constexpr int kCount = 14;
    int count() const { return int(m_images.size()); }
    QPixmap image(int index) const;

    // Gives every button under root whose "glyph" property holds an index its picture.
    void applyGlyphs(QWidget* root) const;

private:
    std::vector<QPixmap> m_images;
};

// Marks a button with the index of its picture; the pictures are loaded later.
void SetGlyph(QObject* button, int index);

} // namespace skarvel
