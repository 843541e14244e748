#pragma once
#include <QByteArray>
#include <QString>

namespace skarvel::test {

// How long a test waits for what a busy machine makes slow (a thread's step, a window's activation,
// the end of a job's run) before it calls it missing. Load makes things slow, not wrong.
constexpr int kWaitMs = 60000;

// Delivers every event queued on this thread so far, a window system's too: whatever an action
// queued has been handled when it returns. A negative check ("nothing opened") waits here for
// the events that would have done it, not for a length of time.
void deliverQueuedEvents();

// Path of a file under tests/fixtures in the source tree.
QString fixturePath(const QString& name);
// Writes bytes to path, creating parent folders; aborts the test run when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// The processor time this process has used so far, in milliseconds: what a piece of work costs,
// which a busy machine stretches in wall-clock time but not here.
qint64 processCpuMs();
// Hides a file whose name starts with a dot as Windows hides files: by its attribute.
void makeHidden(const QString& path);
// A figure of this process's /proc/self/status in kB (field as "VmHWM:" or "VmRSS:"; on Windows
// from the working set); -1 when unknown.
qint64 processStatusKiB(const char* field);

} // namespace skarvel::test
