#pragma once
// The picture harvest and the picture download.
#include "jobs/harvest_job.h"
#include "jobs/media_download_job.h"

namespace skarvel {

class PagesDownload : public HarvestJob {
    Q_OBJECT
public:
    PagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls, TextStore& buffer,
                  ProgressSink& progress, std::function<void()> parser);
};

// Saves each row's picture under "Pictures" and measures its width and height.
// The item count is the number of rows the last parse placed in the table.
class DownloadPictures : public MediaDownloadJob {
    Q_OBJECT
public:
    // downloadCount: the picture download count, read by the prepare step.
    DownloadPictures(QObject* window, CollectionTable& table, ProgressSink& progress,
                     std::function<QString()> workFolder, std::function<int()> downloadCount);

    // ".jpg", ".gif", ".png", ".bmp" or ".???" for a lower-case content type.
    static QString ExtensionFor(const QString& contentType);

protected:
    int countItems() const override;
    void fetchStep() override;
    void measure() override;
    void writeResults(int row) override;

private:
    std::function<int()> m_downloadCount;
    int m_width = -1;
    int m_height = -1;
};

} // namespace skarvel
