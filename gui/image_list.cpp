#include "gui/image_list.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace skarvel {

namespace {

QPixmap draw(int index) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    auto pen = [&](QColor c, qreal w = 1.6) {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    };
    switch (index) {
    case 0: // list from source pages: lines with a bullet
        pen(QColor(40, 90, 160));
        for (int y : {4, 8, 12})
            p.drawLine(6, y, 14, y);
        p.setBrush(QColor(220, 120, 30));
        p.drawEllipse(QPointF(3, 4), 1.5, 1.5);
        p.drawEllipse(QPointF(3, 8), 1.5, 1.5);
        p.drawEllipse(QPointF(3, 12), 1.5, 1.5);
        break;
    case 1: { // download: arrow down onto a tray
        pen(QColor(30, 140, 60), 2);
        p.drawLine(8, 2, 8, 10);
        p.drawLine(4, 7, 8, 11);
        p.drawLine(12, 7, 8, 11);
        pen(QColor(60, 60, 60), 1.5);
        p.drawLine(2, 14, 14, 14);
        break;
    }
    case 2: // save: a floppy disk
        p.setBrush(QColor(50, 90, 170));
        pen(QColor(20, 40, 90), 1);
        p.drawRoundedRect(QRectF(2, 2, 12, 12), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5, 3, 6, 4));
        p.drawRect(QRectF(4, 10, 8, 4));
        break;
    case 3: // database: a cylinder
        p.setBrush(QColor(200, 150, 40));
        pen(QColor(110, 80, 10), 1);
        p.drawRect(QRectF(3, 4, 10, 9));
        p.drawEllipse(QRectF(3, 11, 10, 4));
        p.drawEllipse(QRectF(3, 2, 10, 4));
        break;
    case 4: // apply: a check mark
        pen(QColor(20, 150, 40), 2.4);
        p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 3)}));
        break;
    case 5: // default values: a circular arrow
        pen(QColor(90, 90, 200), 2);
        p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 280 * 16);
        p.drawLine(QPointF(11, 2), QPointF(12, 5));
        break;
    case 6: // preview: an eye
        pen(QColor(40, 40, 40), 1.3);
        p.drawEllipse(QRectF(1.5, 4.5, 13, 7));
        p.setBrush(QColor(40, 110, 200));
        p.drawEllipse(QPointF(8, 8), 2.5, 2.5);
        break;
    case 7: // cancel / close: a red cross
        pen(QColor(200, 40, 40), 2.4);
        p.drawLine(4, 4, 12, 12);
        p.drawLine(12, 4, 4, 12);
        break;
    case 8: // select: an open folder
        p.setBrush(QColor(240, 200, 80));
        pen(QColor(150, 110, 20), 1);
        p.drawPolygon(QPolygonF(
            {QPointF(1, 4), QPointF(6, 4), QPointF(7, 6), QPointF(15, 6), QPointF(14, 14), QPointF(2, 14)}));
        break;
    case 9: // temp: a clock
        pen(QColor(60, 60, 60), 1.3);
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(8, 8, 8, 4);
        p.drawLine(8, 8, 11, 9);
        break;
    default: { // 10..13: first, previous, next, last
        p.setBrush(QColor(40, 100, 180));
        p.setPen(Qt::NoPen);
        const bool back = index == 10 || index == 11;
        const bool bar = index == 10 || index == 13;
        QPolygonF tri = back ? QPolygonF({QPointF(12, 3), QPointF(12, 13), QPointF(5, 8)})
                             : QPolygonF({QPointF(4, 3), QPointF(4, 13), QPointF(11, 8)});
        p.drawPolygon(tri);
        if (bar)
            p.drawRect(back ? QRectF(2, 3, 2, 10) : QRectF(12, 3, 2, 10));
        break;
    }
    }
    return pm;
}

} // namespace

ImageList::ImageList(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("ImageList1"));
    for (int i = 0; i < kCount; ++i)
        m_images.push_back(draw(i));
}

QPixmap ImageList::image(int index) const {
    if (index < 0 || index >= count())
        return {};
    return m_images[size_t(index)];
}

void ImageList::applyGlyphs(QWidget* root) const {
    const auto buttons = root->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons) {
        const QVariant glyph = b->property("glyph");
        if (glyph.isValid())
            b->setIcon(QIcon(image(glyph.toInt())));
    }
}

void SetGlyph(QObject* button, int index) {
    button->setProperty("glyph", index);
}

} // namespace skarvel
