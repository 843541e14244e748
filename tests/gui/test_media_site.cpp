#include "tests/gui/test_media_site.h"

#include <chrono>

namespace skarvel::test {

namespace {
constexpr auto kLongestWait = std::chrono::seconds(30);
}

MediaSite::MediaSite() {
    // Held requests and kept-alive connections each take a server thread.
    m_server.server().new_task_queue = [] { return new httplib::ThreadPool(32); };
    m_server.server().Get(".*",
                          [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); });
}

MediaSite::~MediaSite() {
    {
        std::lock_guard lock(m_mutex);
        m_held.clear();
        m_meeting.clear();
    }
    m_changed.notify_all();
    m_server.stop();
}

void MediaSite::add(const std::string& path, const std::string& contentType, const QByteArray& body,
                    Delivery delivery) {
    m_resources[path] = Resource{contentType, body.toStdString(), delivery};
}

void MediaSite::addPage(const std::string& path, const QString& html) {
    add(path, "text/html; charset=utf-8", html.toUtf8());
}

void MediaSite::start() {
    m_server.start();
}

QString MediaSite::url(const std::string& rawPath) const {
    return m_server.baseUrl() + QString::fromStdString(rawPath);
}

void MediaSite::hold(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_held.insert(path);
}

void MediaSite::release(const std::string& path) {
    {
        std::lock_guard lock(m_mutex);
        m_held.erase(path);
    }
    m_changed.notify_all();
}

void MediaSite::meet(const std::set<std::string>& paths) {
    std::lock_guard lock(m_mutex);
    m_meeting = paths;
    m_meetingArrived.clear();
    m_met = false;
}

bool MediaSite::met() const {
    std::lock_guard lock(m_mutex);
    return m_met;
}

int MediaSite::arrived(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_arrived.find(path);
    return it == m_arrived.end() ? 0 : it->second;
}

int MediaSite::answered(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_answered.find(path);
    return it == m_answered.end() ? 0 : it->second;
}

QStringList MediaSite::targets() const {
    std::lock_guard lock(m_mutex);
    return m_targets;
}

QString MediaSite::acceptOf(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_accept.find(path);
    return it == m_accept.end() ? QString() : QString::fromStdString(it->second);
}

void MediaSite::handle(const httplib::Request& req, httplib::Response& res) {
    {
        std::unique_lock lock(m_mutex);
        m_targets.append(QString::fromStdString(req.target));
        m_accept[req.path] = req.get_header_value("Accept");
        ++m_arrived[req.path];
        m_changed.notify_all();
        if (m_meeting.count(req.path)) {
            m_meetingArrived.insert(req.path);
            if (m_meetingArrived == m_meeting)
                m_met = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, kLongestWait, [this] { return m_met || m_meeting.empty(); });
        }
        m_changed.wait_for(lock, kLongestWait, [this, &req] { return m_held.count(req.path) == 0; });
        ++m_answered[req.path];
    }
    const auto it = m_resources.find(req.path);
    if (it == m_resources.end() || it->second.delivery == Delivery::NotFound) {
        res.status = 404;
        res.set_content("not here", "text/plain");
        return;
    }
    const Resource& r = it->second;
    if (r.delivery == Delivery::Chunked) {
        const std::string body = r.body;
        res.set_chunked_content_provider(r.contentType, [body](size_t offset, httplib::DataSink& sink) {
            // Two pieces, so the body really travels in chunks.
            const size_t half = body.size() / 2;
            if (offset < half) {
                sink.write(body.data() + offset, half - offset);
            } else {
                sink.write(body.data() + offset, body.size() - offset);
                sink.done();
            }
            return true;
        });
        return;
    }
    res.set_content(r.body, r.contentType);
}

} // namespace skarvel::test
