#pragma once
// A transfer engine on a thread of its own, for callers on many threads at once
// (the page-analysis service's request handlers): they share its connections
// and its per-host limit.
#include "net/transfer_engine.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace skarvel {

class TransferThread {
public:
    explicit TransferThread(const TransferLimits& limits = {}, const TransferOptions& defaults = {});
    // Ends every transfer still running (failure Aborted) and joins the thread.
    ~TransferThread();
    TransferThread(const TransferThread&) = delete;
    TransferThread& operator=(const TransferThread&) = delete;

    // Runs one request and waits for its end; safe from any thread. The request's sink runs on the
    // engine's thread while the caller waits. The body comes in memory (or through the sink): a body
    // file would be gone by the time this returns, so bodyFolder is not taken.
    TransferResult perform(TransferRequest request);

private:
    void run();

    TransferEngine m_engine;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<TransferRequest> m_inbox;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace skarvel
