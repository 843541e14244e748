#include "gui/jobs/job_registry.h"

#include <QObject>

#include <algorithm>

namespace skarvel {

JobRegistry::JobRegistry(QObject* owner) : m_owner(owner) {}

JobRegistry::~JobRegistry() {
    shutdown();
}

void JobRegistry::create(std::vector<Entry> list) {
    for (Entry& entry : list) {
        std::unique_ptr<BackgroundJob> job = entry.make();
        m_slots.push_back({std::move(entry), std::move(job)});
    }
}

JobRegistry::Slot* JobRegistry::find(JobId id) {
    const auto it =
        std::find_if(m_slots.begin(), m_slots.end(), [id](const Slot& s) { return s.entry.id == id; });
    return it == m_slots.end() ? nullptr : &*it;
}

const JobRegistry::Slot* JobRegistry::find(JobId id) const {
    return const_cast<JobRegistry*>(this)->find(id);
}

BackgroundJob* JobRegistry::current(JobId id) const {
    const Slot* slot = find(id);
    return slot ? slot->job.get() : nullptr;
}

void JobRegistry::replace(JobId id) {
    Slot* slot = find(id);
    if (!slot || m_shuttingDown || slot->job->Suspended())
        return;
    BackgroundJob* stopped = slot->job.get();
    // Connected before Terminate(), so that an ending that comes at once is not missed.
    QObject::connect(
        stopped, &QThread::finished, m_owner, [this, stopped] { release(stopped); }, Qt::QueuedConnection);
    stopped->Terminate();
    m_stopped.push_back(std::move(slot->job));
    slot->job = slot->entry.make();
}

void JobRegistry::install(JobId id, std::unique_ptr<BackgroundJob> job) {
    Slot* slot = find(id);
    if (!slot || m_shuttingDown)
        return;
    slot->job->Shutdown();
    slot->job = std::move(job);
}

void JobRegistry::release(BackgroundJob* ended) {
    if (m_shuttingDown)
        return;
    const auto it =
        std::find_if(m_stopped.begin(), m_stopped.end(),
                     [ended](const std::unique_ptr<BackgroundJob>& j) { return j.get() == ended; });
    if (it == m_stopped.end())
        return;
    std::unique_ptr<BackgroundJob> job = std::move(*it);
    m_stopped.erase(it);
    job->Shutdown(); // the worker has ended: this only joins it
}

void JobRegistry::shutdown() {
    // Shutting a worker down delivers posted events, the endings of stopped jobs among them.
    m_shuttingDown = true;
    for (Slot& slot : m_slots)
        if (slot.job)
            slot.job->Shutdown();
    for (auto& job : m_stopped)
        job->Shutdown();
    m_stopped.clear();
    for (Slot& slot : m_slots)
        slot.job.reset();
    m_slots.clear();
}

} // namespace skarvel
