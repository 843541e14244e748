#include "gui/image_list.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace skarvel {

namespace {

QPixmap draw(Glyph glyph) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    auto pen = [&](QColor c, qreal w = 1.6) {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    };
    switch (glyph) {
    case Glyph::SourceList:
        pen(QColor(40, 90, 160));
        for (int y : {4, 8, 12})
            p.drawLine(6, y, 14, y);
        p.setBrush(QColor(220, 120, 30));
        p.drawEllipse(QPointF(3, 4), 1.5, 1.5);
        p.drawEllipse(QPointF(3, 8), 1.5, 1.5);
        p.drawEllipse(QPointF(3, 12), 1.5, 1.5);
        break;
    case Glyph::Download: {
        pen(QColor(30, 140, 60), 2);
        p.drawLine(8, 2, 8, 10);
        p.drawLine(4, 7, 8, 11);
        p.drawLine(12, 7, 8, 11);
        pen(QColor(60, 60, 60), 1.5);
        p.drawLine(2, 14, 14, 14);
        break;
    }
    case Glyph::Save:
        p.setBrush(QColor(50, 90, 170));
        pen(QColor(20, 40, 90), 1);
        p.drawRoundedRect(QRectF(2, 2, 12, 12), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5, 3, 6, 4));
        p.drawRect(QRectF(4, 10, 8, 4));
        break;
    case Glyph::Database:
        p.setBrush(QColor(200, 150, 40));
        pen(QColor(110, 80, 10), 1);
        p.drawRect(QRectF(3, 4, 10, 9));
        p.drawEllipse(QRectF(3, 11, 10, 4));
        p.drawEllipse(QRectF(3, 2, 10, 4));
        break;
    case Glyph::Apply:
        pen(QColor(20, 150, 40), 2.4);
        p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 3)}));
        break;
    case Glyph::Defaults:
        pen(QColor(90, 90, 200), 2);
        p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 280 * 16);
        p.drawLine(QPointF(11, 2), QPointF(12, 5));
        break;
    case Glyph::Preview:
        pen(QColor(40, 40, 40), 1.3);
        p.drawEllipse(QRectF(1.5, 4.5, 13, 7));
        p.setBrush(QColor(40, 110, 200));
        p.drawEllipse(QPointF(8, 8), 2.5, 2.5);
        break;
    case Glyph::Cancel:
        pen(QColor(200, 40, 40), 2.4);
        p.drawLine(4, 4, 12, 12);
        p.drawLine(12, 4, 4, 12);
        break;
    case Glyph::Folder:
        p.setBrush(QColor(240, 200, 80));
        pen(QColor(150, 110, 20), 1);
        p.drawPolygon(QPolygonF(
            {QPointF(1, 4), QPointF(6, 4), QPointF(7, 6), QPointF(15, 6), QPointF(14, 14), QPointF(2, 14)}));
        break;
    case Glyph::TempFolder:
        pen(QColor(60, 60, 60), 1.3);
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(8, 8, 8, 4);
        p.drawLine(8, 8, 11, 9);
        break;
    case Glyph::First:
    case Glyph::Previous:
    case Glyph::Next:
    case Glyph::Last: {
        p.setBrush(QColor(40, 100, 180));
        p.setPen(Qt::NoPen);
        const bool back = glyph == Glyph::First || glyph == Glyph::Previous;
        const bool bar = glyph == Glyph::First || glyph == Glyph::Last;
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
        m_images.push_back(draw(Glyph(i)));
}

QPixmap ImageList::image(Glyph glyph) const {
    const int index = int(glyph);
    if (index < 0 || index >= count())
        return {};
    return m_images[size_t(index)];
}

void ImageList::applyGlyphs(QWidget* root) const {
    const auto buttons = root->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons) {
        const QVariant glyph = b->property("glyph");
        if (glyph.isValid())
            b->setIcon(QIcon(image(Glyph(glyph.toInt()))));
    }
}

void SetGlyph(QObject* button, Glyph glyph) {
    button->setProperty("glyph", int(glyph));
}

} // namespace skarvel
