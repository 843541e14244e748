#include "jobs/list_jobs.h"

#include "common/text_ops.h"
#include "jobs/ordered_requests.h"

namespace skarvel {

Make_URLs_List::Make_URLs_List(QObject* window, const QString& serviceBase, const LineSource& sourceLinks,
                               std::function<void(const QString&)> appendToList, ProgressSink& progress)
    : BackgroundJob(window), m_sourceLinks(sourceLinks), m_appendToList(std::move(appendToList)),
      m_progress(progress), m_service(serviceBase),
      m_engine(JobTransferLimits(), ServiceClient::EngineOptions()) {}

void Make_URLs_List::prepareStep() {
    itemCount = m_sourceLinks.lineCount();
    m_progress.start(itemCount);
}

void Make_URLs_List::runItems() {
    OrderedRequests steps;
    steps.take = [this](int index) -> std::optional<TransferRequest> {
        QString link;
        Synchronize([&] { link = m_sourceLinks.line(index); });
        TransferRequest request;
        request.url = m_service.makeListUrl();
        request.form = ServiceClient::MakeListBody(link);
        return request;
    };
    // A failed link adds nothing.
    steps.answerOf = [](TransferResult& result) {
        return ReplaceAll(ServiceClient::MakeListAnswer(result.body), QStringLiteral("\n"),
                          QStringLiteral("\r\n"));
    };
    steps.deliver = [this](int index, const QString& answer) {
        Synchronize([&] {
            m_appendToList(answer);
            m_progress.setValue(index + 1);
            if (index >= itemCount - 1)
                m_progress.finish();
        });
    };
    steps.stop = [this] { return Terminated(); };
    RunOrderedRequests(m_engine, itemCount, steps);
}

void Make_URLs_List::abortWork() {
    m_engine.abort();
}

} // namespace skarvel
