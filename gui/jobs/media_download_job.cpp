#include "gui/jobs/media_download_job.h"

#include "tables/collection_tables.h"
#include "gui/main_window.h"
#include "common/text_ops.h"

#include <QProgressBar>


namespace skarvel {

MediaDownloadJob::MediaDownloadJob(TForm1* form1, const Setup& setup) : DownloadJob(form1), m_setup(setup) {}

CollectionTable& MediaDownloadJob::table() const {
    return *(Form1->*m_setup.table);
}

QProgressBar* MediaDownloadJob::bar() const {
    return Form1->*m_setup.progressBar;
}

int MediaDownloadJob::countItems() const {
    return table().gridRowCount() - 1;
}

void MediaDownloadJob::prepareStep() {
    itemCount = countItems();
    ShowProgress(bar(), itemCount);
}

void MediaDownloadJob::fetchStep() {
    const int row = itemIndex + 1;
    itemUrl = table().cell(col::Url, row);
    // Rows deleted since the count was taken: nothing to fetch and nowhere to write.
    skip = row >= table().gridRowCount() || !table().cell(m_setup.skipColumn, row).isEmpty();
    folder = Form1->workFolder + QLatin1String(m_setup.subFolder) + PathSeparator();
    failed = false;
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
    localPath = folder + QString::number(itemIndex + 1) + extension;
    SaveBody(localPath, response.body);
    size = response.body.size();
    status = size == response.contentLength ? kStatusOK : kStatusBroken;
    measure();
}

void MediaDownloadJob::workFailed(const std::exception& error) {
    Q_UNUSED(error);
    failed = true;
}

void MediaDownloadJob::writeStep() {
    if (!skip) {
        const int row = itemIndex + 1;
        if (failed)
            table().setCell(col::Status, row, kStatusDownloadError);
        else
            writeResults(table(), row);
    }
    bar()->setValue(itemIndex);
}

void MediaDownloadJob::finishStep() {
    bar()->hide();
}

} // namespace skarvel
