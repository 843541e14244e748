#include "rules/file_name_rules.h"

#include "common/text_ops.h"
#include "rules/number_field.h"

#include <algorithm>

namespace skarvel {

namespace {

constexpr int kMaxLengthDefault = 300;

QString applyLetterCase(const QString& name, int letterCase) {
    switch (letterCase) {
    case Lowercase:
        return name.toLower();
    case Uppercase:
        return name.toUpper();
    case Capitalize: {
        if (name.isEmpty())
            return name;
        // The first character may be a surrogate pair; it is still one character.
        const qsizetype first =
            name.at(0).isHighSurrogate() && name.size() > 1 && name.at(1).isLowSurrogate() ? 2 : 1;
        return name.left(first).toUpper() + name.mid(first).toLower();
    }
    default:
        return name;
    }
}

QString baseName(const CollectionTable& table, int row, const FileNameTableRules& rules, int use) {
    switch (use) {
    case UseNewId:
        return QString::number(row);
    case UseOriginalName:
        return NameWithoutExtension(table.cell(rules.originalNameColumn, row));
    case UseTempFileName:
        return NameWithoutExtension(FileNameFromPath(table.cell(col::LocalPath, row)));
    default: {
        const size_t extra = size_t(use - 3);
        if (use < 3 || extra >= rules.extraItems.size())
            return {};
        return table.cell(rules.extraItems[extra].second, row);
    }
    }
}

} // namespace

const FileNameTableRules* FileNameRulesFor(TableKind kind) {
    static const FileNameTableRules pictures{
        {{"Alt", col::Alt}, {"Title", col::Title}, {"Parent", col::PicParent}},
        col::PicOriginalName,
        true,
        col::PicExportName};
    static const FileNameTableRules sounds{
        {{"Parent", col::MediaParent}}, col::MediaOriginalName, true, col::MediaExportName};
    static const FileNameTableRules videos{
        {{"Parent", col::MediaParent}}, col::MediaOriginalName, false, col::MediaExportName};
    static const FileNameTableRules texts{
        {{"Header", col::Header}}, col::TextOriginalName, false, col::TextExportName};
    switch (kind) {
    case TableKind::Pictures:
        return &pictures;
    case TableKind::Sounds:
        return &sounds;
    case TableKind::Videos:
        return &videos;
    case TableKind::Texts:
        return &texts;
    default:
        return nullptr;
    }
}

QStringList FileNameUseItems(TableKind kind) {
    const FileNameTableRules* rules = FileNameRulesFor(kind);
    if (!rules)
        return {};
    QStringList items{"New ID", "Original file name (if exists)", "Temp file name"};
    for (const auto& item : rules->extraItems)
        items.append(item.first);
    return items;
}

QStringList LetterCaseItems() {
    return {"Without changes", "Lowercase", "Uppercase", "Capitalize"};
}

QString BuildExportName(QString base, const QString& extension, const FileNameSettings& settings) {
    for (const auto& [from, to] : settings.replaces)
        base = ReplaceAll(base, from, to);
    const qint64 maxLength = ReadInt(settings.maxLength, kMaxLengthDefault);
    // Four characters are kept for the extension, whatever its real length.
    if (qint64(base.size()) + 4 > maxLength)
        base.truncate(qsizetype(std::max<qint64>(0, maxLength - 4)));
    return applyLetterCase(TrimControls(base) + extension, settings.letterCase);
}

QString ComputeExportName(const CollectionTable& table, int row, TableKind kind,
                          const FileNameSettings& settings) {
    const FileNameTableRules* rules = FileNameRulesFor(kind);
    if (!rules)
        return {};
    const QString path = TypedLocalPath(table.cell(col::LocalPath, row));
    const QString extension = rules->extensionIsLastFour ? LastChars(path, 4) : ExtensionWithDot(path);
    return BuildExportName(baseName(table, row, *rules, settings.use), extension, settings);
}

void ApplyFileNames(CollectionTable& table, TableKind kind, const FileNameSettings& settings) {
    const FileNameTableRules* rules = FileNameRulesFor(kind);
    if (!rules)
        return;
    for (int row = 1; row < table.gridRowCount(); ++row)
        table.setCell(rules->exportNameColumn, row, ComputeExportName(table, row, kind, settings));
}

QString NormaliseMaxLength(const QString& text) {
    return NormaliseNumberField(text, kMaxLengthDefault, 5, 300);
}

std::vector<ReplacePair> TidyReplaceRows(const std::vector<ReplacePair>& rows) {
    std::vector<ReplacePair> tidy;
    tidy.reserve(rows.size() + 1);
    for (const auto& row : rows)
        if (!row.first.isEmpty())
            tidy.push_back(row);
    tidy.emplace_back();
    return tidy;
}

} // namespace skarvel
