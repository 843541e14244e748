#pragma once
// The User-Agent of every request of the process. Some sites refuse the
// default one outright, so a setting may replace it for all clients at once.
#include <QByteArray>
#include <QByteArrayView>

namespace skarvel {

// Replaces the User-Agent of every later request of the process; an empty value
// gives every client its own default back. Safe from any thread.
void setUserAgentOverride(const QByteArray& userAgent);
// The replacement set above; empty when there is none.
QByteArray userAgentOverride();
// The replacement when one is set, otherwise the client's own default.
QByteArray effectiveUserAgent(QByteArrayView clientDefault);

} // namespace skarvel
