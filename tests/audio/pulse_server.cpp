#include "tests/audio/pulse_server.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace skarvel::test {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

bool PulseServer::start(QString* why) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty()) {
        *why = QStringLiteral("pulseaudio is not installed");
        return false;
    }
    if (!folder_.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    const std::string dir = folder_.path().toStdString();
    const std::string socket = dir + "/native";
    std::vector<std::string> args = {
        program.toStdString(), "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
        // Without rewinds the monitor hears a new stream from its first sample.
        "--system=false", "-L", "module-null-sink sink_name=quiet norewinds=1",
        // Qt lists no monitor sources; a remapped one shows up as an ordinary input.
        "-L", "module-remap-source master=quiet.monitor source_name=capture", "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socket};
    // The server keeps its state and runtime files in the temporary folder.
    std::vector<std::string> env = {"HOME=" + dir, "PULSE_RUNTIME_PATH=" + dir + "/run",
                                    "PULSE_STATE_PATH=" + dir + "/state", "PATH=/usr/bin:/bin"};
    auto argv = pointers(args);
    auto envp = pointers(env);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        pid_ = 0;
        *why = QStringLiteral("cannot fork");
        return false;
    }
    if (pid_ == 0) {
        // The server goes with the test even when the test is killed or crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // A busy machine can take long to start the server: a missing socket skips every audio test.
    for (const QDeadlineTimer deadline(60000);
         !deadline.hasExpired() && !QFile::exists(QString::fromStdString(socket));) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            *why = QStringLiteral("pulseaudio exited at start");
            return false;
        }
        QThread::msleep(50);
    }
    if (!QFile::exists(QString::fromStdString(socket))) {
        *why = QStringLiteral("pulseaudio opened no socket");
        return false;
    }
    qputenv("PULSE_SERVER", QByteArray("unix:") + QByteArray::fromStdString(socket));
    return true;
}

PulseServer::~PulseServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

} // namespace skarvel::test
