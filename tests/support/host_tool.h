#pragma once
// Command-line tools of the build machine that tests use to make fixtures and to check
// results independently (ImageMagick, ffmpeg, espeak-ng, sqlite3).
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace skarvel::test {

struct ToolRun {
    bool ran = false; // started and ended by itself within the time allowed
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool ok() const { return ran && exitCode == 0; }
};

// Whether tools reach the build machine's programs through the tool bridge: a Windows test
// executable under Wine cannot wait for a Linux process, so the Windows test run starts a
// bridge on 127.0.0.1 that runs each tool natively (SKARVEL_TEST_TOOL_BRIDGE=port).
bool toolsThroughBridge();

// Runs the tool through the bridge and waits for it; paths of the Windows side in its
// arguments are handed over as the build machine's paths.
ToolRun runBridgedTool(const QString& program, const QStringList& args, int timeoutMs = 120000);

// Runs the tool and waits for it: through the bridge when the tests use one, else here (program
// found on the PATH when it names no folder). Needs no event loop.
ToolRun runHostTool(const QString& program, const QStringList& args, int timeoutMs = 120000);

} // namespace skarvel::test
