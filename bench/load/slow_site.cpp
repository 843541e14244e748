// A local web site for load runs: every page is answered after a fixed delay,
// as a distant site would be (this kernel has no netem).
//   bench_slow_site [--port N] [--delay-ms N] [--images N] [--links N]
// GET /page/<anything>.html: a page with the given number of pictures and links.
// Prints the port on standard output and serves until killed.
#include <httplib.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// cpp-httplib listens with a queue of 5: a burst of connections would wait for SYN retries.
class SiteServer : public httplib::Server {
public:
    void lengthenListenQueue() { ::listen(svr_sock_, 1024); }
};

} // namespace

int main(int argc, char* argv[]) {
    int port = 0;
    int delayMs = 50;
    int images = 30;
    int links = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--port"))
            port = value;
        else if (!std::strcmp(argv[i], "--delay-ms"))
            delayMs = value;
        else if (!std::strcmp(argv[i], "--images"))
            images = value;
        else if (!std::strcmp(argv[i], "--links"))
            links = value;
    }
    std::string page =
        "<!DOCTYPE html><html><head><title>Gallery</title></head><body><div class=\"gallery\">\n";
    for (int i = 0; i < images; ++i)
        page += "<a href=\"big/img-" + std::to_string(i) + ".jpg\" title=\"Picture " + std::to_string(i) +
                "\"><img src=\"thumbs/img-" + std::to_string(i) + ".jpg\" alt=\"Thumb " + std::to_string(i) +
                "\"></a>\n<p>Some words about the picture, to give the page a realistic weight.</p>\n";
    for (int i = 0; i < links; ++i)
        page += "<a href=\"/page/" + std::to_string(i) + ".html\">page " + std::to_string(i) + "</a>\n";
    page += "</div></body></html>\n";

    SiteServer server;
    // sleeping answers hold a thread each
    server.new_task_queue = [] { return new httplib::ThreadPool(512); };
    // one page per connection, as the service's fetches come: no threads idling in keep-alive
    server.set_keep_alive_max_count(1);
    server.Get(R"(/page/[^/]+\.html)", [&](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        // sent with a fixed length, which cpp-httplib does not compress: brotli at its default
        // level would cost the site more CPU than the service spends on the page
        res.set_content_provider(page.size(), "text/html; charset=utf-8",
                                 [&page](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(page.data() + offset, length);
                                 });
    });
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        std::fprintf(stderr, "bench_slow_site: cannot listen\n");
        return 1;
    }
    server.lengthenListenQueue();
    std::printf("%d\n", bound);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
