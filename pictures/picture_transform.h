#pragma once
// The picture transform of the picture save and export: decode a downloaded picture,
// optionally fit it to a rectangle, encode it again in the chosen format.
#include "pictures/picture_codecs.h"

#include <QByteArray>
#include <QSize>
#include <QString>

namespace skarvel {

// Index of the "Save images as" choice.
enum SaveFormat : int { kSaveOriginal = 0, kSaveJpeg = 1, kSavePng = 2, kSaveGif = 3, kSaveBmp = 4 };

struct TransformSettings {
    int width = 100;  // rectangle W
    int height = 100; // rectangle H
    bool fit = false;
    int format = kSaveOriginal; // a SaveFormat
};

struct TransformResult {
    enum class Status { Written, Skipped, Failed };
    Status status = Status::Skipped;
    QString path;    // the target path after the format's extension was applied
    QString type;    // "jpg", "png", "gif" or "bmp" when written
    int width = 0;   // size of the picture written
    int height = 0;
    QString message; // why the row was skipped or failed, or a note on what was written
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
    // width or height 0. Failed: a file that cannot be decoded, encoded or written.
    // A fitted side of 0 pixels is written as 1 pixel, with a note in the message.
    TransformResult transform(const QString& localPath, const QString& targetPath,
                              const TransformSettings& settings);

    // The same steps, but the encoded file is returned in `encoded` and nothing is written.
    TransformResult transformToBytes(const QString& localPath, const QString& targetPath,
                                     const TransformSettings& settings, QByteArray& encoded);

    const Rgb24Image& decodedPicture() const { return source_; }

private:
    TransformResult run(const QString& localPath, const QString& targetPath, const TransformSettings& settings,
                        QByteArray* encoded);
    void releaseLargeBuffers();

    Rgb24Image source_;
    Rgb24Image scaled_;
};

} // namespace skarvel
