#pragma once
// The URL list builder: every line of Source_Links goes to the service's list
// script, and each answer is appended to URLs_List in source-link order.
#include "net/service_client.h"
#include "gui/jobs/window_job.h"

#include <QString>

namespace skarvel {

class Make_URLs_List : public WindowJob {
    Q_OBJECT
public:
    explicit Make_URLs_List(TForm1* form1);

protected:
    void prepareStep() override;
    void fetchStep() override;
    void work() override;
    void writeStep() override;
    // The last write step hides the progress bar instead.
    bool hasFinishStep() const override { return false; }
    void workFailed(const std::exception& error) override;
    void abortWork() override;

private:
    ServiceClient m_service;
    QString m_link;   // the source link in hand
    QString m_answer; // what the link adds to the URL list
};

} // namespace skarvel
