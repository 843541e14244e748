#pragma once
// Common ground of the picture, sound and video downloads: one GET per table
// row, the body saved under the work folder as <row number><extension> with the
// extension chosen by the content type, "OK" when the whole declared body came
// and "Broken" otherwise. Each kind adds its measuring and the cells it writes.
#include "gui/jobs/download_job.h"

#include <QString>


class QProgressBar;

namespace skarvel {

class CollectionTable;

class MediaDownloadJob : public DownloadJob {
    Q_OBJECT
public:
    // What one download differs in, besides measure() and writeResults().
    struct Setup {
        CollectionTable* TForm1::*table;
        QProgressBar* TForm1::*progressBar;
        const char* subFolder;  // under the work folder
        int skipColumn;         // a row whose cell here is not empty is left alone
        // The extension for a content type given lower-cased, without parameters.
        QString (*extensionFor)(const QString& contentType);
    };

    MediaDownloadJob(TForm1* form1, const Setup& setup);

protected:
    // Item count of a run; the table's data rows unless a kind says otherwise.
    virtual int countItems() const;
    // On the worker, after the body is saved; may throw to fail the item.
    virtual void measure() {}
    // On the window thread, for an item that ended "OK" or "Broken".
    virtual void writeResults(CollectionTable& table, int row) = 0;

    void prepareStep() override;
    void fetchStep() override;
    void work() override;
    void writeStep() override;
    void finishStep() override;
    void workFailed(const std::exception& error) override;

    CollectionTable& table() const;
    QProgressBar* bar() const;

    // Job variables: the row's input and the results of its work.
    QString itemUrl;
    QString folder; // work folder + sub-folder + separator, read with the row
    bool skip = false;
    bool failed = false;
    QString contentType; // lower case, without parameters
    QString extension;
    QString localPath;
    QString status;
    qint64 size = 0;

private:
    Setup m_setup;
};

} // namespace skarvel
