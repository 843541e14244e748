#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include <cstdio>
#include <ctime>
#include <cstring>
#include <cstdlib>

namespace skarvel::test {

void deliverQueuedEvents() {
    bool reached = false;
    QObject marker;
    QMetaObject::invokeMethod(
        &marker, [&reached] { reached = true; }, Qt::QueuedConnection);
    const QDeadlineTimer deadline(kWaitMs);
    while (!reached) { // set by the marker's event, which processEvents delivers
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "the event queue did not reach its marker\n");
            std::abort();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // A pass delivers a window system's events after the posted ones: one more pass takes those.
    QCoreApplication::processEvents();
}

qint64 processCpuMs() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return qint64(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

QString fixturePath(const QString& name) {
    return QStringLiteral(SKARVEL_SOURCE_DIR "/tests/fixtures/") + name;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void makeHidden(const QString& path) {
#ifdef _WIN32
    const QString native = QDir::toNativeSeparators(path);
    const auto* name = reinterpret_cast<const wchar_t*>(native.utf16());
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(name, attributes | FILE_ATTRIBUTE_HIDDEN)) {
        std::fprintf(stderr, "cannot hide %s\n", qPrintable(path));
        std::abort();
    }
#else
    Q_UNUSED(path); // the leading dot hides it
#endif
}

qint64 processStatusKiB(const char* field) {
#ifdef _WIN32
    // The working set is Windows' resident size; its peak is the high-water mark.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    if (std::strcmp(field, "VmRSS:") == 0)
        return qint64(counters.WorkingSetSize / 1024);
    if (std::strcmp(field, "VmHWM:") == 0)
        return qint64(counters.PeakWorkingSetSize / 1024);
    return -1;
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace skarvel::test
