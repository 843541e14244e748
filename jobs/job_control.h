#pragma once
// What a dialog sees of the job it drives: one of the window's jobs, always its
// current instance, that can be started for a run, asked whether it runs, and
// stopped (a fresh suspended instance then takes its place).
#include "jobs/job_registry.h"

namespace skarvel {

class BackgroundJob;
struct ExportRun;

class JobControl {
public:
    virtual ~JobControl() = default;
    // True while the current instance is in a run (or there is no instance to start).
    virtual bool isRunning() const = 0;
    // Stops a running instance; a suspended one is left alone.
    virtual void stop() = 0;
};

class ExportJobControl : public JobControl {
public:
    // Starts a run of the idle current instance with the values of the run; the
    // instance that runs, or nullptr when none could start.
    virtual BackgroundJob* start(ExportRun run) = 0;
};

// A job of the window's registry, named by its id.
class RegistryJobControl : public ExportJobControl {
public:
    RegistryJobControl(JobRegistry& registry, JobId id) : m_registry(registry), m_id(id) {}
    bool isRunning() const override;
    void stop() override;
    BackgroundJob* start(ExportRun run) override;

private:
    JobRegistry& m_registry;
    JobId m_id;
};

} // namespace skarvel
