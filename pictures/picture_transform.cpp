#include "pictures/picture_transform.h"

#include "common/file_ops.h"
#include "common/text_ops.h"

#include <QFileInfo>

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
