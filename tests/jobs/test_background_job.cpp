// The job pattern on its own: runs, suspension, lost starts, termination, and
// its teardown by the owner.
#include "jobs/background_job.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace skarvel;

namespace {

// A job whose steps record where they ran; its work can be held at a gate.
class RecordingJob : public BackgroundJob {
public:
    explicit RecordingJob(QObject* window, int items, bool finish = true)
        : BackgroundJob(window), m_items(items), m_finish(finish) {}

    std::vector<QString> steps; // touched on the window thread only
    std::atomic<bool> hold{false};
    std::atomic<bool> inWork{false};
    std::atomic<int> worked{0};
    std::atomic<int> aborts{0};
    QThread* windowThread = QThread::currentThread();
    bool stepsOnWindowThread = true;
    int failAt = -1;
    QStringList failures;
    std::function<void()> duringWrite; // runs inside the write step, on the window thread

protected:
    void note(const QString& s) {
        stepsOnWindowThread = stepsOnWindowThread && QThread::currentThread() == windowThread;
        steps.push_back(s);
    }
    void prepareStep() override {
        note("prepare");
        itemCount = m_items;
    }
    void fetchStep() override { note(QString("fetch %1").arg(itemIndex)); }
    void work() override {
        inWork = true;
        while (hold)
            QThread::msleep(2);
        ++worked;
        if (itemIndex == failAt)
            throw std::runtime_error("boom");
    }
    void workFailed(const std::exception& e) override { failures << QString::fromUtf8(e.what()); }
    void writeStep() override {
        if (duringWrite)
            duringWrite();
        note(QString("write %1").arg(itemIndex));
    }
    void finishStep() override { note("finish"); }
    bool hasFinishStep() const override { return m_finish; }
    void abortWork() override {
        ++aborts;
        hold = false;
    }

private:
    int m_items;
    bool m_finish;
};

// How long a check that nothing more happens on a worker thread waits: a worker that would act
// does so within microseconds of its last step, and no load stalls a runnable thread for this long.
constexpr int kQuietMs = 1000;

QStringList joined(const std::vector<QString>& v) {
    return QStringList(v.begin(), v.end());
}

// Given to this test's own executable: destroy a job that no owner shut down.
constexpr char kDestroyWithoutShutdown[] = "--destroy-a-job-without-shutdown";

} // namespace

class BackgroundJobTest : public QObject {
    Q_OBJECT
private slots:
    void aRunWalksItsItemsWithStepsOnTheWindowThread() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 2);
        QVERIFY(job->Suspended());
        // Created suspended: nothing runs before Resume, not even the worker.
        QVERIFY(!job->isRunning());
        test::deliverQueuedEvents();
        QVERIFY(job->steps.empty());
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(
            joined(job->steps),
            (QStringList{"prepare", "fetch 0", "write 0", "fetch 1", "write 1", "finish"}), test::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), test::kWaitMs);
        QVERIFY(job->stepsOnWindowThread);
        // The next Resume runs the loop again from a fresh prepare step.
        job->steps.clear();
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(int(job->steps.size()), 6, test::kWaitMs);
    }

    void theWorkerStartsAtTheFirstResumeOnceTheJobIsBuilt() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 1);
        QVERIFY(!job->isRunning());
        QVERIFY(!job->isFinished());
        job->Resume();
        QVERIFY(job->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), test::kWaitMs);
        QCOMPARE(joined(job->steps), (QStringList{"prepare", "fetch 0", "write 0", "finish"}));
        QVERIFY(job->isRunning()); // asleep until the next Resume, not ended
    }

    void aJobThatNeverRanShutsDownAtOnce() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 1);
        QElapsedTimer clock;
        clock.start();
        job->Shutdown();
        QVERIFY(clock.elapsed() < 1000);
        job->Resume(); // a shut-down job never starts
        QVERIFY(!job->isRunning());
        test::deliverQueuedEvents();
        QVERIFY(job->steps.empty());
    }

    void aZeroItemRunOnlyPreparesAndFinishes() {
        QObject window;
        auto withFinish = MakeOwnedJob<RecordingJob>(&window, 0);
        auto withoutFinish = MakeOwnedJob<RecordingJob>(&window, 0, false);
        withFinish->Resume();
        withoutFinish->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(joined(withFinish->steps), (QStringList{"prepare", "finish"}),
                                  test::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(withoutFinish->Suspended(), test::kWaitMs);
        QCOMPARE(joined(withoutFinish->steps), QStringList{"prepare"});
    }

    void aStartWhileRunningIsLost() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 1);
        job->hold = true;
        job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(!job->Suspended(), test::kWaitMs);
        job->Resume(); // lost
        job->Resume(); // lost
        job->hold = false;
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), test::kWaitMs);
        // A run started by a lost Resume would follow at once; a second is more than load delays it.
        QTest::qWait(kQuietMs);
        QCOMPARE(job->worked.load(), 1);
        QCOMPARE(std::count(job->steps.begin(), job->steps.end(), QString("prepare")), 1);
    }

    void anErrorFailsItsItemOnly() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 3);
        job->failAt = 1;
        job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), test::kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(job->worked.load(), 3, test::kWaitMs);
        QCOMPARE(job->failures, QStringList{"boom"});
        QCOMPARE(joined(job->steps).last(), QString("finish"));
    }

    void aTerminatedJobFinishesItsItemAndItsFinishStepThenNeverRunsAgain() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 5);
        job->hold = true;
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(joined(job->steps), (QStringList{"prepare", "fetch 0"}), test::kWaitMs);
        job->Terminate();
        job->hold = false;
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), test::kWaitMs);
        QCOMPARE(joined(job->steps), (QStringList{"prepare", "fetch 0", "write 0", "finish"}));
        job->Resume();
        QVERIFY(!job->isRunning()); // the worker has ended: nothing can run any more
        test::deliverQueuedEvents();
        QCOMPARE(job->worked.load(), 1);
    }

    void twoJobsRunAtTheSameTime() {
        QObject window;
        auto a = MakeOwnedJob<RecordingJob>(&window, 1);
        auto b = MakeOwnedJob<RecordingJob>(&window, 1);
        a->hold = true;
        b->hold = true;
        a->Resume();
        b->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(!a->Suspended() && !b->Suspended(), test::kWaitMs);
        b->hold = false; // b ends while a is still held
        QTRY_VERIFY_WITH_TIMEOUT(b->Suspended(), test::kWaitMs);
        QVERIFY(!a->Suspended());
        a->hold = false;
        QTRY_VERIFY_WITH_TIMEOUT(a->Suspended(), test::kWaitMs);
    }

    void theOwnerEndsARunThatWaitsForTheWindow() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 1000);
        job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(job->worked.load() > 3, test::kWaitMs);
        job.reset(); // must not hang: the worker is told to stop and pending steps are dropped
    }

    void aShutdownCutsSlowWorkShortThroughTheWholeJobOnce() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 2);
        job->hold = true; // only the job's abortWork lets the item go
        job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(job->inWork, test::kWaitMs);
        job->Shutdown();
        QVERIFY(job->isFinished());
        QVERIFY(job->IsShutDown());
        QCOMPARE(job->aborts.load(), 1);
        job->Shutdown();
        QCOMPARE(job->aborts.load(), 1);
    }

    void aShutdownMidRunDropsThePendingStepAndDeliversNothingElse() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 3);
        job->hold = true;
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(joined(job->steps), (QStringList{"prepare", "fetch 0"}), test::kWaitMs);
        bool otherRan = false;
        QMetaObject::invokeMethod(
            &window, [&otherRan] { otherRan = true; }, Qt::QueuedConnection);
        // The item ends and its write step waits for this thread, which delivers nothing meanwhile.
        job->hold = false;
        while (job->worked.load() < 1)
            QThread::yieldCurrentThread();
        job->Shutdown();
        QVERIFY(job->isFinished());
        QCOMPARE(joined(job->steps), (QStringList{"prepare", "fetch 0"}));
        QVERIFY(job->failures.isEmpty());
        // Only the job's own steps were delivered: the window's queue is left to the event loop.
        QVERIFY(!otherRan);
        QCoreApplication::processEvents();
        QVERIFY(otherRan);
        QCOMPARE(joined(job->steps), (QStringList{"prepare", "fetch 0"}));
    }

    void aSuspendedJobToldToTerminateEndsItsWorker() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 1);
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(joined(job->steps),
                                  (QStringList{"prepare", "fetch 0", "write 0", "finish"}), test::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), test::kWaitMs);
        job->Terminate(); // its worker sleeps until the next Resume, which will never come
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), test::kWaitMs);
    }

    void aStepUnderWayWhenAnotherThreadShutsTheJobDownIsLetFinish() {
        QObject window;
        auto job = MakeOwnedJob<RecordingJob>(&window, 1);
        std::thread owner;
        job->duringWrite = [&] {
            owner = std::thread([&] { job->Shutdown(); });
            while (!job->Terminated()) // the shutdown has begun while this step runs
                QThread::yieldCurrentThread();
        };
        job->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(owner.joinable(), test::kWaitMs);
        owner.join(); // the shutdown waited for the step, then for the worker
        QVERIFY(job->IsShutDown());
        QVERIFY(job->isFinished());
        // The step ran to its end; the finish step, not begun, was dropped.
        QCOMPARE(joined(job->steps), (QStringList{"prepare", "fetch 0", "write 0"}));
    }

    void aJobDestroyedWithoutShutdownAbortsTheProcess() {
        QProcess child;
        // Without a console, Qt on Windows sends its messages to the debugger instead of stderr.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kDestroyWithoutShutdown)});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(child.readAllStandardError().contains("destroyed without Shutdown()"),
                 "the abort does not say why");
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], kDestroyWithoutShutdown) == 0) {
        QObject window;
        auto* job = new RecordingJob(&window, 1);
        job->Resume();
        delete job; // no owner shut it down: this must not return
        return 0;
    }
    BackgroundJobTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_background_job.moc"
