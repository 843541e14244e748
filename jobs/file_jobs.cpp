#include "jobs/file_jobs.h"

#include "common/safe_file_name.h"
#include "common/text_ops.h"
#include "net/content_disposition.h"

namespace skarvel {

namespace {

// The path and query of an absolute address as it was sent ("" when it has none).
QString pathAndQuery(const QString& url) {
    QString rest = url;
    const qsizetype fragment = rest.indexOf(u'#');
    if (fragment >= 0)
        rest.truncate(fragment);
    const qsizetype scheme = rest.indexOf(QLatin1String("://"));
    const qsizetype authorityStart = scheme < 0 ? 0 : scheme + 3;
    const qsizetype pathStart = rest.indexOf(u'/', authorityStart);
    const qsizetype queryStart = rest.indexOf(u'?', authorityStart);
    if (pathStart < 0 && queryStart < 0)
        return {};
    if (pathStart < 0 || (queryStart >= 0 && queryStart < pathStart))
        return rest.mid(queryStart);
    return rest.mid(pathStart);
}

QString nameFromAddress(const QString& url) {
    const QString raw = pathAndQuery(url);
    if (raw.contains(u'?'))
        return {};
    return FileNameFromPath(QString::fromUtf8(QByteArray::fromPercentEncoding(raw.toUtf8())));
}

} // namespace

FilesDownload::FilesDownload(QObject* window, CollectionTable& table, ProgressSink& progress,
                             std::function<QString()> downloadFolder)
    : TableDownloadJob(window, table, progress, std::move(downloadFolder)) {}

QString FilesDownload::ExtensionForContentType(const QString& contentType) {
    const QString type = contentType.toLower();
    const qsizetype slash = type.indexOf(u'/');
    return u'.' + (slash < 0 ? type : type.mid(slash + 1));
}

QString FilesDownload::LocalFileName(const HttpResponse& response, int row) {
    return LocalFileName(response.contentDisposition, response.finalUrl, response.contentType, row);
}

QString FilesDownload::LocalFileName(const QString& contentDisposition, const QString& finalUrl,
                                     const QString& contentType, int row) {
    QString name;
    if (const auto offered = ContentDispositionFileName(contentDisposition))
        name = SafeLocalFileName(*offered);
    else
        name = SafeLocalFileName(nameFromAddress(finalUrl));
    if (!name.isEmpty())
        return name;
    // A content type such as "a/b/../c" must not add a directory to the name: its "/" become "_".
    return SafeFileName(QString::number(row) + ExtensionForContentType(contentType));
}

QString FilesDownload::failureWord() const {
    return kStatusError;
}

void FilesDownload::completeItem(DownloadItem& item, TransferResult& result) {
    item.declaredLength = result.contentLength;
    // A body that does not match its declared length (or declares none) is not saved.
    if (result.bytesReceived != item.declaredLength) {
        item.status = kStatusBroken;
        return;
    }
    const QString path =
        item.folder + LocalFileName(result.contentDisposition, result.finalUrl, result.contentType, item.row);
    KeepBody(result, path);
    item.localPath = path;
    item.status = kStatusOK;
}

void FilesDownload::writeItem(const DownloadItem& item, int row) {
    table.setStatus(row, item.status);
    if (item.status == kStatusOK) {
        table.setCell(col::FileName, row, item.localPath);
        table.setCell(col::FileSize, row, QString::number(item.declaredLength));
    }
}

} // namespace skarvel
