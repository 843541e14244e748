#include "jobs/text_jobs.h"

#include "common/text_ops.h"

namespace skarvel {

TextPagesDownload::TextPagesDownload(QObject* window, CollectionTable& table, ProgressSink& progress,
                                     std::function<QString()> workFolder)
    : TableDownloadJob(window, table, progress, std::move(workFolder)) {}

QString TextPagesDownload::LocalTextPath(const QString& workFolder, int row) {
    return workFolder + QStringLiteral("Text") + PathSeparator() + QString::number(row) + QStringLiteral(".txt");
}

void TextPagesDownload::fetchStep() {
    TableDownloadJob::fetchStep();
    m_localPath.clear();
    m_size = 0;
}

void TextPagesDownload::work() {
    if (itemRow == 0)
        return; // its row was removed before its turn
    const HttpResponse response = Fetch(itemUrl);
    const QString path = LocalTextPath(folder, itemRow);
    SaveBody(path, response.body);
    m_localPath = path;
    m_size = int(response.body.size());
}

void TextPagesDownload::writeStep() {
    progress.setValue(itemIndex + 1);
    const int row = currentRow();
    if (itemRow == 0 || row == 0)
        return;
    if (failed) {
        writeFailure(kStatusDownloadError);
        return;
    }
    table.setStatus(row, kStatusOK);
    table.setCell(col::LocalPath, row, m_localPath);
    table.setCell(col::TextSize, row, QString::number(m_size));
}

} // namespace skarvel
