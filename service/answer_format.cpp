// Answer bodies of the service's scripts.
#include "service/html_analysis.h"

namespace skarvel {

namespace {

// cleanField(text).toUtf8() appended; most fields are printable ASCII that
// cleaning leaves alone, and those are copied without the two temporaries.
void appendCleanField(QByteArray& out, const QString& text) {
    bool plain = text.isEmpty() || (text.front() != u' ' && text.back() != u' ');
    for (qsizetype i = 0; plain && i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        plain = c > 0x20 ? c < 0x7F : c == 0x20 && text[i + 1] != u' ';
    }
    if (!plain) {
        out += cleanField(text).toUtf8();
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* to = out.data() + at;
    for (QChar c : text)
        *to++ = char(c.unicode());
}

// One record: the fields, then the page it was found on, ended by CR LF.
void appendRecord(QByteArray& out, std::initializer_list<const QString*> fields,
                  const QByteArray& parentField) {
    for (const QString* field : fields) {
        appendCleanField(out, *field);
        out += '\t';
    }
    out += parentField;
    out += "\r\n";
}

// Room for the answer when its fields are ASCII, so a large one is not copied while it grows.
template <typename Record, typename... Fields>
qsizetype expectedSize(const QList<Record>& records, const QByteArray& parentField, Fields... fields) {
    qsizetype size = 0;
    for (const Record& r : records)
        size += (... + (r.*fields).size()) + qsizetype(sizeof...(fields)) + parentField.size() + 2;
    return size;
}

} // namespace

QByteArray formatPictureAnswer(const QList<PictureRecord>& records, const QString& parent) {
    QByteArray out;
    const QByteArray parentField = cleanField(parent).toUtf8();
    out.reserve(expectedSize(records, parentField, &PictureRecord::url, &PictureRecord::originalName,
                             &PictureRecord::alt, &PictureRecord::title));
    for (const PictureRecord& r : records)
        appendRecord(out, {&r.url, &r.originalName, &r.alt, &r.title}, parentField);
    return out;
}

QByteArray formatMediaAnswer(const QList<MediaRecord>& records, const QString& parent) {
    QByteArray out;
    const QByteArray parentField = cleanField(parent).toUtf8();
    out.reserve(expectedSize(records, parentField, &MediaRecord::url, &MediaRecord::originalName));
    for (const MediaRecord& r : records)
        appendRecord(out, {&r.url, &r.originalName}, parentField);
    return out;
}

QByteArray formatListAnswer(const QStringList& urls) {
    QByteArray out;
    for (const QString& url : urls) {
        appendCleanField(out, url);
        out += '\n';
    }
    return out;
}

} // namespace skarvel
