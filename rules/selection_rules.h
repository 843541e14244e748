#pragma once
// "Apply selection" of the picture, sound and video tables: rows whose file lies
// outside the typed bounds, whose type is unticked or (optionally) whose first
// measure is empty are deleted. Rows never downloaded (empty Local path) stay.
#include "tables/collection_tables.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace skarvel {

// The bound text fields of a selection dialog, in dialog order (Edit1 to Edit4).
// The first pair bounds column 4 (Width or Size), the second column 5 (Height or
// Duration); the video dialog has no second pair.
enum class BoundField { FirstLower = 0, FirstUpper = 1, SecondLower = 2, SecondUpper = 3 };

struct BoundFieldLimits {
    int notANumber; // what a text that is not a number becomes
    int minimum;
    int maximum;
};

// Limits applied to a bound field when the focus leaves it; nullopt for a field
// the kind's dialog does not have. The sounds' upper duration is capped at 100000.
std::optional<BoundFieldLimits> SelectionFieldLimits(TableKind kind, BoundField field);

// The field's text after the focus leaves it: "" stays "", anything else becomes
// a clamped decimal number. A field the dialog does not have is returned unchanged.
QString NormaliseSelectionField(TableKind kind, BoundField field, const QString& text);

struct SelectionTypeBox {
    QString caption;   // "JPEG"
    QString extension; // ".jpg", compared with the lower-cased type of a row
};

// The type check boxes of the kind's dialog, in order; empty for other tables.
std::vector<SelectionTypeBox> SelectionTypeBoxes(TableKind kind);

// Control values of a selection dialog, as the user left them (the initial values
// and "Default values" give this default state).
struct SelectionSettings {
    std::array<QString, 4> bounds;                          // by BoundField; "" is no bound
    std::array<bool, 4> keepType{{true, true, true, true}}; // by SelectionTypeBoxes index
    bool deleteEmptyLines = true;

    QString& bound(BoundField f) { return bounds[size_t(f)]; }
    const QString& bound(BoundField f) const { return bounds[size_t(f)]; }
};

// True when the selection deletes data row `row` of the table (picture, sound or
// video table; the table's kind picks the rules).
bool SelectionDeletesRow(const CollectionTable& table, const SelectionSettings& settings, int row);

// Deletes every row the selection condemns, with the same result as walking the
// rows bottom-up and removing each condemned row at once (rows below move up,
// column 0 stays, a sole data row is blanked). Other table kinds are left alone.
void ApplySelection(CollectionTable& table, const SelectionSettings& settings);

} // namespace skarvel
