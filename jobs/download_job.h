#pragma once
// Common ground of the five download jobs: a transfer engine of their own with
// TLS and redirects, several rows in flight at once up to its limits, bodies
// streamed into a temporary file beside their target; the rows of a run taken
// by identity, so that a result goes to the row it was fetched for whatever
// rows are removed meanwhile, in whatever order the transfers end.
#include "jobs/background_job.h"
#include "jobs/job_context.h"
#include "net/transfer_engine.h"
#include "pictures/picture_measure.h"
#include "tables/collection_tables.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace skarvel {

// One item of a table download, from its take to its write.
struct DownloadItem {
    int index = 0;
    RowId id = 0;
    // The row number the item had when it was taken; local files are named by it.
    // 0 when its row was removed before the item was taken: no work, no write.
    int row = 0;
    QString url;
    QString folder;
    // Left alone: nothing fetched, nothing written, the bar still moves.
    bool skip = false;
    bool failed = false;
    QString failureReason;
    // Results of the work, written by the write step.
    QString status;
    QString contentType; // lower case, without parameters
    QString localPath;
    qint64 size = 0;
    qint64 declaredLength = -1;
    int width = -1;
    int height = -1;
    int duration = -1;
    // A picture's kind and its measuring pass (width, height, thumbnail).
    std::optional<PictureKind> pictureKind;
    std::optional<PictureMeasure> picture;
};

class TableDownloadJob : public BackgroundJob {
    Q_OBJECT
public:
    // folder: read as each item is taken (a settings change applies from the next item).
    TableDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                     std::function<QString()> folder);

    // Transfer options of every download: TLS on, redirects followed, a 429 or 503 with Retry-After
    // sent once more after the asked wait (at most a minute).
    static TransferOptions DownloadOptions();
    // The limits of the downloads created from now on (MAX_TRANSFERS, MAX_TRANSFERS_PER_HOST).
    static void SetDefaultLimits(const TransferLimits& limits);
    static TransferLimits DefaultLimits();
    // The limits of this job's next run; on the window thread, while the job is suspended.
    void setLimits(const TransferLimits& limits);

protected:
    // Item count of a run; the table's data rows unless a job says otherwise.
    virtual int countItems() const;
    // On the window thread, as the item is taken: fills its skip flag and anything of its row.
    virtual void takeItem(DownloadItem& item) { item.skip = item.row == 0; }
    // On the worker, when the transfer ended well: saves (keepBodyFile) and measures; may throw
    // to fail the item.
    virtual void completeItem(DownloadItem& item, TransferResult& result) = 0;
    // On the window thread, for an item neither skipped nor failed, into the row that holds it now.
    virtual void writeItem(const DownloadItem& item, int row) = 0;
    // The status word of a failed item.
    virtual QString failureWord() const;
    // The bar's position after n completed items: n - 1 by default, so that it stands one step
    // short of its maximum until the finish step hides it.
    virtual int progressAfter(int completed) const { return completed - 1; }
    // The Accept header of the run's requests, read on the worker after the prepare step; unset:
    // the transfer engine's own.
    virtual std::optional<QByteArray> acceptHeader() const { return std::nullopt; }

    void prepareStep() override;
    void finishStep() override;
    void runItems() override;
    void abortWork() override;

    // Moves the body into place; throws FileWriteError when it cannot.
    static void KeepBody(TransferResult& result, const QString& path);

    CollectionTable& table;
    ProgressSink& progress;

private:
    // On the worker: the outcome of the item's transfer, or nothing for a skipped item.
    void settleItem(DownloadItem& item, TransferResult* result);
    // On the window thread: the bar moves and the row that holds the item gets its result.
    void writeEnded(const DownloadItem& item);

    std::function<QString()> m_folder;
    std::vector<RowId> m_items;
    TransferLimits m_limits;
    std::unique_ptr<TransferEngine> m_engine;
    std::atomic<bool> m_shuttingDown{false};
    int m_completed = 0;
};

} // namespace skarvel
