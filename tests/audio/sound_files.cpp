#include "tests/audio/sound_files.h"

#include "tests/support/host_tool.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;
#endif

namespace skarvel::test {

bool runProgram(const QString& program, const QStringList& args) {
#ifdef _WIN32
    return toolsThroughBridge() && runBridgedTool(program, args).ok();
#else
    // posix_spawn rather than QProcess: these tests run without a QCoreApplication.
    std::vector<std::string> storage;
    storage.push_back(program.toStdString());
    for (const QString& arg : args)
        storage.push_back(arg.toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

bool makeTone(const QString& path, const Tone& tone, const QStringList& encoderArgs) {
    const QString source = QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                               .arg(tone.rate)
                               .arg(tone.seconds, 0, 'f', 3);
    QStringList args = {"-nostdin", "-v", "error", "-y",  "-f",
                        "lavfi",    "-i", source,  "-ac", QString::number(tone.channels)};
    args << encoderArgs << "-map_metadata"
         << "-1" << path;
    return runProgram(QStringLiteral("ffmpeg"), args);
}

} // namespace skarvel::test
