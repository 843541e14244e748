#pragma once
// A private PulseAudio server with one null sink, so that sound can be played and
// recorded back on machines without sound hardware. Only this process talks to it.
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace skarvel::test {

class PulseServer {
public:
    PulseServer() = default;
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Starts the server and points this process's PulseAudio clients at it (PULSE_SERVER).
    // Must run before Qt looks for audio devices and before any thread starts. False when
    // pulseaudio is not installed or does not come up.
    bool start(QString* why);

private:
    QTemporaryDir folder_;
    pid_t pid_ = 0;
};

} // namespace skarvel::test
