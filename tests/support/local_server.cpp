#include "tests/support/local_server.h"

#include <cstdio>
#include <cstdlib>

namespace skarvel::test {

LocalHttpServer::LocalHttpServer() : m_server(std::make_unique<httplib::Server>()) {
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        {
            std::lock_guard lock(m_mutex);
            ++m_counts[req.path];
        }
        ++m_total;
        return httplib::Server::HandlerResponse::Unhandled;
    });
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
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

int LocalHttpServer::requestCount(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_counts.find(path);
    return it == m_counts.end() ? 0 : it->second;
}

int LocalHttpServer::totalRequests() const {
    return m_total;
}

} // namespace skarvel::test
