#include "net/transfer_thread.h"

#include <future>

namespace skarvel {

TransferThread::TransferThread(const TransferLimits& limits, const TransferOptions& defaults)
    : m_engine(limits, defaults), m_thread([this] { run(); }) {}

TransferThread::~TransferThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_engine.abort();
    m_wake.notify_one();
    m_thread.join();
}

TransferResult TransferThread::perform(TransferRequest request) {
    std::promise<TransferResult> ended;
    std::future<TransferResult> result = ended.get_future();
    request.bodyFolder.clear();
    request.done = [&ended](TransferResult& r) { ended.set_value(std::move(r)); };
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            TransferResult refused;
            refused.url = request.url;
            refused.failure = TransferFailure::Aborted;
            refused.error = QStringLiteral("request aborted");
            return refused;
        }
        m_inbox.push_back(std::move(request));
    }
    m_wake.notify_one();
    m_engine.wake();
    return result.get();
}

void TransferThread::run() {
    for (;;) {
        std::vector<TransferRequest> arrived;
        bool stopping = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_inbox.empty() || !m_engine.idle(); });
            arrived.swap(m_inbox);
            stopping = m_stopping;
        }
        for (TransferRequest& request : arrived)
            m_engine.submit(std::move(request));
        if (stopping) {
            // Every waiting caller gets its answer before the thread ends.
            m_engine.runUntilIdle();
            return;
        }
        m_engine.pump(std::chrono::milliseconds(1000));
    }
}

} // namespace skarvel
