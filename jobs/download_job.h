#pragma once
// Common ground of the five download jobs: an HTTP client of their own with
// TLS and redirects, the URL encoding of downloads and whole-file writes; and,
// for the table-driven ones, the rows of a run taken by identity, so that a
// result goes to the row it was fetched for whatever rows are removed meanwhile.
#include "jobs/background_job.h"
#include "jobs/job_context.h"
#include "net/http_client.h"
#include "tables/collection_tables.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace skarvel {

class DownloadJob : public BackgroundJob {
    Q_OBJECT
public:
    explicit DownloadJob(QObject* window);

    // Client options of every download job: TLS on, redirects followed.
    static HttpClient::Options ClientOptions();

protected:
    // GET of the download-encoded address; throws HttpError on failure.
    HttpResponse Fetch(const QString& url);
    // Creates, writes all and closes; throws FileWriteError when the file could
    // not be written, so the item fails instead of naming a missing file.
    static void SaveBody(const QString& path, const QByteArray& body);
    void abortWork() override;

    HttpClient client;
};

// A download whose items are rows of a collection table. The prepare step takes
// the identities of the run's rows; the fetch step finds the item's row again
// and copies its URL; the write step writes into the row that now holds the
// item, or drops the result when that row has been removed.
class TableDownloadJob : public DownloadJob {
    Q_OBJECT
public:
    // folder: read by each fetch step (a settings change applies from the next item).
    TableDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                     std::function<QString()> folder);

protected:
    // Item count of a run; the table's data rows unless a job says otherwise.
    virtual int countItems() const;

    void prepareStep() override;
    void fetchStep() override;
    void finishStep() override;
    void workFailed(const std::exception& error) override;

    // The row that holds the item in hand now; 0 when it has been removed.
    int currentRow() const;
    // Writes the failure of the item in hand, with its reason, when its row still exists.
    void writeFailure(const QString& statusWord);

    CollectionTable& table;
    ProgressSink& progress;

    // Job variables of the item in hand, set by the fetch step.
    // The row number the item had when it was taken; local files are named by it.
    // 0 when its row was removed before the item was reached: no work, no write.
    int itemRow = 0;
    QString itemUrl;
    QString folder;
    bool failed = false;
    QString failureReason;

private:
    std::function<QString()> m_folder;
    std::vector<RowId> m_items;
};

} // namespace skarvel
