#include "gui/jobs/harvest_job.h"

#include "gui/main_window.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>


namespace skarvel {

HarvestJob::HarvestJob(TForm1* form1, const Setup& setup)
    : WindowJob(form1), m_setup(setup), m_service(form1->serviceBase) {}

QProgressBar* HarvestJob::bar() const {
    return Form1->*m_setup.progressBar;
}

void HarvestJob::prepareStep() {
    itemCount = TForm1::MemoLineCount(Form1->URLs_List);
    ShowProgress(bar(), itemCount);
}

void HarvestJob::fetchStep() {
    // The line as it stands now: the user may edit the list while the harvest runs.
    m_line = Form1->URLs_List->document()->findBlockByNumber(itemIndex).text();
    m_response.clear();
}

void HarvestJob::work() {
    if (m_line.size() > kShortestLineSkipped)
        m_response = m_service.harvest(QLatin1String(m_setup.script), m_line);
}

void HarvestJob::writeStep() {
    (Form1->*m_setup.buffer)->append(m_response);
    bar()->setValue(itemIndex + 1);
    if (m_setup.ending == Ending::LastWriteStep && itemIndex >= itemCount - 1)
        endRun();
}

void HarvestJob::finishStep() {
    endRun();
}

void HarvestJob::endRun() {
    bar()->hide();
    (Form1->*m_setup.parser)();
}

void HarvestJob::abortWork() {
    m_service.abort();
}

} // namespace skarvel
