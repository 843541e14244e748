#include "jobs/harvest_job.h"

#include "jobs/ordered_requests.h"

namespace skarvel {

HarvestJob::HarvestJob(QObject* window, const QString& serviceBase, const LineSource& urls, Setup setup)
    : BackgroundJob(window), m_urls(urls), m_setup(std::move(setup)), m_service(serviceBase),
      m_engine(JobTransferLimits(), ServiceClient::EngineOptions()) {}

void HarvestJob::prepareStep() {
    itemCount = m_urls.lineCount();
    m_setup.progress->start(itemCount);
}

void HarvestJob::runItems() {
    OrderedRequests steps;
    steps.take = [this](int index) -> std::optional<TransferRequest> {
        QString line;
        // The line as it stands now: the user may edit the list while the harvest runs.
        Synchronize([&] { line = m_urls.line(index); });
        if (line.size() <= kShortestLineSkipped)
            return std::nullopt;
        TransferRequest request;
        request.url = m_service.harvestUrl(QLatin1String(m_setup.script), line);
        return request;
    };
    steps.answerOf = [](TransferResult& result) { return ServiceClient::HarvestAnswer(result); };
    steps.deliver = [this](int index, const QString& answer) {
        Synchronize([&] {
            m_setup.buffer->append(answer);
            m_setup.progress->setValue(index + 1);
            if (m_setup.ending == Ending::LastWriteStep && index >= itemCount - 1)
                endRun();
        });
    };
    steps.stop = [this] { return Terminated(); };
    RunOrderedRequests(m_engine, itemCount, steps);
}

void HarvestJob::finishStep() {
    endRun();
}

void HarvestJob::endRun() {
    m_setup.progress->finish();
    m_setup.parser();
}

void HarvestJob::abortWork() {
    m_engine.abort();
}

} // namespace skarvel
