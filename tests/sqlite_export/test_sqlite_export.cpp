// The export database is checked with the sqlite3 command-line tool, so these
// tests do not trust our own reading code.
#include "sqlite_export/sqlite_export.h"
#include "common/text_ops.h"
#include "tests/support/host_tool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace skarvel;

namespace {

struct CliResult {
    bool ok = false;
    QString out;
    QString err;
};

// Runs statements on the database file with the sqlite3 tool.
CliResult Sqlite3(const QString& db, const QString& sql) {
    CliResult result;
    const QStringList args = {QStringLiteral("-batch"),
                              QStringLiteral("-noheader"),
                              QStringLiteral("-separator"),
                              QStringLiteral("|"),
                              db,
                              sql};
    const QString tool = test::toolsThroughBridge()
                             ? QStringLiteral("sqlite3")
                             : QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (tool.isEmpty()) {
        result.err = QStringLiteral("the sqlite3 tool is not installed");
        return result;
    }
    const test::ToolRun run = test::runHostTool(tool, args);
    result.out = QString::fromUtf8(run.out).trimmed();
    result.err = QString::fromUtf8(run.err).trimmed();
    result.ok = run.ok();
    return result;
}

// Query output, failing the test when the tool reports an error.
QString Query(const QString& db, const QString& sql) {
    const CliResult r = Sqlite3(db, sql);
    EXPECT_TRUE(r.ok) << sql.toStdString() << ": " << r.err.toStdString();
    return r.out;
}

struct Row {
    int id;
    QString name;
    QString type;
    QByteArray data;
};

// One line per row: id, name as UTF-8 hex, type, storage class and hex of data.
QString StoredRows(const QString& db, const QString& table) {
    return Query(db,
                 QStringLiteral("select id, hex(name), type, typeof(data), hex(data) from %1 order by id;")
                     .arg(QuotedTableName(table)));
}

QString ExpectedRows(const std::vector<Row>& rows) {
    QStringList lines;
    for (const Row& r : rows) {
        lines << QStringLiteral("%1|%2|%3|blob|%4")
                     .arg(r.id)
                     .arg(QString::fromLatin1(r.name.toUtf8().toHex().toUpper()), r.type,
                          QString::fromLatin1(r.data.toHex().toUpper()));
    }
    return lines.join(QLatin1Char('\n'));
}

QString TableNames(const QString& db) {
    return Query(db, QStringLiteral("select name from sqlite_master where type='table' order by name;"));
}

// Bytes that a text-based store would damage: NUL, 0xFF, quotes, a newline.
QByteArray Binary(const char* tag) {
    QByteArray bytes("\x00\xff'\"\n", 5);
    bytes += tag;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    return bytes;
}

class SqliteExport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(Sqlite3(QStringLiteral(":memory:"), QStringLiteral("select 1;")).ok)
            << "the sqlite3 tool is needed to check the export database";
    }

    // One whole export: connect, prepare, rows, commit.
    void Export(const QString& table, bool dropFirst, DropStyle style, const std::vector<Row>& rows,
                bool overwrite = false) {
        SqliteExportSession session;
        QString error;
        ASSERT_TRUE(session.connect(db, overwrite, &error)) << error.toStdString();
        session.prepareTable(table, dropFirst, style);
        for (const Row& r : rows)
            ASSERT_TRUE(session.insertRow(r.name, r.type, r.data, &error)) << error.toStdString();
        ASSERT_TRUE(session.commitAndClose(&error)) << error.toStdString();
    }

    QTemporaryDir folder;
    QString db = folder.filePath(QStringLiteral("export.db"));
};

TEST_F(SqliteExport, NewFileHoldsTheExactTableAndEveryByteOfEachRow) {
    ASSERT_FALSE(QFileInfo::exists(db));
    QByteArray large(300 * 1024, '\0');
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char((i * 7919) % 251);
    const std::vector<Row> rows = {
        {1, "Rain", "mp3", Binary("rain")},
        {2, "Wind", "ogg", large},
        {3, "Silence", "wav", QByteArray()},
    };

    SqliteExportSession session;
    QString error;
    ASSERT_TRUE(session.connect(db, true, &error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(db));
    session.prepareTable(QStringLiteral("Sounds"), false, DropStyle::Bare);
    for (const Row& r : rows)
        ASSERT_TRUE(session.insertRow(r.name, r.type, r.data, &error)) << error.toStdString();

    // Nothing of the run, not even the table, is visible to other readers before the commit.
    EXPECT_EQ(TableNames(db), "");
    ASSERT_TRUE(session.commitAndClose(&error)) << error.toStdString();
    EXPECT_FALSE(session.isConnected());

    EXPECT_EQ(Query(db, "select sql from sqlite_master where name='Sounds';"),
              "CREATE TABLE `Sounds` (`id` INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,`name` TEXT NOT NULL,"
              "`type` TEXT NOT NULL,`data` BLOB)");
    EXPECT_EQ(StoredRows(db, "Sounds"), ExpectedRows(rows));
}

TEST_F(SqliteExport, RowsSharingNameAndTypeKeepTheirOwnData) {
    const std::vector<Row> rows = {
        {1, "5", "jpg", Binary("first picture")},
        {2, "5", "jpg", Binary("second picture")},
        {3, "5", "png", Binary("third picture")},
    };
    Export("Pictures", false, DropStyle::Bare, rows);
    EXPECT_EQ(StoredRows(db, "Pictures"), ExpectedRows(rows));
}

TEST_F(SqliteExport, NamesAndTypesAreStoredExactlyAsGiven) {
    ASSERT_TRUE(Sqlite3(db, "create table x (v); insert into x values (42);").ok);
    const std::vector<Row> rows = {
        {1, "it's", "mp3", Binary("a")},    {2, "'); drop table x; --", "mp3", Binary("b")},
        {3, "", "ogg", Binary("c")},        {4, QString::fromUtf8("Дождь \"в\" `лесу`"), "wav", Binary("d")},
        {5, "Song", "'); --", Binary("e")},
    };
    Export("Sounds", false, DropStyle::Bare, rows);
    EXPECT_EQ(StoredRows(db, "Sounds"), ExpectedRows(rows));
    EXPECT_EQ(Query(db, "select v from x;"), "42");
    EXPECT_EQ(TableNames(db), "Sounds\nsqlite_sequence\nx");
}

TEST_F(SqliteExport, SecondExportWithoutDropStopsAtCreateAndKeepsTheFirstRows) {
    const std::vector<Row> first = {{1, "1", "jpg", Binary("one")}, {2, "2", "png", Binary("two")}};
    Export("Pictures", false, DropStyle::Bare, first);

    SqliteExportSession session;
    ASSERT_TRUE(session.connect(db, false));
    try {
        session.prepareTable("Pictures", false, DropStyle::Bare);
        FAIL() << "CREATE TABLE on an existing table succeeded";
    } catch (const SqliteError& e) {
        EXPECT_EQ(e.text(), "table `Pictures` already exists");
    }
    // Nothing runs after a failed preparation.
    EXPECT_FALSE(session.isConnected());
    EXPECT_FALSE(session.insertRow("3", "gif", Binary("three")));
    EXPECT_FALSE(session.commitAndClose());

    EXPECT_EQ(StoredRows(db, "Pictures"), ExpectedRows(first));
}

TEST_F(SqliteExport, DropFirstReplacesTheTableWhateverItsName) {
    // Names that SQLite cannot read bare, next to an ordinary one.
    const QStringList names = {"2024pics", "Order", "Pictures", "we`ird"};
    for (const QString& name : names) {
        for (const DropStyle style : {DropStyle::Bare, DropStyle::Backquoted}) {
            SCOPED_TRACE(name.toStdString() + (style == DropStyle::Bare ? " bare" : " backquoted"));
            QFile::remove(db);
            Export(name, true, style, {{1, "old", "jpg", Binary("old")}, {2, "old", "jpg", Binary("old")}});
            const std::vector<Row> fresh = {{1, "new", "png", Binary("new")}};
            Export(name, true, style, fresh);
            EXPECT_EQ(StoredRows(db, name), ExpectedRows(fresh));
            EXPECT_EQ(Query(db, QStringLiteral("select name from sqlite_master where type='table' and "
                                               "name <> 'sqlite_sequence';")),
                      name);
        }
    }
}

TEST_F(SqliteExport, OverwriteStartsFromAnEmptyFile) {
    ASSERT_TRUE(Sqlite3(db, "create table a (v); create table b (v); create table Pictures (v);"
                            "insert into a values (1);")
                    .ok);
    const std::vector<Row> rows = {{1, "1", "jpg", Binary("one")}};
    Export("Pictures", false, DropStyle::Bare, rows, /*overwrite=*/true);
    EXPECT_EQ(TableNames(db), "Pictures\nsqlite_sequence");
    EXPECT_EQ(StoredRows(db, "Pictures"), ExpectedRows(rows));
}

TEST_F(SqliteExport, CommitAfterSomeRowsKeepsExactlyThoseRows) {
    SqliteExportSession session;
    ASSERT_TRUE(session.connect(db, false));
    session.prepareTable("Videos", false, DropStyle::Bare);
    // The rows come from a job thread, the commit from the window thread.
    bool inserted = false;
    std::thread job([&] {
        inserted = session.insertRow("a", "mp4", Binary("a")) && session.insertRow("b", "ogv", Binary("b"));
    });
    job.join();
    ASSERT_TRUE(inserted);
    ASSERT_TRUE(session.commitAndClose());
    EXPECT_EQ(StoredRows(db, "Videos"),
              ExpectedRows({{1, "a", "mp4", Binary("a")}, {2, "b", "ogv", Binary("b")}}));
}

TEST_F(SqliteExport, EndingWithoutCommitLeavesTheFileAsItWas) {
    const std::vector<Row> before = {{1, "old", "txt", Binary("old")}};
    Export("Text", false, DropStyle::Backquoted, before);
    {
        SqliteExportSession session;
        ASSERT_TRUE(session.connect(db, false));
        session.prepareTable("Text", true, DropStyle::Backquoted);
        ASSERT_TRUE(session.insertRow("a", "txt", "text"));
    }
    // The drop and the new table went with the rows.
    EXPECT_EQ(StoredRows(db, "Text"), ExpectedRows(before));

    {
        SqliteExportSession session;
        ASSERT_TRUE(session.connect(db, false));
        session.prepareTable("Fresh", false, DropStyle::Bare);
        ASSERT_TRUE(session.insertRow("a", "txt", "text"));
    }
    EXPECT_EQ(TableNames(db), "Text\nsqlite_sequence");
}

// Another program reads the file and keeps its read transaction open past the
// busy time-out: the commit cannot take the file, and everything of the run,
// the drop and the new table included, is rolled back.
TEST_F(SqliteExport, CommitBlockedByAnotherConnectionKeepsWhatTheFileHeld) {
    const std::vector<Row> before = {{1, "old", "mp3", Binary("old")}};
    Export("Sounds", false, DropStyle::Bare, before);

    constexpr int kBusyMs = 150;
    SqliteExportSession session(kBusyMs);
    ASSERT_TRUE(session.connect(db, false));
    session.prepareTable("Sounds", true, DropStyle::Bare);
    ASSERT_TRUE(session.insertRow("a", "mp3", Binary("a")));
    ASSERT_TRUE(session.insertRow("b", "ogg", Binary("b")));

    SqliteDatabase reader;
    ASSERT_TRUE(reader.open(db));
    reader.exec("begin; select count(*) from sqlite_master;");

    QString error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.commitAndClose(&error));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, "database is locked");
    EXPECT_FALSE(session.isConnected());
    // The time-out given to the session is the one that applied.
    EXPECT_GE(waited, std::chrono::milliseconds(kBusyMs));
    EXPECT_LT(waited, std::chrono::milliseconds(kDefaultBusyTimeoutMs));

    reader.exec("commit;");
    reader.close();
    EXPECT_EQ(StoredRows(db, "Sounds"), ExpectedRows(before));
    EXPECT_EQ(TableNames(db), "Sounds\nsqlite_sequence");
    // No journal is left that a later reader would have to roll back.
    EXPECT_FALSE(QFileInfo::exists(db + "-journal"));
}

TEST_F(SqliteExport, ConnectionFailuresAreReportedWithoutSendingStatements) {
    const QString missingFolder = folder.filePath("no/such/folder/export.db");
    const QStringList paths = {missingFolder, QString(), folder.path()};
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        SqliteExportSession session;
        QString error;
        EXPECT_FALSE(session.connect(path, true, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(session.isConnected());
        EXPECT_THROW(session.prepareTable("Pictures", true, DropStyle::Bare), SqliteError);
        EXPECT_FALSE(session.insertRow("1", "jpg", "x"));
        EXPECT_FALSE(session.commitAndClose());
    }
    EXPECT_FALSE(QFileInfo::exists(missingFolder));
    EXPECT_TRUE(QFileInfo(folder.path()).isDir());
}

TEST(SqliteStatements, DropKeepsTheBareNameOnlyWhereSqliteReadsIt) {
    struct Case {
        const char* table;
        DropStyle style;
        const char* statement;
    };
    const Case cases[] = {
        {"Pictures", DropStyle::Bare, "drop table if exists Pictures;"},
        {"Sounds2", DropStyle::Bare, "drop table if exists Sounds2;"},
        {"Text", DropStyle::Backquoted, "drop table if exists `Text`;"},
        {"2024pics", DropStyle::Bare, "drop table if exists `2024pics`;"},
        {"Select", DropStyle::Bare, "drop table if exists `Select`;"},
        {"a`b", DropStyle::Bare, "drop table if exists `a``b`;"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DropTableStatement(c.table, c.style), c.statement) << c.table;
}

TEST(CleanTableName, KeepsOnlyPlainLettersAndDigits) {
    struct Case {
        QString text;
        QString clean;
    };
    const Case cases[] = {
        {"My Pictures-2", "MyPictures2"},
        {"__", "Pictures"},
        {"", "Pictures"},
        {QString::fromUtf8("Café_ü9"), "Caf9"},
        {QString::fromUtf8("Ｐｉｃ"), "Pictures"}, // full-width letters are not plain ASCII
        {"2024pics", "2024pics"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanTableName(c.text, "Pictures"), c.clean) << c.text.toStdString();
}

TEST(SafeExportName, NamesNeverLeaveTheExportFolder) {
    struct Case {
        QString name;
        QString safe;
    };
    const Case cases[] = {
        {"../x.jpg", ".._x.jpg"},
        {"a/b.png", "a_b.png"},
        {"a\\b.png", "a_b.png"},
        {"/etc/passwd", "_etc_passwd"},
        {"..", "_"},
        {".", "_"},
        {"...", "_"},
        {" ", "_"},
        {"Rain.mp3", "Rain.mp3"},
        {"..hidden.txt", "..hidden.txt"},
        {QString::fromUtf8("Дождь 1.ogg"), QString::fromUtf8("Дождь 1.ogg")},
        {"What? \"Rain\": 1|2*.mp3", "What_ _Rain__ 1_2_.mp3"},
        {"nul.txt", "_nul.txt"},
        {"Rain.mp3. ", "Rain.mp3"},
        {QString(300, 'r') + ".webm", QString(250, 'r') + ".webm"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeExportName(c.name), c.safe) << c.name.toStdString();

    // Whatever the name, the joined path stays directly in the folder.
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    for (const Case& c : cases) {
        const QFileInfo target(out.path() + QLatin1Char('/') + SafeExportName(c.name));
        EXPECT_EQ(QDir(target.absolutePath()).canonicalPath(), QDir(out.path()).canonicalPath())
            << c.name.toStdString();
        EXPECT_FALSE(target.isDir()) << c.name.toStdString();
    }
}

// Files made by the test, and what the folder holds after a copy.
class FileCopy : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString path(const QString& name) const { return folder.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    QStringList entries(const QString& sub = QString()) const {
        return QDir(path(sub)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir folder;
};

QByteArray Pattern(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((unsigned(i) * 7919u) >> 3);
    return bytes;
}

TEST_F(FileCopy, ReplacesTheTargetWithEveryByte) {
    // Larger than one read, so the copy takes several rounds.
    const QByteArray big = Pattern(2 * 1024 * 1024 + 12345);
    write("source.bin", big);
    write("target.bin", "an older file of that name");
    ASSERT_TRUE(QFile::setPermissions(path("source.bin"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                              QFileDevice::ReadGroup |
                                                              QFileDevice::ReadOther));
    QString error;
    ASSERT_TRUE(ReplaceFileWithCopy(path("source.bin"), path("target.bin"), &error)) << error.toStdString();
    EXPECT_EQ(read("target.bin"), big);
    EXPECT_EQ(QFileInfo(path("target.bin")).permissions(), QFileInfo(path("source.bin")).permissions());
    EXPECT_EQ(entries(), (QStringList{"source.bin", "target.bin"}));

    write("empty", "");
    ASSERT_TRUE(ReplaceFileWithCopy(path("empty"), path("target.bin")));
    EXPECT_EQ(read("target.bin"), QByteArray());

    // A name at the length limit still has room for the temporary name beside it.
    const QString longName = QString(251, 'n') + ".bin";
    ASSERT_TRUE(ReplaceFileWithCopy(path("source.bin"), path(longName), &error)) << error.toStdString();
    EXPECT_EQ(read(longName), big);
}

TEST_F(FileCopy, AFailedCopyLeavesNoFileOfItsOwn) {
    write("source.bin", "bytes");
    ASSERT_TRUE(QDir().mkpath(path("out/taken.bin")));
    write("out/taken.bin/inside.txt", "inside");
    write("not-a-folder", "a file");
    struct Case {
        const char* what;
        QString source;
        QString target;
    };
    const Case cases[] = {
        {"target is a folder", path("source.bin"), path("out/taken.bin")},
        {"target folder missing", path("source.bin"), path("out/missing/copy.bin")},
        {"target folder is a file", path("source.bin"), path("not-a-folder/copy.bin")},
        {"source missing", path("gone.bin"), path("out/copy.bin")},
        {"source is a folder", path("out"), path("out/copy.bin")},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_FALSE(ReplaceFileWithCopy(c.source, c.target, &error)) << c.what;
        EXPECT_FALSE(error.isEmpty()) << c.what;
        EXPECT_EQ(entries("out"), QStringList{"taken.bin"}) << c.what;
    }
    EXPECT_EQ(read("out/taken.bin/inside.txt"), "inside");
    EXPECT_EQ(entries(), (QStringList{"not-a-folder", "out", "source.bin"}));
}

// The process may not write files past a size limit: the copy breaks off in the
// middle, as on a full disk.
TEST_F(FileCopy, ACopyBrokenOffHalfWayNeverStandsUnderTheTargetName) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no per-process file size limit to imitate a full disk with";
#else
    const QByteArray big = Pattern(600 * 1024);
    write("source.bin", big);
    write("target.bin", "an older file of that name");

    struct FileSizeLimit {
        rlimit before{};
        void (*handler)(int) = SIG_DFL;
        explicit FileSizeLimit(rlim_t bytes) {
            getrlimit(RLIMIT_FSIZE, &before);
            handler = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            rlimit limited = before;
            limited.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &limited);
        }
        ~FileSizeLimit() {
            setrlimit(RLIMIT_FSIZE, &before);
            std::signal(SIGXFSZ, handler);
        }
    };
    QString error;
    bool copied = true;
    {
        FileSizeLimit limit(200 * 1024);
        copied = ReplaceFileWithCopy(path("source.bin"), path("target.bin"), &error);
    }
    EXPECT_FALSE(copied);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(read("target.bin"), "an older file of that name");
    EXPECT_EQ(entries(), (QStringList{"source.bin", "target.bin"}));

    // Without the limit the same copy goes through.
    ASSERT_TRUE(ReplaceFileWithCopy(path("source.bin"), path("target.bin"), &error)) << error.toStdString();
    EXPECT_EQ(read("target.bin"), big);
#endif
}

TEST(ExportTypes, TypesComeFromTheStoredFile) {
    struct Case {
        QString path;
        QString type;
    };
    const Case media[] = {
        {"/work/Sounds/1.mp3", "mp3"},
        {"/work/Sounds/2.OGG", "ogg"},
        {"/work/Video/3.webm", "ebm"},
        {"/work/Sounds/4.???", "???"},
        {"/work/Video/5.mp4", "mp4"},
        {"ab", "ab"},
        // The file written for an unknown type on Windows still reads as "???".
        {"/work/Sounds/6" + UnknownTypeFileExtension(), "???"},
    };
    for (const Case& c : media)
        EXPECT_EQ(ExportTypeForMedia(c.path), c.type) << c.path.toStdString();

    EXPECT_EQ(ExportTypeForText(), "txt");

    const Case pictures[] = {
        {"/tmp/x/7.jpg", "jpg"},
        {"/tmp/x/12.PNG", "png"},
        {"/tmp/x.d/noext", ""},
        {"a.b.Gif", "gif"},
    };
    for (const Case& c : pictures)
        EXPECT_EQ(ExportTypeForPicture(c.path), c.type) << c.path.toStdString();
}

TEST(PrivateTempFolder, IsOneWritableFolderOfOurOwnUnderTheSystemTempFolder) {
    const QString first = PrivateTempFolder();
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(PrivateTempFolder(), first);
    EXPECT_TRUE(first.endsWith(PathSeparator()));
    const QDir dir(first);
    EXPECT_TRUE(dir.exists());
    EXPECT_NE(dir.canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
    EXPECT_EQ(QDir(QFileInfo(dir.canonicalPath()).absolutePath()).canonicalPath(),
              QDir(QDir::tempPath()).canonicalPath());

    QFile probe(first + "probe.jpg");
    ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
    probe.close();
    EXPECT_TRUE(probe.remove());

    // Recreated when something removed it during the session.
    ASSERT_TRUE(QDir(first).removeRecursively());
    EXPECT_EQ(PrivateTempFolder(), first);
    EXPECT_TRUE(QDir(first).exists());
}

} // namespace
