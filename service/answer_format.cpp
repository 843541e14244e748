// Answer bodies of the service's scripts.
#include "service/html_analysis.h"

namespace skarvel {

namespace {

// One record: the fields, then the page it was found on, ended by CR LF.
void appendRecord(QByteArray& out, std::initializer_list<const QString*> fields,
                  const QByteArray& parentField) {
    for (const QString* field : fields) {
        out += cleanField(*field).toUtf8();
        out += '\t';
    }
    out += parentField;
    out += "\r\n";
}

} // namespace

QByteArray formatPictureAnswer(const QList<PictureRecord>& records, const QString& parent) {
    QByteArray out;
    const QByteArray parentField = cleanField(parent).toUtf8();
    for (const PictureRecord& r : records)
        appendRecord(out, {&r.url, &r.originalName, &r.alt, &r.title}, parentField);
    return out;
}

QByteArray formatMediaAnswer(const QList<MediaRecord>& records, const QString& parent) {
    QByteArray out;
    const QByteArray parentField = cleanField(parent).toUtf8();
    for (const MediaRecord& r : records)
        appendRecord(out, {&r.url, &r.originalName}, parentField);
    return out;
}

QByteArray formatListAnswer(const QStringList& urls) {
    QByteArray out;
    for (const QString& url : urls) {
        out += cleanField(url).toUtf8();
        out += '\n';
    }
    return out;
}

} // namespace skarvel
