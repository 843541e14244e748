#include "jobs/background_job.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <stdexcept>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// Qt's blocking hand-off and QThread::wait synchronize inside the uninstrumented Qt
// library: these marks show ThreadSanitizer the order they guarantee.
#define HANDOFF_RELEASE(p) __tsan_release(const_cast<void*>(static_cast<const void*>(p)))
#define HANDOFF_ACQUIRE(p) __tsan_acquire(const_cast<void*>(static_cast<const void*>(p)))
#else
#define HANDOFF_RELEASE(p) ((void)0)
#define HANDOFF_ACQUIRE(p) ((void)0)
#endif

namespace skarvel {

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
    }
    m_wake.notify_all();
    abortWork();
    // A worker may be waiting for a step on the window thread. On that thread, deliver this
    // job's steps (they see the detached flag and return at once) until the worker has ended;
    // elsewhere the window thread's own loop delivers them.
    const bool onWindowThread = m_receiver.thread() == QThread::currentThread();
    while (!wait(10)) {
        if (onWindowThread)
            QCoreApplication::sendPostedEvents(&m_receiver, QEvent::MetaCall);
    }
    HANDOFF_ACQUIRE(this);
    m_shutDown = true;
}

void ShutDownAndDelete::operator()(BackgroundJob* job) const {
    if (!job)
        return;
    job->Shutdown();
    delete job;
}

void BackgroundJob::Resume() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_suspended || m_terminated)
            return;
        m_suspended = false;
    }
    // Started here rather than in the constructor: a worker started there could
    // call the steps of a job whose derived part is not built yet.
    if (!isRunning() && !isFinished())
        start();
    m_wake.notify_all();
}

void BackgroundJob::Terminate() {
    std::lock_guard lock(m_mutex);
    m_terminated = true;
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
    }
    HANDOFF_RELEASE(&step);
    QMetaObject::invokeMethod(
        &m_receiver,
        [this, &step] {
            HANDOFF_ACQUIRE(&step);
            {
                std::lock_guard lock(m_mutex);
                if (m_detached)
                    return;
            }
            step();
            HANDOFF_RELEASE(&step);
        },
        Qt::BlockingQueuedConnection);
    HANDOFF_ACQUIRE(&step);
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
    HANDOFF_RELEASE(this);
}

} // namespace skarvel
