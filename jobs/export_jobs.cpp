#include "jobs/export_jobs.h"

#include "common/file_ops.h"
#include "common/text_ops.h"
#include "sqlite_export/sqlite_export.h"
#include "tables/collection_tables.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace skarvel {

namespace {

QString TextType(const QString&) {
    return ExportTypeForText();
}

// Takes the transformed rows that are ready, in row order. Waits while more rows are queued
// than keep every core busy, and for every row once `all` is set.
template <typename Use> void TakeTransformed(ParallelPictureTransform& transform, bool all, Use use) {
    while (transform.queued() > 0) {
        std::optional<ParallelPictureTransform::Outcome> outcome =
            transform.next(all || transform.queued() > transform.depth());
        if (!outcome)
            break;
        use(*outcome);
    }
}

bool IsSameFile(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// "1 file", "5 files".
QString Count(int n, const char* noun) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(noun),
                                                n == 1 ? QString() : QStringLiteral("s"));
}

// "2 files could not be read and were left out: a.jpg, b.png."; "" for none.
QString UnreadFilesMessage(const QStringList& paths) {
    if (paths.isEmpty())
        return {};
    constexpr qsizetype kNamed = 3;
    QString named = paths.mid(0, kNamed).join(QStringLiteral(", "));
    if (paths.size() > kNamed)
        named += QStringLiteral(" and %1 more").arg(paths.size() - kNamed);
    return QStringLiteral("%1 could not be read and %2 left out: %3.")
        .arg(Count(int(paths.size()), "file"),
             paths.size() == 1 ? QStringLiteral("was") : QStringLiteral("were"), named);
}

// Whether the file can be opened for reading now.
bool CanRead(const QString& path) {
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

} // namespace

// ---------------------------------------------------------------- ExportJob

ExportJob::ExportJob(QObject* window, CollectionTable& table, int exportNameColumn, bool progressOnFetch)
    : BackgroundJob(window), m_table(table), m_exportNameColumn(exportNameColumn),
      m_progressOnFetch(progressOnFetch) {}

bool ExportJob::startRun(ExportRun run) {
    if (!Suspended() || !run.view)
        return false;
    m_next = std::move(run);
    Resume();
    return true;
}

void ExportJob::prepareStep() {
    ExportRun run = std::exchange(m_next, ExportRun());
    m_view = run.view;
    m_folder = run.folder;
    itemCount = m_table.gridRowCount() - 1;
    rowsTried = 0;
    rowsFailed = 0;
    m_unread.clear();
    takeRun(run);
    m_view->runStarted(this, itemCount);
}

void ExportJob::fetchStep() {
    if (m_progressOnFetch)
        m_view->rowReached(itemIndex + 1);
    localPath = m_table.cell(col::LocalPath, itemIndex + 1);
    exportName = m_table.cell(m_exportNameColumn, itemIndex + 1);
    exportFolder = m_folder;
}

void ExportJob::work() {
    doRow();
}

void ExportJob::writeStep() {
    m_view->rowReached(itemIndex + 1);
}

void ExportJob::finishStep() {
    endRun();
    ExportEnding ending;
    ending.message = failureMessage();
    ending.failed = !ending.message.isEmpty();
    if (!ending.failed)
        ending.message = finishMessage();
    ending.unreadFiles = UnreadFilesMessage(m_unread);
    m_view->runEnded(this, ending);
}

// ---------------------------------------------------------------- ExportPictures

ExportPictures::ExportPictures(QObject* window, CollectionTable& table)
    : ExportJob(window, table, col::PicExportName, true) {}

void ExportPictures::takeRun(ExportRun& run) {
    m_settings = run.transform;
}

void ExportPictures::doRow() {
    // The format's extension is given before the name is made safe, so the limit counts it.
    m_transform.add(localPath,
                    exportFolder + SafeExportName(TargetPathForFormat(exportName, m_settings.format)),
                    m_settings, false);
    // The last row of a run, or of a stopped run, waits for every row before the finish step.
    TakeTransformed(m_transform, itemIndex + 1 >= itemCount || Terminated(),
                    [this](const ParallelPictureTransform::Outcome& outcome) { countWrite(outcome); });
}

void ExportPictures::endRun() {
    // Only a stop that came just after a row's work leaves rows here.
    TakeTransformed(m_transform, true,
                    [this](const ParallelPictureTransform::Outcome& outcome) { countWrite(outcome); });
}

void ExportPictures::countWrite(const ParallelPictureTransform::Outcome& outcome) {
    if (outcome.result.unreadable)
        countUnread(outcome.localPath);
    if (outcome.result.status == TransformResult::Status::Written || outcome.writeFailed)
        ++rowsTried;
    if (outcome.writeFailed)
        ++rowsFailed;
}

QString ExportPictures::failureMessage() const {
    if (rowsFailed == 0)
        return {};
    return QStringLiteral("Collection not saved: %1 of %2 could not be written.")
        .arg(rowsFailed)
        .arg(Count(rowsTried, "file"));
}

QString ExportPictures::finishMessage() const {
    return QStringLiteral("Collection saved!");
}

// ---------------------------------------------------------------- CopyFilesJob

CopyFilesJob::CopyFilesJob(QObject* window, CollectionTable& table, int exportNameColumn)
    : ExportJob(window, table, exportNameColumn, false) {}

void CopyFilesJob::takeRun(ExportRun& run) {
    formatChoice = run.formatChoice;
}

void CopyFilesJob::doRow() {
    if (!rowHasFile())
        return;
    if (!CanRead(localPath)) {
        countUnread(localPath);
        return;
    }
    ++rowsTried;
    const QString target = exportFolder + SafeExportName(exportName);
    // Saving into the work folder under the local name: the file is already in place.
    if (IsSameFile(localPath, target))
        return;
    if (!ReplaceFileWithCopy(localPath, target))
        ++rowsFailed;
}

QString CopyFilesJob::finishMessage() const {
    return QStringLiteral("Collection saved!");
}

QString CopyFilesJob::failureMessage() const {
    if (rowsFailed == 0)
        return {};
    return QStringLiteral("Collection not saved: %1 of %2 could not be written.")
        .arg(rowsFailed)
        .arg(Count(rowsTried, "file"));
}

ExportSounds::ExportSounds(QObject* window, CollectionTable& table)
    : CopyFilesJob(window, table, col::MediaExportName) {}
ExportVideos::ExportVideos(QObject* window, CollectionTable& table)
    : CopyFilesJob(window, table, col::MediaExportName) {}
ExportTexts::ExportTexts(QObject* window, CollectionTable& table)
    : CopyFilesJob(window, table, col::TextExportName) {}

// ---------------------------------------------------------------- SqliteRowsJob

SqliteRowsJob::SqliteRowsJob(QObject* window, CollectionTable& table, int exportNameColumn,
                             bool progressOnFetch)
    : ExportJob(window, table, exportNameColumn, progressOnFetch) {}

void SqliteRowsJob::takeRun(ExportRun& run) {
    m_session = std::move(run.session);
    m_commitError.reset();
}

void SqliteRowsJob::storeRow(const QString& name, const QString& type, const QByteArray& data) {
    ++rowsTried;
    // A row that cannot be stored is left out and counted; the run goes on.
    if (!m_session || !m_session->insertRow(name, type, data))
        ++rowsFailed;
}

void SqliteRowsJob::endRun() {
    QString error;
    if (m_session && !m_session->commitAndClose(&error))
        m_commitError = error;
    m_session.reset();
}

QString SqliteRowsJob::finishMessage() const {
    return QStringLiteral("Collection exported to SQLite database!");
}

QString SqliteRowsJob::failureMessage() const {
    if (m_commitError) {
        return QStringLiteral("Collection not exported to SQLite database: %1 could not be committed (%2).")
            .arg(Count(rowsTried, "row"), *m_commitError);
    }
    if (rowsFailed > 0) {
        return QStringLiteral(
                   "Collection exported to SQLite database with errors: %1 of %2 could not be stored.")
            .arg(rowsFailed)
            .arg(Count(rowsTried, "row"));
    }
    return {};
}

// ---------------------------------------------------------------- ExportPicturesSQLite

ExportPicturesSQLite::ExportPicturesSQLite(QObject* window, CollectionTable& table)
    : SqliteRowsJob(window, table, col::PicExportName, true) {}

void ExportPicturesSQLite::takeRun(ExportRun& run) {
    SqliteRowsJob::takeRun(run);
    m_settings = run.transform;
}

void ExportPicturesSQLite::doRow() {
    // Encoded in memory: no file of the run ever lands beside the database.
    m_transform.add(localPath, SafeExportName(exportName), m_settings, true, exportName);
    TakeTransformed(m_transform, itemIndex + 1 >= itemCount || Terminated(),
                    [this](const ParallelPictureTransform::Outcome& outcome) { storeOutcome(outcome); });
}

void ExportPicturesSQLite::storeOutcome(const ParallelPictureTransform::Outcome& outcome) {
    if (outcome.result.unreadable)
        countUnread(outcome.localPath);
    if (outcome.result.status != TransformResult::Status::Written)
        return;
    storeRow(NameWithoutExtension(outcome.label), ExportTypeForPicture(outcome.result.path), outcome.encoded);
}

void ExportPicturesSQLite::endRun() {
    TakeTransformed(m_transform, true,
                    [this](const ParallelPictureTransform::Outcome& outcome) { storeOutcome(outcome); });
    SqliteRowsJob::endRun();
}

// ---------------------------------------------------------------- StoreFilesJob

StoreFilesJob::StoreFilesJob(QObject* window, CollectionTable& table, int exportNameColumn, TypeRule typeOf)
    : SqliteRowsJob(window, table, exportNameColumn, false), m_typeOf(typeOf) {}

void StoreFilesJob::takeRun(ExportRun& run) {
    SqliteRowsJob::takeRun(run);
    formatChoice = run.formatChoice;
}

void StoreFilesJob::doRow() {
    if (!rowHasFile())
        return;
    QByteArray data;
    if (!QFileInfo(localPath).isFile() || !ReadWholeFile(localPath, data)) {
        countUnread(localPath);
        return;
    }
    storeRow(NameWithoutExtension(exportName), m_typeOf(localPath), data);
}

ExportSoundsSQLite::ExportSoundsSQLite(QObject* window, CollectionTable& table)
    : StoreFilesJob(window, table, col::MediaExportName, &ExportTypeForMedia) {}
ExportVideosSQLite::ExportVideosSQLite(QObject* window, CollectionTable& table)
    : StoreFilesJob(window, table, col::MediaExportName, &ExportTypeForMedia) {}
ExportTextsSQLite::ExportTextsSQLite(QObject* window, CollectionTable& table)
    : StoreFilesJob(window, table, col::TextExportName, &TextType) {}

} // namespace skarvel
