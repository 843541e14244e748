#include "common/settings.h"

#include "common/file_ops.h"
#include "common/ini_file.h"
#include "common/text_ops.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Set by the build from the install directories; these are GNU's defaults.
#ifndef SKARVEL_INSTALL_BINDIR
#define SKARVEL_INSTALL_BINDIR "/usr/local/bin"
#endif
#ifndef SKARVEL_DATADIR_FROM_BINDIR
#define SKARVEL_DATADIR_FROM_BINDIR "../share/skarvel"
#endif

namespace skarvel {

bool FolderIsWritable(const QString& folder) {
    const QFileInfo info(folder);
#ifdef Q_OS_WIN
    // Windows reports a folder writable unless it is marked read-only, whatever its access
    // rights (Program Files), so only a file actually created there tells.
    if (!info.isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/skarvel-write-probe-XXXXXX"));
    return probe.open();
#else
    return info.isDir() && info.isWritable();
#endif
}

bool IsInstalledProgramFolder(const QString& programFolder, const WritableProbe& isWritable) {
#ifndef Q_OS_WIN
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(programFolder));
    // Root may write anywhere, so the place decides before the probe does.
    static const QStringList installedFolders{QDir::cleanPath(QStringLiteral(SKARVEL_INSTALL_BINDIR)),
                                              QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")};
    if (installedFolders.contains(folder))
        return true;
#endif
    return !isWritable(programFolder);
}

QString UserConfigFolder() {
#ifdef Q_OS_WIN
    // The roaming application data folder; Qt's AppConfigLocation is the local one.
    QString appData = qEnvironmentVariable("APPDATA");
    if (appData.isEmpty())
        appData = QDir::homePath() + QStringLiteral("/AppData/Roaming");
    return QDir::toNativeSeparators(QDir::cleanPath(appData + QStringLiteral("/Skarvel")));
#else
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
#endif
}

AppEnvironment MakeEnvironment(const QString& programFolder, const QString& tempFolder,
                               const QString& configFolder, const WritableProbe& isWritable) {
    AppEnvironment env;
    env.programFolder = programFolder;
    env.tempFolder = tempFolder;
    env.settingsFolder = IsInstalledProgramFolder(programFolder, isWritable) ? configFolder : programFolder;
#ifndef Q_OS_WIN
    // On Windows the help file ships beside the executable: there is no data folder.
    env.dataFolder = QDir::toNativeSeparators(
        QDir::cleanPath(programFolder + u'/' + QStringLiteral(SKARVEL_DATADIR_FROM_BINDIR)));
#endif
    return env;
}

AppEnvironment DefaultEnvironment() {
    // Decoded from the local 8-bit text on Unix, read as wide characters on Windows.
    const QString temp = qEnvironmentVariable("TEMP");
    return MakeEnvironment(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                           temp.isEmpty() ? QDir::toNativeSeparators(QDir::tempPath()) : temp,
                           UserConfigFolder());
}

const QStringList& StyleNames() {
    static const QStringList names{"Aqua Graphite",
                                   "Cyan Night",
                                   "Emerald Light Slate",
                                   "Golden Graphite",
                                   "Iceberg Classico",
                                   "Lavender Classico",
                                   "Light",
                                   "Luna",
                                   "Metropolis UI Black"};
    return names;
}

QString SettingsPath(const AppEnvironment& env) {
    const QString& folder = env.settingsFolder.isEmpty() ? env.programFolder : env.settingsFolder;
    return folder + PathSeparator() + kSettingsFileName;
}

QString HelpFilePath(const AppEnvironment& env) {
    const QString beside = env.programFolder + PathSeparator() + kHelpFileName;
    if (QFile::exists(beside) || env.dataFolder.isEmpty())
        return beside;
    const QString installed = env.dataFolder + PathSeparator() + kHelpFileName;
    return QFile::exists(installed) ? installed : beside;
}

QString DefaultWorkFolder(const AppEnvironment& env) {
    return env.tempFolder + PathSeparator() + QStringLiteral("Skarvel") + PathSeparator();
}

StartupSettings ReadStartupSettings(const AppEnvironment& env) {
    StartupSettings s;
    s.style = kDefaultStyle;
    const QString path = SettingsPath(env);
    s.fileExists = QFile::exists(path);
    if (s.fileExists) {
        IniFile ini(path);
        s.workFolder = ini.readString("COMMON", "TEMP_DIR", DefaultWorkFolder(env));
        s.style = ini.readString("FORM", "STYLE", kDefaultStyle);
        const auto positive = [&ini](const char* key, int def) {
            bool ok = false;
            const int value = ini.readString("COMMON", key, QString()).trimmed().toInt(&ok);
            return ok && value >= 1 ? value : def;
        };
        s.maxTransfers = positive("MAX_TRANSFERS", s.maxTransfers);
        s.maxTransfersPerHost = positive("MAX_TRANSFERS_PER_HOST", s.maxTransfersPerHost);
        bool distanceOk = false;
        const int distance =
            ini.readString("COMMON", "DUPLICATE_DISTANCE", QString()).trimmed().toInt(&distanceOk);
        if (distanceOk && distance >= 0 && distance <= kMaxDuplicateDistance)
            s.duplicateDistance = distance;
        // A key that is absent reads as this value, which no User-Agent can hold.
        static const QString absent = QStringLiteral("\n");
        const QString agent = ini.readString("COMMON", "USER_AGENT", absent);
        s.hasUserAgent = agent != absent;
        if (s.hasUserAgent)
            s.userAgent = agent;
        s.modernPictures = ini.readString("COMMON", "MODERN_PICTURES", QString()).trimmed() == u"1";
    } else {
        s.workFolder = DefaultWorkFolder(env);
    }
    return s;
}

bool WriteSettings(const AppEnvironment& env, const QString& workFolder, const QString& style,
                   bool modernPictures, QString* error) {
    const QString path = SettingsPath(env);
    // The configuration folder of a user who never ran the program does not exist yet.
    QDir().mkpath(QFileInfo(path).absolutePath());
    IniFile ini(path);
    ini.writeString("COMMON", "TEMP_DIR", workFolder);
    ini.writeString("FORM", "STYLE", style);
    // A key that is absent reads as this value, which no written value is.
    static const QString absent = QStringLiteral("\n");
    if (modernPictures || ini.readString("COMMON", "MODERN_PICTURES", absent) != absent)
        ini.writeString("COMMON", "MODERN_PICTURES",
                        modernPictures ? QStringLiteral("1") : QStringLiteral("0"));
    return ini.updateFile(error);
}

const QStringList& WorkSubFolders() {
    static const QStringList names{"Files", "Pictures", "Sounds", "Video", "Text"};
    return names;
}

namespace {

bool isEmptyFolder(const QString& path) {
    return QDir(path)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .isEmpty();
}

// A dot name hides a file on Unix; Windows needs the attribute, or clearing the
// folder would list and delete the marker itself.
void hideFile(const QString& path) {
#ifdef Q_OS_WIN
    const QString native = QDir::toNativeSeparators(path);
    const auto* name = reinterpret_cast<const wchar_t*>(native.utf16());
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(name, attributes | FILE_ATTRIBUTE_HIDDEN);
#else
    Q_UNUSED(path);
#endif
}

QString ownFolder(const QString& workFolder) {
    if (workFolder.endsWith(PathSeparator()) || workFolder.endsWith(u'/'))
        return workFolder.left(workFolder.size() - 1);
    return workFolder;
}

} // namespace

void MakeDirectoryStructure(const QString& workFolder) {
    QDir dir;
    if (!workFolder.isEmpty()) {
        const QString top = workFolder.left(workFolder.size() - 1);
        if (!top.isEmpty()) {
            const bool existed = QDir(top).exists();
            if (!existed)
                dir.mkdir(top);
            // Only a folder that the program made, or found empty, becomes its own.
            // Without the marker the folder is merely never emptied (the safe side); a folder
            // that refuses it refuses the downloads too, and each of those reports its failure.
            if (QDir(top).exists() && (!existed || isEmptyFolder(top))) {
                const QString marker = top + PathSeparator() + kWorkFolderMarker;
                if (WriteWholeFile(marker, QByteArray("Skarvel work folder\n")))
                    hideFile(marker);
            }
        }
    }
    for (const QString& name : WorkSubFolders()) {
        const QString sub = workFolder + name;
        if (!QDir(sub).exists())
            dir.mkdir(sub);
    }
}

void ClearWorkFolder(const QString& workFolder, const AppEnvironment& env) {
    const QString folder = ownFolder(workFolder);
    if (folder.isEmpty())
        return;
    const bool isDefault = QDir::cleanPath(workFolder) == QDir::cleanPath(DefaultWorkFolder(env));
    if (!isDefault && !QFile::exists(folder + PathSeparator() + kWorkFolderMarker))
        return;
    QStringList files;
    FindFiles(folder, QStringLiteral("*.*"), true, false, files);
    for (const QString& f : files)
        QFile::remove(f);
}

} // namespace skarvel
