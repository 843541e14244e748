#pragma once
// Common ground of the five download jobs: an HTTP client of their own with
// TLS and redirects, the URL encoding of downloads and whole-file writes.
#include "net/http_client.h"
#include "gui/jobs/window_job.h"

#include <QByteArray>
#include <QString>

namespace skarvel {

class DownloadJob : public WindowJob {
    Q_OBJECT
public:
    explicit DownloadJob(TForm1* form1);

    // Client options of every download job: TLS on, redirects followed.
    static HttpClient::Options ClientOptions();

protected:
    // GET of the download-encoded address; throws HttpError on failure.
    HttpResponse Fetch(const QString& url);
    // Creates, writes all and closes; throws std::runtime_error when the file
    // could not be written, so the item fails instead of naming a missing file.
    static void SaveBody(const QString& path, const QByteArray& body);
    void abortWork() override;

    HttpClient client;
};

} // namespace skarvel
