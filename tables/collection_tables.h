#pragma once
// The collection tables: grids of text cells. Row 0 is the header row, data
// rows start at 1, column 0 holds the row number. An empty table is exactly
// one blank data row. The model holds the cells; views only show them.
#include "tables/content_fingerprint.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace skarvel {

enum class TableKind { Pictures, Sounds, Videos, Texts, Files };

struct ColumnSpec {
    QString header;
    int width = 64; // pixels; the default width of a grid column
};

// Headers and widths of each collection table, column 0 (the numero sign) first.
std::vector<ColumnSpec> tableColumns(TableKind kind);

// Status words of column 1.
inline const QString kStatusOK = QStringLiteral("OK");
inline const QString kStatusBroken = QStringLiteral("Broken");
inline const QString kStatusDownloadError = QStringLiteral("Download error");
inline const QString kStatusError = QStringLiteral("Error");

// Column numbers shared by several Parts of the program.
namespace col {
inline constexpr int Number = 0;
inline constexpr int Status = 1;
inline constexpr int Url = 2;
inline constexpr int LocalPath = 3;
// picture table
inline constexpr int Width = 4;
inline constexpr int Height = 5;
inline constexpr int PicExportName = 6;
inline constexpr int PicOriginalName = 7;
inline constexpr int Alt = 8;
inline constexpr int Title = 9;
inline constexpr int PicParent = 10;
// sound and video tables
inline constexpr int Size = 4;
inline constexpr int Duration = 5;
inline constexpr int MediaExportName = 6;
inline constexpr int MediaOriginalName = 7;
inline constexpr int MediaParent = 8;
// text table
inline constexpr int TextSize = 4;
inline constexpr int TextExportName = 5;
inline constexpr int TextOriginalName = 6;
inline constexpr int Header = 7;
// file table
inline constexpr int FileName = 3;
inline constexpr int FileSize = 4;
} // namespace col

// A data row's identity: it stays with the row's cells when other rows are
// removed, so work taken from a row can find the row again. Ids grow in row
// order (rows are only ever added at the end); 0 names no row.
using RowId = quint64;

class CollectionTable : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CollectionTable(TableKind kind, QObject* parent = nullptr);

    TableKind kind() const { return m_kind; }

    // Grid view of the table: rows counted with the header row.
    int gridRowCount() const { return int(m_rows.size()) + 1; }
    int colCount() const { return m_columnCount; }
    // Sets the row count (header included, at least 2); new rows are blank.
    void setGridRowCount(int count);
    // Cell text; row 0 is the header. Out-of-range reads give "".
    QString cell(int column, int row) const;
    // Writes a cell; out-of-range writes are ignored (a job never writes past the last row).
    // Writing the Status cell drops the row's failure reason.
    void setCell(int column, int row, const QString& text);
    // Writes a whole data row (columns 0 to colCount-1; missing columns become "").
    // The row keeps its identity and loses its failure reason.
    void setRow(int row, const QStringList& cells);

    // Identity of data row `row`; 0 when out of range.
    RowId rowId(int row) const;
    // Ids of data rows 1 to count (fewer when the table has fewer rows).
    std::vector<RowId> rowIds(int count) const;
    // The data row that now holds id; 0 when that row has been removed.
    int rowOf(RowId id) const;

    // Status word and why the item failed (HTTP status, time-out, decode or
    // write error); the reason is the Status cell's tooltip.
    void setStatus(int row, const QString& word, const QString& reason = {});
    QString statusReason(int row) const;

    // What the row's local file holds, when some step has read it; it moves with the row and
    // goes when the row is rewritten whole.
    void setFingerprint(int row, std::shared_ptr<const ContentFingerprint> fingerprint);
    std::shared_ptr<const ContentFingerprint> fingerprint(int row) const;

    // Two rows, row 1 all blank (column 0 too).
    void clearToOneEmptyRow();
    // Row count 2 and the URL cell of row 1 empty.
    bool isEmptyTable() const;

    // Removes data row r: columns 1 to last of the rows below move up by one
    // (column 0 stays, so the numbers keep their order); a sole data row is
    // blanked instead. Rows out of range are ignored.
    void removeDataRow(int row);
    // Removes several data rows with the same rule, in one pass.
    void removeDataRows(std::vector<int> rows);

    void setEditable(bool editable) { m_editable = editable; }
    bool isEditable() const { return m_editable; }

    // QAbstractTableModel: model row k is data row k + 1.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    TableKind m_kind;
    int m_columnCount;
    bool m_editable = true;
    QStringList m_headers;
    void appendFreshIds(size_t count);

    // Column 0 of each data row, kept apart: it never moves when rows are removed.
    std::vector<QString> m_numbers;
    // Columns 1 to last of each data row.
    std::vector<std::vector<QString>> m_rows;
    // Per data row, moving with columns 1 to last: identity, failure reason, fingerprint.
    std::vector<RowId> m_ids;
    std::vector<QString> m_reasons;
    std::vector<std::shared_ptr<const ContentFingerprint>> m_fingerprints;
    RowId m_lastId = 0;
};

} // namespace skarvel
