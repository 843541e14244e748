#include "common/file_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace skarvel {

namespace {

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QDir::separator()) || folder.endsWith(u'/'))
        return folder + name;
    return folder + QDir::separator() + name;
}

} // namespace

void FindFiles(const QString& folder, const QString& mask, bool recursive, bool listFolders,
               QStringList& list) {
    QDir dir(folder);
    if (!dir.exists())
        return;
    // Windows' "*.*" also matches names without a dot.
    const QString filter = (mask == QLatin1String("*.*") || mask.isEmpty()) ? QStringLiteral("*") : mask;
    const auto files = dir.entryList({filter}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : files)
        list.append(joinPath(folder, name));
    if (!recursive)
        return;
    const auto dirs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString& name : dirs) {
        const QString sub = joinPath(folder, name);
        if (listFolders)
            list.append(sub);
        FindFiles(sub, mask, recursive, listFolders, list);
    }
}

void DeleteFilesInFolder(const QString& folder) {
    QStringList files;
    FindFiles(folder, QStringLiteral("*.*"), false, false, files);
    for (const QString& f : files)
        QFile::remove(f);
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    bool ok = file.write(bytes) == bytes.size() && file.flush();
    if (ok) {
        file.close();
        ok = file.error() == QFileDevice::NoError;
    }
    if (!ok) {
        if (error)
            *error = file.errorString();
        file.close();
        file.remove();
    }
    return ok;
}

bool ReadWholeFile(const QString& path, QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

bool ReplaceWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written && error)
        *error = file.errorString();
    return written;
}

} // namespace skarvel
