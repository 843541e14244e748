#include "service/tolerant_http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace skarvel {

namespace {

constexpr size_t kMaxRequestLine = size_t{16} * 1024;
constexpr size_t kReadChunk = size_t{16} * 1024;
constexpr int kListenBacklog = 1024;
constexpr auto kIdleBeforeGivingUp = std::chrono::milliseconds(200);
// Sockets waiting for their 503; past this they are closed unanswered.
constexpr size_t kMaxTurnAwayBacklog = 512;
constexpr auto kTurnAwayReadTime = std::chrono::milliseconds(500);
constexpr auto kTurnAwayDrainTime = std::chrono::milliseconds(300);

// Set while the admission queue hands a connection it has no room for back to the server.
thread_local bool t_turnAway = false;
thread_local std::chrono::steady_clock::time_point t_requestArrival;

#ifdef _WIN32
int pollSocket(socket_t sock, short events, int timeoutMs) {
    WSAPOLLFD pfd{sock, events, 0};
    return ::WSAPoll(&pfd, 1, timeoutMs);
}

void closeSocket(socket_t sock) {
    ::shutdown(sock, SD_BOTH);
    ::closesocket(sock);
}

void shutdownWrite(socket_t sock) {
    ::shutdown(sock, SD_SEND);
}

// Winsock raises no SIGPIPE, so sends need no flag.
ssize_t sendSome(socket_t sock, const char* data, size_t size) {
    return ::send(sock, data, int(std::min<size_t>(size, INT_MAX)), 0);
}

ssize_t receiveSome(socket_t sock, char* data, size_t size) {
    return ::recv(sock, data, int(std::min<size_t>(size, INT_MAX)), 0);
}
#else
int pollSocket(socket_t sock, short events, int timeoutMs) {
    pollfd pfd{sock, events, 0};
    int r;
    do {
        r = ::poll(&pfd, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r;
}

void closeSocket(socket_t sock) {
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

void shutdownWrite(socket_t sock) {
    ::shutdown(sock, SHUT_WR);
}

ssize_t sendSome(socket_t sock, const char* data, size_t size) {
    return ::send(sock, data, size, MSG_NOSIGNAL);
}

ssize_t receiveSome(socket_t sock, char* data, size_t size) {
    return ::recv(sock, data, size, 0);
}
#endif

int toMs(time_t sec, time_t usec) {
    return int(sec * 1000 + usec / 1000);
}

void addressOf(const sockaddr_storage& addr, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
        ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        port = ntohs(a->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
        ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        port = ntohs(a->sin6_port);
    }
    ip = text;
}

// One accepted connection with a read buffer that outlives single requests.
class Connection {
public:
    Connection(socket_t sock, int readTimeoutMs, int writeTimeoutMs)
        : m_sock(sock), m_readTimeoutMs(readTimeoutMs), m_writeTimeoutMs(writeTimeoutMs) {}

    bool hasBuffered() const { return m_pos < m_buf.size(); }

    bool readableNow() const { return hasBuffered() || pollSocket(m_sock, POLLIN, 0) > 0; }

    // Waits for the first request of a fresh connection.
    bool waitForFirstRequest() const { return readable(); }

    // Waits for the next request on a kept-alive connection; gives up early
    // when giveUp() turns true (the server stops or other connections wait)
    // after a short idle time: a client that sends at once must not find the
    // connection closed under its request.
    template <typename GiveUp> bool waitForNextRequest(time_t keepAliveSeconds, GiveUp giveUp) const {
        if (readableNow())
            return true;
        const auto idleSince = std::chrono::steady_clock::now();
        const auto deadline = idleSince + std::chrono::seconds(keepAliveSeconds);
        while (std::chrono::steady_clock::now() - idleSince < kIdleBeforeGivingUp || !giveUp()) {
            const int r = pollSocket(m_sock, POLLIN, 50);
            if (r < 0)
                return false;
            if (r > 0)
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        }
        return false;
    }

    // Rewrites the request line at the read position; remembers the original target.
    void prepareRequestLine(std::string& originalTarget) {
        originalTarget.clear();
        size_t eol;
        while ((eol = m_buf.find('\n', m_pos)) == std::string::npos) {
            if (m_buf.size() - m_pos > kMaxRequestLine || !fill())
                return; // cpp-httplib answers too long or broken lines itself
        }
        size_t end = eol;
        if (end > m_pos && m_buf[end - 1] == '\r')
            --end;
        const std::string line = m_buf.substr(m_pos, end - m_pos);
        const std::string fixed = TolerantHttpServer::parseableRequestLine(line, &originalTarget);
        if (fixed != line)
            m_buf.replace(m_pos, end - m_pos, fixed);
    }

    bool readable() const { return hasBuffered() || pollSocket(m_sock, POLLIN, m_readTimeoutMs) > 0; }
    bool writable() const { return pollSocket(m_sock, POLLOUT, m_writeTimeoutMs) > 0; }

    ssize_t read(char* ptr, size_t size) {
        if (!hasBuffered()) {
            if (!readable())
                return -1;
            const ssize_t n = receive();
            if (n <= 0)
                return n;
        }
        const size_t count = std::min(size, m_buf.size() - m_pos);
        std::memcpy(ptr, m_buf.data() + m_pos, count);
        m_pos += count;
        return ssize_t(count);
    }

    ssize_t write(const char* ptr, size_t size) {
        if (!writable())
            return -1;
        ssize_t n;
        do {
            n = sendSome(m_sock, ptr, size);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    socket_t socket() const { return m_sock; }

private:
    bool fill() { return readable() && receive() > 0; }

    ssize_t receive() {
        if (m_pos == m_buf.size()) {
            m_buf.clear();
            m_pos = 0;
        }
        const size_t old = m_buf.size();
        m_buf.resize(old + kReadChunk);
        ssize_t n;
        do {
            n = receiveSome(m_sock, m_buf.data() + old, kReadChunk);
        } while (n < 0 && errno == EINTR);
        m_buf.resize(old + size_t(std::max<ssize_t>(n, 0)));
        return n;
    }

    socket_t m_sock;
    int m_readTimeoutMs;
    int m_writeTimeoutMs;
    std::string m_buf;
    size_t m_pos = 0;
};

class ConnectionStream final : public httplib::Stream {
public:
    explicit ConnectionStream(Connection& connection) : m_connection(connection) {}

    bool is_readable() const override { return m_connection.readable(); }
    bool is_writable() const override { return m_connection.writable(); }
    ssize_t read(char* ptr, size_t size) override { return m_connection.read(ptr, size); }
    ssize_t write(const char* ptr, size_t size) override { return m_connection.write(ptr, size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(m_connection.socket(), reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            addressOf(addr, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getsockname(m_connection.socket(), reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            addressOf(addr, ip, port);
    }
    socket_t socket() const override { return m_connection.socket(); }

private:
    Connection& m_connection;
};

} // namespace

// ------------------------------------------------------------- admission

// The worker pool: a FIFO of admitted connections served by a fixed set of
// threads. A connection that finds the pool full is given back to the server
// on the accepting thread to be turned away.
class TolerantHttpServer::AdmissionQueue final : public httplib::TaskQueue {
public:
    AdmissionQueue(int threads, int capacity) : m_capacity(size_t(std::max(capacity, 1))) {
        for (int i = 0; i < std::max(threads, 1); ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~AdmissionQueue() override { shutdown(); }

    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard lock(m_mutex);
            if (m_admitted < m_capacity) {
                ++m_admitted;
                m_jobs.push_back(std::move(fn));
                m_waiting = m_jobs.size();
                m_changed.notify_one();
                return;
            }
        }
        t_turnAway = true;
        fn();
        t_turnAway = false;
    }

    void shutdown() override {
        {
            std::lock_guard lock(m_mutex);
            if (m_shutdown)
                return;
            m_shutdown = true;
        }
        m_changed.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }

    // Whether an admitted connection waits for a worker with none idle to take it.
    bool othersWaiting() const { return m_waiting > m_idle; }

private:
    void work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mutex);
                ++m_idle;
                m_changed.wait(lock, [this] { return !m_jobs.empty() || m_shutdown; });
                --m_idle;
                if (m_jobs.empty())
                    return; // shut down, and every admitted connection has been served
                fn = std::move(m_jobs.front());
                m_jobs.pop_front();
                m_waiting = m_jobs.size();
            }
            fn();
            std::lock_guard lock(m_mutex);
            --m_admitted;
        }
    }

    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    std::atomic<size_t> m_waiting{0};
    std::atomic<size_t> m_idle{0};
    size_t m_admitted = 0;
    bool m_shutdown = false;
    std::vector<std::thread> m_threads;
};

// Answers connections past the admission bound with 503 on a thread of its
// own, so that neither the accepting thread nor a worker waits for them.
class TolerantHttpServer::TurnAway {
public:
    explicit TurnAway(int retryAfterSeconds) : m_answer(busyAnswer(retryAfterSeconds)) {
        m_thread = std::thread([this] { work(); });
    }
    ~TurnAway() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
        for (socket_t sock : m_sockets)
            closeSocket(sock);
    }

    void setLogger(TurnedAwayLogger logger) { m_logger = std::move(logger); }

    void push(socket_t sock) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_stopping && m_sockets.size() < kMaxTurnAwayBacklog) {
                m_sockets.push_back(sock);
                m_changed.notify_one();
                return;
            }
        }
        closeSocket(sock);
    }

private:
    void work() {
        for (;;) {
            socket_t sock;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_sockets.empty() || m_stopping; });
                if (m_stopping)
                    return;
                sock = m_sockets.front();
                m_sockets.pop_front();
            }
            answer(sock);
        }
    }

    void answer(socket_t sock) {
        const auto started = std::chrono::steady_clock::now();
        // Read the head first: closing on unread bytes resets the connection and loses the answer.
        std::string head;
        char chunk[4096];
        const auto readUntil = started + kTurnAwayReadTime;
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestLine) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                readUntil - std::chrono::steady_clock::now());
            if (left.count() <= 0 || pollSocket(sock, POLLIN, int(left.count())) <= 0)
                break;
            const ssize_t n = receiveSome(sock, chunk, sizeof chunk);
            if (n <= 0)
                break;
            head.append(chunk, size_t(n));
        }
        size_t sent = 0;
        while (sent < m_answer.size() && pollSocket(sock, POLLOUT, 200) > 0) {
            const ssize_t n = sendSome(sock, m_answer.data() + sent, m_answer.size() - sent);
            if (n <= 0)
                break;
            sent += size_t(n);
        }
        shutdownWrite(sock);
        // Swallow what else the client sends (a form body) until it closes.
        const auto drainUntil = std::chrono::steady_clock::now() + kTurnAwayDrainTime;
        while (std::chrono::steady_clock::now() < drainUntil && pollSocket(sock, POLLIN, 50) > 0 &&
               receiveSome(sock, chunk, sizeof chunk) > 0) {
        }
        closeSocket(sock);
        if (m_logger) {
            const std::string line = head.substr(0, head.find_first_of("\r\n"));
            const size_t first = line.find(' ');
            const size_t last = line.rfind(' ');
            const std::string method = first == std::string::npos ? std::string() : line.substr(0, first);
            const std::string target = first == std::string::npos || last <= first
                                           ? std::string()
                                           : line.substr(first + 1, last - first - 1);
            m_logger(method, target, 503, m_answer.size() - (m_answer.find("\r\n\r\n") + 4),
                     std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                           started));
        }
    }

    const std::string m_answer;
    TurnedAwayLogger m_logger;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<socket_t> m_sockets;
    bool m_stopping = false;
    std::thread m_thread;
};

TolerantHttpServer::TolerantHttpServer(const ServingLimits& limits)
    : m_limits(limits), m_turnAway(std::make_unique<TurnAway>(limits.retryAfterSeconds)) {
    new_task_queue = [this] {
        auto* queue = new AdmissionQueue(m_limits.workerThreads, m_limits.maxInProgress);
        m_queue = queue;
        return queue;
    };
}

TolerantHttpServer::~TolerantHttpServer() = default;

void TolerantHttpServer::setTurnedAwayLogger(TurnedAwayLogger logger) {
    m_turnAway->setLogger(std::move(logger));
}

int TolerantHttpServer::bindWithBacklog(const std::string& host, int port) {
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    // cpp-httplib listens with a queue of 5, which drops connections of a burst of clients
    if (bound > 0)
        ::listen(svr_sock_, kListenBacklog);
    return bound;
}

std::chrono::steady_clock::time_point TolerantHttpServer::requestArrival() {
    return t_requestArrival;
}

std::string TolerantHttpServer::busyAnswer(int retryAfterSeconds) {
    const std::string body =
        "the service is busy; try again in " + std::to_string(retryAfterSeconds) + " s\n";
    return "HTTP/1.1 503 Service Unavailable\r\nRetry-After: " + std::to_string(retryAfterSeconds) +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string TolerantHttpServer::parseableRequestLine(const std::string& line, std::string* originalTarget) {
    const size_t first = line.find(' ');
    const size_t last = line.rfind(' ');
    if (first == std::string::npos || last == first || line.compare(last + 1, 5, "HTTP/") != 0)
        return line;
    const std::string target = line.substr(first + 1, last - first - 1);
    if (originalTarget)
        *originalTarget = target;
    std::string out = line.substr(0, first + 1);
    bool inQuery = false;
    for (char c : target) {
        if (c == '?' && inQuery)
            out += "%3F";
        else if (c == ' ')
            out += "%20";
        else
            out += c;
        inQuery = inQuery || c == '?';
    }
    out += line.substr(last);
    return out;
}

bool TolerantHttpServer::process_and_close_socket(socket_t sock) {
    if (t_turnAway) {
        m_turnAway->push(sock);
        return false;
    }
    // Headers and body go out in separate writes: without this the client's delayed ACK adds 40 ms.
    int noDelay = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    AdmissionQueue* queue = m_queue;
    auto stopping = [this] { return svr_sock_ == INVALID_SOCKET; };
    auto othersWaiting = [queue] { return queue && queue->othersWaiting(); };

    Connection connection(sock, toMs(read_timeout_sec_, read_timeout_usec_),
                          toMs(write_timeout_sec_, write_timeout_usec_));
    bool ok = false;
    size_t remaining = keep_alive_max_count_;
    // A stopping server still answers the request a fresh connection brings, and
    // only requests already sent on a kept-alive one.
    bool arrived = connection.waitForFirstRequest();
    while (arrived && remaining > 0) {
        t_requestArrival = std::chrono::steady_clock::now();
        std::string originalTarget;
        connection.prepareRequestLine(originalTarget);
        ConnectionStream stream(connection);
        bool closed = false;
        // Closing after this answer frees the worker for a waiting connection.
        const bool last = remaining == 1 || stopping() || othersWaiting();
        ok = process_request(stream, last, closed, [&](httplib::Request& req) {
            if (!originalTarget.empty())
                req.target = originalTarget;
        });
        if (!ok || closed || last)
            break;
        --remaining;
        arrived = connection.waitForNextRequest(keep_alive_timeout_sec_,
                                                [&] { return stopping() || othersWaiting(); });
    }
    closeSocket(sock);
    return ok;
}

} // namespace skarvel
