#include "jobs/job_registry.h"

#include <algorithm>

namespace skarvel {

JobRegistry::JobRegistry(QObject* owner) {
    m_context.moveToThread(owner->thread());
}

JobRegistry::~JobRegistry() {
    shutdown();
}

void JobRegistry::create(std::vector<Entry> list) {
    for (Entry& entry : list) {
        OwnedJob<> job = entry.make();
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
        stopped, &QThread::finished, &m_context, [this, stopped] { release(stopped); }, Qt::QueuedConnection);
    stopped->Terminate();
    m_stopped.push_back(std::move(slot->job));
    slot->job = slot->entry.make();
}

void JobRegistry::install(JobId id, OwnedJob<> job) {
    Slot* slot = find(id);
    if (!slot || m_shuttingDown)
        return;
    slot->job = std::move(job); // the instance it replaces is shut down, then freed
}

void JobRegistry::release(BackgroundJob* ended) {
    if (m_shuttingDown)
        return;
    const auto it = std::find_if(m_stopped.begin(), m_stopped.end(),
                                 [ended](const OwnedJob<>& j) { return j.get() == ended; });
    if (it == m_stopped.end())
        return;
    m_stopped.erase(it); // the worker has ended: shutting it down only joins it
}

void JobRegistry::shutdown() {
    m_shuttingDown = true;
    for (Slot& slot : m_slots)
        if (slot.job)
            slot.job->Shutdown();
    for (auto& job : m_stopped)
        job->Shutdown();
    m_stopped.clear();
    m_slots.clear();
}

} // namespace skarvel
