#pragma once
// Text as a list of lines, the way a memo control holds it.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace skarvel {

// Lines of text split at CR LF, lone CR or lone LF; a final line break makes no
// extra empty line, so "" has no lines and "a\r\n" has one. The views point into text.
std::vector<QStringView> SplitLineViews(QStringView text);
QStringList SplitLines(QStringView text);

// The lines, each followed by CR LF (the last one too).
QString JoinLines(const QStringList& lines);

// Every line break (CR LF, lone CR, lone LF) written as CR LF; nothing else changes.
QString CrLfLineBreaks(QStringView text);

} // namespace skarvel
