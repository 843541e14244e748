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
//
// Ending a job is its owner's business: the owner calls Shutdown() while every
// part of the job still exists, then destroys it (OwnedJob does both). A job
// destroyed without it aborts the process: by then the derived job is gone and
// its worker could still be calling into it.
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace skarvel {

class BackgroundJob : public QThread {
    Q_OBJECT
public:
    // window: an object living on the window thread; steps run on that thread.
    explicit BackgroundJob(QObject* window);
    // Checks that the owner shut the job down; ends nothing itself.
    ~BackgroundJob() override;

    // Start a run when suspended (the first one starts the worker); a job that
    // runs is not affected.
    void Resume();
    // Ask the loop to end before its next item or run.
    void Terminate();
    // Ends the worker for good: cuts slow work short (abortWork), drops pending
    // window steps and waits until the worker has ended. Called by the owner on
    // the window thread before it destroys the job; a second call does nothing.
    void Shutdown();
    bool IsShutDown() const { return m_shutDown; }
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
    // Called by Shutdown() on the owner's thread, the job still whole: cut slow work short.
    virtual void abortWork() {}

    // The items of one run, between the prepare and the finish steps: by default one at a time,
    // fetch, work and write. A job that keeps several items in flight replaces it.
    virtual void runItems();

    void run() override; // the worker loop (Execute)

private:
    bool waitForStart();
    // Lives on the window thread and receives this job's steps only, so that a shutdown
    // delivers this job's pending steps and nothing else of the application's queue.
    QObject m_receiver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_suspended = true;
    bool m_terminated = false;
    bool m_detached = false; // the window is going away: steps are no longer run
    bool m_shutDown = false; // the worker has ended for good; owner's thread only
};

// The deleter of every owner of jobs: shuts the job down, then deletes it.
struct ShutDownAndDelete {
    void operator()(BackgroundJob* job) const;
};

// A job and its owner in one: the job is shut down before it is destroyed.
template <class Job = BackgroundJob> using OwnedJob = std::unique_ptr<Job, ShutDownAndDelete>;

template <class Job, class... Args> OwnedJob<Job> MakeOwnedJob(Args&&... args) {
    return OwnedJob<Job>(new Job(std::forward<Args>(args)...));
}

} // namespace skarvel
