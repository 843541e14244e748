#pragma once
#include "gui/dialog_base.h"

#include <QPoint>
#include <QRect>

#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace skarvel {

// Which of the nine pictures (1..9) shows for a cursor position relative to the
// pictures' rectangle: columns left/over/right, rows above/level/below.
int AboutPictureFor(const QPoint& cursor, const QRect& pictures);

class TAboutBox : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* window);
    std::array<QLabel*, 9> images{}; // Image1 .. Image9
    QPushButton* OKButton;
    QTimer* Timer1;
    // Where the cursor is, in screen coordinates (replaceable for tests).
    std::function<QPoint()> cursorPosition;

public slots:
    void Timer1Timer();
};

} // namespace skarvel
