#include "jobs/job_control.h"

#include "jobs/export_jobs.h"

namespace skarvel {

bool RegistryJobControl::isRunning() const {
    const BackgroundJob* job = m_registry.current(m_id);
    return !job || !job->Suspended();
}

void RegistryJobControl::stop() {
    m_registry.replace(m_id);
}

BackgroundJob* RegistryJobControl::start(ExportRun run) {
    auto* job = dynamic_cast<ExportJob*>(m_registry.current(m_id));
    return job && job->startRun(std::move(run)) ? job : nullptr;
}

} // namespace skarvel
