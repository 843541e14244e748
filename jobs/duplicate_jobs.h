#pragma once
// "Remove duplicates": the rows whose local file holds the same content as another row's
// go, and one row of each group stays. Files are read on the worker, and only those that
// no step has read since they last changed; the table is touched in the prepare and finish
// steps only, and rows are found again by identity, so rows removed or edited meanwhile are
// left as they are.
#include "jobs/background_job.h"
#include "jobs/job_context.h"
#include "pictures/picture_codecs.h"
#include "tables/collection_tables.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace skarvel {

class DuplicateRemovalJob : public BackgroundJob {
    Q_OBJECT
public:
    // Called on the window thread once a run has ended, with the number of rows it removed.
    using Finished = std::function<void(int removed)>;

    DuplicateRemovalJob(QObject* window, CollectionTable& table, ProgressSink& progress, Finished finished);

protected:
    // One data row as the prepare step found it, and what the worker learns of its file.
    struct Row {
        RowId id = 0;
        QString path;
        std::shared_ptr<const ContentFingerprint> stored;
        // Set on the worker: the file's size when it exists, and its content once known.
        qint64 fileSize = -1;
        std::shared_ptr<const ContentFingerprint> content;
        bool read = false; // content was read in this run
    };

    // Whether a fingerprint kept with a row answers all this job asks of the file.
    virtual bool complete(const ContentFingerprint& fingerprint) const = 0;
    // Which rows lacking a complete fingerprint need their file read (all by default).
    virtual std::vector<size_t> rowsToRead(const std::vector<Row>& rows,
                                           const std::vector<size_t>& lacking) const;
    // On the worker: reads the file of a row; nullptr when it cannot be read.
    virtual std::shared_ptr<const ContentFingerprint> readContent(const QString& path) const = 0;
    // For every row, the position of the row it is removed for, or -1 when it stays.
    virtual std::vector<int> findDuplicates(const std::vector<Row>& rows) const = 0;

    void prepareStep() override;
    void runItems() override;
    void finishStep() override;

private:
    // On the window thread: the fingerprints read and the removals of rows[work[begin..end)].
    void applyResults(const std::vector<size_t>& work, size_t begin, size_t end);
    // On the window thread after a run: hands its count to the Finished callback.
    void reportRun();

    CollectionTable& m_table;
    ProgressSink& m_progress;
    Finished m_finished;
    std::vector<Row> m_rows;
    std::vector<int> m_removedFor;
    bool m_applied = false;
    int m_removedCount = 0;
    bool m_reportPending = false; // the finish step ran; its report waits for the run's end
};

// Pictures: the same bytes, or the same picture at another size or encoding (perceptual
// hashes within maxDistance bits, aspect ratios within 2 %); 0 compares bytes only. Rows
// without a file, or whose file does not decode, stay; of each group the largest picture
// stays, the first of equals.
class RemoveDuplicatePictures : public DuplicateRemovalJob {
    Q_OBJECT
public:
    // pictureTypes gives, at the start of each run, the types whose files are decoded.
    RemoveDuplicatePictures(QObject* window, CollectionTable& table, ProgressSink& progress, int maxDistance,
                            Finished finished, std::function<PictureTypes()> pictureTypes = {});

    // The fingerprint of a picture file: SHA-256, and the size and perceptual hash when it decodes
    // as the kind of `types` its extension names. nullptr when the file cannot be read.
    static std::shared_ptr<const ContentFingerprint> FingerprintPicture(const QString& path,
                                                                        PictureTypes types);

protected:
    void prepareStep() override;
    bool complete(const ContentFingerprint& fingerprint) const override;
    std::shared_ptr<const ContentFingerprint> readContent(const QString& path) const override;
    std::vector<int> findDuplicates(const std::vector<Row>& rows) const override;

private:
    int m_maxDistance;
    std::function<PictureTypes()> m_pictureTypes;
    PictureTypes m_types = PictureTypes::Classic; // of the run, set by the prepare step
};

// Sounds and videos: byte-for-byte copies (SHA-256) go, the first stays. Only files whose
// size another file shares are read.
class RemoveDuplicateFiles : public DuplicateRemovalJob {
    Q_OBJECT
public:
    RemoveDuplicateFiles(QObject* window, CollectionTable& table, ProgressSink& progress, Finished finished);

    // SHA-256 of the file's bytes; nullptr when it cannot be read.
    static std::shared_ptr<const ContentFingerprint> FingerprintFile(const QString& path);

protected:
    bool complete(const ContentFingerprint& fingerprint) const override;
    std::vector<size_t> rowsToRead(const std::vector<Row>& rows,
                                   const std::vector<size_t>& lacking) const override;
    std::shared_ptr<const ContentFingerprint> readContent(const QString& path) const override;
    std::vector<int> findDuplicates(const std::vector<Row>& rows) const override;
};

} // namespace skarvel
