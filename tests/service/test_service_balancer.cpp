// The shipped nginx configuration in front of two real service processes:
// one instance is killed in the middle of a harvest, or in the middle of an
// answer that nginx has begun to pass on, and every answer still comes back
// right, through the desktop program's own service client.
#include "jobs/ordered_requests.h"
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
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
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

// Where the test holds an answer: the first connection that carries more than a set number of bytes
// towards nginx stops there until the test lets it go.
class AnswerHold {
public:
    explicit AnswerHold(size_t afterBytes) : m_afterBytes(afterBytes) {}
    size_t afterBytes() const { return m_afterBytes; }

    // True for the first connection to ask: it holds from now on.
    bool take(int instancePort) {
        std::lock_guard lock(m_mutex);
        if (m_heldPort != 0)
            return false;
        m_heldPort = instancePort;
        m_changed.notify_all();
        return true;
    }
    // The instance whose answer is held; nullopt when none was within the time.
    std::optional<int> waitHeld(std::chrono::seconds timeout) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return m_heldPort != 0; }))
            return std::nullopt;
        return m_heldPort;
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    void waitReleased() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_released; });
    }

private:
    const size_t m_afterBytes;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_heldPort = 0;
    bool m_released = false;
};

// A wire between nginx and one instance on a port of its own: it passes bytes both ways, connection
// for connection, and can hold one answer (AnswerHold). While it holds, it reads nothing from the
// instance, so what the instance has not written by then stays unwritten; a small receive buffer on
// its side keeps what the kernel takes in for it small.
class Wire {
public:
    static constexpr int kReceiveBuffer = 64 * 1024;
    static constexpr size_t kReadSize = 16 * 1024;

    Wire(int instancePort, AnswerHold& hold) : m_instancePort(instancePort), m_hold(hold) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 64) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "the wire cannot listen";
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptAll(); });
    }
    ~Wire() {
        m_stopping = true;
        m_hold.release();
        ::shutdown(m_listener, SHUT_RDWR);
        m_acceptor.join();
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_open)
                ::shutdown(fd, SHUT_RDWR); // wakes the pumps
        }
        for (std::thread& t : m_pumps)
            t.join();
        ::close(m_listener);
    }
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    int port() const { return m_port; }
    // The receive buffer the kernel gave the instance's side (it doubles what is asked).
    static int receiveBufferGranted() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int size = kReceiveBuffer;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        socklen_t length = sizeof size;
        ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
        ::close(fd);
        return size;
    }

private:
    void acceptAll() {
        for (;;) {
            const int down = ::accept(m_listener, nullptr, nullptr);
            if (down < 0)
                return; // shut down
            const int up = ::socket(AF_INET, SOCK_STREAM, 0);
            int size = kReceiveBuffer;
            ::setsockopt(up, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(uint16_t(m_instancePort));
            if (::connect(up, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                // a dead instance: nginx meets a connection that closes before any answer
                ::close(up);
                ::close(down);
                continue;
            }
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                ::close(up);
                ::close(down);
                return;
            }
            m_open.insert(down);
            m_open.insert(up);
            m_pumps.emplace_back([this, down, up] { pump(down, up); });
        }
    }

    static bool sendAll(int fd, const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            data += n;
            size -= size_t(n);
        }
        return true;
    }

    void pump(int down, int up) {
        char buffer[kReadSize];
        size_t towardsNginx = 0;
        bool holding = false;
        while (!m_stopping) {
            if (holding) {
                m_hold.waitReleased();
                holding = false;
            }
            pollfd ends[2] = {{down, POLLIN, 0}, {up, POLLIN, 0}};
            if (::poll(ends, 2, -1) < 0)
                break;
            if (ends[0].revents != 0) {
                const ssize_t n = ::recv(down, buffer, sizeof buffer, 0);
                if (n <= 0 || !sendAll(up, buffer, size_t(n)))
                    break;
            }
            if (ends[1].revents != 0) {
                const ssize_t n = ::recv(up, buffer, sizeof buffer, 0);
                if (n <= 0 || !sendAll(down, buffer, size_t(n)))
                    break;
                towardsNginx += size_t(n);
                holding = towardsNginx > m_hold.afterBytes() && m_hold.take(m_instancePort);
            }
        }
        std::lock_guard lock(m_mutex);
        m_open.erase(down);
        m_open.erase(up);
        ::close(down);
        ::close(up);
    }

    const int m_instancePort;
    AnswerHold& m_hold;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::set<int> m_open;
    std::vector<std::thread> m_pumps;
};

// The most a socket's send buffer grows to by itself (the third value of tcp_wmem).
size_t largestSendBuffer() {
    std::ifstream in("/proc/sys/net/ipv4/tcp_wmem");
    size_t least = 0, initial = 0, largest = 0;
    in >> least >> initial >> largest;
    return largest;
}

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

// nginx has sent the head of an answer and part of its body when the instance that writes it is killed:
// nginx cannot move the request any more and cuts the answer; the client asks once more and nginx
// sends that to the other instance. A harvest of several pages, one of them with a large answer,
// gets every page's records.
TEST(ServiceBehindNginx, AnInstanceKilledWhileItSendsAnAnswerLosesNoPage) {
    // A page address that long makes each record long (the page is every record's last field).
    const std::string pad(6000, 'x');
    constexpr size_t kHoldAfter = 256 * 1024;
    const size_t sendBuffer = largestSendBuffer();
    ASSERT_GT(sendBuffer, 0u);
    // When the wire holds it has read at most kHoldAfter and one read more (Wire::kReadSize); past that
    // the instance can have handed the kernel at most its send buffer and the wire's receive buffer. A
    // larger answer is still being written when the instance dies.
    const size_t mustExceed =
        kHoldAfter + Wire::kReadSize + size_t(Wire::receiveBufferGranted()) + sendBuffer;

    // Page 2 is the large one.
    const auto pictures = [&](int n) { return n == 2 ? int(mustExceed / (pad.size() + 100)) + 100 : 2; };
    LocalHttpServer site;
    site.server().new_task_queue = [] { return new httplib::ThreadPool(8); };
    site.server().Get(R"(/p/(\d+|big)\.html)", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string page = req.matches[1].str();
        const int count = pictures(page == "big" ? 2 : std::stoi(page));
        std::string html;
        for (int i = 0; i < count; ++i)
            html += "<img src=\"" + page + "-" + std::to_string(i) + ".jpg\">";
        res.set_content(html, "text/html");
    });
    site.start();

    ServiceProcess instanceA({QStringLiteral("--threads"), QStringLiteral("8")});
    ServiceProcess instanceB({QStringLiteral("--threads"), QStringLiteral("8")});
    ASSERT_GT(instanceA.port(), 0);
    ASSERT_GT(instanceB.port(), 0);
    AnswerHold hold(kHoldAfter);
    Wire wireA(instanceA.port(), hold);
    Wire wireB(instanceB.port(), hold);
    Nginx nginx(wireA.port(), wireB.port());
    const ServiceClient service(serviceBaseForHost(QStringLiteral("127.0.0.1:%1").arg(nginx.port())));

    constexpr int kPages = 10;
    const std::string base = site.baseUrl().toStdString() + "/p/";
    std::vector<std::string> pages, expected;
    size_t bigAnswer = 0;
    for (int n = 0; n < kPages; ++n) {
        const std::string stem = n == 2 ? "big" : std::to_string(n);
        pages.push_back(base + stem + (n == 2 ? ".html?pad=" + pad : ".html"));
        std::string records;
        for (int i = 0; i < pictures(n); ++i) {
            const std::string name = stem + "-" + std::to_string(i) + ".jpg";
            records += base + name + "\t" + name + "\t\t\t" + pages.back() + "\r\n";
        }
        if (n == 2)
            bigAnswer = records.size();
        expected.push_back(records);
    }
    ASSERT_GT(bigAnswer, mustExceed);

    // The harvest as the picture harvest sends it: several requests in flight on one engine.
    std::vector<std::string> answers(kPages);
    std::thread harvest([&] {
        TransferEngine engine(JobTransferLimits(), ServiceClient::EngineOptions());
        OrderedRequests steps;
        steps.take = [&](int index) -> std::optional<TransferRequest> {
            TransferRequest request;
            request.url =
                service.harvestUrl(QLatin1String(kImagesScript), QString::fromStdString(pages[index]));
            return request;
        };
        steps.answerOf = [](TransferResult& result) { return ServiceClient::HarvestAnswer(result); };
        steps.deliver = [&](int index, const QString& answer) { answers[index] = answer.toStdString(); };
        steps.stop = [] { return false; };
        RunOrderedRequests(engine, kPages, steps);
    });

    const std::optional<int> held = hold.waitHeld(std::chrono::seconds(120));
    EXPECT_TRUE(held) << "no answer reached the hold";
    if (held)
        (*held == instanceA.port() ? instanceA : instanceB).signal(SIGKILL);
    hold.release();
    harvest.join();

    for (int n = 0; n < kPages; ++n) {
        EXPECT_EQ(answers[n].size(), expected[n].size()) << "page " << n;
        EXPECT_TRUE(answers[n] == expected[n]) << "page " << n << " answered differently";
    }
    // The cut reached nginx after it had begun to answer, and the page was asked for once more.
    EXPECT_TRUE(nginx.errorLog().contains(
        QStringLiteral("upstream prematurely closed connection while reading upstream")))
        << nginx.errorLog().toStdString();
    EXPECT_EQ(site.requestCount("/p/big.html"), 2);
}

} // namespace
