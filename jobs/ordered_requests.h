#pragma once
// One request per item with several in flight on an engine, the answers handed
// over strictly in item order: an answer that comes early waits for the ones
// before it, so whatever is built from them comes out as from one at a time.
#include "net/transfer_engine.h"

#include <QString>

#include <functional>
#include <optional>

namespace skarvel {

struct OrderedRequests {
    // On the worker: the request of item i; nullopt for an item that sends nothing (answer "").
    std::function<std::optional<TransferRequest>(int index)> take;
    // The answer of a transfer that ended well; a failed one answers "".
    std::function<QString(TransferResult& result)> answerOf;
    // On the worker, in item order: what item i answered.
    std::function<void(int index, const QString& answer)> deliver;
    // Checked before each item is taken: true stops taking (items in flight still end).
    std::function<bool()> stop;
};

// The limits of the jobs' engines made from now on (MAX_TRANSFERS, MAX_TRANSFERS_PER_HOST).
void SetJobTransferLimits(const TransferLimits& limits);
TransferLimits JobTransferLimits();

// Runs items 0 .. count-1 through engine until all taken ones are delivered.
void RunOrderedRequests(TransferEngine& engine, int count, const OrderedRequests& steps);

} // namespace skarvel
