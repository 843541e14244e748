#pragma once
// A real HTTP server on 127.0.0.1 for tests: a cpp-httplib server on a free
// port, listening on a thread of its own until the object goes away.
#include <QString>

#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace skarvel::test {

class LocalHttpServer {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // Register handlers on it before start().
    httplib::Server& server() { return *m_server; }
    // Serves every file under folder at "/" (static site).
    void serveFolder(const QString& folder);
    // Binds to a free port of 127.0.0.1 and starts listening.
    void start();
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:port"
    QString baseUrl() const;
    // How many requests reached a path since start.
    int requestCount(const std::string& path) const;
    int totalRequests() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_counts;
    std::atomic<int> m_total{0};
};

} // namespace skarvel::test
