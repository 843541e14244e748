#pragma once
// Writing a collection into a table of an SQLite database file, and the
// naming and copying helpers shared by every save and export job.
#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace skarvel {

// How long a statement waits for another program's lock on the database file
// before it fails with "database is locked".
inline constexpr int kDefaultBusyTimeoutMs = 5000;

// An SQLite failure; what() and text() carry the database's own message.
class SqliteError : public std::runtime_error {
public:
    explicit SqliteError(const QString& text);
    QString text() const;
};

// A prepared statement. Bound values are kept alive by the statement until the
// next reset(), so large blobs are never copied.
class SqliteStatement {
public:
    SqliteStatement(SqliteStatement&&) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) noexcept;
    ~SqliteStatement();

    // parameter is the full name as written in the statement, e.g. ":Name".
    // Throws SqliteError for an unknown parameter or a failed bind.
    void bindText(const QString& parameter, const QString& value);
    void bindBlob(const QString& parameter, const QByteArray& value);
    // Runs one step: true while a result row is ready, false when done. Throws on error.
    bool step();
    // Makes the statement ready for new bindings and releases the bound values.
    void reset();

private:
    friend class SqliteDatabase;
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const;
    };
    SqliteStatement(sqlite3* db, sqlite3_stmt* statement);
    int parameterIndex(const QString& parameter) const;

    sqlite3* db_ = nullptr;
    std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
    std::vector<QByteArray> bound_;
};

// One connection to a database file.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    SqliteDatabase(SqliteDatabase&&) noexcept = default;
    SqliteDatabase& operator=(SqliteDatabase&&) noexcept = default;
    ~SqliteDatabase() = default;

    // Opens path for reading and writing, creating the file when it is missing.
    // Any earlier connection is closed first (an open transaction is rolled back).
    [[nodiscard]] bool open(const QString& path, QString* error = nullptr,
                            int busyTimeoutMs = kDefaultBusyTimeoutMs);
    bool isOpen() const { return db_ != nullptr; }
    // Closes the connection; an open transaction is rolled back.
    void close();

    // Executes statement text; throws SqliteError with the database's message.
    void exec(const QString& statementText);
    // As exec, but reports failure through the return value and *error.
    [[nodiscard]] bool tryExec(const QString& statementText, QString* error = nullptr);
    // Throws SqliteError when the statement cannot be prepared.
    SqliteStatement prepare(const QString& statementText);

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, Closer> db_;
};

// Keeps only the characters 0-9, a-z and A-Z; defaultName when nothing is left.
QString CleanTableName(const QString& text, const QString& defaultName);

// How the drop statement writes the table name. Bare is the pictures, sounds and
// videos form; Backquoted the texts form. A name that SQLite cannot read bare
// (it starts with a digit, is a keyword, or holds anything but letters and
// digits) is backquoted in every style, as in every other statement.
enum class DropStyle { Bare, Backquoted };

// The table name between backquotes, a backquote inside it doubled.
QString QuotedTableName(const QString& table);
// "CREATE TABLE `T` (`id` INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,`name` TEXT NOT NULL,`type` TEXT NOT
// NULL,`data` BLOB);"
QString CreateTableStatement(const QString& table);
// "drop table if exists T;" (Bare) or "drop table if exists `T`;" (Backquoted).
QString DropTableStatement(const QString& table, DropStyle style);
// "insert into `T` (name,type,data) values(:Name,:Type,:Data)"
QString InsertRowStatement(const QString& table);

// The database side of one SQLite export dialog: connect, prepare the table and
// open the transaction, add rows, commit.
//
// Threads: the dialog's thread calls connect() and prepareTable() before the run,
// the job's thread calls insertRow() during the rows, the window thread calls
// commitAndClose() at the finish. These hand-offs never overlap, so the session
// has no locks; it must never be used by two threads at the same time.
class SqliteExportSession {
public:
    explicit SqliteExportSession(int busyTimeoutMs = kDefaultBusyTimeoutMs) : busyTimeoutMs_(busyTimeoutMs) {}
    SqliteExportSession(const SqliteExportSession&) = delete;
    SqliteExportSession& operator=(const SqliteExportSession&) = delete;
    // Closes a connection that is still open; uncommitted rows are rolled back.
    ~SqliteExportSession() = default;

    // With overwriteExisting, an existing file (and its journal) is deleted first;
    // a failed delete is ignored and the existing file is used. False when the
    // database cannot be opened, with the database's message in *error.
    [[nodiscard]] bool connect(const QString& file, bool overwriteExisting, QString* error = nullptr);
    bool isConnected() const { return db_.isOpen(); }

    // "begin;", the optional drop, CREATE TABLE: the table and every row of the
    // run then stand or fall with the one commit. Throws SqliteError with the
    // database's message when one of them fails, and then closes the connection,
    // which rolls back (no statement after the failing one is sent).
    void prepareTable(const QString& table, bool dropFirst, DropStyle dropStyle);

    // Adds one row with name, type and data bound as values in a single insert.
    // False when the row could not be stored; the session stays usable.
    [[nodiscard]] bool insertRow(const QString& name, const QString& type, const QByteArray& data,
                                 QString* error = nullptr);

    // "commit;" and close. False (with *error) when not connected or the commit
    // failed; the connection is closed in every case, and a failed commit is
    // rolled back, so the file keeps what it held before prepareTable().
    [[nodiscard]] bool commitAndClose(QString* error = nullptr);

private:
    int busyTimeoutMs_;
    SqliteDatabase db_;
    QString table_;
    bool prepared_ = false;
    // Declared after db_ so it is finalized before the connection closes.
    std::optional<SqliteStatement> insert_;
};

// The export name as a file name of the export folder: SafeFileName, so "/" and
// "\" become "_" and the name never leaves the folder; "_" when nothing of it is
// left (".", "..", blanks).
QString SafeExportName(const QString& exportName);

// Copies source to target through a temporary file beside target that is renamed
// over it once every byte is written: target is replaced whole or not at all, and
// a failed copy leaves no file of its own behind. The copy takes the source's
// permissions. False, with the reason in *error, when any step fails.
[[nodiscard]] bool ReplaceFileWithCopy(const QString& source, const QString& target,
                                       QString* error = nullptr);

// `type` of a stored sound or video: the last three characters of the local
// path, lower-cased (mp3, ogg, wav, aac, ogv, mp4, ??? and ebm for .webm).
QString ExportTypeForMedia(const QString& localPath);
// `type` of a stored text: always "txt".
QString ExportTypeForText();
// `type` of a stored picture: the extension of the file written, lower-cased, no dot.
QString ExportTypeForPicture(const QString& writtenPath);

// A folder of this program's own under the system temporary folder, created on
// first use and removed when the program ends. Ends with the directory separator,
// like the export folder; "" when it cannot be created.
// Temporary picture files of the picture export go here, never next to the database.
QString PrivateTempFolder();

} // namespace skarvel
