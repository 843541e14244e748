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

bool OpenNewFile(QFile& file, const std::function<QString()>& nextName, QIODevice::OpenMode mode, int tries) {
    for (int attempt = 0; attempt < tries; ++attempt) {
        file.setFileName(nextName());
        if (file.open(mode | QIODevice::NewOnly))
            return true;
        // Anything but a name already taken ends the search.
        if (file.error() != QFileDevice::OpenError || !file.exists())
            return false;
    }
    return false;
}

namespace {

// A name beside the files of folder that no one picks by chance and listings pass over.
QString HiddenNameIn(const QString& folder, QLatin1String suffix) {
    return folder + QLatin1String("/.skarvel-") +
           QString::number(QRandomGenerator::global()->generate64(), 36) + suffix;
}

} // namespace

bool RenameOver(const QString& from, const QString& to, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
#ifdef _WIN32
    // Qt's and the C library's renames refuse an existing target.
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    const DWORD refused = GetLastError();
    const QString why = QString::fromStdString(std::system_category().message(int(refused)));
    // A target that is open (a sound being played) cannot be replaced, but when every handle on
    // it lets others delete it, it can be renamed aside and deleted: it goes once they close.
    if (refused != ERROR_ACCESS_DENIED && refused != ERROR_SHARING_VIOLATION)
        return fail(why);
    const QFileInfo info(to);
    const std::wstring aside =
        QDir::toNativeSeparators(HiddenNameIn(info.absolutePath(), QLatin1String(".old"))).toStdWString();
    if (!info.isFile() || !MoveFileExW(target.c_str(), aside.c_str(), 0))
        return fail(why);
    if (!MoveFileExW(source.c_str(), target.c_str(), 0)) {
        const QString again = QString::fromStdString(std::system_category().message(int(GetLastError())));
        MoveFileExW(aside.c_str(), target.c_str(), 0);
        return fail(again);
    }
    DeleteFileW(aside.c_str());
#else
    // Renaming replaces an existing file in one step; onto a folder it fails.
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), ec);
    if (ec)
        return fail(QString::fromStdString(ec.message()));
#endif
    return true;
}

namespace {

// A file of a short hidden name of its own beside a target, removed unless kept. Made with the
// permissions any new file gets here, not a temporary file's owner-only ones.
class PartFile {
public:
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    explicit PartFile(const QString& folder) {
        (void)OpenNewFile(m_file, [&folder] { return HiddenNameIn(folder, QLatin1String(".part")); });
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
    if (!RenameOver(part.fileName(), path, &why))
        return fail(why);
    partFile.keep();
    return true;
}

bool ReplaceWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
    return ReplaceFileWith(
        path, [&bytes](QFile& part, QString&) { return part.write(bytes) == bytes.size(); }, error);
}

} // namespace skarvel
