#pragma once
// An owner-drawn grid of fixed 100 x 100 cells without fixed rows or columns.
// It holds no data: every paint asks drawCell for the cell's picture.
#include <QAbstractScrollArea>

#include <functional>

namespace skarvel {

class ThumbnailGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ThumbnailGrid(QWidget* parent = nullptr);

    static constexpr int kCellSize = 100;

    int colCount() const { return m_cols; }
    int rowCount() const { return m_rows; }
    void setColCount(int cols);
    void setRowCount(int rows);
    int col() const { return m_col; }
    int row() const { return m_row; }
    // Selects a cell (clamped to the grid) and scrolls it into view.
    void setCurrent(int col, int row);

    // Paints one cell; called for every visible cell on every paint.
    std::function<void(QPainter&, int col, int row, const QRect& rect)> drawCell;

    // Cell under a point of the viewport, or (-1, -1).
    QPoint cellAt(const QPoint& viewportPos) const;
    // Rectangle of a cell in viewport coordinates.
    QRect cellRect(int col, int row) const;

signals:
    void cellClicked();
    void cellDoubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateScrollBars();
    int m_cols = 1;
    int m_rows = 1;
    int m_col = 0;
    int m_row = 0;
};

} // namespace skarvel
