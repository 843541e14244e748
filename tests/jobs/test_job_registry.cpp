// The owner of the window's jobs: creation order, replacement of a stopped job
// and freeing it once its worker has ended.
#include "jobs/job_registry.h"

#include <QPointer>
#include <QtTest>

#include <atomic>
#include <vector>

using namespace skarvel;

namespace {

// A job of two items whose work waits while `hold` is set.
class HeldJob : public BackgroundJob {
public:
    HeldJob(QObject* window, std::atomic<bool>& hold, QStringList& log, QString name)
        : BackgroundJob(window), m_hold(hold), m_log(log), m_name(std::move(name)) {}
    std::atomic<bool> inWork{false};

protected:
    void prepareStep() override { itemCount = 2; }
    void work() override {
        inWork = true;
        while (m_hold)
            QThread::msleep(2);
    }
    void writeStep() override { m_log << QString("%1 item %2").arg(m_name).arg(itemIndex); }
    void finishStep() override { m_log << m_name + " finish"; }

private:
    std::atomic<bool>& m_hold;
    QStringList& m_log;
    QString m_name;
};

} // namespace

class JobRegistryTest : public QObject {
    Q_OBJECT
private slots:
    void jobsAreMadeInListOrderAndStartNothing() {
        QObject window;
        std::atomic<bool> hold{false};
        QStringList log;
        QStringList made;
        JobRegistry registry(&window);
        std::vector<JobRegistry::Entry> list;
        for (JobId id : {JobId::ExportPictures, JobId::DownloadPictures, JobId::PagesDownload}) {
            const QString name = QString::number(int(id));
            list.push_back({id, [&, name] {
                                made << name;
                                return MakeOwnedJob<HeldJob>(&window, hold, log, name);
                            }});
        }
        registry.create(std::move(list));
        QCOMPARE(made, (QStringList{"0", "2", "3"}));
        for (JobId id : {JobId::ExportPictures, JobId::DownloadPictures, JobId::PagesDownload}) {
            QVERIFY(registry.current(id)->Suspended());
            QVERIFY(!registry.current(id)->isRunning());
        }
        QCOMPARE(registry.current(JobId::ExportTexts), nullptr);
        QTest::qWait(20);
        QVERIFY(log.isEmpty());
        registry.shutdown();
        QCOMPARE(registry.current(JobId::ExportPictures), nullptr);
    }

    void aStoppedJobIsReplacedAndFreedOnceItsWorkerEnds() {
        QObject window;
        std::atomic<bool> hold{true};
        QStringList log;
        int generation = 0;
        JobRegistry registry(&window);
        registry.create({{JobId::ExportSounds, [&] {
                              ++generation;
                              return MakeOwnedJob<HeldJob>(&window, hold, log,
                                                           QString("run%1").arg(generation));
                          }}});
        BackgroundJob* first = registry.current(JobId::ExportSounds);

        registry.replace(JobId::ExportSounds); // suspended: left alone
        QCOMPARE(registry.current(JobId::ExportSounds), first);

        first->Resume();
        QTRY_VERIFY(static_cast<HeldJob*>(first)->inWork);
        QPointer<BackgroundJob> stopped = first;
        registry.replace(JobId::ExportSounds);
        BackgroundJob* fresh = registry.current(JobId::ExportSounds);
        QVERIFY(fresh != first);
        QVERIFY(fresh->Suspended());
        QCOMPARE(registry.stoppedCount(), 1);

        hold = false;
        // The stopped run ends its item and its finish step, then its worker ends and it is freed.
        QTRY_VERIFY(stopped.isNull());
        QCOMPARE(registry.stoppedCount(), 0);
        QCOMPARE(log, (QStringList{"run1 item 0", "run1 finish"}));

        fresh->Resume();
        QTRY_COMPARE(log.size(), 5);
        QCOMPARE(log.mid(2), (QStringList{"run2 item 0", "run2 item 1", "run2 finish"}));
    }

    void shutdownEndsStoppedJobsThatAreStillRunning() {
        QObject window;
        std::atomic<bool> hold{true};
        QStringList log;
        JobRegistry registry(&window);
        registry.create(
            {{JobId::ExportTexts, [&] { return MakeOwnedJob<HeldJob>(&window, hold, log, "t"); }}});
        auto* running = static_cast<HeldJob*>(registry.current(JobId::ExportTexts));
        running->Resume();
        QTRY_VERIFY(running->inWork);
        registry.replace(JobId::ExportTexts);
        QCOMPARE(registry.stoppedCount(), 1);
        hold = false;
        registry.shutdown();
        QCOMPARE(registry.stoppedCount(), 0);
    }
};

QTEST_MAIN(JobRegistryTest)
#include "test_job_registry.moc"
