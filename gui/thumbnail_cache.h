#pragma once
// Thumbnails of the picture files shown in the thumbnail grid. Decoding a large
// picture takes far longer than a repaint may, so thumbnails are made on worker
// threads and kept while their file stays the same (same size, modification
// time and file), and a paint only draws what is ready.
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"
#include "pictures/picture_thumbnail.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <optional>

class QPainter;
class QRect;

namespace skarvel {

struct Thumbnail {
    QImage pixels; // the nearest-neighbour thumbnail, unscaled, RGB888
    ThumbnailPlacement placement;
};

// The thumbnail of a decoded picture as the grid draws it; a null image for an empty picture.
Thumbnail ThumbnailOf(const Rgb24Image& picture, int cellSize = 100);
// The same thumbnail from a measuring pass; a null image when the measure made none.
Thumbnail ThumbnailOf(const PictureMeasure& measured);
// Draws the thumbnail at its place inside the cell, unscaled.
void DrawThumbnailInCell(QPainter& painter, const QRect& cell, const Thumbnail& thumbnail);

class ThumbnailCache : public QObject {
    Q_OBJECT
public:
    // maxBytes bounds the pixels kept; the least recently drawn go first.
    explicit ThumbnailCache(QObject* parent = nullptr, qint64 maxBytes = 64 << 20);
    // Waits for decodes in progress and drops the ones not started.
    ~ThumbnailCache() override;

    // The thumbnail of the file as it is on disk now, or nullptr when the file is
    // missing, cannot be decoded as kind, or is still being decoded. A file not
    // seen before or changed since is decoded on a worker; thumbnailReady() follows.
    // The pointer is valid until the next call.
    const Thumbnail* find(const QString& path, PictureKind kind);

    // Hands over the thumbnail made while the file was measured (MeasurePictureFile), so
    // that find() has nothing to decode while the file stays as it was measured. Window
    // thread only, like find().
    void put(const QString& path, PictureKind kind, const PictureMeasure& measured);

    // Decodes waiting or running.
    int pendingCount() const { return m_pending; }
    // Blocks until every decode asked for so far has been stored.
    void waitForIdle();

signals:
    // A decode has ended; the grid repaints to show it.
    void thumbnailReady();

private:
    struct Entry {
        FileIdentity identity;
        PictureKind kind = PictureKind::Bmp;
        bool pending = true;
        std::optional<Thumbnail> thumbnail; // empty when the file could not be decoded
    };
    struct Result;
    void start(const QString& path, PictureKind kind, const FileIdentity& identity);
    void store(const Result& result);

    QCache<QString, Entry> m_entries;
    QThreadPool m_pool;
    int m_pending = 0;
};

} // namespace skarvel
