#include "jobs/download_job.h"

#include "common/file_ops.h"
#include "jobs/failure_reason.h"
#include "jobs/ordered_requests.h"
#include "net/http_client.h"
#include "net/url_encoding.h"

namespace skarvel {

TableDownloadJob::TableDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                                   std::function<QString()> folder)
    : BackgroundJob(window), table(table), progress(progress), m_folder(std::move(folder)),
      m_limits(DefaultLimits()) {}

TransferOptions TableDownloadJob::DownloadOptions() {
    TransferOptions options;
    options.followRedirects = true;
    options.tls = true;
    return options;
}

void TableDownloadJob::SetDefaultLimits(const TransferLimits& limits) {
    SetJobTransferLimits(limits);
}

TransferLimits TableDownloadJob::DefaultLimits() {
    return JobTransferLimits();
}

void TableDownloadJob::setLimits(const TransferLimits& limits) {
    m_limits = limits;
}

int TableDownloadJob::countItems() const {
    return table.gridRowCount() - 1;
}

QString TableDownloadJob::failureWord() const {
    return kStatusDownloadError;
}

void TableDownloadJob::prepareStep() {
    itemCount = countItems();
    // Items past the table's last row (a count left by an earlier parse) have no row.
    m_items = table.rowIds(itemCount);
    m_completed = 0;
    progress.start(itemCount);
    if (!m_engine || m_engine->limits().maxTransfers != m_limits.maxTransfers ||
        m_engine->limits().maxTransfersPerHost != m_limits.maxTransfersPerHost) {
        // Made here, on the window thread, so that abortWork() always finds the engine of the run.
        m_engine = std::make_unique<TransferEngine>(m_limits, DownloadOptions());
        if (m_shuttingDown)
            m_engine->abort();
    }
}

void TableDownloadJob::finishStep() {
    progress.finish();
}

void TableDownloadJob::abortWork() {
    m_shuttingDown = true;
    if (m_engine)
        m_engine->abort();
}

void TableDownloadJob::KeepBody(TransferResult& result, const QString& path) {
    QString error;
    if (!keepBodyFile(result, path, &error))
        throw FileWriteError(
            QString(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + error).toStdString());
}

void TableDownloadJob::settleItem(DownloadItem& item, TransferResult* result) {
    if (!result || item.skip)
        return;
    try {
        if (result->failure == TransferFailure::WriteError)
            throw FileWriteError(result->error.toStdString());
        if (!result->ok())
            throw HttpError(result->error,
                            result->failure == TransferFailure::HttpStatus ? result->status : 0,
                            result->retryAfter);
        completeItem(item, *result);
    } catch (const std::exception& e) {
        item.failed = true;
        item.failureReason = FailureReason(e);
    } catch (...) {
        item.failed = true;
        item.failureReason = QStringLiteral("unknown error");
    }
}

void TableDownloadJob::writeEnded(const DownloadItem& item) {
    ++m_completed;
    progress.setValue(progressAfter(m_completed));
    if (item.skip)
        return;
    const int row = table.rowOf(item.id);
    if (row == 0)
        return; // removed while in flight: the result has nowhere to go
    if (item.failed)
        table.setStatus(row, failureWord(), item.failureReason);
    else
        writeItem(item, row);
}

void TableDownloadJob::runItems() {
    if (!m_engine || m_shuttingDown)
        return;
    TransferEngine& engine = *m_engine;
    // Items that ended since the last hand-off, and items just taken: both cross to the window thread
    // in one step, so that a run of small files costs two thread switches per pump, not per item.
    std::vector<std::shared_ptr<DownloadItem>> ended;
    std::vector<std::shared_ptr<DownloadItem>> taken;
    std::optional<TransferOptions> options;
    if (const std::optional<QByteArray> accept = acceptHeader()) {
        options = DownloadOptions();
        options->accept = *accept;
    }
    int next = 0;
    while ((next < itemCount && !Terminated()) || !engine.idle() || !ended.empty()) {
        const int room = next < itemCount && !Terminated() ? std::min(engine.wanted(), itemCount - next) : 0;
        if (room > 0 || !ended.empty()) {
            taken.clear();
            for (int i = 0; i < room; ++i) {
                auto item = std::make_shared<DownloadItem>();
                item->index = next++;
                taken.push_back(std::move(item));
            }
            Synchronize([this, &ended, &taken] {
                for (const auto& item : ended)
                    writeEnded(*item);
                for (const auto& item : taken) {
                    item->id = item->index < int(m_items.size()) ? m_items[size_t(item->index)] : 0;
                    item->row = table.rowOf(item->id);
                    item->url = item->row > 0 ? table.cell(col::Url, item->row) : QString();
                    item->folder = m_folder();
                    takeItem(*item);
                }
            });
            ended.clear();
            for (auto& item : taken) {
                if (item->skip) {
                    ended.push_back(std::move(item));
                    continue;
                }
                TransferRequest request;
                request.url = EncodeDownloadUrl(item->url);
                request.options = options;
                // The engine streams into a temporary file there; the final name comes later.
                request.bodyFolder = item->folder;
                request.done = [this, item, &ended](TransferResult& result) {
                    settleItem(*item, &result);
                    ended.push_back(item);
                };
                engine.submit(std::move(request));
            }
        }
        if (Terminated())
            engine.endRetryWaits(); // a stopped run does not sit out a server's Retry-After
        if (!engine.idle())
            engine.pump(std::chrono::milliseconds(250));
    }
}

} // namespace skarvel
