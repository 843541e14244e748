#include "common/file_ops.h"
#include "common/ini_file.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

// The paths relative to root, in their order.
QStringList relativeNames(const QString& root, const QStringList& paths) {
    QStringList names;
    for (const auto& p : paths)
        names << QDir(root).relativeFilePath(p);
    return names;
}

// Writes each file (a path below root) with its own name as content.
void writeFiles(const QString& root, const QStringList& names) {
    for (const QString& name : names)
        test::writeFile(root + "/" + name, name.toUtf8());
}

TEST(FileOps, FindFilesListsOwnFilesBeforeSubFoldersAndSkipsHiddenEntries) {
    QTemporaryDir tmp;
    const QString root = tmp.path();
    writeFiles(root, {"b.txt", "a.jpg", ".hidden", "sub/c.txt", "sub/deeper/d.txt", ".hiddendir/e.txt"});

    QStringList flat;
    FindFiles(root, "*.*", false, false, flat);
    EXPECT_EQ(relativeNames(root, flat), (QStringList{"a.jpg", "b.txt"}));

    QStringList deep;
    FindFiles(root, "*.*", true, true, deep);
    EXPECT_EQ(relativeNames(root, deep),
              (QStringList{"a.jpg", "b.txt", "sub", "sub/c.txt", "sub/deeper", "sub/deeper/d.txt"}));

    QStringList masked;
    FindFiles(root, "*.txt", true, false, masked);
    EXPECT_EQ(masked.size(), 3);
}

TEST(FileOps, DeleteFilesInFolderKeepsSubFoldersAndHiddenFiles) {
    QTemporaryDir tmp;
    const QString root = tmp.path();
    writeFiles(root, {"one", "two.txt", ".keep", "sub/three"});
    DeleteFilesInFolder(root);
    EXPECT_FALSE(QFile::exists(root + "/one"));
    EXPECT_FALSE(QFile::exists(root + "/two.txt"));
    EXPECT_TRUE(QFile::exists(root + "/.keep"));
    EXPECT_TRUE(QFile::exists(root + "/sub/three"));
}

TEST(FileOps, WriteWholeFileReportsAFolderThatDoesNotExist) {
    QTemporaryDir tmp;
    QString error;
    EXPECT_TRUE(WriteWholeFile(tmp.path() + "/ok.bin", QByteArray(1000, 'x')));
    EXPECT_FALSE(WriteWholeFile(tmp.path() + "/missing/dir/f.bin", "x", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(FileOps, ReplaceWholeFileReplacesWholeOrNotAtAll) {
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const auto names = [&root] {
        return QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    test::writeFile(root + "/kept.bin", "an older file of that name");
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    ASSERT_TRUE(QFile::setPermissions(root + "/kept.bin", ownerOnly));
    const QFileDevice::Permissions keptPermissions = QFileInfo(root + "/kept.bin").permissions();
    QString error;
    ASSERT_TRUE(ReplaceWholeFile(root + "/kept.bin", QByteArray(3000, 'k'), &error)) << error.toStdString();
    EXPECT_EQ(test::readFile(root + "/kept.bin"), QByteArray(3000, 'k'));
    // A replaced file keeps its permissions; a new one gets those of any new file.
    EXPECT_EQ(QFileInfo(root + "/kept.bin").permissions(), keptPermissions);
    ASSERT_TRUE(ReplaceWholeFile(root + "/new.bin", "new"));
    ASSERT_TRUE(WriteWholeFile(root + "/plain.bin", "plain"));
    EXPECT_EQ(QFileInfo(root + "/new.bin").permissions(), QFileInfo(root + "/plain.bin").permissions());
    ASSERT_TRUE(QFile::remove(root + "/new.bin") && QFile::remove(root + "/plain.bin"));
    // A name at the length limit leaves no room for a temporary name made from it.
    const QString longName = QString(251, 'n') + ".jpg";
    ASSERT_TRUE(ReplaceWholeFile(root + "/" + longName, "first", &error)) << error.toStdString();
    ASSERT_TRUE(ReplaceWholeFile(root + "/" + longName, "second", &error)) << error.toStdString();
    EXPECT_EQ(test::readFile(root + "/" + longName), QByteArray("second"));
    EXPECT_EQ(names(), (QStringList{"kept.bin", longName}));

    ASSERT_TRUE(QDir(root).mkpath("folder"));
    for (const QString& target :
         QStringList{root + "/folder", root + "/missing/f.bin", root + "/kept.bin/f.bin"}) {
        error.clear();
        EXPECT_FALSE(ReplaceWholeFile(target, "x", &error)) << target.toStdString();
        EXPECT_FALSE(error.isEmpty()) << target.toStdString();
    }
    EXPECT_EQ(names(), (QStringList{"folder", "kept.bin", longName}));
    EXPECT_TRUE(QDir(root + "/folder").isEmpty());
    EXPECT_EQ(test::readFile(root + "/kept.bin"), QByteArray(3000, 'k'));
}

TEST(IniFile, ValuesStayPlainAndOtherContentSurvives) {
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/Skarvel.ini";
    test::writeFile(path, "; comment\r\n[OTHER]\r\nX=1\r\n[COMMON]\r\nTEMP_DIR=C:\\old\\\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.readString("COMMON", "TEMP_DIR", "d"), "C:\\old\\");
    EXPECT_EQ(ini.readString("FORM", "STYLE", "Iceberg Classico"), "Iceberg Classico");
    ini.writeString("COMMON", "TEMP_DIR", "C:\\Users\\me\\Skarvel; \"quoted\"\\");
    ini.writeString("FORM", "STYLE", "Cyan Night");
    ASSERT_TRUE(ini.updateFile());
    const QString text = QString::fromUtf8(test::readFile(path));
    // Lines end as the platform's text files do.
#ifdef _WIN32
    const QString eol = QStringLiteral("\r\n");
#else
    const QString eol = QStringLiteral("\n");
#endif
    EXPECT_TRUE(text.contains("TEMP_DIR=C:\\Users\\me\\Skarvel; \"quoted\"\\" + eol)) << qPrintable(text);
    EXPECT_TRUE(text.contains("[FORM]" + eol + "STYLE=Cyan Night" + eol)) << qPrintable(text);
    EXPECT_TRUE(text.contains("; comment")) << qPrintable(text);
    EXPECT_TRUE(text.contains("[OTHER]" + eol + "X=1")) << qPrintable(text);
    IniFile again(path);
    EXPECT_EQ(again.readString("COMMON", "TEMP_DIR", ""), "C:\\Users\\me\\Skarvel; \"quoted\"\\");
    EXPECT_EQ(again.readString("FORM", "STYLE", ""), "Cyan Night");
}

} // namespace
