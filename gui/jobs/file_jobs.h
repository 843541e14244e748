#pragma once
// The file download: every row of the file table is fetched and its body saved
// into the folder the user chose, under the name the server or the address
// gives, or else under the row number and an extension from the content type.
#include "gui/jobs/download_job.h"

#include <QString>

namespace skarvel {

class FilesDownload : public DownloadJob {
    Q_OBJECT
public:
    explicit FilesDownload(TForm1* form1);

    // The local file name for a response, never empty and never holding a
    // directory part: Content-Disposition's file name, else the decoded last
    // segment of the final address's path (none when that address has a
    // query), else row + the extension of the content type.
    static QString LocalFileName(const HttpResponse& response, int row);
    // "." + everything after the first "/" of the lower-cased content type.
    static QString ExtensionForContentType(const QString& contentType);

protected:
    void prepareStep() override;
    void fetchStep() override;
    void work() override;
    void writeStep() override;
    void finishStep() override;
    void workFailed(const std::exception& error) override;

private:
    QString m_url;
    QString m_folder;
    QString m_status;
    QString m_localPath;
    qint64 m_declaredLength = -1;
};

} // namespace skarvel
