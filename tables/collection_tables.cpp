#include "tables/collection_tables.h"

#include <algorithm>

namespace skarvel {

std::vector<ColumnSpec> tableColumns(TableKind kind) {
    const QString numero = QString(QChar(0x2116));
    switch (kind) {
    case TableKind::Pictures:
        return {{numero, 40},  {"Status", 80}, {"URL", 430},         {"Local path", 150},
                {"Width", 50}, {"Height", 50}, {"Export name", 160}, {"Original name", 160},
                {"Alt", 160},  {"Title", 160}, {"Parent", 160},      {"After", 30},
                {"Left", 30},  {"Right", 30},  {"Upper", 30}};
    case TableKind::Sounds:
        return {{numero, 40},         {"Status", 80},         {"URL", 430},
                {"Local path", 150},  {"Size", 100},          {"Duration (sec)", 100},
                {"Export name", 160}, {"Original name", 160}, {"Parent", 160}};
    case TableKind::Videos:
        return {{numero, 40},    {"Status", 80},          {"URL", 430},         {"Local path", 150},
                {"Size", 100},   {"Duration (sec)", 100}, {"Export name", 160}, {"Original name", 160},
                {"Parent", 160}, {QString(), 64}};
    case TableKind::Texts:
        return {{numero, 40},  {"Status", 80},       {"URL", 430},           {"Local path", 150},
                {"Size", 100}, {"Export name", 160}, {"Original name", 160}, {"Header", 160}};
    case TableKind::Files:
        return {{numero, 40}, {"Status", 80}, {"URL", 430}, {"Filename", 300}, {"Size", 100}};
    }
    return {};
}

CollectionTable::CollectionTable(TableKind kind, QObject* parent)
    : QAbstractTableModel(parent), m_kind(kind) {
    const auto columns = tableColumns(kind);
    m_columnCount = int(columns.size());
    for (const auto& c : columns)
        m_headers.append(c.header);
    m_numbers.assign(1, QString());
    m_rows.assign(1, std::vector<QString>(size_t(m_columnCount - 1)));
    appendFreshIds(1);
    m_editable = kind != TableKind::Files;
}

void CollectionTable::appendFreshIds(size_t count) {
    for (size_t i = 0; i < count; ++i) {
        m_ids.push_back(++m_lastId);
        m_reasons.emplace_back();
        m_fingerprints.emplace_back();
    }
}

void CollectionTable::setGridRowCount(int count) {
    count = std::max(count, 2);
    const size_t data = size_t(count - 1);
    if (data == m_rows.size())
        return;
    const int oldRows = int(m_rows.size());
    if (data < m_rows.size()) {
        beginRemoveRows({}, int(data), oldRows - 1);
        m_rows.resize(data);
        m_numbers.resize(data);
        m_ids.resize(data);
        m_reasons.resize(data);
        m_fingerprints.resize(data);
        endRemoveRows();
    } else {
        beginInsertRows({}, oldRows, int(data) - 1);
        m_rows.resize(data, std::vector<QString>(size_t(m_columnCount - 1)));
        m_numbers.resize(data);
        appendFreshIds(data - m_ids.size());
        endInsertRows();
    }
}

QString CollectionTable::cell(int column, int row) const {
    if (column < 0 || column >= m_columnCount || row < 0 || row >= gridRowCount())
        return {};
    if (row == 0)
        return m_headers.value(column);
    if (column == 0)
        return m_numbers[size_t(row - 1)];
    return m_rows[size_t(row - 1)][size_t(column - 1)];
}

void CollectionTable::setCell(int column, int row, const QString& text) {
    if (column < 0 || column >= m_columnCount || row < 0 || row >= gridRowCount())
        return;
    if (row == 0) {
        m_headers[column] = text;
        emit headerDataChanged(Qt::Horizontal, column, column);
        return;
    }
    QString& target = column == 0 ? m_numbers[size_t(row - 1)] : m_rows[size_t(row - 1)][size_t(column - 1)];
    QString& reason = m_reasons[size_t(row - 1)];
    if (target == text && (column != col::Status || reason.isEmpty()))
        return;
    target = text;
    if (column == col::Status)
        reason.clear();
    const QModelIndex i = index(row - 1, column);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole, Qt::ToolTipRole});
}

void CollectionTable::setStatus(int row, const QString& word, const QString& reason) {
    if (row < 1 || row >= gridRowCount())
        return;
    setCell(col::Status, row, word);
    if (reason.isEmpty())
        return;
    m_reasons[size_t(row - 1)] = reason;
    const QModelIndex i = index(row - 1, col::Status);
    emit dataChanged(i, i, {Qt::ToolTipRole});
}

QString CollectionTable::statusReason(int row) const {
    if (row < 1 || row >= gridRowCount())
        return {};
    return m_reasons[size_t(row - 1)];
}

void CollectionTable::setFingerprint(int row, std::shared_ptr<const ContentFingerprint> fingerprint) {
    if (row < 1 || row >= gridRowCount())
        return;
    m_fingerprints[size_t(row - 1)] = std::move(fingerprint);
}

std::shared_ptr<const ContentFingerprint> CollectionTable::fingerprint(int row) const {
    if (row < 1 || row >= gridRowCount())
        return nullptr;
    return m_fingerprints[size_t(row - 1)];
}

RowId CollectionTable::rowId(int row) const {
    if (row < 1 || row >= gridRowCount())
        return 0;
    return m_ids[size_t(row - 1)];
}

std::vector<RowId> CollectionTable::rowIds(int count) const {
    const size_t n = size_t(std::clamp(count, 0, int(m_ids.size())));
    return std::vector<RowId>(m_ids.begin(), m_ids.begin() + std::ptrdiff_t(n));
}

int CollectionTable::rowOf(RowId id) const {
    const auto found = std::lower_bound(m_ids.begin(), m_ids.end(), id);
    if (id == 0 || found == m_ids.end() || *found != id)
        return 0;
    return int(found - m_ids.begin()) + 1;
}

void CollectionTable::setRow(int row, const QStringList& cells) {
    if (row < 1 || row >= gridRowCount())
        return;
    m_numbers[size_t(row - 1)] = cells.value(0);
    auto& r = m_rows[size_t(row - 1)];
    for (int c = 1; c < m_columnCount; ++c)
        r[size_t(c - 1)] = cells.value(c);
    m_reasons[size_t(row - 1)].clear();
    m_fingerprints[size_t(row - 1)].reset();
    emit dataChanged(index(row - 1, 0), index(row - 1, m_columnCount - 1),
                     {Qt::DisplayRole, Qt::EditRole, Qt::ToolTipRole});
}

void CollectionTable::clearToOneEmptyRow() {
    beginResetModel();
    m_numbers.assign(1, QString());
    m_rows.assign(1, std::vector<QString>(size_t(m_columnCount - 1)));
    // The blank row is a new item: work taken from the old rows finds nothing to write.
    m_ids.clear();
    m_reasons.clear();
    m_fingerprints.clear();
    appendFreshIds(1);
    endResetModel();
}

bool CollectionTable::isEmptyTable() const {
    return gridRowCount() == 2 && cell(2, 1).isEmpty();
}

void CollectionTable::removeDataRow(int row) {
    removeDataRows({row});
}

void CollectionTable::removeDataRows(std::vector<int> rows) {
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int r) { return r < 1 || r >= gridRowCount(); }),
               rows.end());
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int dataRows = int(m_rows.size());
    if (int(rows.size()) >= dataRows) {
        // Every data row goes: the table keeps one blank row.
        clearToOneEmptyRow();
        return;
    }
    const int first = rows.front();
    // Compact columns 1..last in one pass; column 0 stays where it is.
    size_t write = size_t(first - 1);
    size_t next = 0;
    for (size_t read = size_t(first - 1); read < m_rows.size(); ++read) {
        if (next < rows.size() && int(read) + 1 == rows[next]) {
            ++next;
            continue;
        }
        if (write != read) {
            m_rows[write] = std::move(m_rows[read]);
            m_ids[write] = m_ids[read];
            m_reasons[write] = std::move(m_reasons[read]);
            m_fingerprints[write] = std::move(m_fingerprints[read]);
        }
        ++write;
    }
    const int remaining = int(write);
    beginRemoveRows({}, remaining, dataRows - 1);
    m_rows.resize(size_t(remaining));
    m_numbers.resize(size_t(remaining));
    m_ids.resize(size_t(remaining));
    m_reasons.resize(size_t(remaining));
    m_fingerprints.resize(size_t(remaining));
    endRemoveRows();
    if (first - 1 < remaining)
        emit dataChanged(index(first - 1, 1), index(remaining - 1, m_columnCount - 1),
                         {Qt::DisplayRole, Qt::EditRole});
}

int CollectionTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CollectionTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_columnCount;
}

QVariant CollectionTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (role == Qt::ToolTipRole) {
        const QString reason = index.column() == col::Status ? statusReason(index.row() + 1) : QString();
        return reason.isEmpty() ? QVariant() : QVariant(reason);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return cell(index.column(), index.row() + 1);
}

bool CollectionTable::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !m_editable || index.column() == 0)
        return false;
    setCell(index.column(), index.row() + 1, value.toString());
    return true;
}

QVariant CollectionTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_headers.value(section);
    return {};
}

Qt::ItemFlags CollectionTable::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_editable && index.column() != 0)
        f |= Qt::ItemIsEditable;
    return f;
}

} // namespace skarvel
