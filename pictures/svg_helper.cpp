// The program's side of skarvel-svg (svg_helper_main.cpp): the process started with its limits,
// the document handed over on a socket, the answers read against a deadline.
#include "pictures/picture_svg.h"

#include "pictures/picture_codecs_internal.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// Set by the build: where the helper lies in the build tree, and the installed one relative to bin.
#ifndef SKARVEL_SVG_HELPER_BUILD
#define SKARVEL_SVG_HELPER_BUILD ""
#endif
#ifndef SKARVEL_SVG_HELPER_FROM_BINDIR
#define SKARVEL_SVG_HELPER_FROM_BINDIR "../libexec/skarvel/skarvel-svg"
#endif

namespace skarvel::detail {

namespace {

constexpr const char* kFormat = "SVG";
constexpr const char* kHelperName = "skarvel-svg";

thread_local SvgHelperUsage g_lastUsage;

bool IsProgram(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

} // namespace

SvgHelperUsage LastSvgHelperUsage() {
    return g_lastUsage;
}

void ForgetSvgHelperUsage() {
    g_lastUsage = {};
}

QString SvgHelperPath() {
    const QString fromEnvironment = qEnvironmentVariable("SKARVEL_SVG_HELPER");
    if (!fromEnvironment.isEmpty())
        return IsProgram(fromEnvironment) ? fromEnvironment : QString();
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString folder = QFileInfo(program).absolutePath();
    const QString candidates[] = {folder + u'/' + QLatin1String(kHelperName),
                                  folder + u'/' + QStringLiteral(SKARVEL_SVG_HELPER_FROM_BINDIR),
                                  QStringLiteral(SKARVEL_SVG_HELPER_BUILD)};
    for (const QString& candidate : candidates)
        if (!candidate.isEmpty() && IsProgram(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    return {};
}

SvgHelper::SvgHelper(const std::uint8_t* data, std::size_t size, const SvgHelperLimits& limits)
    : m_limits(limits) {
    m_started = std::chrono::steady_clock::now();
    m_deadline = m_started + limits.wall;
    g_lastUsage = {};
    const QString path = SvgHelperPath();
    if (path.isEmpty())
        ThrowPictureError(kFormat, std::string("the drawing helper ") + kHelperName + " is missing");

    // Everything the child needs is made before fork: between fork and exec it makes system calls only.
    QByteArray program = QFile::encodeName(path);
    QByteArray base = QByteArray::number(limits.baseBytes);
    QByteArray perPixel = QByteArray::number(limits.bytesPerDrawnPixel);
    char* const argv[] = {program.data(), base.data(), perPixel.data(), nullptr};
    const rlim_t drawable =
        static_cast<rlim_t>(limits.baseBytes + limits.bytesPerDrawnPixel * kDecodePixelBudget);
    const rlim_t cpuSeconds = static_cast<rlim_t>(limits.cpu.count());
    // Within the limits this process already has: a child may lower its hard limits, never raise them.
    const auto within = [](int resource, rlimit wanted) {
        rlimit now{};
        if (getrlimit(resource, &now) == 0 && now.rlim_max != RLIM_INFINITY) {
            wanted.rlim_max = std::min(wanted.rlim_max, now.rlim_max);
            wanted.rlim_cur = std::min(wanted.rlim_cur, wanted.rlim_max);
        }
        return wanted;
    };
    const rlimit memory = within(RLIMIT_AS, {static_cast<rlim_t>(limits.baseBytes), drawable});
    const rlimit cpu = within(RLIMIT_CPU, {cpuSeconds, cpuSeconds + 1});
    const rlimit noCore{0, 0};
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        ThrowPictureError(kFormat, std::string("cannot start the drawing helper: ") + std::strerror(errno));
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pair[1], STDIN_FILENO);
        dup2(pair[1], STDOUT_FILENO);
        if (devNull >= 0)
            dup2(devNull, STDERR_FILENO);
        // A helper that cannot be held to its limits does not run.
        if (setrlimit(RLIMIT_AS, &memory) != 0 || setrlimit(RLIMIT_CPU, &cpu) != 0 ||
            setrlimit(RLIMIT_CORE, &noCore) != 0)
            _exit(126);
        execv(argv[0], argv);
        _exit(127);
    }
    const int forkError = errno;
    close(pair[1]);
    if (devNull >= 0)
        close(devNull);
    m_socket = pair[0];
    if (pid < 0) {
        close(m_socket);
        m_socket = -1;
        ThrowPictureError(kFormat,
                          std::string("cannot start the drawing helper: ") + std::strerror(forkError));
    }
    m_pid = pid;

    const std::string header = std::to_string(size) + "\n";
    send(header.data(), header.size());
    send(reinterpret_cast<const char*>(data), size);
    const std::string answer = receiveLine();
    int width = -1, height = -1;
    if (answer.rfind("ERROR ", 0) == 0)
        fail(answer.substr(6));
    if (std::sscanf(answer.c_str(), "SIZE %d %d", &width, &height) != 2 || width < 0 || height < 0)
        fail("unexpected answer from the drawing helper");
    m_width = width;
    m_height = height;
}

SvgHelper::~SvgHelper() {
    end();
}

void SvgHelper::draw(int width, int height, const std::function<void(int, const std::uint8_t*)>& row) {
    const std::string command = "DRAW " + std::to_string(width) + " " + std::to_string(height) + "\n";
    send(command.data(), command.size());
    const std::string answer = receiveLine();
    if (answer.rfind("ERROR ", 0) == 0)
        fail(answer.substr(6));
    if (answer != "PIXELS")
        fail("unexpected answer from the drawing helper");
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        receive(reinterpret_cast<char*>(pixels.data()), pixels.size());
        row(y, pixels.data());
    }
    end();
}

// False when a signal cut the wait short; fails once the deadline has passed.
bool SvgHelper::awaitSocket(short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    pollfd p{m_socket, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
    if (ready < 0 && errno == EINTR)
        return false;
    if (ready == 0)
        fail("the drawing helper took longer than " + std::to_string(m_limits.wall.count() / 1000) + " s");
    return true;
}

void SvgHelper::send(const char* bytes, std::size_t size) {
    while (size > 0) {
        if (!awaitSocket(POLLOUT))
            continue;
        const ssize_t n = ::send(m_socket, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            fail("the drawing helper stopped reading");
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

void SvgHelper::receive(char* bytes, std::size_t size) {
    while (size > 0) {
        if (!awaitSocket(POLLIN))
            continue;
        const ssize_t n = ::recv(m_socket, bytes, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            fail("the drawing helper ended early");
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string SvgHelper::receiveLine() {
    std::string line;
    char c = 0;
    // Error messages may be long; anything past this is not read.
    while (line.size() < 4096) {
        receive(&c, 1);
        if (c == '\n')
            return line;
        line += c;
    }
    fail("unexpected answer from the drawing helper");
}

void SvgHelper::fail(const std::string& why) {
    std::string reason = why;
    if (m_pid > 0) {
        // The helper may still be writing its error: the end of its socket tells it has ended.
        shutdown(m_socket, SHUT_WR);
        int status = 0;
        rusage usage{};
        pollfd p{m_socket, POLLIN, 0};
        char sink[256];
        while (std::chrono::steady_clock::now() < m_deadline && poll(&p, 1, 50) > 0 &&
               ::recv(m_socket, sink, sizeof sink, 0) > 0) {
        }
        kill(m_pid, SIGKILL);
        while (wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        g_lastUsage = {usage.ru_maxrss, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count()};
        m_pid = -1;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
            reason = "the drawing helper went over its processor time of " +
                     std::to_string(m_limits.cpu.count()) + " s";
        else if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
            reason += " (the drawing helper ended by signal " + std::to_string(WTERMSIG(status)) +
                      ", out of memory or a fault)";
        else if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
            reason = std::string("the drawing helper ") + kHelperName + " cannot be run";
    }
    end();
    ThrowPictureError(kFormat, reason);
}

void SvgHelper::end() {
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    if (m_pid > 0) {
        // A helper that is done exits on its own; one that is not is not waited for.
        kill(m_pid, SIGKILL);
        int status = 0;
        rusage usage{};
        while (wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        g_lastUsage = {usage.ru_maxrss, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count()};
        m_pid = -1;
    }
}

} // namespace skarvel::detail
