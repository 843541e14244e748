#pragma once
// The picture transform of the picture save and export: decode a downloaded picture,
// optionally fit it to a rectangle, encode it again in the chosen format.
#include "pictures/picture_codecs.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace skarvel {

// Index of the "Save images as" choice.
enum SaveFormat : int { kSaveOriginal = 0, kSaveJpeg = 1, kSavePng = 2, kSaveGif = 3, kSaveBmp = 4 };

struct TransformSettings {
    int width = 100;  // rectangle W
    int height = 100; // rectangle H
    bool fit = false;
    int format = kSaveOriginal; // a SaveFormat
    // With Modern, WebP, AVIF and SVG are read and written too.
    PictureTypes types = PictureTypes::Classic;
};

struct TransformResult {
    enum class Status { Written, Skipped, Failed };
    Status status = Status::Skipped;
    QString path;  // the target path after the format's extension was applied
    QString type;  // "jpg", "png", "gif", "bmp", "webp", "avif" or "svg" when written
    int width = 0; // size of the picture written
    int height = 0;
    QString message; // why the row was skipped or failed, or a note on what was written
    // The local path names a file that is gone or cannot be read (the row is Skipped or Failed).
    bool unreadable = false;
};

// Size of a w x h picture fitted to a W x H rectangle: when w / h >= W / H (compared in
// floating point) the width becomes W and the height h * W / w, else the height becomes H
// and the width w * H / h (integer divisions after the multiplication). A side may come
// out as 0 for very wide or tall pictures. Any non-positive input gives QSize(0, 0).
QSize FitToRectangle(int w, int h, int W, int H);

// The target path with the extension of `format` in place of the file name's own (from
// its last "."), or appended when the file name has no "."; unchanged for kSaveOriginal.
// Empty for a format outside 0 to 4.
QString TargetPathForFormat(const QString& targetPath, int format);

// Holds the two working pictures (decoded and scaled), whose storage is reused from row
// to row. One instance per job; not for use by two threads at once.
class PictureTransform {
public:
    // Decodes localPath by its last four characters (case-insensitive: .bmp .jpg .png .gif),
    // fits it when settings.fit is on, and writes it at TargetPathForFormat(targetPath),
    // encoded by that path's last four characters, replacing any file of that name.
    // targetPath is the export folder plus export name, already made safe by the caller.
    // Skipped: missing local file, other picture types or target endings, a picture of
    // width or height 0. Failed: a file that cannot be read, decoded, encoded or written.
    // A missing or unreadable local file is marked unreadable, unless no path was given.
    // A fitted side of 0 pixels is written as 1 pixel, with a note in the message.
    // With settings.types Modern, .webp, .avif and .svg count too: a WebP, AVIF or SVG file
    // saved as "Original" without fitting, under a name of its own type, is copied byte for
    // byte (once it is known to decode); an SVG is drawn at its own size; a target of type SVG,
    // which nothing writes, is written as PNG with the extension ".png" in its place.
    TransformResult transform(const QString& localPath, const QString& targetPath,
                              const TransformSettings& settings);

    // The same steps, but the encoded file is returned in `encoded` and nothing is written.
    TransformResult transformToBytes(const QString& localPath, const QString& targetPath,
                                     const TransformSettings& settings, QByteArray& encoded);

    const Rgb24Image& decodedPicture() const { return source_; }

private:
    TransformResult run(const QString& localPath, const QString& targetPath,
                        const TransformSettings& settings, QByteArray* encoded);
    TransformResult copyOriginal(TransformResult r, PictureKind kind, const QString& localPath,
                                 QByteArray* encoded);
    // Reads the local file into file_; marks r unreadable and throws when it cannot.
    void readSource(const QString& localPath, TransformResult& r);
    // Runs work, turning a picture error or exhausted memory into a failure of r; after any
    // outcome but a written picture *encoded is empty, and the large buffers are let go.
    template <typename Work> TransformResult guarded(TransformResult& r, QByteArray* encoded, Work&& work);
    // Decodes the source file's bytes (file_).
    void decode(PictureKind kind);
    void releaseLargeBuffers();

    QByteArray file_; // the source file's bytes while it is decoded
    Rgb24Image source_;
    Rgb24Image scaled_;
    std::vector<std::uint8_t> rowState_; // per source row: whether the decoder wrote it yet
};

} // namespace skarvel

namespace skarvel {

// The picture transform of many rows on every core: rows are transformed in parallel,
// each worker with its own PictureTransform, and their outcomes come back in the order the
// rows were added, so files are written, or rows stored, exactly as one after the other.
class ParallelPictureTransform {
public:
    struct Outcome {
        TransformResult result;
        QByteArray encoded;       // the encoded file when the row was Written and added with toBytes
        QString localPath;        // as given to add()
        QString label;            // as given to add()
        bool writeFailed = false; // the picture was made but its file could not be written
    };

    // workers <= 0: one per core.
    explicit ParallelPictureTransform(int workers = 0);
    // Waits for the rows being transformed; outcomes not taken are dropped.
    ~ParallelPictureTransform();
    ParallelPictureTransform(const ParallelPictureTransform&) = delete;
    ParallelPictureTransform& operator=(const ParallelPictureTransform&) = delete;

    // Queues a row. With toBytes the outcome holds the encoded file and nothing is written
    // (PictureTransform::transformToBytes); without it, next() writes the file.
    void add(const QString& localPath, const QString& targetPath, const TransformSettings& settings,
             bool toBytes, const QString& label = {});
    // The outcome of the oldest row not yet taken. Without wait, nullopt while it is still
    // being transformed; nullopt too when no row is queued. Files are written here, on the
    // caller's thread, so in row order.
    std::optional<Outcome> next(bool wait);
    // Rows added and not yet taken.
    int queued() const;
    // Rows worth queueing ahead: enough to keep every worker busy.
    int depth() const { return 2 * static_cast<int>(m_workers.size()); }

private:
    struct Row;
    void workerLoop();

    mutable std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<Row>> m_rows; // in the order added
    std::size_t m_nextToStart = 0;           // index into m_rows of the first row no worker took
    std::vector<QByteArray> m_spare;         // storage of written files, for the next encodes
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace skarvel
