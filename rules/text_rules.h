#pragma once
// Text extraction rules: cut a text block and a header block out of a page and
// clean the text. One function serves "Apply selection" and the preview.
#include <QByteArray>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

namespace skarvel {

// Markers are whole memo texts with CR LF between their lines, as a page holds
// its line breaks after LoadPageText: a caller holding "\n"-separated memo text
// passes CrLfLineBreaks(memoText) (rules/line_list.h). An empty marker is never found.
struct TextRules {
    QString blockBegin, blockEnd;
    bool includeBegin = false, includeEnd = false;
    std::vector<std::pair<QString, QString>> replacements; // grid rows in order
    bool stripTags = false;
    QString deleteLinesContaining; // one search text per line (any line breaks)
    enum EmptyLines { No, All, DoubleAndMore } emptyLines = No;
    QString headerBegin, headerEnd;
    bool includeHeaderBegin = false, includeHeaderEnd = false, stripHeaderTags = false;
};

struct TextResult {
    QString text;
    QString header;
};

// The text block after replacements, tag stripping and line deletions, and the
// header block, both taken from page as given.
TextResult ApplyTextRules(const QString& page, const TextRules& rules);

// Text of page bytes, decoded by what they declare: a UTF-8 BOM (skipped), a
// UTF-16 or UTF-32 BOM, else a meta charset or http-equiv Content-Type in the
// first 4 KB, else UTF-8 (also for an encoding this system does not know).
// Every line break becomes CR LF.
QString DecodePageText(const QByteArray& bytes);
// DecodePageText of the file; "" when it does not exist or cannot be read.
QString LoadPageText(const QString& path);
// Writes text as a memo saves its lines (each line ended by CR LF), in UTF-8 after a BOM.
[[nodiscard]] bool SavePageText(const QString& path, const QString& text, QString* error = nullptr);

class CollectionTable;

// "Apply selection" over the text table: for each data row in order, the page file
// named by its Local path is cut by the rules and written back, and the header goes
// to the row's Header cell. shown(row, result) runs before the row is written, so the
// window can show each text as it is made. A row without a Local path writes no file
// (its text is empty all the same) but still gets its header. Stops at the first file
// that cannot be written: false, with the path and the reason in *error.
[[nodiscard]] bool ApplyTextRulesToTable(CollectionTable& table, const TextRules& rules,
                                         const std::function<void(int row, const TextResult& result)>& shown,
                                         QString* error = nullptr);

} // namespace skarvel
