#include "jobs/harvest_job.h"

namespace skarvel {

HarvestJob::HarvestJob(QObject* window, const QString& serviceBase, const LineSource& urls, Setup setup)
    : BackgroundJob(window), m_urls(urls), m_setup(std::move(setup)), m_service(serviceBase) {}

void HarvestJob::prepareStep() {
    itemCount = m_urls.lineCount();
    m_setup.progress->start(itemCount);
}

void HarvestJob::fetchStep() {
    // The line as it stands now: the user may edit the list while the harvest runs.
    m_line = m_urls.line(itemIndex);
    m_response.clear();
}

void HarvestJob::work() {
    if (m_line.size() > kShortestLineSkipped)
        m_response = m_service.harvest(QLatin1String(m_setup.script), m_line);
}

void HarvestJob::writeStep() {
    m_setup.buffer->append(m_response);
    m_setup.progress->setValue(itemIndex + 1);
    if (m_setup.ending == Ending::LastWriteStep && itemIndex >= itemCount - 1)
        endRun();
}

void HarvestJob::finishStep() {
    endRun();
}

void HarvestJob::endRun() {
    m_setup.progress->finish();
    m_setup.parser();
}

void HarvestJob::abortWork() {
    m_service.abort();
}

} // namespace skarvel
