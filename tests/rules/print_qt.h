#pragma once
// Readable GoogleTest failure messages for Qt strings.
#include <QString>
#include <QStringList>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toUtf8().replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t").constData()
        << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i)
            *os << ", ";
        PrintTo(list[i], os);
    }
    *os << '}';
}
QT_END_NAMESPACE
