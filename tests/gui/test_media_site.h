#pragma once
// A small web site for the harvest and download tests: HTML pages and media
// files with scripted answers (content type, chunked or whole, 404), requests
// that wait for the test, and a record of the request targets as sent.
#include "tests/support/local_server.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace skarvel::test {

class MediaSite {
public:
    enum class Delivery {
        Whole,   // with Content-Length
        Chunked, // no Content-Length
        NotFound,
    };

    MediaSite();
    ~MediaSite();

    // Paths are as the server decodes them ("/a b.png" for a request of "/a%20b.png").
    // Add everything before start().
    void add(const std::string& path, const std::string& contentType, const QByteArray& body,
             Delivery delivery = Delivery::Whole);
    void addPage(const std::string& path, const QString& html);
    void start();

    // Address of a path, written as given (escapes and spaces kept).
    QString url(const std::string& rawPath) const;

    // Requests for a held path wait until release() (at most 30 s).
    void hold(const std::string& path);
    void release(const std::string& path);
    // Requests for the paths of a meeting wait until each of them has arrived
    // (at most 30 s); met() tells whether they all came while the others waited.
    void meet(const std::set<std::string>& paths);
    bool met() const;

    int count(const std::string& path) const { return m_server.requestCount(path); }
    int arrived(const std::string& path) const;
    // Requests for a path that have been let through (held ones once released).
    int answered(const std::string& path) const;
    // The request targets in the order they came, undecoded.
    QStringList targets() const;
    // The Accept header of the last request for a path ("" when none came).
    QString acceptOf(const std::string& path) const;

private:
    struct Resource {
        std::string contentType;
        std::string body;
        Delivery delivery = Delivery::Whole;
    };
    void handle(const httplib::Request& req, httplib::Response& res);

    LocalHttpServer m_server;
    std::map<std::string, Resource> m_resources;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::string> m_held;
    std::set<std::string> m_meeting;
    std::set<std::string> m_meetingArrived;
    bool m_met = false;
    std::map<std::string, int> m_arrived;
    std::map<std::string, int> m_answered;
    QStringList m_targets;
    std::map<std::string, std::string> m_accept;
};

} // namespace skarvel::test
