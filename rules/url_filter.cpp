#include "rules/url_filter.h"

namespace skarvel {

QStringList FilterUrlLines(const QStringList& lines, const QString& contains, const QString& notContains) {
    const QString mustHave = contains.toUpper();
    const QString mustNotHave = notContains.toUpper();
    QStringList kept;
    for (const QString& line : lines) {
        const QString upper = line.toUpper();
        if (!mustHave.isEmpty() && !upper.contains(mustHave))
            continue;
        if (!mustNotHave.isEmpty() && upper.contains(mustNotHave))
            continue;
        kept << line;
    }
    return kept;
}

} // namespace skarvel
