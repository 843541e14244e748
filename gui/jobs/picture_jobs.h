#pragma once
// The picture harvest and the picture download.
#include "gui/jobs/harvest_job.h"
#include "gui/jobs/media_download_job.h"

namespace skarvel {

class PagesDownload : public HarvestJob {
    Q_OBJECT
public:
    explicit PagesDownload(TForm1* form1);
};

// Saves each row's picture under "Pictures" and measures its width and height.
// The item count is the number of rows the last parse placed in the table.
class DownloadPictures : public MediaDownloadJob {
    Q_OBJECT
public:
    explicit DownloadPictures(TForm1* form1);

    // ".jpg", ".gif", ".png", ".bmp" or ".???" for a lower-case content type.
    static QString ExtensionFor(const QString& contentType);

protected:
    int countItems() const override;
    void fetchStep() override;
    void measure() override;
    void writeResults(CollectionTable& table, int row) override;

private:
    int m_width = -1;
    int m_height = -1;
};

} // namespace skarvel
