#include "jobs/harvest_job.h"

#include "app/main_window.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>

#include <chrono>
#include <thread>

namespace skarvel {

HarvestJob::HarvestJob(TForm1* form1, const Setup& setup)
    : WindowJob(form1), m_setup(setup), m_service(form1->serviceBase) {}

HarvestJob::~HarvestJob() {
    m_closing = true;
    Terminate();
    abortWork();
    // The worker may wait for a step on this thread: deliver it (it returns at once).
    while (!Suspended()) {
        QCoreApplication::sendPostedEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

QProgressBar* HarvestJob::bar() const {
    return Form1->*m_setup.progressBar;
}

void HarvestJob::prepareStep() {
    if (m_closing)
        return;
    itemCount = TForm1::MemoLineCount(Form1->URLs_List);
    bar()->setValue(0);
    bar()->setMaximum(itemCount);
    bar()->show();
}

void HarvestJob::fetchStep() {
    if (m_closing)
        return;
    // The line as it stands now: the user may edit the list while the harvest runs.
    m_line = Form1->URLs_List->document()->findBlockByNumber(itemIndex).text();
    m_response.clear();
}

void HarvestJob::work() {
    if (m_line.size() > kShortestLineSkipped)
        m_response = m_service.harvest(QLatin1String(m_setup.script), m_line);
}

void HarvestJob::writeStep() {
    if (m_closing)
        return;
    (Form1->*m_setup.buffer)->append(m_response);
    bar()->setValue(itemIndex + 1);
    if (m_setup.ending == Ending::LastWriteStep && itemIndex >= itemCount - 1)
        endRun();
}

void HarvestJob::finishStep() {
    if (m_closing)
        return;
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
