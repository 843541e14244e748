#include "gui/jobs/export_jobs.h"

#include "tables/collection_tables.h"
#include "gui/dialog_service.h"
#include "gui/main_window.h"
#include "common/file_ops.h"
#include "common/text_ops.h"
#include "gui/dialogs/save_dialogs.h"
#include "gui/dialogs/sqlite_dialogs.h"
#include "sqlite_export/sqlite_export.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>

namespace skarvel {

namespace {

const ExportRows kPictureRows{&TForm1::pictureTable, col::PicExportName,
                              [](TForm1* f) -> ExportDialog* { return f->Form6; }};
const ExportRows kPictureSqliteRows{&TForm1::pictureTable, col::PicExportName,
                                    [](TForm1* f) -> ExportDialog* { return f->Form10; }};
const ExportRows kSoundRows{&TForm1::soundTable, col::MediaExportName,
                            [](TForm1* f) -> ExportDialog* { return f->Form17; }};
const ExportRows kSoundSqliteRows{&TForm1::soundTable, col::MediaExportName,
                                  [](TForm1* f) -> ExportDialog* { return f->Form18; }};
const ExportRows kVideoRows{&TForm1::videoTable, col::MediaExportName,
                            [](TForm1* f) -> ExportDialog* { return f->Form25; }};
const ExportRows kVideoSqliteRows{&TForm1::videoTable, col::MediaExportName,
                                  [](TForm1* f) -> ExportDialog* { return f->Form26; }};
const ExportRows kTextRows{&TForm1::textTable, col::TextExportName,
                           [](TForm1* f) -> ExportDialog* { return f->Form32; }};
const ExportRows kTextSqliteRows{&TForm1::textTable, col::TextExportName,
                                 [](TForm1* f) -> ExportDialog* { return f->Form33; }};

QString TextType(const QString&) {
    return ExportTypeForText();
}

// The index of a dialog's format list, 0 when it has none.
int FormatChoice(ExportDialog* dialog) {
    const auto* list = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    return list ? list->currentIndex() : 0;
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

} // namespace

// ---------------------------------------------------------------- ExportJob

ExportJob::ExportJob(TForm1* form1, const ExportRows& rows, bool progressOnFetch)
    : WindowJob(form1), m_rows(rows), m_progressOnFetch(progressOnFetch) {}

void ExportJob::prepareStep() {
    dialog = m_rows.dialog(Form1);
    itemCount = (Form1->*m_rows.table)->gridRowCount() - 1;
    rowsTried = 0;
    rowsFailed = 0;
    readRunSettings();
    dialog->runStarted(this, itemCount);
}

void ExportJob::fetchStep() {
    if (m_progressOnFetch)
        dialog->rowReached(itemIndex + 1);
    const CollectionTable* table = Form1->*m_rows.table;
    localPath = table->cell(col::LocalPath, itemIndex + 1);
    exportName = table->cell(m_rows.exportNameColumn, itemIndex + 1);
    exportFolder = Form1->exportFolder;
}

void ExportJob::work() {
    doRow();
}

void ExportJob::writeStep() {
    dialog->rowReached(itemIndex + 1);
}

void ExportJob::finishStep() {
    endRun();
    // A stopped job finishing after a new run of its dialog has begun leaves that run's view alone.
    const bool shown = dialog->showsRunOf(this);
    if (shown)
        dialog->ProgressBar1->hide();
    if (const QString failure = failureMessage(); !failure.isEmpty())
        ui::ShowError(dialog, failure);
    else
        ui::ShowMessage(dialog, finishMessage());
    if (shown)
        dialog->closeRun();
}

// ---------------------------------------------------------------- ExportPictures

ExportPictures::ExportPictures(TForm1* form1) : ExportJob(form1, kPictureRows, true) {}

void ExportPictures::readRunSettings() {
    m_settings = static_cast<TForm6*>(dialog)->transformGroup->settings();
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

CopyFilesJob::CopyFilesJob(TForm1* form1, const ExportRows& rows) : ExportJob(form1, rows, false) {}

void CopyFilesJob::readRunSettings() {
    formatChoice = FormatChoice(dialog);
}

void CopyFilesJob::doRow() {
    if (!QFileInfo(localPath).isFile())
        return;
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

ExportSounds::ExportSounds(TForm1* form1) : CopyFilesJob(form1, kSoundRows) {}
ExportVideos::ExportVideos(TForm1* form1) : CopyFilesJob(form1, kVideoRows) {}
ExportTexts::ExportTexts(TForm1* form1) : CopyFilesJob(form1, kTextRows) {}

// ---------------------------------------------------------------- SqliteRowsJob

SqliteRowsJob::SqliteRowsJob(TForm1* form1, const ExportRows& rows, bool progressOnFetch)
    : ExportJob(form1, rows, progressOnFetch) {}

void SqliteRowsJob::readRunSettings() {
    m_session = static_cast<SqliteDialog*>(dialog)->takeSession();
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

ExportPicturesSQLite::ExportPicturesSQLite(TForm1* form1) : SqliteRowsJob(form1, kPictureSqliteRows, true) {}

void ExportPicturesSQLite::readRunSettings() {
    SqliteRowsJob::readRunSettings();
    m_settings = static_cast<TForm10*>(dialog)->transformGroup->settings();
}

void ExportPicturesSQLite::doRow() {
    // Encoded in memory: no file of the run ever lands beside the database.
    m_transform.add(localPath, SafeExportName(exportName), m_settings, true, exportName);
    TakeTransformed(m_transform, itemIndex + 1 >= itemCount || Terminated(),
                    [this](const ParallelPictureTransform::Outcome& outcome) { storeOutcome(outcome); });
}

void ExportPicturesSQLite::storeOutcome(const ParallelPictureTransform::Outcome& outcome) {
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

StoreFilesJob::StoreFilesJob(TForm1* form1, const ExportRows& rows, TypeRule typeOf)
    : SqliteRowsJob(form1, rows, false), m_typeOf(typeOf) {}

void StoreFilesJob::readRunSettings() {
    SqliteRowsJob::readRunSettings();
    formatChoice = FormatChoice(dialog);
}

void StoreFilesJob::doRow() {
    if (!QFileInfo(localPath).isFile())
        return;
    QByteArray data;
    if (!ReadWholeFile(localPath, data))
        return;
    storeRow(NameWithoutExtension(exportName), m_typeOf(localPath), data);
}

ExportSoundsSQLite::ExportSoundsSQLite(TForm1* form1)
    : StoreFilesJob(form1, kSoundSqliteRows, &ExportTypeForMedia) {}
ExportVideosSQLite::ExportVideosSQLite(TForm1* form1)
    : StoreFilesJob(form1, kVideoSqliteRows, &ExportTypeForMedia) {}
ExportTextsSQLite::ExportTextsSQLite(TForm1* form1) : StoreFilesJob(form1, kTextSqliteRows, &TextType) {}

} // namespace skarvel
