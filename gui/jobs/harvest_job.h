#pragma once
// Common ground of the three page harvests: one service call per line of the
// URL list, the answers appended to a response buffer, a parser at the end.
#include "net/service_client.h"
#include "gui/jobs/window_job.h"

#include <QString>


class QProgressBar;

namespace skarvel {

class TextStore;

class HarvestJob : public WindowJob {
    Q_OBJECT
public:
    // How the harvest ends its run.
    enum class Ending {
        FinishStep,    // the finish step hides the bar and runs the parser
        LastWriteStep, // no finish step: the write step of the last item does it
    };
    // What one harvest differs in: everything else is shared.
    struct Setup {
        const char* script;               // the service script, e.g. kImagesScript
        TextStore* TForm1::*buffer;       // the response buffer
        QProgressBar* TForm1::*progressBar;
        void (TForm1::*parser)();         // the handler that parses the buffer
        Ending ending;
    };

    // Lines of the URL list this short or shorter are not sent.
    static constexpr int kShortestLineSkipped = 10;

    HarvestJob(TForm1* form1, const Setup& setup);

protected:
    void prepareStep() override;
    void fetchStep() override;
    void work() override;
    void writeStep() override;
    void finishStep() override;
    bool hasFinishStep() const override { return m_setup.ending == Ending::FinishStep; }
    void abortWork() override;

private:
    void endRun();
    QProgressBar* bar() const;

    Setup m_setup;
    ServiceClient m_service;
    // Job variables: the URL-list line in hand and its answer.
    QString m_line;
    QString m_response;
};

} // namespace skarvel
