#pragma once
// "Apply new file names": the Export name of every row of the picture, sound,
// video and text tables, built from a chosen cell, the Replaces pairs, a length
// limit, the extension of the Local path and a letter case.
#include "tables/collection_tables.h"

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace skarvel {

// One row of a two-column replacement grid: (From, To).
using ReplacePair = std::pair<QString, QString>;

// Items of the "Use" list shared by every table; the table's own items follow from index 3.
enum NameSource : int { UseNewId = 0, UseOriginalName = 1, UseTempFileName = 2 };
// Items of the "Register" list.
enum LetterCase : int { KeepCase = 0, Lowercase = 1, Uppercase = 2, Capitalize = 3 };

// Control values of a file-name dialog.
struct FileNameSettings {
    int use = UseNewId;
    int letterCase = KeepCase;
    QString maxLength = QStringLiteral("40");
    std::vector<ReplacePair> replaces; // grid rows in order; rows with an empty From do nothing
};

// How a table feeds the rules.
struct FileNameTableRules {
    std::vector<std::pair<QString, int>> extraItems; // "Use" items from index 3: caption and column
    int originalNameColumn;
    bool extensionIsLastFour; // last four characters of Local path, else from its last "."
    int exportNameColumn;
};

// The rules of the picture, sound, video and text tables; nullptr for the file table.
const FileNameTableRules* FileNameRulesFor(TableKind kind);
// Captions of the "Use" list of the kind's dialog, in order.
QStringList FileNameUseItems(TableKind kind);
// Captions of the "Register" list, in order.
QStringList LetterCaseItems();

// The finished name from a base name and an extension: Replaces pairs, cut to
// Max length - 4 when too long, trim codes up to 32, join, letter case.
QString BuildExportName(QString base, const QString& extension, const FileNameSettings& settings);

// The Export name the rules give data row `row` of the table.
QString ComputeExportName(const CollectionTable& table, int row, TableKind kind,
                          const FileNameSettings& settings);

// Writes the Export name of every data row; a table kind without such rules is left alone.
void ApplyFileNames(CollectionTable& table, TableKind kind, const FileNameSettings& settings);

// "Max length" after the focus leaves it: "" stays, 300 for a non-number, clamped to 5..300.
QString NormaliseMaxLength(const QString& text);

// A replacement grid tidied: the rows with a non-empty From, in order, then one blank row.
std::vector<ReplacePair> TidyReplaceRows(const std::vector<ReplacePair>& rows);

} // namespace skarvel
