#pragma once
// The save and SQLite export jobs. Every job walks rows 1 to N of its tab's table,
// reads "Local path" and "Export name" in its fetch step, shows the run on its
// dialog's progress bar and ends with a message that closes the dialog: the
// success message, or an error that says what failed.
#include "pictures/picture_transform.h"
#include "gui/jobs/window_job.h"

#include <QString>

#include <memory>
#include <optional>

namespace skarvel {

class CollectionTable;
class ExportDialog;
class SqliteExportSession;

// Where a job finds its rows and the dialog that shows its run.
struct ExportRows {
    CollectionTable* TForm1::*table;
    int exportNameColumn;
    ExportDialog* (*dialog)(TForm1*); // looked up at each run: the dialogs are made after the jobs
};

class ExportJob : public WindowJob {
    Q_OBJECT
public:
    ExportJob(TForm1* form1, const ExportRows& rows, bool progressOnFetch);

protected:
    // Extra run settings read from the dialog by the prepare step.
    virtual void readRunSettings() {}
    // The work of the row in hand (job thread).
    virtual void doRow() = 0;
    // Called by the finish step before the message (window thread).
    virtual void endRun() {}
    virtual QString finishMessage() const = 0;
    // What failed in the run, shown as an error in place of finishMessage(); "" when nothing did.
    virtual QString failureMessage() const { return {}; }

    ExportDialog* dialog = nullptr;
    // Copied by the fetch step for the row in hand.
    QString localPath;
    QString exportName;
    QString exportFolder;
    // Rows of the run that reached the write (a file or a table row), and those whose write failed.
    int rowsTried = 0;
    int rowsFailed = 0;

private:
    void prepareStep() final;
    void fetchStep() final;
    void work() final;
    void writeStep() final;
    void finishStep() final;
    bool hasWriteStep() const final { return !m_progressOnFetch; }

    ExportRows m_rows;
    bool m_progressOnFetch;
};

// Pictures into a folder: decoded, optionally fitted, encoded in the chosen format.
class ExportPictures : public ExportJob {
    Q_OBJECT
public:
    explicit ExportPictures(TForm1* form1);

protected:
    void readRunSettings() override;
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
    CopyFilesJob(TForm1* form1, const ExportRows& rows);

protected:
    void readRunSettings() override;
    void doRow() override;
    QString finishMessage() const override;
    QString failureMessage() const override;

    int formatChoice = 0; // read at the start of a run; every file is copied as it is
};

class ExportSounds : public CopyFilesJob {
    Q_OBJECT
public:
    explicit ExportSounds(TForm1* form1);
};

class ExportVideos : public CopyFilesJob {
    Q_OBJECT
public:
    explicit ExportVideos(TForm1* form1);
};

class ExportTexts : public CopyFilesJob {
    Q_OBJECT
public:
    explicit ExportTexts(TForm1* form1);
};

// Rows stored into the export table of the database session that the dialog opened;
// the rows are committed together by the finish step.
class SqliteRowsJob : public ExportJob {
    Q_OBJECT
public:
    SqliteRowsJob(TForm1* form1, const ExportRows& rows, bool progressOnFetch);

protected:
    void readRunSettings() override;
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
    explicit ExportPicturesSQLite(TForm1* form1);

protected:
    void readRunSettings() override;
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
    StoreFilesJob(TForm1* form1, const ExportRows& rows, TypeRule typeOf);

protected:
    void readRunSettings() override;
    void doRow() override;

    int formatChoice = 0; // read at the start of a run; every file is stored as it is

private:
    TypeRule m_typeOf;
};

class ExportSoundsSQLite : public StoreFilesJob {
    Q_OBJECT
public:
    explicit ExportSoundsSQLite(TForm1* form1);
};

class ExportVideosSQLite : public StoreFilesJob {
    Q_OBJECT
public:
    explicit ExportVideosSQLite(TForm1* form1);
};

class ExportTextsSQLite : public StoreFilesJob {
    Q_OBJECT
public:
    explicit ExportTextsSQLite(TForm1* form1);
};

} // namespace skarvel
