// Downloads every URL of a list file and prints what it took, either on the bare
// transfer engine (several in flight, bodies streamed to a file beside the target
// and moved into place) or through a real download job of the program over a
// collection table, without a window: "files" (the file download, into DIR) or
// "pictures" (the picture download, into DIR/Pictures, measuring each picture).
//   fetch_urls --list FILE --out DIR [--parallel N] [--per-host M] [--job engine|files|pictures]
// Output: one line "files=.. bytes=.. failed=.. wall_ms=.. vmhwm_kib=.. idle_vmhwm_kib=..".
#include "jobs/file_jobs.h"
#include "jobs/picture_jobs.h"
#include "net/transfer_engine.h"
#include "tables/collection_tables.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
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
    std::fprintf(stderr, "usage: fetch_urls --list FILE --out DIR [--parallel N] [--per-host M] "
                         "[--job engine|files|pictures]\n");
    return 2;
}

class NoProgress : public ProgressSink {
public:
    void start(int) override {}
    void setValue(int) override {}
    void finish() override {}
};

struct Totals {
    long long files = 0, bytes = 0, failed = 0;
};

Totals runEngine(const QStringList& urls, const QString& outDir, const TransferLimits& limits) {
    TransferEngine engine(limits, TransferOptions{.followRedirects = true, .tls = true});
    Totals totals;
    qsizetype next = 0;
    while (next < urls.size() || !engine.idle()) {
        while (next < urls.size() && engine.wantsMore()) {
            const QString target = outDir + QStringLiteral("/%1.bin").arg(next + 1);
            TransferRequest request;
            request.url = urls[next];
            request.bodyFolder = outDir;
            request.done = [&totals, target](TransferResult& r) {
                if (r.ok() && keepBodyFile(r, target)) {
                    ++totals.files;
                    totals.bytes += r.bytesReceived;
                } else {
                    ++totals.failed;
                    std::fprintf(stderr, "%s\n", qPrintable(r.error));
                }
            };
            engine.submit(std::move(request));
            ++next;
        }
        engine.pump(std::chrono::milliseconds(1000));
    }
    return totals;
}

// One run of a download job over a table of the URLs, as the window starts it, then the rows read back.
Totals runJob(const QString& kind, const QStringList& urls, const QString& outDir,
              const TransferLimits& limits) {
    const bool files = kind == QLatin1String("files");
    CollectionTable table(files ? TableKind::Files : TableKind::Pictures);
    table.setGridRowCount(int(urls.size()) + 1);
    for (int i = 0; i < int(urls.size()); ++i)
        table.setRow(i + 1, {QString::number(i + 1), QString(), urls[i]});
    QObject window;
    NoProgress progress;
    const QString folder = outDir + QLatin1Char('/');
    OwnedJob<TableDownloadJob> job;
    if (files) {
        job = MakeOwnedJob<FilesDownload>(&window, table, progress, [folder] { return folder; });
    } else {
        QDir(outDir).mkpath(QStringLiteral("Pictures"));
        const int count = int(urls.size());
        job = MakeOwnedJob<DownloadPictures>(
            &window, table, progress, [folder] { return folder; }, [count] { return count; });
    }
    job->setLimits(limits);
    QObject::connect(job.get(), &BackgroundJob::runEnded, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    job->Resume();
    QCoreApplication::exec();
    job->Shutdown();

    Totals totals;
    const int sizeColumn = files ? col::FileSize : -1;
    for (int row = 1; row <= int(urls.size()); ++row) {
        if (table.cell(col::Status, row) != kStatusOK) {
            ++totals.failed;
            std::fprintf(stderr, "row %d: %s %s\n", row, qPrintable(table.cell(col::Status, row)),
                         qPrintable(table.statusReason(row)));
            continue;
        }
        ++totals.files;
        totals.bytes += sizeColumn >= 0 ? table.cell(sizeColumn, row).toLongLong()
                                        : QFileInfo(table.cell(col::LocalPath, row)).size();
    }
    return totals;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString listPath, outDir, job = QStringLiteral("engine");
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
        else if (flag == "--job")
            job = QString::fromLocal8Bit(argv[i + 1]);
        else
            return usage();
    }
    if (listPath.isEmpty() || outDir.isEmpty() ||
        (job != QLatin1String("engine") && job != QLatin1String("files") && job != QLatin1String("pictures")))
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

    const long long idlePeak = statusKiB("VmHWM:");
    const auto started = std::chrono::steady_clock::now();
    const Totals totals =
        job == QLatin1String("engine") ? runEngine(urls, outDir, limits) : runJob(job, urls, outDir, limits);
    const auto wall =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("files=%lld bytes=%lld failed=%lld wall_ms=%lld vmhwm_kib=%lld idle_vmhwm_kib=%lld\n",
                totals.files, totals.bytes, totals.failed, static_cast<long long>(wall.count()),
                statusKiB("VmHWM:"), idlePeak);
    return totals.failed == 0 ? 0 : 1;
}
