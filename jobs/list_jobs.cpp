#include "jobs/list_jobs.h"

#include "common/text_ops.h"

namespace skarvel {

Make_URLs_List::Make_URLs_List(QObject* window, const QString& serviceBase, const LineSource& sourceLinks,
                               std::function<void(const QString&)> appendToList, ProgressSink& progress)
    : BackgroundJob(window), m_sourceLinks(sourceLinks), m_appendToList(std::move(appendToList)),
      m_progress(progress), m_service(serviceBase) {}

void Make_URLs_List::prepareStep() {
    itemCount = m_sourceLinks.lineCount();
    m_progress.start(itemCount);
}

void Make_URLs_List::fetchStep() {
    m_link = m_sourceLinks.line(itemIndex);
}

void Make_URLs_List::work() {
    m_answer.clear();
    m_answer = ReplaceAll(m_service.makeList(m_link), QStringLiteral("\n"), QStringLiteral("\r\n"));
}

void Make_URLs_List::workFailed(const std::exception&) {
    // The service jobs record nothing for a failed link.
    m_answer.clear();
}

void Make_URLs_List::writeStep() {
    m_appendToList(m_answer);
    m_progress.setValue(itemIndex + 1);
    if (itemIndex >= itemCount - 1)
        m_progress.finish();
}

void Make_URLs_List::abortWork() {
    m_service.abort();
}

} // namespace skarvel
