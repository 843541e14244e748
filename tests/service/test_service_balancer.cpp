// The shipped nginx configuration in front of two real service processes:
// one instance is killed in the middle of a harvest and every answer still
// comes back right, through the desktop program's own service client.
#include "net/service_client.h"

#include "tests/service/service_process.h"
#include "tests/support/local_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace skarvel;
using skarvel::test::LocalHttpServer;
using skarvel::test::ServiceProcess;
using namespace std::chrono_literals;

namespace {

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// nginx (Debian's) with deploy/nginx/skarvel-service.conf, its ports replaced,
// everything it writes kept in a temporary folder of its own.
class Nginx {
public:
    Nginx(int instanceA, int instanceB) {
        QString site = readText(QStringLiteral(SKARVEL_SOURCE_DIR "/deploy/nginx/skarvel-service.conf"));
        EXPECT_TRUE(site.contains(QLatin1String("listen 8080;"))) << "the shipped listen line changed";
        m_port = freeLoopbackPort();
        site.replace(QLatin1String("listen 8080;"), QStringLiteral("listen 127.0.0.1:%1;").arg(m_port));
        const QRegularExpression upstream(QStringLiteral(R"(server 127\.0\.0\.1:\d+)"));
        EXPECT_EQ(site.count(upstream), 2) << "the shipped configuration should name two instances";
        qsizetype from = 0;
        for (const int port : {instanceA, instanceB}) {
            const QRegularExpressionMatch m = upstream.match(site, from);
            if (!m.hasMatch())
                break;
            const QString line = QStringLiteral("server 127.0.0.1:%1").arg(port);
            site.replace(m.capturedStart(), m.capturedLength(), line);
            from = m.capturedStart() + line.size();
        }
        write(QStringLiteral("skarvel-service.conf"), site);

        const QString dir = m_dir.path();
        // As root the workers would switch to an unprivileged user that cannot enter this 0700 folder.
        const QString user = ::geteuid() == 0 ? QStringLiteral("user root root;\n") : QString();
        write(QStringLiteral("nginx.conf"),
              user + QStringLiteral(
                         "daemon off;\nworker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log info;\n"
                         "events { worker_connections 512; }\n"
                         "http {\n  access_log %1/access.log;\n"
                         "  client_body_temp_path %1/client_body;\n  proxy_temp_path %1/proxy;\n"
                         "  fastcgi_temp_path %1/fastcgi;\n  uwsgi_temp_path %1/uwsgi;\n"
                         "  scgi_temp_path %1/scgi;\n  include %1/skarvel-service.conf;\n}\n")
                         .arg(dir));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("/usr/sbin/nginx"),
                        {QStringLiteral("-p"), dir, QStringLiteral("-c"), dir + QStringLiteral("/nginx.conf"),
                         QStringLiteral("-e"), dir + QStringLiteral("/error.log")});
        EXPECT_TRUE(m_process.waitForStarted(5000)) << "nginx did not start";
        for (const auto until = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
            httplib::Client client("127.0.0.1", m_port);
            if (const auto r = client.Get("/health"); r && r->status == 200)
                return;
            if (m_process.state() == QProcess::NotRunning)
                break;
        }
        ADD_FAILURE() << "nginx does not answer: " << m_process.readAll().toStdString()
                      << errorLog().toStdString();
    }
    ~Nginx() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    int port() const { return m_port; }
    QString errorLog() const { return readText(m_dir.filePath(QStringLiteral("error.log"))); }

private:
    void write(const QString& name, const QString& text) {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

TEST(ServiceBehindNginx, OneInstanceKilledMidHarvestAndEveryAnswerIsRight) {
    LocalHttpServer site;
    site.server().new_task_queue = [] { return new httplib::ThreadPool(16); };
    site.server().Get(R"(/p/(\d+)\.html)", [](const httplib::Request& req, httplib::Response& res) {
        std::this_thread::sleep_for(20ms); // a page takes a while, so the kill meets requests in flight
        const std::string n = req.matches[1].str();
        res.set_content("<img src=\"" + n + "-a.jpg\"><img src=\"" + n + "-b.jpg\"><a href=\"" + n +
                            "-next.html\">",
                        "text/html");
    });
    site.start();
    const std::string base = site.baseUrl().toStdString() + "/p/";

    ServiceProcess instanceA({QStringLiteral("--threads"), QStringLiteral("8")});
    ServiceProcess instanceB({QStringLiteral("--threads"), QStringLiteral("8")});
    ASSERT_GT(instanceA.port(), 0);
    ASSERT_GT(instanceB.port(), 0);
    Nginx nginx(instanceA.port(), instanceB.port());
    const QString serviceBase = serviceBaseForHost(QStringLiteral("127.0.0.1:%1").arg(nginx.port()));

    constexpr int kRequests = 300;
    constexpr int kKillAfter = 80;
    constexpr int kClients = 4;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    auto client = [&] {
        ServiceClient service(serviceBase);
        for (int n; (n = next++) < kRequests;) {
            const std::string page = base + std::to_string(n) + ".html";
            std::string expected, answer;
            try {
                if (n % 3 == 2) {
                    expected = base + std::to_string(n) + "-next.html\n";
                    answer = service.makeList(QString::fromStdString(page)).toStdString();
                } else {
                    for (const char* part : {"-a.jpg", "-b.jpg"})
                        expected += base + std::to_string(n) + part + "\t" + std::to_string(n) + part +
                                    "\t\t\t" + page + "\r\n";
                    answer = service.harvest(QLatin1String(kImagesScript), QString::fromStdString(page))
                                 .toStdString();
                }
            } catch (const std::exception& e) {
                answer = std::string("error: ") + e.what();
            }
            if (answer != expected) {
                std::lock_guard lock(failuresMutex);
                failures.push_back(page + ": " + answer);
            }
            ++done;
        }
    };
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back(client);
    while (done < kKillAfter)
        std::this_thread::sleep_for(1ms);
    const int doneBeforeKill = done;
    instanceA.signal(SIGKILL);
    for (std::thread& t : clients)
        t.join();

    EXPECT_TRUE(failures.empty()) << failures.size() << " wrong answers, first: " << failures.front();
    EXPECT_EQ(done, kRequests);
    EXPECT_LT(doneBeforeKill, kRequests / 2) << "the kill came too late to matter";
    // both instances served, and nginx met the dead one and went on to the other
    EXPECT_GT(instanceA.stderrLines().size(), 0);
    EXPECT_GT(instanceB.stderrLines().size(), kRequests / 2);
    EXPECT_TRUE(nginx.errorLog().contains(QStringLiteral("127.0.0.1:%1").arg(instanceA.port())))
        << nginx.errorLog().toStdString();
}

} // namespace
