#include "jobs/ordered_requests.h"

#include <map>
#include <mutex>

namespace skarvel {

namespace {

std::mutex g_limitsMutex;
TransferLimits g_limits;

} // namespace

void SetJobTransferLimits(const TransferLimits& limits) {
    std::lock_guard lock(g_limitsMutex);
    g_limits = limits;
}

TransferLimits JobTransferLimits() {
    std::lock_guard lock(g_limitsMutex);
    return g_limits;
}

void RunOrderedRequests(TransferEngine& engine, int count, const OrderedRequests& steps) {
    std::map<int, QString> held;
    int nextToDeliver = 0;
    const auto deliverReady = [&] {
        for (auto it = held.find(nextToDeliver); it != held.end(); it = held.find(nextToDeliver)) {
            const QString answer = std::move(it->second);
            held.erase(it);
            steps.deliver(nextToDeliver++, answer);
        }
    };
    int next = 0;
    while ((next < count && !steps.stop()) || !engine.idle()) {
        while (next < count && !steps.stop() && engine.wantsMore()) {
            const int index = next++;
            std::optional<TransferRequest> request = steps.take(index);
            if (!request) {
                held[index] = QString();
                deliverReady();
                continue;
            }
            request->done = [&, index](TransferResult& result) {
                QString answer;
                if (result.ok()) {
                    try {
                        answer = steps.answerOf(result);
                    } catch (...) {
                        answer.clear(); // a completion never throws into the engine
                    }
                }
                held[index] = std::move(answer);
                deliverReady();
            };
            engine.submit(std::move(*request));
        }
        if (steps.stop())
            engine.endRetryWaits(); // a stopped run does not sit out a busy service's Retry-After
        if (!engine.idle())
            engine.pump(std::chrono::milliseconds(250));
    }
}

} // namespace skarvel
