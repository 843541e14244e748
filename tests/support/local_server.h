#pragma once
// A real HTTP server on 127.0.0.1 for tests: a cpp-httplib server on a free
// port, listening on a thread of its own until the object goes away.
#include <QString>
#include <QTemporaryDir>

#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace skarvel::test {

class LocalHttpServer {
public:
    enum class Scheme { Http, Https };

    // Https serves with a self-signed certificate for 127.0.0.1 made at construction.
    explicit LocalHttpServer(Scheme scheme = Scheme::Http);
    // Whether Scheme::Https can be served: cpp-httplib built with OpenSSL (not on Windows).
    static bool httpsAvailable();
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
    // "http://127.0.0.1:port" ("https://..." for Scheme::Https)
    QString baseUrl() const;
    // How many requests reached a path since start.
    int requestCount(const std::string& path) const;
    int totalRequests() const;

private:
    Scheme m_scheme;
    std::unique_ptr<QTemporaryDir> m_certificateDir;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_counts;
    std::atomic<int> m_total{0};
};

// A TCP listener on 127.0.0.1 that never accepts: the kernel completes the
// handshake, the request goes out, and no answer ever comes.
class SilentTcpServer {
public:
    SilentTcpServer();
    ~SilentTcpServer();
    SilentTcpServer(const SilentTcpServer&) = delete;
    SilentTcpServer& operator=(const SilentTcpServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:port"
    QString baseUrl() const;
    // Blocks until a client has connected (at most timeoutMs); false when none came.
    bool waitForConnection(int timeoutMs) const;

private:
    socket_t m_socket = INVALID_SOCKET;
    int m_port = 0;
};

// Waits until nothing listens on 127.0.0.1:port any more, which a refused connection shows; false
// when something still listens after timeoutMs. Each probe that gets through is closed at once.
bool waitUntilPortCloses(int port, int timeoutMs);

// A bare HTTP server on 127.0.0.1 for requests that cpp-httplib refuses to
// parse (a second "?" in the target, form bodies over 8 KiB) and for answers it
// would not send (cut short, reset). One request per connection: it reads the
// head and a Content-Length body, records them as received, sends the scripted
// reply and closes.
class RawHttpServer {
public:
    struct Request {
        std::string head; // request line and headers, up to the blank line
        std::string body;
        std::string target() const; // the second word of the request line
    };
    struct Reply {
        std::string bytes;  // the raw answer: status line, headers, body (or part of it)
        bool reset = false; // the connection ends with a reset instead of an orderly close
    };

    // reply: the raw answer bytes (status line, headers, body).
    explicit RawHttpServer(std::string reply);
    // The n-th connection gets replies[n]; every one past the list gets the last.
    explicit RawHttpServer(std::vector<Reply> replies);
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:port"
    QString baseUrl() const;
    std::vector<Request> requests() const;

private:
    void serve();

    std::vector<Reply> m_replies;
    socket_t m_socket = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::thread m_thread;
};

} // namespace skarvel::test
