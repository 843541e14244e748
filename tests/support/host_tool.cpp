#include "tests/support/host_tool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <memory>

namespace skarvel::test {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void closeSocket(Socket s) {
    ::closesocket(s);
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void closeSocket(Socket s) {
    ::close(s);
}
#endif

int bridgePort() {
    return qEnvironmentVariableIntValue("SKARVEL_TEST_TOOL_BRIDGE");
}

struct SocketCloser {
    Socket s;
    ~SocketCloser() {
        if (s != kNoSocket)
            closeSocket(s);
    }
};

} // namespace

bool toolsThroughBridge() {
    return bridgePort() > 0;
}

ToolRun runBridgedTool(const QString& program, const QStringList& args, int timeoutMs) {
    ToolRun run;
    QJsonObject request{
        {"program", program}, {"args", QJsonArray::fromStringList(args)}, {"timeout_ms", timeoutMs}};
    const QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';

    const SocketCloser sock{::socket(AF_INET, SOCK_STREAM, 0)};
    if (sock.s == kNoSocket)
        return run;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(bridgePort()));
    if (::connect(sock.s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return run;
    for (qsizetype sent = 0; sent < line.size();) {
        const int n = ::send(sock.s, line.constData() + sent, int(line.size() - sent), 0);
        if (n <= 0)
            return run;
        sent += n;
    }
    // The answer is one line of JSON, then the bridge closes the connection.
    QByteArray answer;
    char buffer[65536];
    for (;;) {
        const int n = ::recv(sock.s, buffer, int(sizeof buffer), 0);
        if (n <= 0)
            break;
        answer.append(buffer, n);
    }
    const QJsonObject reply = QJsonDocument::fromJson(answer).object();
    if (reply.isEmpty())
        return run;
    run.ran = reply.value("ran").toBool();
    run.exitCode = reply.value("code").toInt(-1);
    run.out = QByteArray::fromBase64(reply.value("out").toString().toLatin1());
    run.err = QByteArray::fromBase64(reply.value("err").toString().toLatin1());
    return run;
}

ToolRun runHostTool(const QString& program, const QStringList& args, int timeoutMs) {
    if (toolsThroughBridge())
        return runBridgedTool(program, args, timeoutMs);
    ToolRun run;
    QProcess process;
    process.start(program, args);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        run.err = process.errorString().toUtf8();
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.ran = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace skarvel::test
