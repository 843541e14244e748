#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    for (const QDeadlineTimer deadline(kWaitMs); !reached;) {
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

qint64 processStatusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace skarvel::test
