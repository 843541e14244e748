#include "gui/jobs/file_jobs.h"

#include "tables/collection_tables.h"
#include "gui/main_window.h"
#include "common/safe_file_name.h"
#include "common/text_ops.h"
#include "net/content_disposition.h"

#include <QProgressBar>

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

FilesDownload::FilesDownload(TForm1* form1) : DownloadJob(form1) {}

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

void FilesDownload::prepareStep() {
    itemCount = Form1->fileTable->gridRowCount() - 1;
    ShowProgress(Form1->ProgressBar2, itemCount);
}

void FilesDownload::fetchStep() {
    m_url = Form1->fileTable->cell(col::Url, itemIndex + 1);
    m_folder = Form1->fileDownloadFolder;
}

void FilesDownload::work() {
    m_status.clear();
    m_localPath.clear();
    m_declaredLength = -1;
    const HttpResponse response = Fetch(m_url);
    m_declaredLength = response.contentLength;
    // A body that does not match its declared length (or declares none) is not saved.
    if (qint64(response.body.size()) != m_declaredLength) {
        m_status = kStatusBroken;
        return;
    }
    const QString path = m_folder + LocalFileName(response, itemIndex + 1);
    SaveBody(path, response.body);
    m_localPath = path;
    m_status = kStatusOK;
}

void FilesDownload::workFailed(const std::exception& error) {
    Q_UNUSED(error);
    m_status = kStatusError;
}

void FilesDownload::writeStep() {
    const int row = itemIndex + 1;
    Form1->fileTable->setCell(col::Status, row, m_status);
    if (m_status == kStatusOK) {
        Form1->fileTable->setCell(col::FileName, row, m_localPath);
        Form1->fileTable->setCell(col::FileSize, row, QString::number(m_declaredLength));
    }
    Form1->ProgressBar2->setValue(itemIndex);
}

void FilesDownload::finishStep() {
    Form1->ProgressBar2->hide();
}

} // namespace skarvel
