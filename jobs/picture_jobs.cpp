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
                                   ThumbnailSink thumbnails, std::function<PictureTypes()> pictureTypes)
    : MediaDownloadJob(window, table, progress, std::move(workFolder),
                       {"Pictures", col::Width, &DownloadPictures::ExtensionFor}),
      m_downloadCount(std::move(downloadCount)), m_thumbnails(std::move(thumbnails)),
      m_pictureTypes(std::move(pictureTypes)) {}

QString DownloadPictures::ExtensionFor(const QString& contentType, PictureTypes types) {
    if (types == PictureTypes::Modern) {
        std::optional<PictureKind> kind;
        if (contentType == QLatin1String("image/webp"))
            kind = PictureKind::Webp;
        else if (contentType == QLatin1String("image/avif"))
            kind = PictureKind::Avif;
        else if (contentType == QLatin1String("image/svg+xml"))
            kind = PictureKind::Svg;
        if (kind && PictureKindBuilt(*kind))
            return u'.' + KindExtension(*kind);
    }
    return ExtensionFor(contentType);
}

QByteArray DownloadPictures::ModernAccept() {
    QByteArray accept;
    for (const auto& [kind, type] :
         {std::pair{PictureKind::Avif, "image/avif,"}, std::pair{PictureKind::Webp, "image/webp,"},
          std::pair{PictureKind::Svg, "image/svg+xml,"}})
        if (PictureKindBuilt(kind))
            accept += type;
    return accept + "image/*,*/*;q=0.8";
}

void DownloadPictures::prepareStep() {
    m_types = m_pictureTypes ? m_pictureTypes() : PictureTypes::Classic;
    MediaDownloadJob::prepareStep();
}

QString DownloadPictures::extensionFor(const QString& contentType) const {
    return ExtensionFor(contentType, m_types);
}

std::optional<QByteArray> DownloadPictures::acceptHeader() const {
    if (m_types != PictureTypes::Modern)
        return std::nullopt;
    return ModernAccept();
}

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
    const std::optional<PictureKind> kind = KindFromPath(item.localPath, true, m_types);
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
    if (item.picture && item.picture->identity && item.picture->perceptualHash) {
        // The measuring pass hashed the picture too: "Remove duplicates" need not read it again.
        auto fingerprint = std::make_shared<ContentFingerprint>();
        fingerprint->path = item.localPath;
        fingerprint->size = item.picture->identity->size;
        fingerprint->modifiedNs = item.picture->identity->modifiedNs;
        fingerprint->fileId = item.picture->identity->fileId;
        fingerprint->sha256 = item.picture->sha256;
        fingerprint->decoded = true;
        fingerprint->decodeTried = true;
        fingerprint->width = item.width;
        fingerprint->height = item.height;
        fingerprint->perceptualHash = *item.picture->perceptualHash;
        table.setFingerprint(row, std::move(fingerprint));
    } else {
        table.setFingerprint(row, nullptr);
    }
    if (m_thumbnails && item.picture && item.pictureKind)
        m_thumbnails(item.localPath, *item.pictureKind, *item.picture);
}

} // namespace skarvel
