#pragma once
// The text page download: every row of the text table saved whole, as the raw
// page bytes, into the work folder's Text folder.
#include "gui/jobs/download_job.h"

#include <QString>

#include <exception>

namespace skarvel {

class TextPagesDownload : public DownloadJob {
    Q_OBJECT
public:
    explicit TextPagesDownload(TForm1* form1);

    // The file of data row `row`: workFolder + "Text" + separator + row + ".txt".
    static QString LocalTextPath(const QString& workFolder, int row);

protected:
    void prepareStep() override;
    void fetchStep() override;
    void work() override;
    void writeStep() override;
    void finishStep() override;
    void workFailed(const std::exception& error) override;

private:
    // Item input, copied by the fetch step.
    QString m_url;
    QString m_workFolder;
    // Item results, written by the write step.
    QString m_localPath;
    QString m_status;
    int m_size = 0;
};

} // namespace skarvel
