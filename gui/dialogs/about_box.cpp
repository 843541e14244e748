#include "gui/dialogs/about_box.h"

#include <QCursor>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace skarvel {

int AboutPictureFor(const QPoint& cursor, const QRect& r) {
    const int column = cursor.x() < r.left() ? 0 : (cursor.x() < r.left() + r.width() ? 1 : 2);
    const int row = cursor.y() < r.top() ? 0 : (cursor.y() < r.top() + r.height() ? 1 : 2);
    return row * 3 + column + 1;
}

namespace {

// A face whose eyes look toward one of nine directions (dx, dy in -1..1).
QPixmap lookingFace(int dx, int dy) {
    QPixmap pm(100, 100);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 214, 90));
    p.setPen(QPen(QColor(150, 110, 20), 2));
    p.drawEllipse(QRectF(4, 4, 92, 92));
    for (int eye : {34, 66}) {
        p.setBrush(Qt::white);
        p.setPen(QPen(Qt::black, 1.5));
        p.drawEllipse(QPointF(eye, 40), 12, 14);
        p.setBrush(QColor(40, 60, 120));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(eye + dx * 6, 40 + dy * 7), 5.5, 5.5);
    }
    p.setPen(QPen(QColor(120, 60, 20), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(30, 50, 40, 28), 200 * 16, 140 * 16);
    return pm;
}

} // namespace

TAboutBox::TAboutBox(QWidget* window)
    : SkarvelDialog(window, QStringLiteral("AboutBox"), QStringLiteral("About program")) {
    auto* panel = MakeNamed<QFrame>(QStringLiteral("Panel1"), this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);

    auto* pictures = MakeNamed<QWidget>(QStringLiteral("ProgramIcon"), panel);
    pictures->setFixedSize(100, 100);
    for (int i = 0; i < 9; ++i) {
        auto* label = MakeNamed<QLabel>(QStringLiteral("Image%1").arg(i + 1), pictures);
        label->setGeometry(0, 0, 100, 100);
        label->setPixmap(lookingFace(i % 3 - 1, i / 3 - 1));
        label->hide();
        images[size_t(i)] = label;
    }
    auto* product = MakeNamed<QLabel>(QStringLiteral("ProductName"), panel, QStringLiteral("Skarvel"));
    QFont big = product->font();
    big.setPixelSize(20);
    big.setBold(true);
    product->setFont(big);
    auto* version = MakeNamed<QLabel>(QStringLiteral("Version"), panel, QStringLiteral("Version 1.0"));
    auto* copyright =
        new QLabel(QStringLiteral("Orvantic, 2026.\nBuilds media collections from web pages."), panel);
    copyright->setObjectName(QStringLiteral("Copyright"));
    copyright->setWordWrap(true);

    auto* text = new QVBoxLayout;
    text->addWidget(product);
    text->addWidget(version);
    text->addStretch(1);
    text->addWidget(copyright);
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->addWidget(pictures, 0, Qt::AlignTop);
    panelLayout->addLayout(text, 1);

    OKButton = MakeNamed<QPushButton>(QStringLiteral("OKButton"), this, QStringLiteral("OK"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 1);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    setMinimumSize(320, 232);

    cursorPosition = [] { return QCursor::pos(); };
    Timer1 = MakeNamed<QTimer>(QStringLiteral("Timer1"), this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TAboutBox::Timer1Timer);
    Timer1->start();
}

void TAboutBox::Timer1Timer() {
    QWidget* pictures = images[0]->parentWidget();
    const QRect rect(pictures->mapToGlobal(QPoint(0, 0)), pictures->size());
    const int shown = AboutPictureFor(cursorPosition(), rect);
    for (int i = 0; i < 9; ++i)
        images[size_t(i)]->setVisible(i + 1 == shown);
}

} // namespace skarvel
