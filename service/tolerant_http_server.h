#pragma once
// A cpp-httplib server that accepts the request targets our desktop client
// sends: a page address appended to "?url=" without percent-encoding, so the
// target may hold a second "?" (which cpp-httplib 0.11 answers with 400) or a
// raw blank. Such lines are made parseable before cpp-httplib reads them, and
// Request::target then holds the target exactly as it came over the wire.
//
// It also bounds its work: a fixed number of worker threads serve admitted
// connections, at most ServingLimits::maxInProgress are admitted at once (served
// or waiting for a worker), and a connection past that gets "503 Service
// Unavailable" with Retry-After straight away from a thread of its own.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace skarvel {

struct ServingLimits {
    int workerThreads = 32;
    // connections being served plus those waiting for a worker
    int maxInProgress = 128;
    // the wait a turned-away client is asked for
    int retryAfterSeconds = 1;
};

class TolerantHttpServer : public httplib::Server {
public:
    // One turned-away request: method and target as far as they arrived ("" when nothing did).
    using TurnedAwayLogger =
        std::function<void(const std::string& method, const std::string& target, int status, size_t bodyBytes,
                           std::chrono::milliseconds elapsed)>;

    explicit TolerantHttpServer(const ServingLimits& limits = {});
    ~TolerantHttpServer() override;

    // Set before listening; called on the turning-away thread.
    void setTurnedAwayLogger(TurnedAwayLogger logger);

    // Binds like bind_to_port (port 0: any free port) with a listen queue long
    // enough for a burst of clients; the bound port, or -1.
    int bindWithBacklog(const std::string& host, int port);

    // When the request being handled on this thread arrived.
    static std::chrono::steady_clock::time_point requestArrival();

    // "GET <target> HTTP/1.1" with every "?" after the first one and every
    // blank inside the target percent-encoded; other lines are returned as they are.
    static std::string parseableRequestLine(const std::string& line, std::string* originalTarget = nullptr);

    // The answer to a request past the admission bound.
    static std::string busyAnswer(int retryAfterSeconds);

protected:
    // Reads the requests of one accepted connection from its raw bytes, answers them and closes it.
    bool process_and_close_socket(socket_t sock) override;

private:
    class AdmissionQueue;
    class TurnAway;

    ServingLimits m_limits;
    std::atomic<AdmissionQueue*> m_queue{nullptr};
    std::unique_ptr<TurnAway> m_turnAway;
};

} // namespace skarvel
