#pragma once
// Common ground of the picture, sound and video downloads: one GET per table
// row, the body saved under the work folder as <row number><extension> with the
// extension chosen by the content type, "OK" when the whole declared body came
// and "Broken" otherwise. Each kind adds its measuring and the cells it writes.
#include "jobs/download_job.h"

#include <QString>

namespace skarvel {

class MediaDownloadJob : public TableDownloadJob {
    Q_OBJECT
public:
    // What one download differs in, besides measure() and writeResults().
    struct Setup {
        const char* subFolder; // under the work folder
        int skipColumn;        // a row whose cell here is not empty is left alone
        // The extension for a content type given lower-cased, without parameters.
        QString (*extensionFor)(const QString& contentType);
    };

    // workFolder: ends with a separator; read as each item is taken.
    MediaDownloadJob(QObject* window, CollectionTable& table, ProgressSink& progress,
                     std::function<QString()> workFolder, const Setup& setup);

protected:
    // On the worker, after the body is saved; may throw to fail the item.
    virtual void measure(DownloadItem& item) { Q_UNUSED(item); }
    // The local file's extension for a lower-case content type without parameters (on the worker).
    virtual QString extensionFor(const QString& contentType) const {
        return m_setup.extensionFor(contentType);
    }

    void takeItem(DownloadItem& item) override;
    void completeItem(DownloadItem& item, TransferResult& result) override;

private:
    Setup m_setup;
};

} // namespace skarvel
