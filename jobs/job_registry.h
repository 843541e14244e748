#pragma once
// The one owner of the window's seventeen jobs: it creates them in their
// start-up order, replaces a stopped one by a fresh suspended instance (freeing
// the stopped instance once its worker has ended) and shuts every job down
// before it frees it.
#include "jobs/background_job.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace skarvel {

// In creation order.
enum class JobId {
    ExportPictures,
    ExportPicturesSQLite,
    DownloadPictures,
    PagesDownload,
    Make_URLs_List,
    FilesDownload,
    SoundPagesDownload,
    DownloadSounds,
    ExportSounds,
    ExportSoundsSQLite,
    VideoPagesDownload,
    DownloadVideos,
    ExportVideos,
    ExportVideosSQLite,
    TextPagesDownload,
    ExportTexts,
    ExportTextsSQLite,
};

class JobRegistry {
public:
    using Factory = std::function<OwnedJob<>()>;
    struct Entry {
        JobId id;
        Factory make;
    };

    // owner: lives on the window thread; stopped jobs are freed on that thread.
    explicit JobRegistry(QObject* owner);
    ~JobRegistry();
    JobRegistry(const JobRegistry&) = delete;
    JobRegistry& operator=(const JobRegistry&) = delete;

    // Creates every job, suspended, in the order of the list.
    void create(std::vector<Entry> list);
    // The current instance; nullptr before create() and after shutdown().
    BackgroundJob* current(JobId id) const;
    // Stop: a running job is told to terminate and a fresh suspended instance
    // takes its place; a suspended job is left alone.
    void replace(JobId id);
    // Puts job in place of the current instance, which is shut down and freed
    // (tests put jobs of their own in the window's place this way).
    void install(JobId id, OwnedJob<> job);
    // Ends every worker, current instances in creation order and then the
    // stopped ones, while all of them still exist; then frees them.
    void shutdown();
    // Stopped instances whose worker has not ended yet.
    int stoppedCount() const { return int(m_stopped.size()); }

private:
    struct Slot {
        Entry entry;
        OwnedJob<> job;
    };
    Slot* find(JobId id);
    const Slot* find(JobId id) const;
    void release(BackgroundJob* ended);

    // On the owner's thread, the context of the stopped jobs' endings: it goes with the
    // registry, and so do endings not yet delivered.
    QObject m_context;
    std::vector<Slot> m_slots;
    std::vector<OwnedJob<>> m_stopped;
    bool m_shuttingDown = false;
};

// The window's reference to one job: always its current instance.
template <class Job> class JobRef {
public:
    JobRef(const JobRegistry& registry, JobId id) : m_registry(&registry), m_id(id) {}
    Job* get() const { return static_cast<Job*>(m_registry->current(m_id)); }
    Job* operator->() const { return get(); }
    JobId id() const { return m_id; }

private:
    const JobRegistry* m_registry;
    JobId m_id;
};

} // namespace skarvel
