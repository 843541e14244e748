#include "jobs/picture_jobs.h"

#include "pictures/picture_codecs.h"

#include <QFileInfo>

namespace skarvel {

PagesDownload::PagesDownload(QObject* window, const QString& serviceBase, const LineSource& urls, TextStore& buffer,
                             ProgressSink& progress, std::function<void()> parser)
    : HarvestJob(window, serviceBase, urls, {kImagesScript, &buffer, &progress, std::move(parser), Ending::FinishStep}) {}

DownloadPictures::DownloadPictures(QObject* window, CollectionTable& table, ProgressSink& progress,
                                   std::function<QString()> workFolder, std::function<int()> downloadCount)
    : MediaDownloadJob(window, table, progress, std::move(workFolder),
                       {"Pictures", col::Width, &DownloadPictures::ExtensionFor}),
      m_downloadCount(std::move(downloadCount)) {}

QString DownloadPictures::ExtensionFor(const QString& contentType) {
    if (contentType == QLatin1String("image/jpeg"))
        return QStringLiteral(".jpg");
    if (contentType == QLatin1String("image/gif"))
        return QStringLiteral(".gif");
    if (contentType == QLatin1String("image/png"))
        return QStringLiteral(".png");
    if (contentType == QLatin1String("image/bmp"))
        return QStringLiteral(".bmp");
    return QStringLiteral(".???");
}

int DownloadPictures::countItems() const {
    return m_downloadCount();
}

void DownloadPictures::fetchStep() {
    MediaDownloadJob::fetchStep();
    m_width = -1;
    m_height = -1;
}

void DownloadPictures::measure() {
    if (!QFileInfo::exists(localPath))
        return;
    const std::optional<PictureKind> kind = KindFromLastFour(localPath, true);
    if (!kind)
        return;
    int width = 0;
    int height = 0;
    QString error;
    if (!ReadPictureSize(localPath, *kind, width, height, &error))
        throw PictureError(error.toStdString());
    m_width = width;
    m_height = height;
}

void DownloadPictures::writeResults(int row) {
    table.setStatus(row, status);
    table.setCell(col::LocalPath, row, localPath);
    if (m_width != -1) {
        table.setCell(col::Width, row, QString::number(m_width));
        table.setCell(col::Height, row, QString::number(m_height));
    }
}

} // namespace skarvel
