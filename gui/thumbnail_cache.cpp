#include "gui/thumbnail_cache.h"

#include "common/file_ops.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRect>
#include <QThread>

#include <cstring>

namespace skarvel {

Thumbnail ThumbnailOf(const Rgb24Image& picture, int cellSize) {
    Thumbnail out;
    const Rgb24Image small = MakeThumbnail(picture, cellSize);
    if (small.isEmpty())
        return out;
    out.placement = ComputeThumbnail(picture.width, picture.height, cellSize);
    out.pixels = QImage(small.width, small.height, QImage::Format_RGB888);
    for (int y = 0; y < small.height; ++y)
        std::memcpy(out.pixels.scanLine(y), small.row(y), small.rowBytes());
    return out;
}

Thumbnail ThumbnailOf(const PictureMeasure& measured) {
    Thumbnail out;
    const Rgb24Image& small = measured.thumbnail;
    if (small.isEmpty())
        return out;
    out.placement = measured.placement;
    out.pixels = QImage(small.width, small.height, QImage::Format_RGB888);
    for (int y = 0; y < small.height; ++y)
        std::memcpy(out.pixels.scanLine(y), small.row(y), small.rowBytes());
    return out;
}

void DrawThumbnailInCell(QPainter& painter, const QRect& cell, const Thumbnail& thumbnail) {
    painter.drawImage(QPoint(cell.left() + thumbnail.placement.left, cell.top() + thumbnail.placement.top),
                      thumbnail.pixels);
}

struct ThumbnailCache::Result {
    QString path;
    FileIdentity identity;
    bool changed = false; // the file changed while it was read: ask again later
    std::optional<Thumbnail> thumbnail;
};

ThumbnailCache::ThumbnailCache(QObject* parent, qint64 maxBytes)
    : QObject(parent), m_entries(std::max<qint64>(1, maxBytes / 1024)) {
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    // Decoding must not starve the window thread it works for.
    m_pool.setThreadPriority(QThread::LowPriority);
}

ThumbnailCache::~ThumbnailCache() {
    m_pool.clear();
    m_pool.waitForDone();
}

const Thumbnail* ThumbnailCache::find(const QString& path, PictureKind kind) {
    const std::optional<FileIdentity> identity = IdentityOfFile(path);
    if (!identity)
        return nullptr;
    Entry* entry = m_entries.object(path);
    if (entry && entry->identity == *identity && entry->kind == kind)
        return entry->pending || !entry->thumbnail ? nullptr : &*entry->thumbnail;
    start(path, kind, *identity);
    return nullptr;
}

void ThumbnailCache::start(const QString& path, PictureKind kind, const FileIdentity& identity) {
    m_entries.insert(path, new Entry{identity, kind, true, std::nullopt}, 1);
    ++m_pending;
    m_pool.start([this, path, kind, identity] {
        Result result{path, identity, false, std::nullopt};
        // One measuring pass holds a few rows, never the picture, whatever size the file claims.
        QByteArray bytes;
        const bool read = ReadWholeFile(path, bytes);
        if (IdentityOfFile(path) != identity) {
            result.changed = true;
        } else if (read) {
            try {
                Thumbnail thumbnail = ThumbnailOf(MeasurePicture(bytes, kind));
                if (!thumbnail.pixels.isNull())
                    result.thumbnail = std::move(thumbnail);
            } catch (const std::exception&) {
                // A file that fails to load is not drawn.
            }
        }
        QMetaObject::invokeMethod(
            this, [this, result] { store(result); }, Qt::QueuedConnection);
    });
}

void ThumbnailCache::put(const QString& path, PictureKind kind, const PictureMeasure& measured) {
    if (!measured.identity)
        return;
    Thumbnail thumbnail = ThumbnailOf(measured);
    std::optional<Thumbnail> kept;
    qsizetype bytes = 0;
    if (!thumbnail.pixels.isNull()) {
        bytes = thumbnail.pixels.sizeInBytes();
        kept = std::move(thumbnail);
    }
    // A decode of the same file still running finds the entry done and is dropped by store().
    m_entries.insert(path, new Entry{*measured.identity, kind, false, std::move(kept)},
                     std::max<qsizetype>(1, bytes / 1024));
}

void ThumbnailCache::store(const Result& result) {
    --m_pending;
    Entry* entry = m_entries.object(result.path);
    // A newer version of the file is already being decoded, or the entry was dropped.
    if (entry && entry->pending && entry->identity == result.identity) {
        if (result.changed) {
            m_entries.remove(result.path);
        } else {
            auto* done = new Entry{result.identity, entry->kind, false, result.thumbnail};
            const qsizetype bytes = result.thumbnail ? result.thumbnail->pixels.sizeInBytes() : 0;
            m_entries.insert(result.path, done, std::max<qsizetype>(1, bytes / 1024));
        }
    }
    emit thumbnailReady();
}

void ThumbnailCache::waitForIdle() {
    while (m_pending > 0) {
        m_pool.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

} // namespace skarvel
