// Where the settings file and the help file are looked for: beside the executable
// for a build folder or a portable copy, in the user's configuration folder and the
// installed data folder for an installed program.
#include "common/ini_file.h"
#include "common/settings.h"
#include "common/text_ops.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace skarvel;

namespace {

struct InstalledCase {
    const char* name;
    const char* programFolder;
    bool writable;
    bool installed;
};

class InstalledFolder : public ::testing::TestWithParam<InstalledCase> {};

TEST_P(InstalledFolder, DecidesWhereTheSettingsLive) {
    const InstalledCase& c = GetParam();
    const bool installed =
        IsInstalledProgramFolder(c.programFolder, [&](const QString&) { return c.writable; });
    EXPECT_EQ(installed, c.installed) << c.programFolder;
}

#ifdef _WIN32
// Windows has no install prefix: a folder the user cannot write (Program Files) is installed.
INSTANTIATE_TEST_SUITE_P(
    Cases, InstalledFolder,
    ::testing::Values(InstalledCase{"Program Files is installed", "C:\\Program Files\\Skarvel", false, true},
                      InstalledCase{"A per-user install the user can write is portable",
                                    "C:\\Users\\me\\AppData\\Local\\Programs\\Skarvel", true, false},
                      InstalledCase{"An unpacked zip on a stick is portable", "E:\\Skarvel", true, false}),
#else
INSTANTIATE_TEST_SUITE_P(
    Cases, InstalledFolder,
    ::testing::Values(
        InstalledCase{"A build folder the user can write is portable", "/work/skarvel/build/gui", true,
                      false},
        InstalledCase{"A portable copy on a stick is portable", "/media/user/STICK/Skarvel", true, false},
        InstalledCase{"A folder the user cannot write is installed", "/opt/skarvel", false, true},
        InstalledCase{"usr bin is installed even for root who can write it", "/usr/bin", true, true},
        InstalledCase{"usr local bin is installed", "/usr/local/bin", true, true},
        InstalledCase{"A trailing separator does not hide usr bin", "/usr/bin/", true, true},
        InstalledCase{"Dot-dot segments do not hide usr bin", "/usr/lib/../bin", true, true},
        InstalledCase{"A bin folder of the user's own is portable", "/home/user/bin", true, false},
        InstalledCase{"A name that only starts like usr bin is portable", "/usr/binaries", true, false}),
#endif
    [](const ::testing::TestParamInfo<InstalledCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p)))
                name += *p;
        return name;
    });

TEST(FolderIsWritable, ProbesTheRealFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(FolderIsWritable(dir.path()));
    EXPECT_FALSE(FolderIsWritable(dir.filePath("missing")));
    test::writeFile(dir.filePath("file"), "x");
    EXPECT_FALSE(FolderIsWritable(dir.filePath("file")));

#ifndef _WIN32
    // Root writes through any mode, which is why usr bin is decided by its place.
    if (geteuid() != 0) {
        const QString locked = dir.filePath("locked");
        ASSERT_TRUE(QDir().mkdir(locked));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_FALSE(FolderIsWritable(locked));
        EXPECT_TRUE(IsInstalledProgramFolder(locked));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
#endif
}

// A file in a folder, with the platform's separator, as the settings code forms it.
QString inFolder(const QString& folder, const char* name) {
    return folder + PathSeparator() + QLatin1String(name);
}

struct Folders {
    QTemporaryDir root;
    QString program = QDir::toNativeSeparators(root.filePath("usr/bin"));
    QString config = QDir::toNativeSeparators(root.filePath("home/.config/Skarvel"));
    QString temp = QDir::toNativeSeparators(root.filePath("tmp"));
    Folders() { QDir().mkpath(program); }
};

TEST(SettingsLocation, InstalledProgramWritesAndReadsTheConfigFolder) {
    Folders f;
    const AppEnvironment env =
        MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return false; });
    EXPECT_EQ(SettingsPath(env), inFolder(f.config, "Skarvel.ini"));
    EXPECT_FALSE(ReadStartupSettings(env).fileExists);

    // The configuration folder does not exist before the first close.
    ASSERT_TRUE(WriteSettings(env, "/data/Coll/", "Cyan Night"));
    EXPECT_TRUE(QFile::exists(inFolder(f.config, "Skarvel.ini")));
    EXPECT_FALSE(QFile::exists(inFolder(f.program, "Skarvel.ini")));

    const StartupSettings back = ReadStartupSettings(env);
    EXPECT_TRUE(back.fileExists);
    EXPECT_EQ(back.workFolder, "/data/Coll/");
    EXPECT_EQ(back.style, "Cyan Night");
}

TEST(SettingsLocation, PortableProgramKeepsTheFileBesideTheExecutable) {
    Folders f;
    const AppEnvironment env =
        MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return true; });
    EXPECT_EQ(SettingsPath(env), inFolder(f.program, "Skarvel.ini"));
    ASSERT_TRUE(WriteSettings(env, "/data/Coll/", "Luna"));
    EXPECT_TRUE(QFile::exists(inFolder(f.program, "Skarvel.ini")));
    EXPECT_FALSE(QDir(f.config).exists());
}

TEST(SettingsLocation, BothPlacesHoldTheSameFormat) {
    Folders f;
    const AppEnvironment installed =
        MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return false; });
    const AppEnvironment portable =
        MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return true; });
    ASSERT_TRUE(WriteSettings(installed, "/data/Coll/", "Metropolis UI Black"));
    ASSERT_TRUE(WriteSettings(portable, "/data/Coll/", "Metropolis UI Black"));
    const QByteArray bytes = test::readFile(SettingsPath(installed));
    EXPECT_TRUE(bytes.contains("[COMMON]")) << bytes.constData();
    EXPECT_EQ(bytes, test::readFile(SettingsPath(portable)));

    // A file another program wrote (CR LF, other keys) is read from the configuration folder too.
    test::writeFile(SettingsPath(installed), "[FORM]\r\nSTYLE=Light\r\n[OTHER]\r\nKEY=1\r\n");
    EXPECT_EQ(ReadStartupSettings(installed).style, "Light");
    ASSERT_TRUE(WriteSettings(installed, "/data/Coll/", "Luna"));
    EXPECT_EQ(IniFile(SettingsPath(installed)).readString("OTHER", "KEY", "?"), "1");
}

#ifdef _WIN32
TEST(SettingsLocation, ConfigFolderIsTheRoamingApplicationDataFolder) {
    QTemporaryDir appData;
    const QByteArray saved = qgetenv("APPDATA");
    qputenv("APPDATA", QDir::toNativeSeparators(appData.path()).toUtf8());
    EXPECT_EQ(UserConfigFolder(), QDir::toNativeSeparators(appData.path() + "/Skarvel"));
    qputenv("APPDATA", saved);
}
#else
TEST(SettingsLocation, ConfigFolderFollowsXdgConfigHome) {
    QTemporaryDir home;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QCoreApplication::setApplicationName("Skarvel");
    EXPECT_EQ(UserConfigFolder(), home.path() + "/Skarvel");
    qputenv("XDG_CONFIG_HOME", saved);
}
#endif

struct HelpCase {
    const char* name;
    bool beside;
    bool installed;
    bool installedExpected;
};

class HelpFile : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpFile, IsLookedForBesideTheExecutableThenInTheDataFolder) {
    const HelpCase& c = GetParam();
    Folders f;
    const AppEnvironment env =
        MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return false; });
#ifdef _WIN32
    // The help file ships beside the executable: there is no data folder to fall back on.
    EXPECT_EQ(env.dataFolder, QString());
    if (c.beside)
        test::writeFile(inFolder(f.program, "Skarvel.chm"), "help");
    EXPECT_EQ(HelpFilePath(env), inFolder(f.program, "Skarvel.chm"));
#else
    const QString data = QDir::cleanPath(f.program + "/../share/skarvel");
    EXPECT_EQ(env.dataFolder, data);
    if (c.beside)
        test::writeFile(f.program + "/Skarvel.chm", "help");
    if (c.installed)
        test::writeFile(data + "/Skarvel.chm", "help");
    EXPECT_EQ(HelpFilePath(env), c.installedExpected ? data + "/Skarvel.chm" : f.program + "/Skarvel.chm");
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HelpFile,
    ::testing::Values(HelpCase{"NeitherGivesThePathBesideTheExecutable", false, false, false},
                      HelpCase{"BesideOnly", true, false, false},
                      HelpCase{"InstalledOnly", false, true, true},
                      HelpCase{"BesideWinsOverInstalled", true, true, false}),
    [](const ::testing::TestParamInfo<HelpCase>& info) { return std::string(info.param.name); });

} // namespace

TEST(SettingsLocation, TransferKeysOfCommon) {
    struct Case {
        const char* lines; // the [COMMON] section's key lines
        int maxTransfers;
        int perHost;
        bool hasAgent;
        const char* agent;
    };
    const Case cases[] = {
        {"", 8, 6, false, ""},
        {"MAX_TRANSFERS=3\r\nMAX_TRANSFERS_PER_HOST=1\r\n", 3, 1, false, ""},
        {"MAX_TRANSFERS=0\r\nMAX_TRANSFERS_PER_HOST=many\r\n", 8, 6, false, ""},
        {"MAX_TRANSFERS=-2\r\nMAX_TRANSFERS_PER_HOST=\r\n", 8, 6, false, ""},
        {"USER_AGENT=Collector/2.0 (test)\r\n", 8, 6, true, "Collector/2.0 (test)"},
        {"USER_AGENT=\r\n", 8, 6, true, ""},
    };
    for (const Case& c : cases) {
        Folders f;
        const AppEnvironment env =
            MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return true; });
        test::writeFile(SettingsPath(env), QByteArray("[COMMON]\r\nTEMP_DIR=/data/Coll/\r\n") + c.lines);
        const StartupSettings s = ReadStartupSettings(env);
        EXPECT_EQ(s.maxTransfers, c.maxTransfers) << c.lines;
        EXPECT_EQ(s.maxTransfersPerHost, c.perHost) << c.lines;
        EXPECT_EQ(s.hasUserAgent, c.hasAgent) << c.lines;
        EXPECT_EQ(s.userAgent, QString(c.agent)) << c.lines;
        // Closing the window keeps the keys it does not write.
        ASSERT_TRUE(WriteSettings(env, "/data/Coll/", "Luna"));
        EXPECT_EQ(ReadStartupSettings(env).maxTransfers, c.maxTransfers) << c.lines;
    }
}

TEST(SettingsLocation, DuplicateDistanceOfCommon) {
    struct Case {
        const char* lines;
        int distance;
    };
    const Case cases[] = {
        {"", 4},
        {"DUPLICATE_DISTANCE=0\r\n", 0},
        {"DUPLICATE_DISTANCE= 7 \r\n", 7},
        {"DUPLICATE_DISTANCE=16\r\n", 16},
        {"DUPLICATE_DISTANCE=17\r\n", 4},
        {"DUPLICATE_DISTANCE=-1\r\n", 4},
        {"DUPLICATE_DISTANCE=near\r\n", 4},
    };
    for (const Case& c : cases) {
        Folders f;
        const AppEnvironment env =
            MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return true; });
        test::writeFile(SettingsPath(env), QByteArray("[COMMON]\r\nTEMP_DIR=/data/Coll/\r\n") + c.lines);
        EXPECT_EQ(ReadStartupSettings(env).duplicateDistance, c.distance) << c.lines;
    }
}

TEST(SettingsLocation, ModernPicturesKeyIsReadAndWrittenOnlyWhenItMatters) {
    struct Case {
        const char* lines; // the [COMMON] section's key lines
        bool on;
        bool writtenOn;    // the value the window writes at close
        const char* after; // the key's line in the file afterwards; "" when absent
    };
    const Case cases[] = {
        {"", false, false, ""},
        {"MODERN_PICTURES=1\r\n", true, true, "MODERN_PICTURES=1"},
        {"MODERN_PICTURES= 1 \r\n", true, false, "MODERN_PICTURES=0"},
        {"MODERN_PICTURES=0\r\n", false, false, "MODERN_PICTURES=0"},
        {"MODERN_PICTURES=yes\r\n", false, false, "MODERN_PICTURES=0"},
        {"", false, true, "MODERN_PICTURES=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lines) + (c.writtenOn ? " written on" : " written off"));
        Folders f;
        const AppEnvironment env =
            MakeEnvironment(f.program, f.temp, f.config, [](const QString&) { return true; });
        test::writeFile(SettingsPath(env), QByteArray("[COMMON]\r\nTEMP_DIR=/data/Coll/\r\n") + c.lines);
        EXPECT_EQ(ReadStartupSettings(env).modernPictures, c.on);
        ASSERT_TRUE(WriteSettings(env, "/data/Coll/", "Luna", c.writtenOn));
        const QByteArray file = test::readFile(SettingsPath(env));
        if (*c.after) {
            EXPECT_TRUE(file.contains(c.after)) << file.toStdString();
        } else {
            EXPECT_FALSE(file.contains("MODERN_PICTURES")) << file.toStdString();
        }
        EXPECT_EQ(ReadStartupSettings(env).modernPictures, c.writtenOn);
    }
}
