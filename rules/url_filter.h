#pragma once
// The URL list filter: keep or drop lines by a text that they contain.
#include <QString>
#include <QStringList>

namespace skarvel {

// The lines kept, unchanged and in order. A line goes when contains is not
// empty and the line does not hold it, or when notContains is not empty and
// the line holds it. Both tests compare the upper-cased texts as plain
// substrings (no trimming, no wild cards).
QStringList FilterUrlLines(const QStringList& lines, const QString& contains, const QString& notContains);

} // namespace skarvel
