#include "service/tolerant_http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace skarvel {

namespace {

constexpr size_t kMaxRequestLine = 16 * 1024;
constexpr size_t kReadChunk = 16 * 1024;

#ifdef _WIN32
int pollSocket(socket_t sock, short events, int timeoutMs) {
    WSAPOLLFD pfd{sock, events, 0};
    return ::WSAPoll(&pfd, 1, timeoutMs);
}

void closeSocket(socket_t sock) {
    ::shutdown(sock, SD_BOTH);
    ::closesocket(sock);
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

    // Waits for the next request on a kept-alive connection.
    bool waitForRequest(time_t keepAliveSeconds, const std::atomic<socket_t>& listening) {
        if (hasBuffered())
            return true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(keepAliveSeconds);
        while (listening != INVALID_SOCKET) {
            const int r = pollSocket(m_sock, POLLIN, 100);
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
            n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
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
            n = ::recv(m_sock, m_buf.data() + old, kReadChunk, 0);
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

TolerantHttpServer::TolerantHttpServer() = default;

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
    Connection connection(sock, toMs(read_timeout_sec_, read_timeout_usec_),
                          toMs(write_timeout_sec_, write_timeout_usec_));
    bool ok = false;
    size_t remaining = keep_alive_max_count_;
    while (remaining > 0 && svr_sock_ != INVALID_SOCKET &&
           connection.waitForRequest(keep_alive_timeout_sec_, svr_sock_)) {
        std::string originalTarget;
        connection.prepareRequestLine(originalTarget);
        ConnectionStream stream(connection);
        bool closed = false;
        ok = process_request(stream, remaining == 1, closed, [&](httplib::Request& req) {
            if (!originalTarget.empty())
                req.target = originalTarget;
        });
        if (!ok || closed)
            break;
        --remaining;
    }
    closeSocket(sock);
    return ok;
}

} // namespace skarvel
