#include "pictures/picture_transform.h"

#include "pictures/picture_codecs_internal.h"

#include "common/file_ops.h"
#include "common/text_ops.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

namespace skarvel {

namespace {

// Working pictures larger than this are freed after their row instead of being kept.
constexpr std::size_t kKeptBufferBytes = std::size_t{256} * 1024 * 1024;
// Encoded files up to this size hand their storage back to the workers once written.
constexpr qsizetype kRecycledFileBytes = qsizetype{64} * 1024 * 1024;

// Decodes into the source working picture the way DecodePicture does, but without clearing
// it first: a decoder writes every byte of each row it hands out through rowBuffer, so only
// the rows it never hands out, or fills only in part through putPixels, get the fill colour.
// The storage of the previous row is thus reused without zeroing or faulting in pages again.
class SourceSink final : public detail::RowSink {
public:
    explicit SourceSink(Rgb24Image& out, std::vector<std::uint8_t>& rowState)
        : m_out(out), m_rowState(rowState) {}

    void begin(int width, int height, const std::uint8_t fill[3]) override {
        detail::CheckWholeDecodeSize(width, height);
        m_out.width = width;
        m_out.height = height;
        m_rowState.assign(static_cast<std::size_t>(height), kUntouched);
        std::memcpy(m_fill, fill, 3);
    }
    bool wants(int) const override { return true; }
    std::uint8_t* rowBuffer(int y) override {
        ensureRows(y + 1);
        m_rowState[static_cast<std::size_t>(y)] = kWritten;
        return m_out.row(y);
    }
    void rowDone(int) override {}
    void putPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb) override {
        ensureRows(y + 1);
        if (m_rowState[static_cast<std::size_t>(y)] == kUntouched) {
            paint(y);
            m_rowState[static_cast<std::size_t>(y)] = kWritten;
        }
        std::uint8_t* o = m_out.row(y) + static_cast<std::size_t>(x0) * 3;
        const std::size_t step = static_cast<std::size_t>(dx) * 3;
        for (int i = 0; i < count; ++i, o += step, rgb += 3)
            std::memcpy(o, rgb, 3);
    }
    void finish() {
        ensureRows(m_out.height);
        m_out.pixels.resize(m_out.rowBytes() * static_cast<std::size_t>(m_out.height));
        for (int y = 0; y < m_out.height; ++y)
            if (m_rowState[static_cast<std::size_t>(y)] == kUntouched)
                paint(y);
    }

private:
    static constexpr std::uint8_t kUntouched = 0;
    static constexpr std::uint8_t kWritten = 1;

    // Storage grows as the decoder reaches further rows, as in a plain decode, so a short file
    // claiming a huge picture allocates nothing; what a previous row left is kept, not zeroed.
    void ensureRows(int rows) {
        const std::size_t bytes = static_cast<std::size_t>(rows) * m_out.rowBytes();
        if (bytes <= m_out.pixels.size())
            return;
        if (bytes > m_out.pixels.capacity()) {
            const std::size_t full = static_cast<std::size_t>(m_out.height) * m_out.rowBytes();
            m_out.pixels.reserve(std::min(full, std::max(bytes, 2 * m_out.pixels.capacity())));
        }
        m_out.pixels.resize(bytes);
    }
    void paint(int y) {
        std::uint8_t* o = m_out.row(y);
        for (int x = 0; x < m_out.width; ++x, o += 3)
            std::memcpy(o, m_fill, 3);
    }

    Rgb24Image& m_out;
    std::vector<std::uint8_t>& m_rowState;
    std::uint8_t m_fill[3] = {0, 0, 0};
};

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
    encoded.resize(0); // keeps the storage for the encoder
    return run(localPath, targetPath, settings, &encoded);
}

void PictureTransform::readSource(const QString& localPath, TransformResult& r) {
    if (!ReadWholeFile(localPath, file_)) {
        r.unreadable = true;
        throw PictureError("cannot read " + localPath.toStdString());
    }
}

template <typename Work>
TransformResult PictureTransform::guarded(TransformResult& r, QByteArray* encoded, Work&& work) {
    TransformResult done;
    try {
        done = work();
    } catch (const PictureError& e) {
        done = Fail(r, QString::fromStdString(e.what()));
    } catch (const std::bad_alloc&) {
        done = Fail(r, QStringLiteral("out of memory"));
    }
    if (encoded && done.status != TransformResult::Status::Written)
        encoded->resize(0);
    releaseLargeBuffers();
    return done;
}

TransformResult PictureTransform::run(const QString& localPath, const QString& targetPath,
                                      const TransformSettings& settings, QByteArray* encoded) {
    TransformResult r;
    const QFileInfo local(localPath);
    if (!local.exists() || local.isDir()) {
        r.unreadable = !localPath.isEmpty();
        return Skip(r, QStringLiteral("local file does not exist"));
    }
    const bool modern = settings.types == PictureTypes::Modern;
    const auto sourceKind = KindFromPath(localPath, false, settings.types);
    if (!sourceKind)
        return Skip(r, modern ? QStringLiteral("local file is not a picture of a known type")
                              : QStringLiteral("local file is not a BMP, JPEG, PNG or GIF file"));
    r.path = TargetPathForFormat(targetPath, settings.format);
    if (r.path.isEmpty())
        return Skip(r, QStringLiteral("unknown format %1").arg(settings.format));
    auto targetKind = KindFromPath(r.path, false, settings.types);
    if (!targetKind)
        return Skip(r, modern ? QStringLiteral("target does not end in the extension of a known picture type")
                              : QStringLiteral("target does not end in .bmp, .jpg, .png or .gif"));
    if (settings.fit && (settings.width <= 0 || settings.height <= 0))
        return Skip(r, QStringLiteral("the rectangle to fit has no area"));
    if (settings.format == kSaveOriginal && !settings.fit && IsModernKind(*sourceKind) &&
        targetKind == sourceKind)
        return copyOriginal(r, *sourceKind, localPath, encoded);
    if (!KindHasEncoder(*targetKind)) {
        r.path = TargetPathForFormat(r.path, kSavePng);
        targetKind = PictureKind::Png;
    }

    return guarded(r, encoded, [&]() -> TransformResult {
        readSource(localPath, r);
        decode(*sourceKind);
        if (source_.isEmpty())
            return Skip(r, QStringLiteral("picture has width or height 0"));
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
                if (!ResizeNearest(source_, scaled_))
                    throw PictureError("cannot scale the picture to " + std::to_string(size.width()) + " x " +
                                       std::to_string(size.height()));
                picture = &scaled_;
            }
        }
        QString error;
        if (encoded) {
            detail::EncodePictureInto(*picture, *targetKind, *encoded);
        } else {
            QByteArray bytes;
            detail::EncodePictureInto(*picture, *targetKind, bytes);
            if (!WriteWholeFile(r.path, bytes, &error))
                throw PictureError("cannot write " + r.path.toStdString() + ": " + error.toStdString());
        }
        r.status = TransformResult::Status::Written;
        r.type = KindExtension(*targetKind);
        r.width = picture->width;
        r.height = picture->height;
        return r;
    });
}

TransformResult PictureTransform::copyOriginal(TransformResult r, PictureKind kind, const QString& localPath,
                                               QByteArray* encoded) {
    return guarded(r, encoded, [&]() -> TransformResult {
        readSource(localPath, r);
        int width = 0, height = 0;
        detail::ReadPictureSizeOf(reinterpret_cast<const std::uint8_t*>(file_.constData()),
                                  static_cast<std::size_t>(file_.size()), kind, width, height);
        if (width == 0 || height == 0)
            return Skip(r, QStringLiteral("picture has width or height 0"));
        QString error;
        if (encoded)
            *encoded = file_;
        else if (!WriteWholeFile(r.path, file_, &error))
            throw PictureError("cannot write " + r.path.toStdString() + ": " + error.toStdString());
        r.status = TransformResult::Status::Written;
        r.type = KindExtension(kind);
        r.width = width;
        r.height = height;
        return r;
    });
}

void PictureTransform::decode(PictureKind kind) {
    SourceSink sink(source_, rowState_);
    try {
        detail::StreamPicture(reinterpret_cast<const std::uint8_t*>(file_.constData()),
                              static_cast<std::size_t>(file_.size()), kind, sink);
        sink.finish();
    } catch (...) {
        source_.width = source_.height = 0;
        source_.pixels.clear();
        throw;
    }
}

void PictureTransform::releaseLargeBuffers() {
    file_.clear();
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
    row->outcome.localPath = localPath;
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
        if (outcome.encoded.capacity() <= kRecycledFileBytes) {
            outcome.encoded.resize(0);
            std::lock_guard lock(m_mutex);
            if (m_spare.size() < m_workers.size() + static_cast<std::size_t>(depth()))
                m_spare.push_back(std::move(outcome.encoded));
        }
        outcome.encoded = QByteArray();
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
        QByteArray encoded;
        if (!m_spare.empty()) {
            encoded = std::move(m_spare.back());
            m_spare.pop_back();
        }
        lock.unlock();
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
