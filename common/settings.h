#pragma once
// Start-up values, the settings file and the work folder.
#include <QString>
#include <QStringList>

#include <functional>

namespace skarvel {

// Where the program runs: its own folder and the temporary folder it falls back to.
struct AppEnvironment {
    QString programFolder;  // without a trailing separator
    QString tempFolder;     // value of TEMP, else the system's temporary folder
    QString settingsFolder; // folder of the settings file; empty means the program folder
    QString dataFolder;     // installed data folder (help file); empty when there is none
};

// True when the folder answers "can a file be written here".
using WritableProbe = std::function<bool(const QString& folder)>;
bool FolderIsWritable(const QString& folder);

// An installed program (under a bin folder of an install prefix, or in a folder the
// user cannot write) keeps its settings in the user's configuration folder; a build
// folder or a portable copy keeps them beside the executable.
bool IsInstalledProgramFolder(const QString& programFolder,
                              const WritableProbe& isWritable = FolderIsWritable);

// The user's configuration folder for this program (QStandardPaths::AppConfigLocation).
QString UserConfigFolder();

// The environment of a program in programFolder; configFolder is used only when it is installed.
AppEnvironment MakeEnvironment(const QString& programFolder, const QString& tempFolder,
                               const QString& configFolder,
                               const WritableProbe& isWritable = FolderIsWritable);
AppEnvironment DefaultEnvironment();

inline const QString kDefaultStyle = QStringLiteral("Iceberg Classico");
inline const QString kStartStyle = QStringLiteral("Aqua Graphite");
inline const QString kSettingsFileName = QStringLiteral("Skarvel.ini");
inline const QString kHelpFileName = QStringLiteral("Skarvel.chm");
// Hidden file that marks a work folder as the program's own, so start-up may empty it.
inline const QString kWorkFolderMarker = QStringLiteral(".skarvel-work-folder");

// The nine style names, in menu order.
const QStringList& StyleNames();

QString SettingsPath(const AppEnvironment& env);
// The help file beside the executable, else the one in the data folder; the path beside
// the executable when neither exists.
QString HelpFilePath(const AppEnvironment& env);
// TEMP + separator + "Skarvel" + separator.
QString DefaultWorkFolder(const AppEnvironment& env);

struct StartupSettings {
    bool fileExists = false;
    QString workFolder;
    QString style;
    // [COMMON] MAX_TRANSFERS and MAX_TRANSFERS_PER_HOST: transfers in flight at once for one
    // job, and to one host; a value that is not a whole number of at least 1 gives the default.
    int maxTransfers = 8;
    int maxTransfersPerHost = 6;
    // [COMMON] USER_AGENT: when present, the User-Agent of every request of the program.
    bool hasUserAgent = false;
    QString userAgent;
    // [COMMON] MODERN_PICTURES=1: WebP, AVIF and SVG pictures are known too.
    bool modernPictures = false;
};

StartupSettings ReadStartupSettings(const AppEnvironment& env);
// MODERN_PICTURES is written as 1 when on; when off it is written as 0 only where the file has the
// key, so that a file that never had it stays as it was.
bool WriteSettings(const AppEnvironment& env, const QString& workFolder, const QString& style,
                   bool modernPictures = false);

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
