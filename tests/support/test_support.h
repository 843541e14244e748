#pragma once
#include <QByteArray>
#include <QString>

namespace skarvel::test {

// Path of a file under tests/fixtures in the source tree.
QString fixturePath(const QString& name);
// Writes bytes to path, creating parent folders; aborts the test run when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Hides a file whose name starts with a dot as Windows hides files: by its attribute.
void makeHidden(const QString& path);
// A figure of this process's /proc/self/status in kB (field as "VmHWM:" or "VmRSS:"; on Windows
// from the working set); -1 when unknown.
qint64 processStatusKiB(const char* field);

} // namespace skarvel::test
