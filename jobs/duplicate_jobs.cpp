#include "jobs/duplicate_jobs.h"

#include "common/file_ops.h"
#include "common/sha256.h"
#include "pictures/duplicate_groups.h"
#include "pictures/picture_measure.h"

#include <QElapsedTimer>

#include <unordered_map>
#include <utility>

namespace skarvel {

namespace {

// The bar moves at most this often while files are read: each move is a hand-off to the window.
constexpr qint64 kProgressIntervalMs = 40;
// Rows written or removed per window step: a step over a hundred thousand rows would hold the
// window for tens of milliseconds.
constexpr size_t kRowsPerStep = 10000;

std::shared_ptr<ContentFingerprint> FingerprintOf(const QString& path, const FileIdentity& identity) {
    auto f = std::make_shared<ContentFingerprint>();
    f->path = path;
    f->size = identity.size;
    f->modifiedNs = identity.modifiedNs;
    f->fileId = identity.fileId;
    return f;
}

bool StillHolds(const ContentFingerprint& f, const QString& path, const FileIdentity& identity) {
    return f.path == path && f.size == identity.size && f.modifiedNs == identity.modifiedNs &&
           f.fileId == identity.fileId;
}

} // namespace

// ---------------------------------------------------------------- DuplicateRemovalJob

DuplicateRemovalJob::DuplicateRemovalJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                                         Finished finished)
    : BackgroundJob(window), m_table(table), m_progress(progress), m_finished(std::move(finished)) {
    // Reported once the worker has suspended itself, so that a run asked for by whoever hears
    // the report is not refused as one already under way. Queued to this object, which lives on
    // the window thread, and dropped with it.
    connect(this, &BackgroundJob::runEnded, this, &DuplicateRemovalJob::reportRun, Qt::QueuedConnection);
}

std::vector<size_t> DuplicateRemovalJob::rowsToRead(const std::vector<Row>&,
                                                    const std::vector<size_t>& lacking) const {
    return lacking;
}

void DuplicateRemovalJob::prepareStep() {
    m_applied = false;
    m_removedCount = 0;
    m_rows.clear();
    const int count = m_table.isEmptyTable() ? 0 : m_table.gridRowCount() - 1;
    m_rows.reserve(size_t(count));
    for (int r = 1; r <= count; ++r)
        m_rows.push_back({m_table.rowId(r), m_table.cell(col::LocalPath, r), m_table.fingerprint(r)});
    itemCount = count;
    m_progress.start(itemCount);
}

void DuplicateRemovalJob::runItems() {
    std::vector<size_t> lacking;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        if (row.path.isEmpty())
            continue;
        const std::optional<FileIdentity> identity = IdentityOfFile(row.path);
        if (!identity)
            continue;
        row.fileSize = identity->size;
        if (row.stored && StillHolds(*row.stored, row.path, *identity) && complete(*row.stored))
            row.content = row.stored;
        else
            lacking.push_back(i);
    }
    const std::vector<size_t> toRead = rowsToRead(m_rows, lacking);
    itemIndex = itemCount - int(toRead.size());
    Synchronize([this] { m_progress.setValue(itemIndex); });
    QElapsedTimer sinceShown;
    sinceShown.start();
    for (size_t i : toRead) {
        if (Terminated())
            return;
        Row& row = m_rows[i];
        row.content = readContent(row.path);
        row.read = row.content != nullptr;
        ++itemIndex;
        if (sinceShown.elapsed() >= kProgressIntervalMs) {
            Synchronize([this] { m_progress.setValue(itemIndex); });
            sinceShown.restart();
        }
    }
    m_removedFor = findDuplicates(m_rows);
    // Bottom rows first, so that the rows above stay where the user sees them until the last step.
    std::vector<size_t> work;
    for (size_t i = m_rows.size(); i-- > 0;)
        if (m_rows[i].read || m_removedFor[i] >= 0)
            work.push_back(i);
    size_t done = 0;
    do {
        const size_t end = std::min(work.size(), done + kRowsPerStep);
        Synchronize([&] { applyResults(work, done, end); });
        done = end;
    } while (done < work.size() && !Terminated());
    // Freed here rather than on the window thread: a large table's snapshot takes a while.
    std::vector<Row>().swap(m_rows);
    std::vector<int>().swap(m_removedFor);
}

void DuplicateRemovalJob::finishStep() {
    m_progress.finish();
    m_reportPending = m_applied;
}

void DuplicateRemovalJob::reportRun() {
    if (!std::exchange(m_reportPending, false) || !m_finished)
        return;
    m_finished(m_removedCount);
}

void DuplicateRemovalJob::applyResults(const std::vector<size_t>& work, size_t begin, size_t end) {
    // A row whose Local path changed since the prepare step now names another file: it is left alone.
    const auto rowNow = [this](const Row& row) {
        const int r = m_table.rowOf(row.id);
        return r > 0 && m_table.cell(col::LocalPath, r) == row.path ? r : 0;
    };
    std::vector<int> remove;
    for (size_t w = begin; w < end; ++w) {
        const size_t i = work[w];
        const int r = rowNow(m_rows[i]);
        if (r == 0)
            continue;
        // Never a row whose kept twin has gone meanwhile.
        if (m_removedFor[i] >= 0 && rowNow(m_rows[size_t(m_removedFor[i])]) > 0)
            remove.push_back(r);
        else if (m_rows[i].read)
            m_table.setFingerprint(r, m_rows[i].content);
    }
    m_table.removeDataRows(remove);
    m_removedCount += int(remove.size());
    m_applied = true;
}

// ---------------------------------------------------------------- RemoveDuplicatePictures

RemoveDuplicatePictures::RemoveDuplicatePictures(QObject* window, CollectionTable& table,
                                                 ProgressSink& progress, int maxDistance, Finished finished,
                                                 std::function<PictureTypes()> pictureTypes)
    : DuplicateRemovalJob(window, table, progress, std::move(finished)), m_maxDistance(maxDistance),
      m_pictureTypes(std::move(pictureTypes)) {}

void RemoveDuplicatePictures::prepareStep() {
    m_types = m_pictureTypes ? m_pictureTypes() : PictureTypes::Classic;
    DuplicateRemovalJob::prepareStep();
}

std::shared_ptr<const ContentFingerprint> RemoveDuplicatePictures::FingerprintPicture(const QString& path,
                                                                                      PictureTypes types) {
    const std::optional<FileIdentity> before = IdentityOfFile(path);
    QByteArray bytes;
    if (!before || !ReadWholeFile(path, bytes) || IdentityOfFile(path) != before)
        return nullptr;
    auto f = FingerprintOf(path, *before);
    f->sha256 = Sha256(bytes);
    if (const std::optional<PictureKind> kind = KindFromPath(path, false, types)) {
        f->decodeTried = true;
        try {
            const PictureHash picture = HashPicture(bytes, *kind);
            if (picture.width > 0 && picture.height > 0) {
                f->decoded = true;
                f->width = picture.width;
                f->height = picture.height;
                f->perceptualHash = picture.perceptualHash;
            }
        } catch (const std::exception&) {
            // A file its decoder rejects keeps its row: it is compared with nothing.
        }
    }
    return f;
}

bool RemoveDuplicatePictures::complete(const ContentFingerprint& fingerprint) const {
    // A file read while its type was not known (WebP, AVIF or SVG before MODERN_PICTURES) is decoded now.
    return !fingerprint.sha256.isEmpty() && (fingerprint.decoded || fingerprint.decodeTried ||
                                             !KindFromPath(fingerprint.path, false, m_types));
}

std::shared_ptr<const ContentFingerprint> RemoveDuplicatePictures::readContent(const QString& path) const {
    return FingerprintPicture(path, m_types);
}

std::vector<int> RemoveDuplicatePictures::findDuplicates(const std::vector<Row>& rows) const {
    std::vector<PictureKey> keys;
    std::vector<size_t> rowOfKey;
    for (size_t i = 0; i < rows.size(); ++i) {
        const ContentFingerprint* f = rows[i].content.get();
        if (!f || !f->decoded)
            continue;
        keys.push_back({f->perceptualHash, f->width, f->height, f->sha256});
        rowOfKey.push_back(i);
    }
    const std::vector<int> removedFor = FindDuplicatePictures(keys, m_maxDistance);
    std::vector<int> result(rows.size(), -1);
    for (size_t k = 0; k < keys.size(); ++k)
        if (removedFor[k] >= 0)
            result[rowOfKey[k]] = int(rowOfKey[size_t(removedFor[k])]);
    return result;
}

// ---------------------------------------------------------------- RemoveDuplicateFiles

RemoveDuplicateFiles::RemoveDuplicateFiles(QObject* window, CollectionTable& table, ProgressSink& progress,
                                           Finished finished)
    : DuplicateRemovalJob(window, table, progress, std::move(finished)) {}

std::shared_ptr<const ContentFingerprint> RemoveDuplicateFiles::FingerprintFile(const QString& path) {
    const std::optional<FileIdentity> before = IdentityOfFile(path);
    if (!before)
        return nullptr;
    QByteArray digest;
    if (!Sha256OfFile(path, digest) || IdentityOfFile(path) != before)
        return nullptr;
    auto f = FingerprintOf(path, *before);
    f->sha256 = digest;
    return f;
}

bool RemoveDuplicateFiles::complete(const ContentFingerprint& fingerprint) const {
    return !fingerprint.sha256.isEmpty();
}

std::vector<size_t> RemoveDuplicateFiles::rowsToRead(const std::vector<Row>& rows,
                                                     const std::vector<size_t>& lacking) const {
    // Files of different sizes differ: a file whose size no other file has is never read.
    std::unordered_map<qint64, int> sizes;
    for (const Row& row : rows)
        if (row.fileSize >= 0)
            ++sizes[row.fileSize];
    std::vector<size_t> read;
    for (size_t i : lacking)
        if (sizes[rows[i].fileSize] > 1)
            read.push_back(i);
    return read;
}

std::shared_ptr<const ContentFingerprint> RemoveDuplicateFiles::readContent(const QString& path) const {
    return FingerprintFile(path);
}

std::vector<int> RemoveDuplicateFiles::findDuplicates(const std::vector<Row>& rows) const {
    std::vector<QByteArray> sha256;
    sha256.reserve(rows.size());
    for (const Row& row : rows)
        sha256.push_back(row.content ? row.content->sha256 : QByteArray());
    return FindDuplicateFiles(sha256);
}

} // namespace skarvel
