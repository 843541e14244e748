#include "rules/line_list.h"

namespace skarvel {

std::vector<QStringView> SplitLineViews(QStringView text) {
    std::vector<QStringView> lines;
    const qsizetype size = text.size();
    const QChar* data = text.data();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i].unicode();
        if (c != u'\r' && c != u'\n')
            continue;
        lines.push_back(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < size && data[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.push_back(text.mid(start));
    return lines;
}

QStringList SplitLines(QStringView text) {
    const auto views = SplitLineViews(text);
    QStringList lines;
    lines.reserve(qsizetype(views.size()));
    for (const QStringView v : views)
        lines.append(v.toString());
    return lines;
}

QString JoinLines(const QStringList& lines) {
    qsizetype total = 0;
    for (const QString& line : lines)
        total += line.size() + 2;
    QString out;
    out.reserve(total);
    for (const QString& line : lines) {
        out.append(line);
        out.append(QLatin1String("\r\n"));
    }
    return out;
}

QString CrLfLineBreaks(QStringView text) {
    QString out;
    out.reserve(text.size() + text.size() / 32);
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out.append(QLatin1String("\r\n"));
            if (i + 1 < size && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out.append(QLatin1String("\r\n"));
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace skarvel
