#include "gui/jobs/picture_jobs.h"

#include "gui/main_window.h"
#include "pictures/picture_codecs.h"

#include <QFileInfo>

#include <stdexcept>

namespace skarvel {

PagesDownload::PagesDownload(TForm1* form1)
    : HarvestJob(form1, {kImagesScript, &TForm1::Memo1, &TForm1::ProgressBar1, &TForm1::Endpagesdownload1Click,
                         Ending::FinishStep}) {}

DownloadPictures::DownloadPictures(TForm1* form1)
    : MediaDownloadJob(form1, {&TForm1::pictureTable, &TForm1::ProgressBar1, "Pictures", col::Width,
                               &DownloadPictures::ExtensionFor}) {}

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
    return Form1->pictureDownloadCount;
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

void DownloadPictures::writeResults(CollectionTable& table, int row) {
    table.setCell(col::Status, row, status);
    table.setCell(col::LocalPath, row, localPath);
    if (m_width != -1) {
        table.setCell(col::Width, row, QString::number(m_width));
        table.setCell(col::Height, row, QString::number(m_height));
    }
}

} // namespace skarvel
