#include "common/file_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

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

namespace {

// A file of a short hidden name of its own beside a target, removed unless kept. Made with the
// permissions any new file gets here, not a temporary file's owner-only ones.
class PartFile {
public:
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    explicit PartFile(const QString& folder) {
        for (int attempt = 0; attempt < 64; ++attempt) {
            m_file.setFileName(folder + QLatin1String("/.skarvel-") +
                               QString::number(QRandomGenerator::global()->generate64(), 36) +
                               QLatin1String(".part"));
            if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !m_file.exists())
                return;
        }
    }
    ~PartFile() {
        if (m_kept)
            return;
        m_file.close();
        m_file.remove();
    }
    QFile& file() { return m_file; }
    void keep() { m_kept = true; }

private:
    QFile m_file;
    bool m_kept = false;
};

} // namespace

bool ReplaceFileWith(const QString& path, const std::function<bool(QFile& part, QString& why)>& fill,
                     QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // The target's own name may already be at the length limit, which leaves no room for a
    // temporary name made from it.
    const QFileInfo target(path);
    PartFile partFile(target.absolutePath());
    QFile& part = partFile.file();
    if (!part.isOpen())
        return fail(part.errorString());
    if (target.isFile())
        part.setPermissions(target.permissions());
    QString why;
    if (!fill(part, why))
        return fail(why.isEmpty() ? part.errorString() : why);
    if (!part.flush())
        return fail(part.errorString());
    part.close();
    if (part.error() != QFileDevice::NoError)
        return fail(part.errorString());
#ifdef _WIN32
    // Qt's and the C library's renames refuse an existing target.
    if (!MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(part.fileName()).utf16()),
                     reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                     MOVEFILE_REPLACE_EXISTING))
        return fail(QString::fromStdString(std::system_category().message(int(GetLastError()))));
#else
    // Renaming replaces an existing file in one step; onto a folder it fails.
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(part.fileName().toStdU16String()),
                            std::filesystem::path(path.toStdU16String()), ec);
    if (ec)
        return fail(QString::fromStdString(ec.message()));
#endif
    partFile.keep();
    return true;
}

bool ReplaceWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
    return ReplaceFileWith(
        path, [&bytes](QFile& part, QString&) { return part.write(bytes) == bytes.size(); }, error);
}

} // namespace skarvel
