#include "gui/thumbnail_grid.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace skarvel {

ThumbnailGrid::ThumbnailGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void ThumbnailGrid::setColCount(int cols) {
    m_cols = std::max(cols, 1);
    m_col = std::min(m_col, m_cols - 1);
    updateScrollBars();
    viewport()->update();
}

void ThumbnailGrid::setRowCount(int rows) {
    m_rows = std::max(rows, 1);
    m_row = std::min(m_row, m_rows - 1);
    updateScrollBars();
    viewport()->update();
}

void ThumbnailGrid::setCurrent(int col, int row) {
    m_col = std::clamp(col, 0, m_cols - 1);
    m_row = std::clamp(row, 0, m_rows - 1);
    const int top = m_row * kCellSize;
    if (top < verticalScrollBar()->value())
        verticalScrollBar()->setValue(top);
    else if (top + kCellSize > verticalScrollBar()->value() + viewport()->height())
        verticalScrollBar()->setValue(top + kCellSize - viewport()->height());
    viewport()->update();
}

QPoint ThumbnailGrid::cellAt(const QPoint& pos) const {
    const int x = pos.x() + horizontalScrollBar()->value();
    const int y = pos.y() + verticalScrollBar()->value();
    if (x < 0 || y < 0)
        return {-1, -1};
    const int c = x / kCellSize;
    const int r = y / kCellSize;
    if (c >= m_cols || r >= m_rows)
        return {-1, -1};
    return {c, r};
}

QRect ThumbnailGrid::cellRect(int col, int row) const {
    return QRect(col * kCellSize - horizontalScrollBar()->value(),
                 row * kCellSize - verticalScrollBar()->value(), kCellSize, kCellSize);
}

void ThumbnailGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect dirty = event->rect();
    const int firstRow = std::max(0, (dirty.top() + verticalScrollBar()->value()) / kCellSize);
    const int lastRow = std::min(m_rows - 1, (dirty.bottom() + verticalScrollBar()->value()) / kCellSize);
    const int firstCol = std::max(0, (dirty.left() + horizontalScrollBar()->value()) / kCellSize);
    const int lastCol = std::min(m_cols - 1, (dirty.right() + horizontalScrollBar()->value()) / kCellSize);
    for (int r = firstRow; r <= lastRow; ++r)
        for (int c = firstCol; c <= lastCol; ++c) {
            const QRect rect = cellRect(c, r);
            if (drawCell)
                drawCell(painter, c, r, rect);
            if (c == m_col && r == m_row && hasFocus()) {
                painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
                painter.drawRect(rect.adjusted(0, 0, -1, -1));
            }
        }
}

void ThumbnailGrid::mousePressEvent(QMouseEvent* event) {
    const QPoint cell = cellAt(event->position().toPoint());
    if (cell.x() < 0)
        return;
    m_col = cell.x();
    m_row = cell.y();
    viewport()->update();
    emit cellClicked();
}

void ThumbnailGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint cell = cellAt(event->position().toPoint());
    if (cell.x() < 0)
        return;
    m_col = cell.x();
    m_row = cell.y();
    emit cellDoubleClicked();
}

void ThumbnailGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ThumbnailGrid::updateScrollBars() {
    verticalScrollBar()->setRange(0, std::max(0, m_rows * kCellSize - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(kCellSize / 4);
    horizontalScrollBar()->setRange(0, std::max(0, m_cols * kCellSize - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

} // namespace skarvel
