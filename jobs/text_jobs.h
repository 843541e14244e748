#pragma once
// The text page download: every row of the text table saved whole, as the raw
// page bytes, into the work folder's Text folder.
#include "jobs/download_job.h"

#include <QString>

namespace skarvel {

class TextPagesDownload : public TableDownloadJob {
    Q_OBJECT
public:
    // workFolder: ends with a separator; read as each item is taken.
    TextPagesDownload(QObject* window, CollectionTable& table, ProgressSink& progress,
                      std::function<QString()> workFolder);

    // The file of data row `row`: workFolder + "Text" + separator + row + ".txt".
    static QString LocalTextPath(const QString& workFolder, int row);

protected:
    int progressAfter(int completed) const override { return completed; }
    void completeItem(DownloadItem& item, TransferResult& result) override;
    void writeItem(const DownloadItem& item, int row) override;
};

} // namespace skarvel
