#pragma once
// Measuring a downloaded picture and making its thumbnail in the same pass over its data,
// holding a few rows at most, never the whole picture.
#include "pictures/picture_codecs.h"
#include "pictures/picture_thumbnail.h"

#include <QString>

#include <optional>

namespace skarvel {

// What tells one version of a file from another.
struct FileIdentity {
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 fileId = 0;
    bool operator==(const FileIdentity&) const = default;
};
// nullopt when path names no ordinary file.
std::optional<FileIdentity> IdentityOfFile(const QString& path);

struct PictureMeasure {
    int width = 0;
    int height = 0;
    // The thumbnail MakeThumbnail gives for the decoded picture, at its placement in the
    // cell; empty for a picture of width or height 0 or above kDecodePixelBudget pixels.
    // An SVG's thumbnail is drawn at the thumbnail's size, whatever the SVG's own.
    Rgb24Image thumbnail;
    ThumbnailPlacement placement;
    // The file as it was read (MeasurePictureFile only).
    std::optional<FileIdentity> identity;
};

// Decodes every row of the picture once, exactly as DecodePicture would (same size, same
// errors), keeping only the rows and columns the thumbnail of a cellSize cell takes. (WebP and
// AVIF are decoded whole, within kDecodePixelBudget; an SVG is drawn at the thumbnail's size.)
// Throws PictureError for a file its decoder rejects. Counts one in PictureDecodeCount().
PictureMeasure MeasurePicture(const std::uint8_t* data, std::size_t size, PictureKind kind,
                              int cellSize = 100);
PictureMeasure MeasurePicture(const QByteArray& bytes, PictureKind kind, int cellSize = 100);

// Reads the file and measures it. False, with the reason in *error, when the file is
// missing, changes while it is read, or its decoder rejects it.
bool MeasurePictureFile(const QString& path, PictureKind kind, PictureMeasure& out, QString* error = nullptr,
                        int cellSize = 100);

} // namespace skarvel
