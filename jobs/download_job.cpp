#include "jobs/download_job.h"

#include "common/file_ops.h"
#include "jobs/failure_reason.h"
#include "net/url_encoding.h"

namespace skarvel {

DownloadJob::DownloadJob(QObject* window) : BackgroundJob(window), client(ClientOptions()) {}

HttpClient::Options DownloadJob::ClientOptions() {
    HttpClient::Options options;
    options.followRedirects = true;
    options.tls = true;
    return options;
}

HttpResponse DownloadJob::Fetch(const QString& url) {
    return client.get(EncodeDownloadUrl(url));
}

void DownloadJob::SaveBody(const QString& path, const QByteArray& body) {
    QString error;
    if (!WriteWholeFile(path, body, &error))
        throw FileWriteError(QString(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + error).toStdString());
}

void DownloadJob::abortWork() {
    client.abort();
}

// ---------------------------------------------------------------- TableDownloadJob

TableDownloadJob::TableDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                                   std::function<QString()> folder)
    : DownloadJob(window), table(table), progress(progress), m_folder(std::move(folder)) {}

int TableDownloadJob::countItems() const {
    return table.gridRowCount() - 1;
}

void TableDownloadJob::prepareStep() {
    itemCount = countItems();
    // Items past the table's last row (a count left by an earlier parse) have no row.
    m_items = table.rowIds(itemCount);
    progress.start(itemCount);
}

void TableDownloadJob::fetchStep() {
    const RowId id = itemIndex < int(m_items.size()) ? m_items[size_t(itemIndex)] : 0;
    itemRow = table.rowOf(id);
    itemUrl = itemRow > 0 ? table.cell(col::Url, itemRow) : QString();
    folder = m_folder();
    failed = false;
    failureReason.clear();
}

void TableDownloadJob::finishStep() {
    progress.finish();
}

void TableDownloadJob::workFailed(const std::exception& error) {
    failed = true;
    failureReason = FailureReason(error);
}

int TableDownloadJob::currentRow() const {
    return itemIndex < int(m_items.size()) ? table.rowOf(m_items[size_t(itemIndex)]) : 0;
}

void TableDownloadJob::writeFailure(const QString& statusWord) {
    table.setStatus(currentRow(), statusWord, failureReason);
}

} // namespace skarvel
