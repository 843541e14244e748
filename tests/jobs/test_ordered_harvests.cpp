// The harvests and the URL-list builder with several service requests in
// flight: a service that answers later lines first still gives the buffer and
// the URL list in line order, and a busy service's Retry-After is waited out.
#include "jobs/list_jobs.h"
#include "jobs/media_jobs.h"
#include "jobs/picture_jobs.h"
#include "tests/support/local_server.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace skarvel;

namespace {

class RecordingProgress : public ProgressSink {
public:
    void start(int maximum) override { this->maximum = maximum; }
    void setValue(int position) override { positions << position; }
    void finish() override { ++finished; }
    int maximum = -1;
    int finished = 0;
    QList<int> positions;
};

class Lines : public LineSource {
public:
    explicit Lines(QStringList lines) : m_lines(std::move(lines)) {}
    int lineCount() const override { return int(m_lines.size()); }
    QString line(int i) const override { return i < m_lines.size() ? m_lines[i] : QString(); }

private:
    QStringList m_lines;
};

// A service whose answer to the page ".../n" waits until every page numbered above n has been
// answered: the last line is answered first. "/busy/n" is turned away once with Retry-After: 1.
class BackwardService {
public:
    explicit BackwardService(int pages) : m_pages(pages) {
        const auto answer = [this](const std::string& page, httplib::Response& res) {
            if (page.find("/busy/") != std::string::npos && m_busyOnce.exchange(false)) {
                res.status = 503;
                res.set_header("Retry-After", "1");
                return;
            }
            const int n = std::stoi(page.substr(page.rfind('/') + 1));
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (m_answered < m_pages - n && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            {
                std::lock_guard lock(m_mutex);
                order << n;
            }
            ++m_answered;
            res.set_content("<" + std::to_string(n) + ">\n", "text/plain");
        };
        for (const char* script : {"/get_images.php", "/get_sounds.php", "/get_videos.php"})
            server.server().Get(script, [answer](const httplib::Request& req, httplib::Response& res) {
                answer(req.get_param_value("url"), res);
            });
        server.server().Post("/make_list.php", [answer](const httplib::Request& req, httplib::Response& res) {
            answer(req.get_param_value("list"), res);
        });
        server.start();
    }
    QString base() const { return server.baseUrl() + "/"; }
    QList<int> answerOrder() const {
        std::lock_guard lock(m_mutex);
        return order;
    }

    test::LocalHttpServer server;

private:
    int m_pages;
    std::atomic<int> m_answered{0};
    std::atomic<bool> m_busyOnce{true};
    mutable std::mutex m_mutex;
    QList<int> order;
};

} // namespace

class OrderedHarvestsTest : public QObject {
    Q_OBJECT
private slots:
    void answersAreAppendedInLineOrder_data() {
        QTest::addColumn<int>("which");
        QTest::newRow("picture harvest") << 0;
        QTest::newRow("sound harvest") << 1;
        QTest::newRow("video harvest") << 2;
    }
    void answersAreAppendedInLineOrder() {
        QFETCH(int, which);
        BackwardService service(3);
        const QString site = "http://pages.example.test/";
        // The short line sends nothing and adds nothing, in its place.
        Lines lines({site + "page/1", "short", site + "page/2", site + "page/3"});
        QObject window;
        TextStore buffer("buffer", nullptr);
        RecordingProgress progress;
        int parsed = 0;
        OwnedJob<HarvestJob> job;
        const auto parser = [&] {
            ++parsed;
            QCOMPARE(buffer.text(), QString("<1>\n<2>\n<3>\n"));
        };
        if (which == 0)
            job = MakeOwnedJob<PagesDownload>(&window, service.base(), lines, buffer, progress, parser);
        else if (which == 1)
            job = MakeOwnedJob<SoundPagesDownload>(&window, service.base(), lines, buffer, progress, parser);
        else
            job = MakeOwnedJob<VideoPagesDownload>(&window, service.base(), lines, buffer, progress, parser);
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(parsed, 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), 10000);
        QCOMPARE(service.answerOrder(), (QList<int>{3, 2, 1})); // all three were in flight at once
        QCOMPARE(buffer.text(), QString("<1>\n<2>\n<3>\n"));
        QCOMPARE(progress.positions, (QList<int>{1, 2, 3, 4}));
        QCOMPARE(parsed, 1);
    }

    void theUrlListComesInSourceLinkOrder() {
        BackwardService service(3);
        Lines links({"http://a.test/list/1", "http://a.test/busy/2", "http://a.test/list/3"});
        QObject window;
        RecordingProgress progress;
        QStringList appended;
        auto job = MakeOwnedJob<Make_URLs_List>(
            &window, service.base(), links, [&](const QString& answer) { appended << answer; }, progress);
        job->Resume();
        QTRY_COMPARE_WITH_TIMEOUT(progress.finished, 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(job->Suspended(), 10000);
        // The busy answer to link 2 was waited out and sent again; its place in the list is kept.
        QCOMPARE(appended, (QStringList{"<1>\r\n", "<2>\r\n", "<3>\r\n"}));
        QCOMPARE(service.server.requestCount("/make_list.php"), 4);
        QCOMPARE(progress.positions, (QList<int>{1, 2, 3}));
    }

    // A service that is busy every time: each line is asked once more after the wait, then adds
    // nothing; a stop during a long wait ends the run at once.
    void aBusyServiceIsAskedOnceMoreAndAStopEndsTheWait_data() {
        QTest::addColumn<QString>("retryAfter");
        QTest::addColumn<bool>("stop");
        QTest::newRow("waited out, asked once more") << "1" << false;
        QTest::newRow("stopped during the wait") << "60" << true;
    }
    void aBusyServiceIsAskedOnceMoreAndAStopEndsTheWait() {
        QFETCH(QString, retryAfter);
        QFETCH(bool, stop);
        test::LocalHttpServer service;
        service.server().Get("/get_images.php", [&](const httplib::Request&, httplib::Response& res) {
            res.status = 503;
            res.set_header("Retry-After", retryAfter.toStdString());
        });
        service.start();
        Lines lines({"http://pages.example.test/1", "http://pages.example.test/2"});
        QObject window;
        TextStore buffer("buffer", nullptr);
        RecordingProgress progress;
        int parsed = 0;
        auto job = MakeOwnedJob<PagesDownload>(&window, service.baseUrl() + "/", lines, buffer, progress,
                                               [&] { ++parsed; });
        job->Resume();
        if (stop) {
            QTRY_COMPARE_WITH_TIMEOUT(service.totalRequests(), 2, 10000);
            const auto stoppedAt = std::chrono::steady_clock::now();
            job->Terminate();
            QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 10000);
            QVERIFY2(std::chrono::steady_clock::now() - stoppedAt < std::chrono::seconds(2),
                     "the stop waited for the Retry-After");
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(parsed == 1 && job->Suspended(), 20000);
        }
        QCOMPARE(service.totalRequests(), stop ? 2 : 4);
        QCOMPARE(buffer.text(), QString());
        QCOMPARE(progress.positions, (QList<int>{1, 2}));
    }
};

QTEST_GUILESS_MAIN(OrderedHarvestsTest)
#include "test_ordered_harvests.moc"
