#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

namespace skarvel {

// Appends folder + separator + name for every ordinary, non-hidden file of folder
// matching mask ("*.*" matches every name); when recursive, then for every
// non-hidden sub-folder: the sub-folder itself (when listFolders) and its contents.
void FindFiles(const QString& folder, const QString& mask, bool recursive, bool listFolders,
               QStringList& list);

// Deletes the ordinary files directly in folder; failures are ignored, sub-folders stay.
void DeleteFilesInFolder(const QString& folder);

// Creates, writes whole and closes; false (with the file removed) when any step fails.
[[nodiscard]] bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// Opens file as a new file under the first of up to `tries` names from nextName that no file has
// yet; never an existing one. False, with the file's own error, when the folder takes no new file.
[[nodiscard]] bool OpenNewFile(QFile& file, const std::function<QString()>& nextName,
                               QIODevice::OpenMode mode = QIODevice::WriteOnly, int tries = 100);
// Renames from over to in one step, replacing a file there; on Windows also a file that is open,
// when every handle on it allows deleting it. False, with the reason in *error, when it fails.
[[nodiscard]] bool RenameOver(const QString& from, const QString& to, QString* error = nullptr);
// fill writes the content into a temporary file beside path (a short name of its own, whatever the
// length of path's), which is renamed over path once whole: a failed write leaves any earlier file
// under path as it was, and no partial one. fill returns false on failure, with why set unless the
// file's own error says it. False, with the reason in *error, when any step fails.
[[nodiscard]] bool ReplaceFileWith(const QString& path,
                                   const std::function<bool(QFile& part, QString& why)>& fill,
                                   QString* error = nullptr);
// ReplaceFileWith for bytes in memory.
[[nodiscard]] bool ReplaceWholeFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Reads a whole file; false when it cannot be opened or read.
[[nodiscard]] bool ReadWholeFile(const QString& path, QByteArray& bytes);

} // namespace skarvel
