#include "sqlite_export/sqlite_export.h"

#include "common/file_ops.h"
#include "common/safe_file_name.h"
#include "common/text_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <memory>

namespace skarvel {

namespace {

QString LastMessage(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsAsciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// True when SQLite reads the name as a plain identifier without quotes.
bool CanStandBare(const QString& table) {
    if (table.isEmpty() || !IsAsciiLetter(table.front().unicode()))
        return false;
    for (const QChar c : table) {
        if (!IsAsciiLetter(c.unicode()) && !IsAsciiDigit(c.unicode()))
            return false;
    }
    const QByteArray latin = table.toLatin1();
    return sqlite3_keyword_check(latin.constData(), int(latin.size())) == 0;
}

} // namespace

// --- SqliteError -----------------------------------------------------------

SqliteError::SqliteError(const QString& text) : std::runtime_error(text.toStdString()) {}

QString SqliteError::text() const {
    return QString::fromUtf8(what());
}

// --- SqliteStatement -------------------------------------------------------

void SqliteStatement::Finalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

SqliteStatement::SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}

SqliteStatement::SqliteStatement(SqliteStatement&&) noexcept = default;
SqliteStatement& SqliteStatement::operator=(SqliteStatement&&) noexcept = default;
SqliteStatement::~SqliteStatement() = default;

int SqliteStatement::parameterIndex(const QString& parameter) const {
    const int index = sqlite3_bind_parameter_index(statement_.get(), parameter.toUtf8().constData());
    if (index == 0)
        throw SqliteError(QStringLiteral("no parameter named %1").arg(parameter));
    return index;
}

void SqliteStatement::bindText(const QString& parameter, const QString& value) {
    const int index = parameterIndex(parameter);
    // A null QString is stored as empty text, never as NULL.
    bound_.push_back(value.toUtf8());
    const QByteArray& utf8 = bound_.back();
    const int rc = sqlite3_bind_text64(statement_.get(), index, utf8.isEmpty() ? "" : utf8.constData(),
                                       sqlite3_uint64(utf8.size()), SQLITE_STATIC, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        throw SqliteError(LastMessage(db_));
}

void SqliteStatement::bindBlob(const QString& parameter, const QByteArray& value) {
    const int index = parameterIndex(parameter);
    int rc;
    if (value.isEmpty()) {
        // An empty file is an empty blob; a null pointer would bind NULL instead.
        rc = sqlite3_bind_zeroblob(statement_.get(), index, 0);
    } else {
        bound_.push_back(value);
        rc = sqlite3_bind_blob64(statement_.get(), index, bound_.back().constData(),
                                 sqlite3_uint64(value.size()), SQLITE_STATIC);
    }
    if (rc != SQLITE_OK)
        throw SqliteError(LastMessage(db_));
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(statement_.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw SqliteError(LastMessage(db_));
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
    bound_.clear();
}

// --- SqliteDatabase --------------------------------------------------------

void SqliteDatabase::Closer::operator()(sqlite3* db) const {
    // close_v2 waits for any statement still alive instead of failing with "busy".
    sqlite3_close_v2(db);
}

bool SqliteDatabase::open(const QString& path, QString* error, int busyTimeoutMs) {
    close();
    auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no database file given"));
    // An absolute path can never be taken for a "file:" URI.
    const QFileInfo info(path);
    if (info.isDir())
        return fail(QStringLiteral("%1 is a folder").arg(path));

    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(info.absoluteFilePath().toUtf8().constData(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<sqlite3, Closer> handle(raw);
    if (rc != SQLITE_OK)
        return fail(raw ? LastMessage(raw) : QString::fromUtf8(sqlite3_errstr(rc)));
    // Another program reading the file briefly should not fail the export.
    sqlite3_busy_timeout(raw, busyTimeoutMs);
    db_ = std::move(handle);
    return true;
}

void SqliteDatabase::close() {
    db_.reset();
}

void SqliteDatabase::exec(const QString& statementText) {
    QString error;
    if (!tryExec(statementText, &error))
        throw SqliteError(error);
}

bool SqliteDatabase::tryExec(const QString& statementText, QString* error) {
    if (!db_) {
        if (error)
            *error = QStringLiteral("database is not open");
        return false;
    }
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), statementText.toUtf8().constData(), nullptr, nullptr, &message);
    std::unique_ptr<char, decltype(&sqlite3_free)> owned(message, &sqlite3_free);
    if (rc == SQLITE_OK)
        return true;
    if (error)
        *error = message ? QString::fromUtf8(message) : LastMessage(db_.get());
    return false;
}

SqliteStatement SqliteDatabase::prepare(const QString& statementText) {
    if (!db_)
        throw SqliteError(QStringLiteral("database is not open"));
    const QByteArray utf8 = statementText.toUtf8();
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), utf8.constData(), int(utf8.size()), &raw, nullptr);
    SqliteStatement statement(db_.get(), raw);
    if (rc != SQLITE_OK)
        throw SqliteError(LastMessage(db_.get()));
    if (!raw)
        throw SqliteError(QStringLiteral("empty statement"));
    return statement;
}

// --- Statement texts -------------------------------------------------------

QString CleanTableName(const QString& text, const QString& defaultName) {
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (IsAsciiLetter(c.unicode()) || IsAsciiDigit(c.unicode()))
            clean += c;
    }
    return clean.isEmpty() ? defaultName : clean;
}

QString QuotedTableName(const QString& table) {
    QString quoted = table;
    quoted.replace(QLatin1Char('`'), QLatin1String("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

QString CreateTableStatement(const QString& table) {
    return QLatin1String("CREATE TABLE ") + QuotedTableName(table) +
           QLatin1String(" (`id` INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,`name` TEXT NOT NULL,"
                         "`type` TEXT NOT NULL,`data` BLOB);");
}

QString DropTableStatement(const QString& table, DropStyle style) {
    const QString name = style == DropStyle::Bare && CanStandBare(table) ? table : QuotedTableName(table);
    return QLatin1String("drop table if exists ") + name + QLatin1Char(';');
}

QString InsertRowStatement(const QString& table) {
    return QLatin1String("insert into ") + QuotedTableName(table) +
           QLatin1String(" (name,type,data) values(:Name,:Type,:Data)");
}

// --- SqliteExportSession ---------------------------------------------------

bool SqliteExportSession::connect(const QString& file, bool overwriteExisting, QString* error) {
    insert_.reset();
    prepared_ = false;
    db_.close();
    if (overwriteExisting && QFileInfo::exists(file) && QFile::remove(file)) {
        // A journal left next to the old file belongs to it, not to the new one.
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            QFile::remove(file + QLatin1String(suffix));
    }
    return db_.open(file, error, busyTimeoutMs_);
}

void SqliteExportSession::prepareTable(const QString& table, bool dropFirst, DropStyle dropStyle) {
    insert_.reset();
    prepared_ = false;
    table_ = table;
    try {
        db_.exec(QStringLiteral("begin;"));
        if (dropFirst)
            db_.exec(DropTableStatement(table, dropStyle));
        db_.exec(CreateTableStatement(table));
    } catch (const SqliteError&) {
        // No run follows a failed preparation; release the file for the next attempt.
        db_.close();
        throw;
    }
    prepared_ = true;
}

bool SqliteExportSession::insertRow(const QString& name, const QString& type, const QByteArray& data,
                                    QString* error) {
    if (!prepared_ || !db_.isOpen()) {
        if (error)
            *error = QStringLiteral("no export table is prepared");
        return false;
    }
    try {
        if (!insert_)
            insert_.emplace(db_.prepare(InsertRowStatement(table_)));
        struct ResetOnExit {
            SqliteStatement& statement;
            ~ResetOnExit() { statement.reset(); }
        } resetOnExit{*insert_};
        insert_->bindText(QStringLiteral(":Name"), name);
        insert_->bindText(QStringLiteral(":Type"), type);
        insert_->bindBlob(QStringLiteral(":Data"), data);
        insert_->step();
        return true;
    } catch (const SqliteError& e) {
        if (error)
            *error = e.text();
        return false;
    }
}

bool SqliteExportSession::commitAndClose(QString* error) {
    insert_.reset();
    prepared_ = false;
    if (!db_.isOpen()) {
        if (error)
            *error = QStringLiteral("database is not open");
        return false;
    }
    const bool committed = db_.tryExec(QStringLiteral("commit;"), error);
    if (!committed) {
        // A commit that failed leaves the transaction open; end it before the lock is let go.
        // Should the rollback fail too, closing below rolls the transaction back all the same.
        (void)db_.tryExec(QStringLiteral("rollback;"));
    }
    db_.close();
    return committed;
}

// --- Names and types -------------------------------------------------------

QString SafeExportName(const QString& exportName) {
    const QString safe = SafeFileName(exportName);
    return safe.isEmpty() ? QStringLiteral("_") : safe;
}

bool ReplaceFileWithCopy(const QString& source, const QString& target, QString* error) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = source + QLatin1String(": ") + in.errorString();
        return false;
    }
    bool sourceFailed = false;
    QString why;
    const bool copied = ReplaceFileWith(
        target,
        [&](QFile& part, QString& partWhy) {
            QByteArray chunk(1 << 20, Qt::Uninitialized);
            for (;;) {
                const qint64 got = in.read(chunk.data(), chunk.size());
                if (got < 0) {
                    sourceFailed = true;
                    partWhy = in.errorString();
                    return false;
                }
                if (got == 0)
                    break;
                if (part.write(chunk.constData(), got) != got)
                    return false;
            }
            part.setPermissions(in.permissions());
            return true;
        },
        &why);
    if (!copied && error)
        *error = (sourceFailed ? source : target) + QLatin1String(": ") + why;
    return copied;
}

QString ExportTypeForMedia(const QString& localPath) {
    return LastChars(TypedLocalPath(localPath), 3).toLower();
}

QString ExportTypeForText() {
    return QStringLiteral("txt");
}

QString ExportTypeForPicture(const QString& writtenPath) {
    return ExtensionWithDot(FileNameFromPath(writtenPath)).mid(1).toLower();
}

QString PrivateTempFolder() {
    static QTemporaryDir folder(QDir::tempPath() + QLatin1String("/skarvel-export-XXXXXX"));
    if (!folder.isValid())
        return {};
    // Cleaners of the temporary folder may remove it during a long session.
    if (!QDir().mkpath(folder.path()))
        return {};
    return QDir::toNativeSeparators(folder.path()) + PathSeparator();
}

} // namespace skarvel
