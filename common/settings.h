#pragma once
// Start-up values, the settings file and the work folder.
#include <QString>
#include <QStringList>

namespace skarvel {

// Where the program runs: its own folder and the temporary folder it falls back to.
struct AppEnvironment {
    QString programFolder; // without a trailing separator
    QString tempFolder;    // value of TEMP, else the system's temporary folder
};

AppEnvironment DefaultEnvironment();

inline const QString kDefaultStyle = QStringLiteral("Iceberg Classico");
inline const QString kStartStyle = QStringLiteral("Aqua Graphite");
inline const QString kSettingsFileName = QStringLiteral("Skarvel.ini");
// Hidden file that marks a work folder as the program's own, so start-up may empty it.
inline const QString kWorkFolderMarker = QStringLiteral(".skarvel-work-folder");

// The nine style names, in menu order.
const QStringList& StyleNames();

QString SettingsPath(const AppEnvironment& env);
// TEMP + separator + "Skarvel" + separator.
QString DefaultWorkFolder(const AppEnvironment& env);

struct StartupSettings {
    bool fileExists = false;
    QString workFolder;
    QString style;
};

StartupSettings ReadStartupSettings(const AppEnvironment& env);
bool WriteSettings(const AppEnvironment& env, const QString& workFolder, const QString& style);

// The five sub-folders of the work folder, in creation order.
const QStringList& WorkSubFolders();

// Creates the work folder (its text without the last character) and its five
// sub-folders, one level each, ignoring failures. A folder it creates, or finds
// empty, gets the marker file.
void MakeDirectoryStructure(const QString& workFolder);

// Deletes every ordinary file under the work folder, recursively, keeping the
// folders and hidden files. Only the default work folder and folders that carry
// the marker are emptied: a folder of the user's is never cleared.
void ClearWorkFolder(const QString& workFolder, const AppEnvironment& env);

} // namespace skarvel
