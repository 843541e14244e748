// The picture tab: harvest and download commands, thumbnails, save and export.
#include "gui/main_window.h"

#include "gui/thumbnail_cache.h"
#include "gui/thumbnail_grid.h"
#include "jobs/picture_jobs.h"

#include <QPainter>
#include <QTableView>
#include <QTimer>

namespace skarvel {

void TForm1::BitBtn1Click() {
    Memo1->clear();
    pictureTable->clearToOneEmptyRow();
    pagesDownload->Resume();
}

void TForm1::Downloadagain1Click() {
    BitBtn1Click();
}

void TForm1::Continuedownload1Click() {
    downloadPictures->Resume();
    Timer2->start();
}

void TForm1::Endpagesdownload1Click() {
    const int n = ParseHarvestBuffer(*Memo1, *pictureTable, HarvestKind::Pictures);
    FormResize();
    pictureDownloadCount = n;
    downloadPictures->Resume();
    Timer2->start();
}

void TForm1::FormResize() {
    if (!DrawGrid1)
        return;
    const int cols = std::max(1, (DrawGrid1->width() - 25) / ThumbnailGrid::kCellSize);
    DrawGrid1->setColCount(cols);
    DrawGrid1->setRowCount((cols + pictureTable->gridRowCount() - 2) / cols);
}

void TForm1::Timer2Timer() {
    DrawGrid1->viewport()->update();
    if (downloadPictures->Suspended())
        Timer2->stop();
}

void TForm1::StringGrid1Click() {
    const int a = CurrentRow(StringGrid1) - 1;
    const int cols = DrawGrid1->colCount();
    const int row = a / cols;
    DrawGrid1->setCurrent(a - row * cols, row);
}

void TForm1::DrawGrid1Click() {
    const int k = DrawGrid1->row() * DrawGrid1->colCount() + DrawGrid1->col() + 1;
    if (k < pictureTable->gridRowCount())
        SetCurrentRow(StringGrid1, k);
}

void TForm1::DrawGrid1DblClick() {
    const int k = DrawGrid1->row() * DrawGrid1->colCount() + DrawGrid1->col() + 1;
    if (k >= pictureTable->gridRowCount())
        return;
    pictureTable->removeDataRow(k);
    FormResize();
}

ThumbnailCache& TForm1::thumbnailCache() {
    if (!thumbnails) {
        thumbnails = new ThumbnailCache(this);
        connect(thumbnails, &ThumbnailCache::thumbnailReady, DrawGrid1->viewport(),
                qOverload<>(&QWidget::update));
    }
    return *thumbnails;
}

// Draws what is ready: a picture not yet decoded, or changed on disk since, is
// decoded off this thread and its cell repainted when the thumbnail is made.
void TForm1::drawThumbnail(QPainter& painter, int column, int row, const QRect& rect) {
    const int k = row * DrawGrid1->colCount() + column + 1;
    if (k >= pictureTable->gridRowCount())
        return;
    const QString path = pictureTable->cell(col::LocalPath, k);
    const std::optional<PictureKind> kind = KindFromPath(path, true, pictureTypes());
    if (!kind)
        return;
    if (const Thumbnail* thumbnail = thumbnailCache().find(path, *kind))
        DrawThumbnailInCell(painter, rect, *thumbnail);
}

} // namespace skarvel
