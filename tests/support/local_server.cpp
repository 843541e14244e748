#include "tests/support/local_server.h"

#include <QProcess>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace skarvel::test {

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "test server: %s\n", what);
    std::abort();
}

#ifdef _WIN32
void closeSocket(socket_t sock) {
    ::closesocket(sock);
}

int pollOne(socket_t sock, int timeoutMs) {
    WSAPOLLFD entry{sock, POLLIN, 0};
    return ::WSAPoll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) ? 1 : 0;
}

ssize_t sendSome(socket_t sock, const char* data, size_t size) {
    return ::send(sock, data, int(size), 0);
}

ssize_t receiveSome(socket_t sock, char* data, size_t size) {
    return ::recv(sock, data, int(size), 0);
}

bool lastConnectWasRefused() {
    return ::WSAGetLastError() == WSAECONNREFUSED;
}
#else
void closeSocket(socket_t sock) {
    ::close(sock);
}

int pollOne(socket_t sock, int timeoutMs) {
    pollfd entry{sock, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) ? 1 : 0;
}

ssize_t sendSome(socket_t sock, const char* data, size_t size) {
    return ::send(sock, data, size, MSG_NOSIGNAL);
}

ssize_t receiveSome(socket_t sock, char* data, size_t size) {
    return ::recv(sock, data, size, 0);
}

bool lastConnectWasRefused() {
    return errno == ECONNREFUSED;
}
#endif

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// A throw-away key and self-signed certificate for 127.0.0.1, made by the openssl command.
std::unique_ptr<httplib::Server> makeTlsServer(QTemporaryDir& dir) {
    if (!dir.isValid())
        fail("cannot create a folder for the certificate");
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(
        QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
         QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", openssl.readAll().constData());
        fail("openssl could not make a certificate");
    }
    auto server =
        std::make_unique<httplib::SSLServer>(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData());
    if (!server->is_valid())
        fail("TLS server rejected its certificate");
    return server;
}
#else
std::unique_ptr<httplib::Server> makeTlsServer(QTemporaryDir&) {
    fail("this build's cpp-httplib has no TLS: check LocalHttpServer::httpsAvailable() first");
}
#endif

// A socket listening on a free port of 127.0.0.1.
socket_t listenOnLoopback(int* port) {
    const socket_t fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == INVALID_SOCKET)
        fail("cannot create a socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("cannot listen on 127.0.0.1");
    *port = ntohs(address.sin_port);
    return fd;
}

// One request line, read from memory; the answer goes nowhere.
class CannedRequest final : public httplib::Stream {
public:
    explicit CannedRequest(std::string text) : m_text(std::move(text)) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const size_t n = std::min(size, m_text.size() - m_read);
        std::copy_n(m_text.data() + m_read, n, ptr);
        m_read += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip.clear();
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip.clear();
        port = 0;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string m_text;
    size_t m_read = 0;
};

// cpp-httplib builds the set of methods it accepts (a function-local static) at the first request
// line it parses. Built here, before its workers exist, it is ordered before their lookups in a way
// ThreadSanitizer sees; the library's own inline guard check is invisible to it.
void parseOneRequestLine(httplib::Server& server) {
    struct Access : httplib::Server {
        using httplib::Server::process_request;
    };
    CannedRequest request("UNKNOWN / HTTP/1.1\r\n\r\n");
    bool closed = false;
    (server.*&Access::process_request)(request, true, closed, {});
}

} // namespace

LocalHttpServer::LocalHttpServer(Scheme scheme) : m_scheme(scheme) {
    if (scheme == Scheme::Https) {
        m_certificateDir = std::make_unique<QTemporaryDir>();
        m_server = makeTlsServer(*m_certificateDir);
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    parseOneRequestLine(*m_server); // before the counting handler: it counts no request
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        {
            std::lock_guard lock(m_mutex);
            ++m_counts[req.path];
        }
        ++m_total;
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

bool LocalHttpServer::httpsAvailable() {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    return true;
#else
    return false;
#endif
}

LocalHttpServer::~LocalHttpServer() {
    stop();
}

void LocalHttpServer::serveFolder(const QString& folder) {
    m_server->set_mount_point("/", folder.toStdString());
}

void LocalHttpServer::start() {
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        std::fprintf(stderr, "test server: cannot bind to 127.0.0.1\n");
        std::abort();
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::yield();
}

void LocalHttpServer::stop() {
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

QString LocalHttpServer::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_scheme == Scheme::Https ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_port);
}

int LocalHttpServer::requestCount(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_counts.find(path);
    return it == m_counts.end() ? 0 : it->second;
}

int LocalHttpServer::totalRequests() const {
    return m_total;
}

SilentTcpServer::SilentTcpServer() {
    m_socket = listenOnLoopback(&m_port);
}

SilentTcpServer::~SilentTcpServer() {
    closeSocket(m_socket);
}

QString SilentTcpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

bool SilentTcpServer::waitForConnection(int timeoutMs) const {
    // A listening socket reads as ready once a finished handshake waits in its queue.
    return pollOne(m_socket, timeoutMs) == 1;
}

bool waitUntilPortCloses(int port, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        const socket_t fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd == INVALID_SOCKET)
            return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool refused =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            lastConnectWasRefused();
        closeSocket(fd);
        if (refused)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

std::string RawHttpServer::Request::target() const {
    const size_t first = head.find(' ');
    if (first == std::string::npos)
        return {};
    const size_t second = head.find(' ', first + 1);
    return head.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

RawHttpServer::RawHttpServer(std::string reply) : RawHttpServer(std::vector<Reply>{{std::move(reply)}}) {}

RawHttpServer::RawHttpServer(std::vector<Reply> replies) : m_replies(std::move(replies)) {
    if (m_replies.empty())
        fail("a raw server needs a reply");
    m_socket = listenOnLoopback(&m_port);
    m_thread = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer() {
    m_stopping = true;
#ifdef _WIN32
    // Closing the listener is what wakes a blocked accept() on Windows.
    closeSocket(m_socket);
    m_thread.join();
#else
    // Wakes the blocked accept().
    ::shutdown(m_socket, SHUT_RDWR);
    m_thread.join();
    ::close(m_socket);
#endif
}

QString RawHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

std::vector<RawHttpServer::Request> RawHttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void RawHttpServer::serve() {
    for (size_t connection = 0; !m_stopping;) {
        const socket_t client = ::accept(m_socket, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        const Reply& reply = m_replies[std::min(connection++, m_replies.size() - 1)];
        std::string received;
        char buffer[65536];
        size_t headEnd = std::string::npos;
        size_t bodyLength = 0;
        while (true) {
            if (headEnd == std::string::npos) {
                headEnd = received.find("\r\n\r\n");
                if (headEnd != std::string::npos) {
                    std::string lower = received.substr(0, headEnd);
                    for (char& c : lower)
                        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    const size_t at = lower.find("\r\ncontent-length:");
                    if (at != std::string::npos)
                        bodyLength = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
                }
            }
            if (headEnd != std::string::npos && received.size() >= headEnd + 4 + bodyLength)
                break;
            const ssize_t got = receiveSome(client, buffer, sizeof buffer);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<size_t>(got));
        }
        if (headEnd != std::string::npos) {
            std::lock_guard lock(m_mutex);
            m_requests.push_back({received.substr(0, headEnd), received.substr(headEnd + 4, bodyLength)});
        }
        size_t sent = 0;
        while (sent < reply.bytes.size()) {
            const ssize_t n = sendSome(client, reply.bytes.data() + sent, reply.bytes.size() - sent);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        if (reply.reset) {
            // A zero linger time makes close() send RST.
            const linger abortive{1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
                         sizeof abortive);
        }
        closeSocket(client);
    }
}

} // namespace skarvel::test
