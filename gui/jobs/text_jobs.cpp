#include "gui/jobs/text_jobs.h"

#include "tables/collection_tables.h"
#include "gui/main_window.h"
#include "common/text_ops.h"

#include <QProgressBar>

namespace skarvel {

TextPagesDownload::TextPagesDownload(TForm1* form1) : DownloadJob(form1) {}

QString TextPagesDownload::LocalTextPath(const QString& workFolder, int row) {
    return workFolder + QStringLiteral("Text") + PathSeparator() + QString::number(row) + QStringLiteral(".txt");
}

void TextPagesDownload::prepareStep() {
    itemCount = Form1->textTable->gridRowCount() - 1;
    ShowProgress(Form1->ProgressBar6, itemCount);
}

void TextPagesDownload::fetchStep() {
    m_url = Form1->textTable->cell(col::Url, itemIndex + 1);
    // The work folder as it stands now: "Parameters" may change it between items.
    m_workFolder = Form1->workFolder;
    m_localPath.clear();
    m_status.clear();
    m_size = 0;
}

void TextPagesDownload::work() {
    const HttpResponse response = Fetch(m_url);
    const QString path = LocalTextPath(m_workFolder, itemIndex + 1);
    SaveBody(path, response.body);
    m_localPath = path;
    m_size = int(response.body.size());
    m_status = kStatusOK;
}

void TextPagesDownload::workFailed(const std::exception& error) {
    Q_UNUSED(error);
    m_status = kStatusDownloadError;
}

void TextPagesDownload::writeStep() {
    Form1->ProgressBar6->setValue(itemIndex + 1);
    const int row = itemIndex + 1;
    Form1->textTable->setCell(col::Status, row, m_status);
    if (m_status == kStatusOK) {
        Form1->textTable->setCell(col::LocalPath, row, m_localPath);
        Form1->textTable->setCell(col::TextSize, row, QString::number(m_size));
    }
}

void TextPagesDownload::finishStep() {
    Form1->ProgressBar6->hide();
}

} // namespace skarvel
