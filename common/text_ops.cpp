#include "common/text_ops.h"

#include <QDir>

namespace skarvel {

QString GetField(const QString& text, int n, const QString& delimiter) {
    if (n < 0)
        return {};
    if (delimiter.isEmpty())
        return n == 0 ? text : QString();
    qsizetype start = 0;
    for (int field = 0; field < n; ++field) {
        const qsizetype at = text.indexOf(delimiter, start);
        if (at < 0)
            return {};
        start = at + delimiter.size();
    }
    const qsizetype end = text.indexOf(delimiter, start);
    return end < 0 ? text.mid(start) : text.mid(start, end - start);
}

QString NameWithoutExtension(const QString& text) {
    const qsizetype dot = text.lastIndexOf(u'.');
    return dot < 0 ? QString() : text.left(dot);
}

QString ExtensionWithDot(const QString& text) {
    const qsizetype dot = text.lastIndexOf(u'.');
    return dot < 0 ? QString() : text.mid(dot);
}

QString FileNameFromPath(const QString& text) {
    const qsizetype cut = std::max(text.lastIndexOf(u'\\'), text.lastIndexOf(u'/'));
    return cut < 0 ? text : text.mid(cut + 1);
}

QString DirectoryOfPath(const QString& text) {
    const qsizetype cut = text.lastIndexOf(PathSeparator());
    return cut < 0 ? text : text.left(cut);
}

QString ReplaceAll(const QString& text, const QString& find, const QString& replacement) {
    if (find.isEmpty())
        return text;
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(find, from);
        if (at < 0)
            break;
        out.append(QStringView(text).mid(from, at - from));
        out.append(replacement);
        from = at + find.size();
    }
    out.append(QStringView(text).mid(from));
    return out;
}

QString StripTags(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool inTag = false;
    for (const QChar c : text) {
        if (inTag) {
            if (c == u'>')
                inTag = false;
        } else if (c == u'<') {
            inTag = true;
        } else if (c != u'>') {
            out.append(c);
        }
    }
    return out;
}

QString ExtractLastUrl(const QString& line) {
    const QString lower = line.toLower();
    const qsizetype length = line.size();
    // Positions are 1-based here, as the rule counts them; p = 1 is never tested.
    for (qsizetype p = length - 10; p >= 2; --p) {
        const QStringView at = QStringView(lower).mid(p - 1);
        if (at.startsWith(u"http://") || at.startsWith(u"https://") || at.startsWith(u"ftp://"))
            return line.mid(p - 1);
    }
    return line;
}

QString LastChars(const QString& text, int count) {
    return text.size() <= count ? text : text.right(count);
}

QString TrimControls(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

int ReadInt(const QString& text, int def) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return def;
    qsizetype i = 0;
    bool negative = false;
    if (t.at(0) == u'+' || t.at(0) == u'-') {
        negative = t.at(0) == u'-';
        i = 1;
    }
    if (i >= t.size())
        return def;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c < u'0' || c > u'9')
            return def;
        value = value * 10 + (c.unicode() - u'0');
        if (value > qint64(2147483648LL))
            return def;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL || value < -2147483648LL)
        return def;
    return int(value);
}

QString PathSeparator() {
    return QString(QDir::separator());
}

namespace {
const QString kUnknownTypeStandIn = QStringLiteral(".unknown");
}

QString UnknownTypeFileExtension() {
#ifdef Q_OS_WIN
    return kUnknownTypeStandIn;
#else
    return kUnknownTypeExtension;
#endif
}

QString TypedLocalPath(const QString& localPath) {
#ifdef Q_OS_WIN
    if (localPath.endsWith(kUnknownTypeStandIn))
        return localPath.left(localPath.size() - kUnknownTypeStandIn.size()) + kUnknownTypeExtension;
#endif
    return localPath;
}

} // namespace skarvel
