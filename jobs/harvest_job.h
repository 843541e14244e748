#pragma once
// Common ground of the three page harvests: one service call per line of the
// URL list, several in flight, the answers appended to a response buffer in
// URL-list order, a parser at the end.
#include "jobs/background_job.h"
#include "jobs/job_context.h"
#include "net/service_client.h"
#include "tables/text_store.h"

#include <QString>

#include <functional>

namespace skarvel {

class HarvestJob : public BackgroundJob {
    Q_OBJECT
public:
    // How the harvest ends its run.
    enum class Ending {
        FinishStep,    // the finish step hides the bar and runs the parser
        LastWriteStep, // no finish step: the write step of the last item does it
    };
    // What one harvest differs in: everything else is shared.
    struct Setup {
        const char* script; // the service script, e.g. kImagesScript
        TextStore* buffer;  // the response buffer
        ProgressSink* progress;
        std::function<void()> parser; // "harvest ended": parses the buffer
        Ending ending;
    };

    // Lines of the URL list this short or shorter are not sent.
    static constexpr int kShortestLineSkipped = 10;

    HarvestJob(QObject* window, const QString& serviceBase, const LineSource& urls, Setup setup);

protected:
    void prepareStep() override;
    void runItems() override;
    void finishStep() override;
    bool hasFinishStep() const override { return m_setup.ending == Ending::FinishStep; }
    void abortWork() override;

private:
    void endRun();

    const LineSource& m_urls;
    Setup m_setup;
    ServiceClient m_service;
    TransferEngine m_engine;
};

} // namespace skarvel
