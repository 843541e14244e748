#include "pictures/picture_transform.h"

#include "common/file_ops.h"
#include "common/text_ops.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <new>

namespace skarvel {

namespace {

// Working pictures larger than this are freed after their row instead of being kept.
constexpr std::size_t kKeptBufferBytes = 256u * 1024 * 1024;

TransformResult Skip(TransformResult r, const QString& why) {
    r.status = TransformResult::Status::Skipped;
    r.message = why;
    return r;
}

TransformResult Fail(TransformResult r, const QString& why) {
    r.status = TransformResult::Status::Failed;
    r.message = why;
    return r;
}

} // namespace

QSize FitToRectangle(int w, int h, int W, int H) {
    if (w <= 0 || h <= 0 || W <= 0 || H <= 0)
        return QSize(0, 0);
    const double r = static_cast<double>(W) / H;
    if (static_cast<double>(w) / h >= r)
        return QSize(W, static_cast<int>(std::int64_t{h} * W / w));
    return QSize(static_cast<int>(std::int64_t{w} * H / h), H);
}

QString TargetPathForFormat(const QString& targetPath, int format) {
    QString extension;
    switch (format) {
    case kSaveOriginal:
        return targetPath;
    case kSaveJpeg:
        extension = QStringLiteral(".jpg");
        break;
    case kSavePng:
        extension = QStringLiteral(".png");
        break;
    case kSaveGif:
        extension = QStringLiteral(".gif");
        break;
    case kSaveBmp:
        extension = QStringLiteral(".bmp");
        break;
    default:
        return {};
    }
    const QString name = FileNameFromPath(targetPath);
    const QString folder = targetPath.left(targetPath.size() - name.size());
    const qsizetype dot = name.lastIndexOf(u'.');
    return folder + (dot < 0 ? name : name.left(dot)) + extension;
}

TransformResult PictureTransform::transform(const QString& localPath, const QString& targetPath,
                                            const TransformSettings& settings) {
    return run(localPath, targetPath, settings, nullptr);
}

TransformResult PictureTransform::transformToBytes(const QString& localPath, const QString& targetPath,
                                                   const TransformSettings& settings, QByteArray& encoded) {
    encoded.clear();
    return run(localPath, targetPath, settings, &encoded);
}

TransformResult PictureTransform::run(const QString& localPath, const QString& targetPath,
                                      const TransformSettings& settings, QByteArray* encoded) {
    TransformResult r;
    const QFileInfo local(localPath);
    if (!local.exists() || local.isDir())
        return Skip(r, QStringLiteral("local file does not exist"));
    const auto sourceKind = KindFromLastFour(localPath, false);
    if (!sourceKind)
        return Skip(r, QStringLiteral("local file is not a BMP, JPEG, PNG or GIF file"));
    r.path = TargetPathForFormat(targetPath, settings.format);
    if (r.path.isEmpty())
        return Skip(r, QStringLiteral("unknown format %1").arg(settings.format));
    const auto targetKind = KindFromLastFour(r.path, false);
    if (!targetKind)
        return Skip(r, QStringLiteral("target does not end in .bmp, .jpg, .png or .gif"));
    if (settings.fit && (settings.width <= 0 || settings.height <= 0))
        return Skip(r, QStringLiteral("the rectangle to fit has no area"));

    TransformResult done;
    try {
        DecodePictureFile(localPath, *sourceKind, source_);
        if (source_.isEmpty()) {
            done = Skip(r, QStringLiteral("picture has width or height 0"));
        } else {
            const Rgb24Image* picture = &source_;
            if (settings.fit) {
                QSize size = FitToRectangle(source_.width, source_.height, settings.width, settings.height);
                if (size.width() < 1 || size.height() < 1) {
                    r.message = QStringLiteral("fitted size %1 x %2 raised to at least 1 pixel a side")
                                    .arg(size.width())
                                    .arg(size.height());
                    size = size.expandedTo(QSize(1, 1));
                }
                if (size.width() != source_.width || size.height() != source_.height) {
                    scaled_.resize(size.width(), size.height());
                    ResizeNearest(source_, scaled_);
                    picture = &scaled_;
                }
            }
            QByteArray bytes = EncodePicture(*picture, *targetKind);
            QString error;
            if (encoded)
                *encoded = std::move(bytes);
            else if (!WriteWholeFile(r.path, bytes, &error))
                throw PictureError("cannot write " + r.path.toStdString() + ": " + error.toStdString());
            r.status = TransformResult::Status::Written;
            r.type = KindExtension(*targetKind);
            r.width = picture->width;
            r.height = picture->height;
            done = r;
        }
    } catch (const PictureError& e) {
        done = Fail(r, QString::fromStdString(e.what()));
    } catch (const std::bad_alloc&) {
        done = Fail(r, QStringLiteral("out of memory"));
    }
    releaseLargeBuffers();
    return done;
}

void PictureTransform::releaseLargeBuffers() {
    if (source_.pixels.capacity() > kKeptBufferBytes)
        source_.release();
    if (scaled_.pixels.capacity() > kKeptBufferBytes)
        scaled_.release();
}

} // namespace skarvel

namespace skarvel {

struct ParallelPictureTransform::Row {
    QString localPath;
    QString targetPath;
    TransformSettings settings;
    bool toBytes = false;
    bool done = false;
    Outcome outcome;
};

ParallelPictureTransform::ParallelPictureTransform(int workers) {
    if (workers <= 0)
        workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 0; i < workers; ++i)
        m_workers.emplace_back([this] { workerLoop(); });
}

ParallelPictureTransform::~ParallelPictureTransform() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_work.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void ParallelPictureTransform::add(const QString& localPath, const QString& targetPath,
                                   const TransformSettings& settings, bool toBytes, const QString& label) {
    auto row = std::make_shared<Row>();
    row->outcome.label = label;
    row->localPath = localPath;
    row->targetPath = targetPath;
    row->settings = settings;
    row->toBytes = toBytes;
    {
        std::lock_guard lock(m_mutex);
        m_rows.push_back(std::move(row));
    }
    m_work.notify_one();
}

int ParallelPictureTransform::queued() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_rows.size());
}

std::optional<ParallelPictureTransform::Outcome> ParallelPictureTransform::next(bool wait) {
    std::shared_ptr<Row> row;
    {
        std::unique_lock lock(m_mutex);
        if (m_rows.empty())
            return std::nullopt;
        if (wait)
            m_done.wait(lock, [this] { return m_rows.front()->done; });
        else if (!m_rows.front()->done)
            return std::nullopt;
        row = std::move(m_rows.front());
        m_rows.pop_front();
        --m_nextToStart;
    }
    Outcome outcome = std::move(row->outcome);
    if (!row->toBytes && outcome.result.status == TransformResult::Status::Written) {
        QString error;
        if (!ReplaceWholeFile(outcome.result.path, outcome.encoded, &error)) {
            outcome.writeFailed = true;
            outcome.result.status = TransformResult::Status::Failed;
            outcome.result.message = QStringLiteral("cannot write %1: %2").arg(outcome.result.path, error);
        }
        outcome.encoded.clear();
    }
    return outcome;
}

void ParallelPictureTransform::workerLoop() {
    // Each worker keeps its own working pictures from row to row.
    PictureTransform transform;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_stopping || m_nextToStart < m_rows.size(); });
        if (m_stopping)
            return;
        std::shared_ptr<Row> row = m_rows[m_nextToStart++];
        lock.unlock();
        QByteArray encoded;
        TransformResult result =
            transform.transformToBytes(row->localPath, row->targetPath, row->settings, encoded);
        lock.lock();
        row->outcome.result = std::move(result);
        row->outcome.encoded = std::move(encoded);
        row->done = true;
        m_done.notify_all();
    }
}

} // namespace skarvel
