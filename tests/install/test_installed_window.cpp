// The real main window of an installed program: its settings go to the user's
// configuration folder when it closes and come back at the next start.
#include "common/ini_file.h"
#include "tests/gui/gui_test_support.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

using namespace skarvel;
using skarvel::test::GuiFixture;

class InstalledWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void installedProgramKeepsSettingsInTheConfigFolder();
    void buildFolderKeepsSettingsBesideTheExecutable();

private:
    QTemporaryDir xdgHome;
    QByteArray savedXdg;
};

void InstalledWindowTest::initTestCase() {
    QVERIFY(xdgHome.isValid());
#ifdef _WIN32
    // Windows keeps per-user settings under the roaming application data folder.
    savedXdg = qgetenv("APPDATA");
    qputenv("APPDATA", QDir::toNativeSeparators(xdgHome.path()).toUtf8());
#else
    savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", xdgHome.path().toLocal8Bit());
#endif
    // As the program's entry names it.
    QCoreApplication::setApplicationName(QStringLiteral("Skarvel"));
}

void InstalledWindowTest::cleanupTestCase() {
#ifdef _WIN32
    qputenv("APPDATA", savedXdg);
#else
    qputenv("XDG_CONFIG_HOME", savedXdg);
#endif
}

void InstalledWindowTest::installedProgramKeepsSettingsInTheConfigFolder() {
    GuiFixture f;
    const AppEnvironment env = MakeEnvironment(f.programDir.path(), f.tempDir.path(), UserConfigFolder(),
                                               [](const QString&) { return false; });
    const QString configIni = xdgHome.path() + "/Skarvel/Skarvel.ini";
    const QString chosen = f.tempDir.path() + "/Chosen/";

    f.form = CreateWindows(env);
    f.form->show();
    for (QAction* item : test::Part<QMenu>(f.form.get(), QStringLiteral("Skin1"))->actions())
        if (item->text() == "Cyan Night")
            item->trigger();
    test::SaveWorkFolder(f.form.get(), chosen);
    f.form->close();

    QVERIFY(QFile::exists(configIni));
    QVERIFY(!QFile::exists(f.programDir.path() + "/Skarvel.ini"));
    IniFile ini(configIni);
    QCOMPARE(ini.readString("COMMON", "TEMP_DIR", "?"), chosen);
    QCOMPARE(ini.readString("FORM", "STYLE", "?"), QString("Cyan Night"));

    f.form.reset();
    QDir(chosen).removeRecursively(); // the next start makes the folder structure again
    f.form = CreateWindows(env);
    f.form->show();
    QCOMPARE(test::ShownWorkFolder(f.form.get()), chosen);
    QCOMPARE(f.form->CheckedStyleName(), QString("Cyan Night"));
    QVERIFY(QDir(chosen + "Pictures").exists());
    QVERIFY(f.answers.messages.isEmpty());
}

void InstalledWindowTest::buildFolderKeepsSettingsBesideTheExecutable() {
    // This test runs from the build folder, as a portable copy would.
    const AppEnvironment env = DefaultEnvironment();
    QCOMPARE(env.programFolder, QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    QCOMPARE(SettingsPath(env), env.programFolder + QDir::separator() + "Skarvel.ini");
}

QTEST_MAIN(InstalledWindowTest)
#include "test_installed_window.moc"
