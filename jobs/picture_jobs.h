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
    // Takes the thumbnail made while a picture was measured; called on the window thread.
    using ThumbnailSink =
        std::function<void(const QString& path, PictureKind kind, const PictureMeasure& measured)>;

    // downloadCount: the picture download count, read by the prepare step, as are the picture types
    // (PictureTypes::Classic when not given).
    DownloadPictures(QObject* window, CollectionTable& table, ProgressSink& progress,
                     std::function<QString()> workFolder, std::function<int()> downloadCount,
                     ThumbnailSink thumbnails = {}, std::function<PictureTypes()> pictureTypes = {});

    // ".jpg", ".gif", ".png", ".bmp" or UnknownTypeFileExtension() for a lower-case content type;
    // with PictureTypes::Modern also ".webp", ".avif" and ".svg" for the types this build reads.
    static QString ExtensionFor(const QString& contentType);
    static QString ExtensionFor(const QString& contentType, PictureTypes types);
    // What picture downloads ask for with the modern types on, for the types this build reads:
    // "image/avif,image/webp,image/svg+xml,image/*,*/*;q=0.8" with all three.
    static QByteArray ModernAccept();

protected:
    int countItems() const override;
    void prepareStep() override;
    QString extensionFor(const QString& contentType) const override;
    std::optional<QByteArray> acceptHeader() const override;
    void measure(DownloadItem& item) override;
    void writeItem(const DownloadItem& item, int row) override;

private:
    std::function<int()> m_downloadCount;
    ThumbnailSink m_thumbnails;
    std::function<PictureTypes()> m_pictureTypes;
    PictureTypes m_types = PictureTypes::Classic; // of the run, set by the prepare step
};

} // namespace skarvel
