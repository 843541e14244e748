#pragma once
// The URL list builder: every line of the source links goes to the service's
// list script, several in flight, and each answer is appended to the URL list
// in source-link order.
#include "jobs/background_job.h"
#include "jobs/job_context.h"
#include "net/service_client.h"

#include <QString>

#include <functional>

namespace skarvel {

class Make_URLs_List : public BackgroundJob {
    Q_OBJECT
public:
    // appendToList: appends an answer, whole, to the end of the URL list.
    Make_URLs_List(QObject* window, const QString& serviceBase, const LineSource& sourceLinks,
                   std::function<void(const QString&)> appendToList, ProgressSink& progress);

protected:
    void prepareStep() override;
    void runItems() override;
    // The last write step hides the progress bar instead.
    bool hasFinishStep() const override { return false; }
    void abortWork() override;

private:
    const LineSource& m_sourceLinks;
    std::function<void(const QString&)> m_appendToList;
    ProgressSink& m_progress;
    ServiceClient m_service;
    TransferEngine m_engine;
};

} // namespace skarvel
