#include "jobs/media_download_job.h"

#include "common/text_ops.h"

namespace skarvel {

MediaDownloadJob::MediaDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                                   std::function<QString()> workFolder, const Setup& setup)
    : TableDownloadJob(window, table, progress,
                       [workFolder = std::move(workFolder), sub = QLatin1String(setup.subFolder)]() -> QString {
                           return workFolder() + sub + PathSeparator();
                       }),
      m_setup(setup) {}

void MediaDownloadJob::fetchStep() {
    TableDownloadJob::fetchStep();
    // A row removed before its turn: nothing to fetch and nowhere to write.
    skip = itemRow == 0 || !table.cell(m_setup.skipColumn, itemRow).isEmpty();
    contentType.clear();
    extension.clear();
    localPath.clear();
    status.clear();
    size = 0;
}

void MediaDownloadJob::work() {
    if (skip)
        return;
    const HttpResponse response = Fetch(itemUrl);
    contentType = response.contentType.toLower();
    extension = m_setup.extensionFor(contentType);
    localPath = folder + QString::number(itemRow) + extension;
    SaveBody(localPath, response.body);
    size = response.body.size();
    status = size == response.contentLength ? kStatusOK : kStatusBroken;
    measure();
}

void MediaDownloadJob::writeStep() {
    if (!skip) {
        if (failed)
            writeFailure(kStatusDownloadError);
        else if (const int row = currentRow())
            writeResults(row);
    }
    progress.setValue(itemIndex);
}

} // namespace skarvel
