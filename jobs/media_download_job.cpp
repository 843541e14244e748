#include "jobs/media_download_job.h"

#include "common/text_ops.h"

namespace skarvel {

MediaDownloadJob::MediaDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                                   std::function<QString()> workFolder, const Setup& setup)
    : TableDownloadJob(
          window, table, progress,
          [workFolder = std::move(workFolder), sub = QLatin1String(setup.subFolder)]() -> QString {
              return workFolder() + sub + PathSeparator();
          }),
      m_setup(setup) {}

void MediaDownloadJob::takeItem(DownloadItem& item) {
    // A row removed before its turn: nothing to fetch and nowhere to write.
    item.skip = item.row == 0 || !table.cell(m_setup.skipColumn, item.row).isEmpty();
}

void MediaDownloadJob::completeItem(DownloadItem& item, TransferResult& result) {
    item.contentType = result.contentType.toLower();
    item.localPath = item.folder + QString::number(item.row) + extensionFor(item.contentType);
    KeepBody(result, item.localPath);
    item.size = result.bytesReceived;
    item.status = item.size == result.contentLength ? kStatusOK : kStatusBroken;
    measure(item);
}

} // namespace skarvel
