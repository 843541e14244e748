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
    QString name;
    if (const auto offered = ContentDispositionFileName(response.contentDisposition))
        name = SafeLocalFileName(*offered);
    else
        name = SafeLocalFileName(nameFromAddress(response.finalUrl));
    if (!name.isEmpty())
        return name;
    // A content type such as "a/b/../c" must not add a directory to the name: its "/" become "_".
    return SafeFileName(QString::number(row) + ExtensionForContentType(response.contentType));
}

void FilesDownload::work() {
    m_status.clear();
    m_localPath.clear();
    m_declaredLength = -1;
    if (itemRow == 0)
        return; // its row was removed before its turn
    const HttpResponse response = Fetch(itemUrl);
    m_declaredLength = response.contentLength;
    // A body that does not match its declared length (or declares none) is not saved.
    if (qint64(response.body.size()) != m_declaredLength) {
        m_status = kStatusBroken;
        return;
    }
    const QString path = folder + LocalFileName(response, itemRow);
    SaveBody(path, response.body);
    m_localPath = path;
    m_status = kStatusOK;
}

void FilesDownload::writeStep() {
    progress.setValue(itemIndex);
    const int row = currentRow();
    if (itemRow == 0 || row == 0)
        return;
    if (failed) {
        writeFailure(kStatusError);
        return;
    }
    table.setStatus(row, m_status);
    if (m_status == kStatusOK) {
        table.setCell(col::FileName, row, m_localPath);
        table.setCell(col::FileSize, row, QString::number(m_declaredLength));
    }
}

} // namespace skarvel
