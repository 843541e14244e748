#include "common/settings.h"

#include "common/file_ops.h"
#include "common/ini_file.h"
#include "common/text_ops.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace skarvel {

AppEnvironment DefaultEnvironment() {
    AppEnvironment env;
    env.programFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    const QByteArray temp = qgetenv("TEMP");
    env.tempFolder = temp.isEmpty() ? QDir::toNativeSeparators(QDir::tempPath()) : QString::fromLocal8Bit(temp);
    return env;
}

const QStringList& StyleNames() {
    static const QStringList names{"Aqua Graphite",    "Cyan Night", "Emerald Light Slate",
                                   "Golden Graphite",  "Iceberg Classico", "Lavender Classico",
                                   "Light",            "Luna",       "Metropolis UI Black"};
    return names;
}

QString SettingsPath(const AppEnvironment& env) {
    return env.programFolder + PathSeparator() + kSettingsFileName;
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
    } else {
        s.workFolder = DefaultWorkFolder(env);
    }
    return s;
}

bool WriteSettings(const AppEnvironment& env, const QString& workFolder, const QString& style) {
    IniFile ini(SettingsPath(env));
    ini.writeString("COMMON", "TEMP_DIR", workFolder);
    ini.writeString("FORM", "STYLE", style);
    return ini.updateFile();
}

const QStringList& WorkSubFolders() {
    static const QStringList names{"Files", "Pictures", "Sounds", "Video", "Text"};
    return names;
}

namespace {

bool isEmptyFolder(const QString& path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty();
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
            if (QDir(top).exists() && (!existed || isEmptyFolder(top)))
                WriteWholeFile(top + PathSeparator() + kWorkFolderMarker, QByteArray("Skarvel work folder\n"));
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
