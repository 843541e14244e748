#pragma once
// The file download: every row of the file table is fetched and its body saved
// into the folder the user chose, under the name the server or the address
// gives, or else under the row number and an extension from the content type.
#include "jobs/download_job.h"
#include "net/http_client.h"

#include <QString>

namespace skarvel {

class FilesDownload : public TableDownloadJob {
    Q_OBJECT
public:
    // downloadFolder: the folder chosen by "Download files", ending with a
    // separator; read as each item is taken.
    FilesDownload(QObject* window, CollectionTable& table, ProgressSink& progress,
                  std::function<QString()> downloadFolder);

    // The local file name for a response, never empty and never holding a
    // directory part: Content-Disposition's file name, else the decoded last
    // segment of the final address's path (none when that address has a
    // query), else row + the extension of the content type.
    static QString LocalFileName(const HttpResponse& response, int row);
    static QString LocalFileName(const QString& contentDisposition, const QString& finalUrl,
                                 const QString& contentType, int row);
    // "." + everything after the first "/" of the lower-cased content type.
    static QString ExtensionForContentType(const QString& contentType);

protected:
    QString failureWord() const override;
    void completeItem(DownloadItem& item, TransferResult& result) override;
    void writeItem(const DownloadItem& item, int row) override;
};

} // namespace skarvel
