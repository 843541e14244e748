#include "jobs/background_job.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QMetaObject>

#include <stdexcept>
#include <utility>

namespace skarvel {

namespace detail {

void StepReceiver::post() {
    // Invoked by method, not through a functor: Qt then makes, carries and frees the event on
    // its own, and nothing the worker writes is read on the window thread outside the job's
    // mutex.
    static const QMetaMethod run =
        staticMetaObject.method(staticMetaObject.indexOfMethod("runPendingStep()"));
    run.invoke(this, Qt::QueuedConnection);
}

void StepReceiver::runPendingStep() {
    m_job.runPendingStep();
}

} // namespace detail

BackgroundJob::BackgroundJob(QObject* window) {
    m_receiver.moveToThread(window->thread());
}

BackgroundJob::~BackgroundJob() {
    // Shutting down here would come too late: the derived part is already destroyed.
    if (!m_shutDown)
        qFatal("a background job was destroyed without Shutdown(): its owner must shut it down first");
}

void BackgroundJob::Shutdown() {
    if (m_shutDown)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_terminated = true;
        m_detached = true;
        // A step the window thread has not begun is dropped; its request to the window thread
        // finds nothing to run, or is removed below.
        if (!m_stepRunning)
            m_step = nullptr;
    }
    m_wake.notify_all();
    m_stepDone.notify_all();
    abortWork();
    {
        // Seen under the job's mutex, the worker's last act on the job is ordered before its
        // freeing for every checker, not only through Qt's own locks inside QThread::wait.
        std::unique_lock lock(m_mutex);
        m_workerGone.wait(lock, [this] { return !m_workerStarted || m_workerEnded; });
    }
    wait();
    // The requests of dropped steps go now; the rest of the window thread's queue is left alone.
    QCoreApplication::removePostedEvents(&m_receiver, QEvent::MetaCall);
    m_shutDown = true;
}

void ShutDownAndDelete::operator()(BackgroundJob* job) const {
    if (!job)
        return;
    job->Shutdown();
    delete job;
}

void BackgroundJob::Resume() {
    bool startWorker = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_suspended || m_terminated)
            return;
        m_suspended = false;
        startWorker = !std::exchange(m_workerStarted, true);
    }
    // Started here rather than in the constructor: a worker started there could
    // call the steps of a job whose derived part is not built yet.
    if (startWorker)
        start();
    m_wake.notify_all();
}

void BackgroundJob::Terminate() {
    {
        std::lock_guard lock(m_mutex);
        m_terminated = true;
    }
    // A worker asleep between runs ends now rather than at its shutdown.
    m_wake.notify_all();
}

bool BackgroundJob::Terminated() const {
    std::lock_guard lock(m_mutex);
    return m_terminated;
}

bool BackgroundJob::Suspended() const {
    std::lock_guard lock(m_mutex);
    return m_suspended;
}

void BackgroundJob::Synchronize(const std::function<void()>& step) {
    {
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return;
        m_step = &step;
    }
    m_receiver.post();
    std::unique_lock lock(m_mutex);
    m_stepDone.wait(lock, [this] { return m_step == nullptr; });
}

void BackgroundJob::runPendingStep() {
    std::unique_lock lock(m_mutex);
    // Dropped by a shutdown; a step already under way is never begun twice.
    if (!m_step || m_stepRunning)
        return;
    const std::function<void()>& step = *m_step;
    m_stepRunning = true;
    lock.unlock();
    step();
    lock.lock();
    m_step = nullptr;
    m_stepRunning = false;
    // Under the lock: once the worker sees its step done, nothing here touches the job again.
    m_stepDone.notify_all();
}

bool BackgroundJob::waitForStart() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_suspended || m_terminated; });
    return !m_terminated;
}

void BackgroundJob::runItems() {
    itemIndex = 0;
    while (itemIndex < itemCount && !Terminated()) {
        Synchronize([this] { fetchStep(); });
        try {
            work();
        } catch (const std::exception& e) {
            workFailed(e);
        } catch (...) {
            workFailed(std::runtime_error("unknown error"));
        }
        if (hasWriteStep())
            Synchronize([this] { writeStep(); });
        ++itemIndex;
    }
}

void BackgroundJob::run() {
    while (waitForStart()) {
        Synchronize([this] { prepareStep(); });
        runItems();
        if (hasFinishStep())
            Synchronize([this] { finishStep(); });
        {
            std::lock_guard lock(m_mutex);
            m_suspended = true;
        }
        emit runEnded();
    }
    emit workerEnded();
    std::lock_guard lock(m_mutex);
    m_workerEnded = true;
    // Under the lock: once the owner sees the worker gone, nothing here touches the job again.
    m_workerGone.notify_all();
}

} // namespace skarvel
