#include "common/safe_file_name.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace skarvel;

namespace {

QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

TEST(SafeFileName, CharactersWindowsRefusesBecomeUnderscores) {
    struct Case {
        const char* what;
        QString name;
        QString safe;
    };
    const Case cases[] = {
        {"ordinary name", "Rain.mp3", "Rain.mp3"},
        {"each forbidden character", "a<b>c:d\"e/f\\g|h?i*j.txt", "a_b_c_d_e_f_g_h_i_j.txt"},
        {"control characters", QString::fromUtf8("x\0\t\r\n\x1F\x7F.txt", 11), "x______.txt"},
        {"C1 control", QString::fromUtf16(u"a\u0085b.txt"), "a_b.txt"},
        {"trailing dots and blanks go", "name.txt. . ", "name.txt"},
        {"inner dots and blanks stay", " two  dots..in.it.txt", " two  dots..in.it.txt"},
        {"leading dot stays", ".hidden", ".hidden"},
        {"non-ASCII kept", utf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt"),
         utf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt")},
        {"paired surrogates kept", utf8("\xF0\x9F\x98\x80.png"), utf8("\xF0\x9F\x98\x80.png")},
        {"lone high surrogate",
         QString::fromUtf16(u"a\xD83D"
                            "b.txt"),
         "a_b.txt"},
        {"lone low surrogate",
         QString::fromUtf16(u"a\xDE00"
                            "b.txt"),
         "a_b.txt"},
        {"swapped pair", QString::fromUtf16(u"\xDE00\xD83D.txt"), "__.txt"},
        {"high surrogate at the end", QString::fromUtf16(u"abc\xD83D"), "abc_"},
        {"only dots", "...", ""},
        {"only blanks", "   ", ""},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName(c.name), c.safe) << c.what;
}

TEST(SafeFileName, ReservedDeviceNamesGetAPrefix) {
    struct Case {
        QString name;
        QString safe;
    };
    const Case cases[] = {
        {"CON", "_CON"},
        {"con.txt", "_con.txt"},
        {"Nul.tar.gz", "_Nul.tar.gz"},
        {"AUX", "_AUX"},
        {"prn.", "_prn"}, // the trailing dot goes first; "prn" is still a device
        {"COM1.log", "_COM1.log"},
        {"lpt9", "_lpt9"},
        {"COM0", "_COM0"},
        {QString::fromUtf16(u"COM\u00B9.txt"), QString::fromUtf16(u"_COM\u00B9.txt")},
        {"CONIN$", "_CONIN$"},
        {"NUL .txt", "_NUL .txt"},
        // Not devices: longer or shorter names, or the name further in.
        {"CONSOLE.txt", "CONSOLE.txt"},
        {"COM10", "COM10"},
        {"LPT", "LPT"},
        {"my CON.txt", "my CON.txt"},
        {"file.con", "file.con"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName(c.name), c.safe) << c.name.toStdString();
}

TEST(SafeFileName, LongNamesAreCutToTheByteLimitKeepingTheExtension) {
    struct Case {
        const char* what;
        QString name;
        QString safe;
    };
    const QString e = QString(QChar(0xE9));        // two bytes in UTF-8
    const QString euro = QString(QChar(0x20AC));   // three bytes
    const QString grin = utf8("\xF0\x9F\x98\x80"); // four bytes, two UTF-16 units
    const Case cases[] = {
        {"exactly at the limit", QString(251, 'n') + ".pdf", QString(251, 'n') + ".pdf"},
        {"one byte over", QString(252, 'n') + ".pdf", QString(251, 'n') + ".pdf"},
        {"two-byte characters are not split", e.repeated(200) + ".txt", e.repeated(125) + ".txt"},
        {"three-byte characters", euro.repeated(100) + ".txt", euro.repeated(83) + ".txt"},
        {"surrogate pairs are not split", grin.repeated(100), grin.repeated(63)},
        {"no extension", QString(300, 'x'), QString(255, 'x')},
        {"an over-long extension is cut with the rest", "a." + QString(300, 'x'), "a." + QString(253, 'x')},
        {"a dot file is all name", "." + QString(300, 'x'), "." + QString(254, 'x')},
        {"a cut that ends in blanks loses them", QString(254, 'x') + "  yy", QString(254, 'x')},
        {"a device prefix still fits", "CON." + QString(260, 'x'), "_CON." + QString(250, 'x')},
        {"a name of lone surrogates", QString(300, QChar(0xD800)) + ".txt", QString(251, '_') + ".txt"},
    };
    for (const Case& c : cases) {
        const QString safe = SafeFileName(c.name);
        EXPECT_EQ(safe, c.safe) << c.what;
        EXPECT_LE(safe.toUtf8().size(), kMaxFileNameBytes) << c.what;
    }
}

// What the rules promise for Linux, checked against the file system itself: every
// result can be created directly in the folder and is listed there under that name.
TEST(SafeFileName, EveryResultIsOneFileTheFileSystemAccepts) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString hostile[] = {
        QString(400, 'n') + ".pdf",
        QString(200, QChar(0xE9)) + ".txt",
        QString(300, QChar(0xD83D)) + ".txt",
        utf8("\xF0\x9F\x98\x80").repeated(90) + ".jpg",
        "../../etc/passwd",
        "a/b\\c:d.txt",
        QString::fromUtf8("nul\0led.txt", 11),
    };
    for (const QString& name : hostile) {
        const QString safe = SafeFileName(name);
        ASSERT_FALSE(safe.isEmpty()) << name.toStdString();
        QFile file(folder.path() + "/" + safe);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly))
            << safe.toStdString() << ": " << file.errorString().toStdString();
        file.close();
        EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).contains(safe))
            << safe.toStdString();
        ASSERT_TRUE(file.remove());
    }
    // The limit is the file system's own: one byte more is refused.
    QFile tooLong(folder.path() + "/" + QString(kMaxFileNameBytes + 1, 'n'));
    EXPECT_FALSE(tooLong.open(QIODevice::WriteOnly));
}

} // namespace
