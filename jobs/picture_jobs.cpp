#include "jobs/picture_jobs.h"

#include "common/text_ops.h"

#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"

#include <QFileInfo>

namespace skarvel {

PagesDownload::PagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls,
                             TextStore& buffer, ProgressSink& progress, std::function<void()> parser)
    : HarvestJob(window, serviceBase, urls,
                 {kImagesScript, &buffer, &progress, std::move(parser), Ending::FinishStep}) {}

DownloadPictures::DownloadPictures(QObject* window, CollectionTable& table, ProgressSink& progress,
                                   std::function<QString()> workFolder, std::function<int()> downloadCount,
                                   ThumbnailSink thumbnails)
    : MediaDownloadJob(window, table, progress, std::move(workFolder),
                       {"Pictures", col::Width, &DownloadPictures::ExtensionFor}),
      m_downloadCount(std::move(downloadCount)), m_thumbnails(std::move(thumbnails)) {}

QString DownloadPictures::ExtensionFor(const QString& contentType) {
    if (contentType == QLatin1String("image/jpeg"))
        return QStringLiteral(".jpg");
    if (contentType == QLatin1String("image/gif"))
        return QStringLiteral(".gif");
    if (contentType == QLatin1String("image/png"))
        return QStringLiteral(".png");
    if (contentType == QLatin1String("image/bmp"))
        return QStringLiteral(".bmp");
    return UnknownTypeFileExtension();
}

int DownloadPictures::countItems() const {
    return m_downloadCount();
}

void DownloadPictures::measure(DownloadItem& item) {
    if (!QFileInfo::exists(item.localPath))
        return;
    const std::optional<PictureKind> kind = KindFromLastFour(item.localPath, true);
    if (!kind)
        return;
    PictureMeasure measured;
    QString error;
    if (!MeasurePictureFile(item.localPath, *kind, measured, &error))
        throw PictureError(error.toStdString());
    item.width = measured.width;
    item.height = measured.height;
    item.pictureKind = kind;
    item.picture = std::move(measured);
}

void DownloadPictures::writeItem(const DownloadItem& item, int row) {
    table.setStatus(row, item.status);
    table.setCell(col::LocalPath, row, item.localPath);
    if (item.width != -1) {
        table.setCell(col::Width, row, QString::number(item.width));
        table.setCell(col::Height, row, QString::number(item.height));
    }
    if (m_thumbnails && item.picture && item.pictureKind)
        m_thumbnails(item.localPath, *item.pictureKind, *item.picture);
}

} // namespace skarvel
