#pragma once
// Text extraction rules: cut a text block and a header block out of a page and
// clean the text. One function serves "Apply selection" and the preview.
#include <QByteArray>
#include <QString>

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
bool SavePageText(const QString& path, const QString& text, QString* error = nullptr);

} // namespace skarvel
