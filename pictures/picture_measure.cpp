#include "pictures/picture_measure.h"
#include "pictures/picture_codecs_internal.h"
#include "pictures/perceptual_hash.h"

#include "common/file_ops.h"
#include "common/sha256.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#elif defined(Q_OS_WIN)
#include <QDir>
#include <windows.h>
#endif

namespace skarvel {

std::optional<FileIdentity> IdentityOfFile(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                        quint64(st.st_ino)};
#elif defined(Q_OS_WIN)
    // The wide-character name reaches every file; the file index plays the inode's part.
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const std::unique_ptr<void, decltype(&CloseHandle)> closer(handle, &CloseHandle);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    const auto join = [](DWORD high, DWORD low) { return (quint64(high) << 32) | low; };
    // FILETIME counts 100 ns steps.
    const quint64 written = join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return FileIdentity{qint64(join(info.nFileSizeHigh, info.nFileSizeLow)), qint64(written) * 100,
                        join(info.nFileIndexHigh, info.nFileIndexLow)};
#else
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return FileIdentity{info.size(), info.lastModified().toMSecsSinceEpoch() * 1000000, 0};
#endif
}

namespace {

// Keeps the pixels ResizeNearest would take for the thumbnail, as the rows go by, and
// hands every pixel to the perceptual hasher when there is one.
class ThumbnailSink final : public detail::RowSink {
public:
    ThumbnailSink(PictureMeasure& out, int cellSize, PerceptualHasher* hasher)
        : m_out(out), m_cellSize(cellSize), m_hasher(hasher) {}

    void begin(int width, int height, const std::uint8_t fill[3]) override {
        m_out.width = width;
        m_out.height = height;
        m_row.resize(static_cast<std::size_t>(std::max(width, 0)) * 3);
        if (m_hasher)
            m_hasher->begin(width, height, fill);
        if (width <= 0 || height <= 0 || std::int64_t{width} * height > kDecodePixelBudget)
            return;
        const ThumbnailPlacement t = ComputeThumbnail(width, height, m_cellSize);
        if (t.width <= 0 || t.height <= 0)
            return;
        m_out.placement = t;
        m_out.thumbnail.resize(t.width, t.height);
        for (std::size_t i = 0; i < m_out.thumbnail.pixels.size(); i += 3)
            std::memcpy(&m_out.thumbnail.pixels[i], fill, 3);
        // The source row and column of every thumbnail row and column, as ResizeNearest picks them.
        const std::int64_t w = width, h = height, tw = t.width, th = t.height;
        m_sourceRow.resize(static_cast<std::size_t>(th));
        for (std::int64_t y = 0; y < th; ++y)
            m_sourceRow[static_cast<std::size_t>(y)] = static_cast<int>(th == 1 ? 0 : y * (h - 1) / (th - 1));
        m_sourceColumn.resize(static_cast<std::size_t>(tw));
        for (std::int64_t x = 0; x < tw; ++x)
            m_sourceColumn[static_cast<std::size_t>(x)] =
                static_cast<int>(tw == 1 ? 0 : x * (w - 1) / (tw - 1));
    }
    bool wants(int y) const override {
        return m_hasher || std::binary_search(m_sourceRow.begin(), m_sourceRow.end(), y);
    }
    std::uint8_t* rowBuffer(int) override { return m_row.data(); }
    void rowDone(int y) override { putPixels(y, 0, 1, m_out.width, m_row.data()); }
    void putPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb) override {
        if (m_hasher)
            m_hasher->addPixels(y, x0, dx, count, rgb);
        const auto [first, last] = std::equal_range(m_sourceRow.begin(), m_sourceRow.end(), y);
        for (auto it = first; it != last; ++it) {
            std::uint8_t* o = m_out.thumbnail.row(static_cast<int>(it - m_sourceRow.begin()));
            for (std::size_t tx = 0; tx < m_sourceColumn.size(); ++tx) {
                const int offset = m_sourceColumn[tx] - x0;
                if (offset < 0 || offset % dx != 0 || offset / dx >= count)
                    continue;
                std::memcpy(o + tx * 3, rgb + static_cast<std::size_t>(offset / dx) * 3, 3);
            }
        }
    }

private:
    PictureMeasure& m_out;
    int m_cellSize;
    PerceptualHasher* m_hasher;
    std::vector<int> m_sourceRow;    // non-decreasing
    std::vector<int> m_sourceColumn; // non-decreasing
    std::vector<std::uint8_t> m_row;
};

// An SVG is hashed from a drawing of its own at most this large: hashed from its 100-pixel
// thumbnail, one in fifteen raster copies of a drawing came out more than 4 bits away.
constexpr int kSvgHashSide = 256;

// Every pixel goes to the hasher; nothing is kept.
class HashSink final : public detail::RowSink {
public:
    explicit HashSink(PictureHash& out) : m_out(out) {}
    void begin(int width, int height, const std::uint8_t fill[3]) override {
        m_out.width = width;
        m_out.height = height;
        m_row.resize(static_cast<std::size_t>(std::max(width, 0)) * 3);
        m_hasher.begin(width, height, fill);
    }
    bool wants(int) const override { return true; }
    std::uint8_t* rowBuffer(int) override { return m_row.data(); }
    void rowDone(int y) override { m_hasher.addRow(y, m_row.data()); }
    void putPixels(int y, int x0, int dx, int count, const std::uint8_t* rgb) override {
        m_hasher.addPixels(y, x0, dx, count, rgb);
    }
    std::uint64_t hash() const { return m_hasher.hash(); }

private:
    PictureHash& m_out;
    PerceptualHasher m_hasher;
    std::vector<std::uint8_t> m_row;
};

} // namespace

PictureMeasure MeasurePicture(const std::uint8_t* data, std::size_t size, PictureKind kind, int cellSize,
                              HashPixels hash) {
    PictureMeasure out;
    if (kind == PictureKind::Svg) {
        detail::CheckKindBuilt(kind);
        detail::CountDecodePass();
        detail::MeasureSvg(data, size, cellSize, out.width, out.height, out.thumbnail, out.placement);
        if (hash == HashPixels::Yes && out.width > 0 && out.height > 0) {
            // Drawn apart: a drawing that fails here keeps its thumbnail, and goes unhashed.
            try {
                out.perceptualHash = HashPicture(data, size, kind).perceptualHash;
            } catch (const PictureError&) {
            }
        }
        return out;
    }
    PerceptualHasher hasher;
    ThumbnailSink sink(out, cellSize, hash == HashPixels::Yes ? &hasher : nullptr);
    detail::StreamPicture(data, size, kind, sink);
    if (hash == HashPixels::Yes && out.width > 0 && out.height > 0)
        out.perceptualHash = hasher.hash();
    return out;
}

PictureMeasure MeasurePicture(const QByteArray& bytes, PictureKind kind, int cellSize, HashPixels hash) {
    return MeasurePicture(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                          static_cast<std::size_t>(bytes.size()), kind, cellSize, hash);
}

PictureHash HashPicture(const std::uint8_t* data, std::size_t size, PictureKind kind) {
    PictureHash out;
    if (kind == PictureKind::Svg) {
        detail::CheckKindBuilt(kind);
        detail::CountDecodePass();
        PictureHash drawn;
        HashSink sink(drawn);
        detail::StreamSvgScaled(data, size, kSvgHashSide, out.width, out.height, sink);
        if (drawn.width > 0 && drawn.height > 0)
            out.perceptualHash = sink.hash();
        return out;
    }
    HashSink sink(out);
    detail::StreamPicture(data, size, kind, sink);
    out.perceptualHash = sink.hash();
    return out;
}

PictureHash HashPicture(const QByteArray& bytes, PictureKind kind) {
    return HashPicture(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       static_cast<std::size_t>(bytes.size()), kind);
}

bool MeasurePictureFile(const QString& path, PictureKind kind, PictureMeasure& out, QString* error,
                        int cellSize) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const std::optional<FileIdentity> before = IdentityOfFile(path);
    QByteArray bytes;
    if (!before || !ReadWholeFile(path, bytes))
        return fail(QStringLiteral("cannot read ") + path);
    if (IdentityOfFile(path) != before)
        return fail(QStringLiteral("file changed while it was read: ") + path);
    try {
        out = MeasurePicture(bytes, kind, cellSize, HashPixels::Yes);
    } catch (const std::exception& e) {
        return fail(QString::fromStdString(e.what()));
    }
    out.identity = before;
    out.sha256 = Sha256(bytes);
    return true;
}

} // namespace skarvel
