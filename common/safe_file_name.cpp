#include "common/safe_file_name.h"

#include <QStringView>

namespace skarvel {

namespace {

// Longer "extensions" are more likely a name with a dot in it than a file type.
constexpr qsizetype kMaxKeptExtensionBytes = 32;

bool IsForbidden(char16_t c) {
    switch (c) {
    case u'<':
    case u'>':
    case u':':
    case u'"':
    case u'/':
    case u'\\':
    case u'|':
    case u'?':
    case u'*':
        return true;
    default:
        return c < 0x20 || (c >= 0x7F && c <= 0x9F);
    }
}

void ChopTrailingDotsAndBlanks(QString& name) {
    qsizetype end = name.size();
    while (end > 0 && (name[end - 1] == u'.' || name[end - 1] == u' '))
        --end;
    name.truncate(end);
}

bool IsDeviceName(const QString& name) {
    const qsizetype dot = name.indexOf(u'.');
    QString stem = dot < 0 ? name : name.left(dot);
    while (stem.endsWith(u' '))
        stem.chop(1);
    stem = stem.toUpper();
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == QLatin1String(device))
            return true;
    }
    if (stem.size() != 4 || !(stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))))
        return false;
    const char16_t last = stem[3].unicode();
    // Windows also reserves the superscript digits one to three here.
    return (last >= u'0' && last <= u'9') || last == u'\u00B9' || last == u'\u00B2' || last == u'\u00B3';
}

// The longest start of text (whole characters) whose UTF-8 form fits in budget bytes.
QString CutToBytes(QStringView text, qsizetype budget) {
    qsizetype used = 0;
    qsizetype keep = 0;
    while (keep < text.size()) {
        const bool pair =
            text[keep].isHighSurrogate() && keep + 1 < text.size() && text[keep + 1].isLowSurrogate();
        const char16_t unit = text[keep].unicode();
        const qsizetype bytes = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (used + bytes > budget)
            break;
        used += bytes;
        keep += pair ? 2 : 1;
    }
    return text.left(keep).toString();
}

} // namespace

QString SafeFileName(const QString& name) {
    QString safe;
    safe.reserve(name.size() + 1);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            safe += c;
            safe += name[++i];
        } else if (c.isSurrogate() || IsForbidden(c.unicode())) {
            safe += u'_';
        } else {
            safe += c;
        }
    }
    ChopTrailingDotsAndBlanks(safe);
    if (safe.isEmpty())
        return {};
    if (IsDeviceName(safe))
        safe.prepend(u'_');

    if (safe.toUtf8().size() <= kMaxFileNameBytes)
        return safe;
    const qsizetype dot = safe.lastIndexOf(u'.');
    QString extension = dot > 0 ? safe.mid(dot) : QString();
    if (extension.toUtf8().size() > kMaxKeptExtensionBytes)
        extension.clear();
    const qsizetype stemLength = safe.size() - extension.size();
    QString cut =
        CutToBytes(QStringView(safe).left(stemLength), kMaxFileNameBytes - extension.toUtf8().size());
    if (extension.isEmpty())
        ChopTrailingDotsAndBlanks(cut);
    return cut + extension;
}

} // namespace skarvel
