#include "net/user_agent.h"

#include <mutex>

namespace skarvel {

namespace {

std::mutex& userAgentMutex() {
    static std::mutex mutex;
    return mutex;
}

QByteArray& storedUserAgent() {
    static QByteArray value;
    return value;
}

} // namespace

void setUserAgentOverride(const QByteArray& userAgent) {
    // A line break would smuggle a header of its own into every request.
    QByteArray cleaned = userAgent;
    cleaned.replace('\r', ' ').replace('\n', ' ');
    std::lock_guard lock(userAgentMutex());
    storedUserAgent() = cleaned.trimmed();
}

QByteArray userAgentOverride() {
    std::lock_guard lock(userAgentMutex());
    return storedUserAgent();
}

QByteArray effectiveUserAgent(QByteArrayView clientDefault) {
    QByteArray chosen = userAgentOverride();
    return chosen.isEmpty() ? clientDefault.toByteArray() : chosen;
}

} // namespace skarvel
