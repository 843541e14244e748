#pragma once
// The background job: a worker thread that walks the items of a run, doing the
// slow work of each item off the window thread and handing every step that
// touches the window to the window thread, waiting while it runs there.
//
// A job is created suspended, without a worker: the first Resume() starts the
// worker, once the derived job is fully built. Resume() starts a run when the
// job is suspended and is lost when it is running. After its finish step the
// worker suspends itself until the next Resume(). Terminate() ends the loop
// between items; the worker then ends (QThread::finished).
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

namespace skarvel {

class BackgroundJob : public QThread {
    Q_OBJECT
public:
    // window: an object living on the window thread; steps run in its context.
    explicit BackgroundJob(QObject* window);
    ~BackgroundJob() override;

    // Start a run when suspended (the first one starts the worker); a job that
    // runs is not affected.
    void Resume();
    // Ask the loop to end before its next item or run.
    void Terminate();
    // Ends the worker for good: cuts slow work short, drops pending window
    // steps and waits until the worker has ended. The owner calls it before
    // destroying a job, while the job's own members still exist.
    void Shutdown();
    bool Terminated() const;
    bool Suspended() const;

    // Job variables shared with the window-side steps.
    int itemCount = 0;
    int itemIndex = 0;

signals:
    // Emitted from the worker each time it suspends itself after a run.
    void runEnded();

protected:
    // Runs step on the window thread and waits for it.
    void Synchronize(const std::function<void()>& step);

    // The steps of one run. prepare/fetch/write/finish run on the window thread.
    virtual void prepareStep() {}
    virtual void fetchStep() {}
    virtual void work() {}
    virtual void writeStep() {}
    virtual void finishStep() {}
    // Variants of the loop.
    virtual bool hasWriteStep() const { return true; }
    virtual bool hasFinishStep() const { return true; }
    // Called on the worker with an error caught around work().
    virtual void workFailed(const std::exception& error) { Q_UNUSED(error); }
    // Called from the window thread when the job is torn down: cut slow work short.
    virtual void abortWork() {}

    // The items of one run, between the prepare and the finish steps: by default one at a time,
    // fetch, work and write. A job that keeps several items in flight replaces it.
    virtual void runItems();

    void run() override; // the worker loop (Execute)

private:
    bool waitForStart();
    QObject* m_window;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_suspended = true;
    bool m_terminated = false;
    bool m_detached = false; // the window is going away: steps are no longer run
};

} // namespace skarvel
