#include "gui/jobs/download_job.h"

#include "common/file_ops.h"
#include "net/url_encoding.h"

#include <stdexcept>

namespace skarvel {

DownloadJob::DownloadJob(TForm1* form1) : WindowJob(form1), client(ClientOptions()) {}

HttpClient::Options DownloadJob::ClientOptions() {
    HttpClient::Options options;
    options.followRedirects = true;
    options.tls = true;
    return options;
}

HttpResponse DownloadJob::Fetch(const QString& url) {
    return client.get(EncodeDownloadUrl(url));
}

void DownloadJob::SaveBody(const QString& path, const QByteArray& body) {
    QString error;
    if (!WriteWholeFile(path, body, &error))
        throw std::runtime_error(QString(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + error).toStdString());
}

void DownloadJob::abortWork() {
    client.abort();
}

} // namespace skarvel
