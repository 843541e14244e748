#include "rules/selection_rules.h"

#include "common/text_ops.h"
#include "rules/number_field.h"

namespace skarvel {

namespace {

struct KindRules {
    bool inclusive;                  // pictures keep a value equal to a bound
    bool typeFromLastFour;           // otherwise from the last "."
    int pairs;                       // bound pairs the dialog has
    std::array<int, 2> cellDefault;  // value of a cell that is not a number
    std::array<int, 4> fieldDefault; // value of a bound text that is not a number, at Apply
};

std::optional<KindRules> rulesFor(TableKind kind) {
    switch (kind) {
    case TableKind::Pictures:
        return KindRules{true, true, 2, {100, 100}, {100, 100, 100, 100}};
    case TableKind::Sounds:
        return KindRules{false, true, 2, {1000, 100}, {1000, 1000000, 10, 3600}};
    case TableKind::Videos:
        return KindRules{false, false, 1, {1000, 0}, {1000, 1000000, 0, 0}};
    default:
        return std::nullopt;
    }
}

// The settings read once for a whole walk.
struct PreparedSelection {
    KindRules rules;
    std::vector<QString> droppedTypes;
    std::array<std::optional<int>, 4> bounds;
    bool deleteEmptyLines;
};

std::optional<PreparedSelection> prepare(TableKind kind, const SelectionSettings& settings) {
    const auto rules = rulesFor(kind);
    if (!rules)
        return std::nullopt;
    PreparedSelection p{*rules, {}, {}, settings.deleteEmptyLines};
    const auto boxes = SelectionTypeBoxes(kind);
    for (size_t i = 0; i < boxes.size(); ++i)
        if (!settings.keepType[i])
            p.droppedTypes.push_back(boxes[i].extension);
    for (int f = 0; f < 2 * rules->pairs; ++f)
        if (!settings.bounds[size_t(f)].isEmpty())
            p.bounds[size_t(f)] = ReadInt(settings.bounds[size_t(f)], rules->fieldDefault[size_t(f)]);
    return p;
}

bool outside(const PreparedSelection& p, int pair, int value) {
    const auto& lower = p.bounds[size_t(pair) * 2];
    const auto& upper = p.bounds[size_t(pair) * 2 + 1];
    if (p.rules.inclusive)
        return (lower && value < *lower) || (upper && value > *upper);
    return (lower && value <= *lower) || (upper && value >= *upper);
}

bool deletes(const PreparedSelection& p, const CollectionTable& table, int row) {
    const QString path = TypedLocalPath(table.cell(col::LocalPath, row));
    if (path.isEmpty())
        return false;
    const QString type = (p.rules.typeFromLastFour ? LastChars(path, 4) : ExtensionWithDot(path)).toLower();
    for (const QString& dropped : p.droppedTypes)
        if (type == dropped)
            return true;
    const QString first = table.cell(4, row);
    if (p.deleteEmptyLines && first.isEmpty())
        return true;
    if (outside(p, 0, ReadInt(first, p.rules.cellDefault[0])))
        return true;
    return p.rules.pairs > 1 && outside(p, 1, ReadInt(table.cell(5, row), p.rules.cellDefault[1]));
}

} // namespace

std::optional<BoundFieldLimits> SelectionFieldLimits(TableKind kind, BoundField field) {
    const size_t f = size_t(field);
    switch (kind) {
    case TableKind::Pictures: {
        static constexpr BoundFieldLimits limits[] = {
            {100, 10, 1000}, {200, 10, 10000}, {100, 10, 1000}, {200, 10, 10000}};
        return limits[f];
    }
    case TableKind::Sounds: {
        static constexpr BoundFieldLimits limits[] = {
            {1000, 1000, 1000000000}, {1000000, 1000, 2000000000}, {10, 10, 10000}, {3600, 10, 100000}};
        return limits[f];
    }
    case TableKind::Videos: {
        static constexpr BoundFieldLimits limits[] = {{1000, 1000, 1000000000}, {1000000, 1000, 2000000000}};
        if (f < 2)
            return limits[f];
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QString NormaliseSelectionField(TableKind kind, BoundField field, const QString& text) {
    const auto limits = SelectionFieldLimits(kind, field);
    if (!limits)
        return text;
    return NormaliseNumberField(text, limits->notANumber, limits->minimum, limits->maximum);
}

std::vector<SelectionTypeBox> SelectionTypeBoxes(TableKind kind) {
    switch (kind) {
    case TableKind::Pictures:
        return {{"JPEG", ".jpg"}, {"PNG", ".png"}, {"GIF", ".gif"}};
    case TableKind::Sounds:
        return {{"MP3", ".mp3"}, {"OGG", ".ogg"}, {"WAV", ".wav"}, {"AAC", ".aac"}};
    case TableKind::Videos:
        return {{"WEBM", ".webm"}, {"MP4", ".mp4"}, {"OGV", ".ogv"}};
    default:
        return {};
    }
}

bool SelectionDeletesRow(const CollectionTable& table, const SelectionSettings& settings, int row) {
    const auto p = prepare(table.kind(), settings);
    return p && deletes(*p, table, row);
}

void ApplySelection(CollectionTable& table, const SelectionSettings& settings) {
    const auto p = prepare(table.kind(), settings);
    if (!p)
        return;
    // Judging a row never depends on the rows below it, and removing a row never
    // moves the rows above it, so marking first and removing once is the same as
    // the bottom-up walk that removes as it goes.
    std::vector<int> doomed;
    for (int row = 1; row < table.gridRowCount(); ++row)
        if (deletes(*p, table, row))
            doomed.push_back(row);
    table.removeDataRows(std::move(doomed));
}

} // namespace skarvel
