// Fuzz target: the service's reading of raw network input. The input is everything a client sends
// on one connection (request lines with page addresses as typed, headers, bodies framed by
// Content-Length or by chunks, several requests kept alive); it goes through the server's own
// connection handling, and the handlers read each request as the service's scripts do.
#include "fuzz/fuzz_input.h"
#include "service/page_analysis_service.h"
#include "service/tolerant_http_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <thread>

namespace {

using namespace skarvel;

constexpr char kScripts[] = "/products/skarvel/scripts/";

// The connection being served: what its client sent, and how many requests reached a handler.
std::string_view g_input;
int g_handled = 0;

void checkRequestLine(const std::string& line) {
    std::string target;
    const std::string fixed = TolerantHttpServer::parseableRequestLine(line, &target);
    if (fixed == line && target.empty())
        return;
    // Method, target and version, the target with at most one "?" and no blank.
    FUZZ_CHECK(std::count(fixed.begin(), fixed.end(), ' ') == 2);
    const size_t first = fixed.find(' ');
    const std::string_view fixedTarget =
        std::string_view(fixed).substr(first + 1, fixed.rfind(' ') - first - 1);
    FUZZ_CHECK(std::count(fixedTarget.begin(), fixedTarget.end(), '?') <= 1);
    FUZZ_CHECK(line.find(target) != std::string::npos);
    FUZZ_CHECK(TolerantHttpServer::parseableRequestLine(fixed) == fixed);
}

// What the scripts do with a page parameter before they fetch anything.
void readPageParameter(const std::optional<QByteArray>& value, httplib::Response& res) {
    if (!value) {
        res.status = 400;
        return;
    }
    QString error;
    const std::optional<QUrl> url = pageAddressFromParameter(QString::fromUtf8(*value).trimmed(), &error);
    FUZZ_CHECK(url.has_value() || !error.isEmpty());
    if (url) {
        FUZZ_CHECK(url->isValid());
        FUZZ_CHECK(url->scheme() == u"http" || url->scheme() == u"https");
    }
    res.set_content("ok\n", "text/plain");
}

void checkTarget(const httplib::Request& req) {
    ++g_handled;
    // The target reaches the handlers exactly as it came over the wire.
    FUZZ_CHECK(g_input.find(req.target) != std::string_view::npos);
    FUZZ_CHECK(req.body.size() <= g_input.size());
}

class ConnectionServer : public TolerantHttpServer {
public:
    ConnectionServer() {
        // As the service sets itself up.
        set_keep_alive_max_count(100);
        set_payload_max_length(1024 * 1024);
        // A bound server counts as running, so that a connection may carry several requests.
        bindWithBacklog("127.0.0.1", 0);
        for (const char* script : {"get_images", "get_sounds", "get_videos"}) {
            Get(std::string(kScripts) + script + "\\.php",
                [](const httplib::Request& req, httplib::Response& res) {
                    checkTarget(req);
                    const size_t question = req.target.find('?');
                    readPageParameter(
                        question == std::string::npos
                            ? std::nullopt
                            : rawParameterValue(QByteArrayView(req.target).sliced(qsizetype(question) + 1),
                                                "url"),
                        res);
                });
        }
        Post(std::string(kScripts) + "make_list\\.php",
             [](const httplib::Request& req, httplib::Response& res) {
                 checkTarget(req);
                 readPageParameter(rawParameterValue(req.body, "list"), res);
             });
        Get("/health", [](const httplib::Request& req, httplib::Response& res) {
            checkTarget(req);
            res.set_content("ok\n", "text/plain");
        });
    }

    bool serve(socket_t sock) { return process_and_close_socket(sock); }
};

// The client's end: sends the input, then reads every answer until the server closes.
void client(int fd, std::string_view input, std::string* answers) {
    size_t sent = 0;
    bool sending = true;
    if (input.empty()) {
        ::shutdown(fd, SHUT_WR);
        sending = false;
    }
    char buffer[16 * 1024];
    for (;;) {
        pollfd end{fd, short(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (::poll(&end, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (sending && (end.revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n =
                ::send(fd, input.data() + sent, std::min<size_t>(input.size() - sent, 64 * 1024),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += size_t(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || sent == input.size()) {
                ::shutdown(fd, SHUT_WR);
                sending = false;
            }
        }
        if (end.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return;
            if (n > 0)
                answers->append(buffer, size_t(n));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ConnectionServer server;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = input.find('\n');
    std::string line(input.substr(0, lineEnd));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    checkRequestLine(line);

    int ends[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0);
    g_input = input;
    g_handled = 0;
    std::string answers;
    std::thread peer(client, ends[1], input, &answers);
    server.serve(ends[0]); // closes its end
    peer.join();
    ::close(ends[1]);

    // Every request that reached a handler was answered, the first answer first on the wire.
    size_t statusLines = 0;
    for (size_t at = answers.find("HTTP/1.1 "); at != std::string::npos;
         at = answers.find("HTTP/1.1 ", at + 1))
        ++statusLines;
    FUZZ_CHECK(statusLines >= size_t(g_handled));
    FUZZ_CHECK(answers.empty() || answers.rfind("HTTP/1.1 ", 0) == 0);
    return 0;
}
