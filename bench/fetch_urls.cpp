// Downloads every URL of a list file through the transfer engine, the way a
// download job does (several in flight, bodies streamed to a file beside the
// target and moved into place), and prints what it took.
//   fetch_urls --list FILE --out DIR [--parallel N] [--per-host M]
// Output: one line "files=.. bytes=.. failed=.. wall_ms=.. vmhwm_kib=.. idle_vmhwm_kib=..".
#include "net/transfer_engine.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

using namespace skarvel;

namespace {

long long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::strlen(field)));
    }
    return -1;
}

int usage() {
    std::fprintf(stderr, "usage: fetch_urls --list FILE --out DIR [--parallel N] [--per-host M]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QString listPath, outDir;
    TransferLimits limits;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--list")
            listPath = QString::fromLocal8Bit(argv[i + 1]);
        else if (flag == "--out")
            outDir = QString::fromLocal8Bit(argv[i + 1]);
        else if (flag == "--parallel")
            limits.maxTransfers = std::atoi(argv[i + 1]);
        else if (flag == "--per-host")
            limits.maxTransfersPerHost = std::atoi(argv[i + 1]);
        else
            return usage();
    }
    if (listPath.isEmpty() || outDir.isEmpty())
        return usage();
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(listPath));
        return 1;
    }
    QStringList urls;
    for (const QByteArray& line : list.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            urls << QString::fromUtf8(line.trimmed());
    }

    TransferEngine engine(limits, TransferOptions{.followRedirects = true, .tls = true});
    const long long idlePeak = statusKiB("VmHWM:");
    long long files = 0, bytes = 0, failed = 0;
    const auto started = std::chrono::steady_clock::now();
    qsizetype next = 0;
    while (next < urls.size() || !engine.idle()) {
        while (next < urls.size() && engine.wantsMore()) {
            const QString target = outDir + QStringLiteral("/%1.bin").arg(next + 1);
            TransferRequest request;
            request.url = urls[next];
            request.bodyFile = target;
            request.done = [&, target](TransferResult& r) {
                if (r.ok() && keepBodyFile(r, target)) {
                    ++files;
                    bytes += r.bytesReceived;
                } else {
                    ++failed;
                    std::fprintf(stderr, "%s\n", qPrintable(r.error));
                }
            };
            engine.submit(std::move(request));
            ++next;
        }
        engine.pump(std::chrono::milliseconds(1000));
    }
    const auto wall =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("files=%lld bytes=%lld failed=%lld wall_ms=%lld vmhwm_kib=%lld idle_vmhwm_kib=%lld\n", files,
                bytes, failed, static_cast<long long>(wall.count()), statusKiB("VmHWM:"), idlePeak);
    return failed == 0 ? 0 : 1;
}
