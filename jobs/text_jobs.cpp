#include "jobs/text_jobs.h"

#include "common/text_ops.h"

namespace skarvel {

TextPagesDownload::TextPagesDownload(QObject* window, CollectionTable& table, ProgressSink& progress,
                                     std::function<QString()> workFolder)
    : TableDownloadJob(window, table, progress, std::move(workFolder)) {}

QString TextPagesDownload::LocalTextPath(const QString& workFolder, int row) {
    return workFolder + QStringLiteral("Text") + PathSeparator() + QString::number(row) +
           QStringLiteral(".txt");
}

void TextPagesDownload::completeItem(DownloadItem& item, TransferResult& result) {
    const QString path = LocalTextPath(item.folder, item.row);
    KeepBody(result, path);
    item.localPath = path;
    item.size = result.bytesReceived;
}

void TextPagesDownload::writeItem(const DownloadItem& item, int row) {
    table.setStatus(row, kStatusOK);
    table.setCell(col::LocalPath, row, item.localPath);
    table.setCell(col::TextSize, row, QString::number(item.size));
}

} // namespace skarvel
