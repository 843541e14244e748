#pragma once
// The save and SQLite export jobs. Every job walks rows 1 to N of its table,
// reads "Local path" and "Export name" in its fetch step, shows the run on the
// view its run was started with (its dialog's progress bar) and ends with a
// message that closes the dialog: the success message, or an error that says
// what failed; local files that could not be read are named besides. A job sees
// no window: the values of a run come with its start.
#include "jobs/background_job.h"
#include "pictures/picture_transform.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace skarvel {

class CollectionTable;
class SqliteExportSession;

// How a run ended.
struct ExportEnding {
    QString message;     // the closing message: the success message, or what failed
    bool failed = false; // message is an error
    // Which local files could not be read (gone or unreadable) and were left out; "" when none.
    QString unreadFiles;
};

// Where a run shows itself (its dialog). Called on the window thread.
class ExportRunView {
public:
    virtual ~ExportRunView() = default;
    virtual void runStarted(BackgroundJob* job, int rowCount) = 0;
    virtual void rowReached(int position) = 0;
    virtual void runEnded(BackgroundJob* job, const ExportEnding& ending) = 0;
};

// The values of one run, taken from its dialog when the run starts.
struct ExportRun {
    ExportRunView* view = nullptr;
    QString folder;                               // the save jobs' target folder, ends with a separator
    TransformSettings transform;                  // the picture jobs
    int formatChoice = 0;                         // the sound and video format list; every file goes as it is
    std::shared_ptr<SqliteExportSession> session; // the SQLite jobs: opened, its table prepared
};

class ExportJob : public BackgroundJob {
    Q_OBJECT
public:
    // window: steps run in its context; table: the rows of every run.
    ExportJob(QObject* window, CollectionTable& table, int exportNameColumn, bool progressOnFetch);

    // Starts a run of a suspended job with the values of run; false when the job runs already.
    bool startRun(ExportRun run);

protected:
    // Takes the values the job keeps from run, at the prepare step.
    virtual void takeRun(ExportRun& run) { Q_UNUSED(run); }
    // The work of the row in hand (job thread).
    virtual void doRow() = 0;
    // Called by the finish step before the message (window thread).
    virtual void endRun() {}
    virtual QString finishMessage() const = 0;
    // What failed in the run, shown as an error in place of finishMessage(); "" when nothing did.
    virtual QString failureMessage() const { return {}; }

    // Copied by the fetch step for the row in hand.
    QString localPath;
    QString exportName;
    QString exportFolder;
    // Rows of the run that reached the write (a file or a table row), and those whose write failed.
    int rowsTried = 0;
    int rowsFailed = 0;
    // A row whose local file is gone or cannot be read: it is left out and named at the end.
    void countUnread(const QString& path) { m_unread << path; }
    // Whether the row in hand names a local file at all: a row that was never downloaded has none.
    bool rowHasFile() const { return !localPath.isEmpty(); }

private:
    void prepareStep() final;
    void fetchStep() final;
    void work() final;
    void writeStep() final;
    void finishStep() final;
    bool hasWriteStep() const final { return !m_progressOnFetch; }

    CollectionTable& m_table;
    int m_exportNameColumn;
    bool m_progressOnFetch;
    ExportRun m_next;                // given by startRun, taken by the prepare step
    ExportRunView* m_view = nullptr; // of the run in hand
    QString m_folder;
    QStringList m_unread;
};

// Pictures into a folder: decoded, optionally fitted, encoded in the chosen format.
class ExportPictures : public ExportJob {
    Q_OBJECT
public:
    ExportPictures(QObject* window, CollectionTable& table);

protected:
    void takeRun(ExportRun& run) override;
    void doRow() override;
    void endRun() override;
    QString finishMessage() const override;
    QString failureMessage() const override;

private:
    // Counts the files a row's outcome tried to write, and those that could not be written.
    void countWrite(const ParallelPictureTransform::Outcome& outcome);

    ParallelPictureTransform m_transform; // rows on every core, files written in row order
    TransformSettings m_settings;
};

// Local files copied byte for byte into a folder under their export names.
class CopyFilesJob : public ExportJob {
    Q_OBJECT
public:
    CopyFilesJob(QObject* window, CollectionTable& table, int exportNameColumn);

protected:
    void takeRun(ExportRun& run) override;
    void doRow() override;
    QString finishMessage() const override;
    QString failureMessage() const override;

    int formatChoice = 0; // of the run; every file is copied as it is
};

class ExportSounds : public CopyFilesJob {
    Q_OBJECT
public:
    ExportSounds(QObject* window, CollectionTable& table);
};

class ExportVideos : public CopyFilesJob {
    Q_OBJECT
public:
    ExportVideos(QObject* window, CollectionTable& table);
};

class ExportTexts : public CopyFilesJob {
    Q_OBJECT
public:
    ExportTexts(QObject* window, CollectionTable& table);
};

// Rows stored into the export table of the database session that the dialog opened;
// the rows are committed together by the finish step.
class SqliteRowsJob : public ExportJob {
    Q_OBJECT
public:
    SqliteRowsJob(QObject* window, CollectionTable& table, int exportNameColumn, bool progressOnFetch);

protected:
    void takeRun(ExportRun& run) override;
    void endRun() override;
    QString finishMessage() const override;
    QString failureMessage() const override;
    void storeRow(const QString& name, const QString& type, const QByteArray& data);

private:
    std::shared_ptr<SqliteExportSession> m_session;
    std::optional<QString> m_commitError; // set when the commit failed
};

// Pictures after the picture transform, encoded in memory, one table row each.
class ExportPicturesSQLite : public SqliteRowsJob {
    Q_OBJECT
public:
    ExportPicturesSQLite(QObject* window, CollectionTable& table);

protected:
    void takeRun(ExportRun& run) override;
    void doRow() override;
    void endRun() override;

private:
    void storeOutcome(const ParallelPictureTransform::Outcome& outcome);

    ParallelPictureTransform m_transform; // rows on every core, stored in row order
    TransformSettings m_settings;
};

// Local files stored unchanged, one table row each.
class StoreFilesJob : public SqliteRowsJob {
    Q_OBJECT
public:
    using TypeRule = QString (*)(const QString& localPath);
    StoreFilesJob(QObject* window, CollectionTable& table, int exportNameColumn, TypeRule typeOf);

protected:
    void takeRun(ExportRun& run) override;
    void doRow() override;

    int formatChoice = 0; // of the run; every file is stored as it is

private:
    TypeRule m_typeOf;
};

class ExportSoundsSQLite : public StoreFilesJob {
    Q_OBJECT
public:
    ExportSoundsSQLite(QObject* window, CollectionTable& table);
};

class ExportVideosSQLite : public StoreFilesJob {
    Q_OBJECT
public:
    ExportVideosSQLite(QObject* window, CollectionTable& table);
};

class ExportTextsSQLite : public StoreFilesJob {
    Q_OBJECT
public:
    ExportTextsSQLite(QObject* window, CollectionTable& table);
};

} // namespace skarvel
