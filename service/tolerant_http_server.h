#pragma once
// A cpp-httplib server that accepts the request targets our desktop client
// sends: a page address appended to "?url=" without percent-encoding, so the
// target may hold a second "?" (which cpp-httplib 0.11 answers with 400) or a
// raw blank. Such lines are made parseable before cpp-httplib reads them, and
// Request::target then holds the target exactly as it came over the wire.
#include <httplib.h>

#include <string>

namespace skarvel {

class TolerantHttpServer : public httplib::Server {
public:
    TolerantHttpServer();

    // "GET <target> HTTP/1.1" with every "?" after the first one and every
    // blank inside the target percent-encoded; other lines are returned as they are.
    static std::string parseableRequestLine(const std::string& line, std::string* originalTarget = nullptr);

private:
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace skarvel
