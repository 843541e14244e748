// The URL list tab (builder and tools) and the file download, driven through the window.
#include "gui/dialogs/url_filter_dialog.h"
#include "jobs/file_jobs.h"
#include "jobs/list_jobs.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <optional>

using namespace skarvel;
using skarvel::test::GuiFixture;
using skarvel::test::LocalHttpServer;

namespace {

constexpr int kJobWaitMs = 30000;

// Points the window's service at another host for the windows started while it lives.
class ServiceHostOverride {
public:
    explicit ServiceHostOverride(const QString& host)
        : m_wasSet(qEnvironmentVariableIsSet("SKARVEL_SERVICE_HOST")),
          m_old(qgetenv("SKARVEL_SERVICE_HOST")) {
        qputenv("SKARVEL_SERVICE_HOST", host.toUtf8());
    }
    ~ServiceHostOverride() {
        if (m_wasSet)
            qputenv("SKARVEL_SERVICE_HOST", m_old);
        else
            qunsetenv("SKARVEL_SERVICE_HOST");
    }

private:
    bool m_wasSet;
    QByteArray m_old;
};

QAction* action(TForm1* form, const char* name) {
    auto* found = form->findChild<QAction*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no action %s", name);
    return found;
}

void click(QWidget* root, const char* buttonName) {
    auto* button = root->findChild<QPushButton*>(QString::fromLatin1(buttonName));
    if (!button)
        qFatal("no button %s", buttonName);
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList tableRow(const CollectionTable* table, int row) {
    QStringList cells;
    for (int c = 0; c < table->colCount(); ++c)
        cells << table->cell(c, row);
    return cells;
}

// The folder the file chooser starts at: "Download files" is pressed (on a one-line list when
// the list is empty, for an empty list asks nothing) and the chooser cancelled.
QString fileChooserStart(TForm1* form, ui::TestAnswers& answers) {
    QPlainTextEdit* list = test::URLs_List(form);
    const QString kept = list->toPlainText();
    if (test::Lines(list).isEmpty())
        list->setPlainText("http://127.0.0.1:9/x");
    answers.directories.push_back(std::nullopt);
    const qsizetype asked = answers.directoryStarts.size();
    test::Press(form, "BitBtn7");
    list->setPlainText(kept);
    if (answers.directoryStarts.size() != asked + 1)
        return "(the chooser was not asked)";
    return answers.directoryStarts.takeLast();
}

QStringList folderEntries(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

class ListsFilesTest : public QObject {
    Q_OBJECT
private slots:
    void urlListIsBuiltFromTheSourcePagesOfALocalSite();
    void urlListTakesTheServiceAnswersAsTheyCome();
    void urlListBuilderAsksForSourceLinks();
    void extractLastUrlWorksLineByLine();
    void filterDialogAppliesAndStaysOpen();
    void clipboardCopyPasteAndClear();
    void extensionComesFromTheContentType_data();
    void extensionComesFromTheContentType();
    void filesAreNamedByServerOrAddressOrRow();
    void aFileThatCannotBeWrittenIsAnError();
    void anEmptyUrlListLeavesOneBlankRowAndAsksNothing();
    void aCancelledChooserLeavesTheTableAlone();
    void closingTheWindowEndsRunningJobs();
};

// ---------------------------------------------------------------- URL list builder

void ListsFilesTest::urlListIsBuiltFromTheSourcePagesOfALocalSite() {
    QTemporaryDir site;
    test::writeFile(site.path() + "/a/index.html",
                    "<html><body><a href=\"one.html\">1</a> <a href=\"two/two.html\">2</a>"
                    "<a href=\"mailto:x@y.z\">mail</a> <a href=\"one.html\">again</a>"
                    "<a href=\"../b/three.html\">3</a></body></html>");
    test::writeFile(site.path() + "/b/list.html",
                    "<html><body><a href=\"deeper/four.html\">4</a></body></html>");
    for (const char* page : {"/a/one.html", "/a/two/two.html", "/b/three.html", "/b/deeper/four.html"})
        test::writeFile(site.path() + page, "<html><body>page</body></html>");
    LocalHttpServer server;
    server.serveFolder(site.path());
    server.start();
    const QString base = server.baseUrl();

    GuiFixture f;
    TForm1* form = f.start();
    test::URLs_List(form)->setPlainText("old line that goes");
    test::Source_Links(form)->setPlainText(base + "/a/index.html\n" + base + "/b/list.html");
    test::Press(form, "BitBtn6");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::Make_URLs_List)->Suspended(), kJobWaitMs);

    QCOMPARE(test::Lines(test::URLs_List(form)),
             (QStringList{base + "/a/one.html", base + "/a/two/two.html", base + "/b/three.html",
                          base + "/b/deeper/four.html"}));
    QVERIFY(test::ProgressBar(form, 3)->isHidden());
    QCOMPARE(test::ProgressBar(form, 3)->maximum(), 2);
    QCOMPARE(test::ProgressBar(form, 3)->value(), 2);
    QVERIFY(f.answers.messages.isEmpty());
}

void ListsFilesTest::urlListTakesTheServiceAnswersAsTheyCome() {
    LocalHttpServer fake;
    std::mutex mutex;
    QStringList bodies;
    fake.server().Post("/products/skarvel/scripts/make_list.php",
                       [&](const httplib::Request& req, httplib::Response& res) {
                           {
                               std::lock_guard lock(mutex);
                               bodies << QString::fromStdString(req.body);
                           }
                           if (req.body == "list=http://x/one")
                               res.set_content("http://r/1\nhttp://r/2\n", "text/plain");
                           else if (req.body == "list=  http://x/a&b=c")
                               res.set_content(std::string("http://r/3\0http://hidden/\n", 26), "text/plain");
                           else if (req.body == "list=http://x/fail") {
                               res.status = 500;
                               res.set_content("http://error/\n", "text/plain");
                           } else if (req.body == "list=http://x/last")
                               res.set_content("http://r/4\n", "text/plain");
                           else
                               res.set_content("", "text/plain");
                       });
    fake.start();

    GuiFixture f;
    {
        ServiceHostOverride host("127.0.0.1:" + QString::number(fake.port()));
        f.start();
    }
    TForm1* form = f.form.get();

    // A blank line is sent too; blanks are cut from the end of the whole body only (its start is
    // "list="); "&" and "=" travel as typed.
    test::Source_Links(form)->setPlainText(
        "http://x/one\n\n  http://x/a&b=c \t\nhttp://x/fail\nhttp://x/last");
    test::Press(form, "BitBtn6");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::Make_URLs_List)->Suspended(), kJobWaitMs);
    {
        std::lock_guard lock(mutex);
        // Several are in flight at once, so they may arrive in any order.
        QStringList sorted = bodies;
        sorted.sort();
        QCOMPARE(sorted, (QStringList{"list=", "list=  http://x/a&b=c", "list=http://x/fail",
                                      "list=http://x/last", "list=http://x/one"}));
    }
    // The answer cut at its zero byte has no line break, so the next answer runs on in its line;
    // the failed call adds nothing.
    QCOMPARE(test::URLs_List(form)->toPlainText(), QString("http://r/1\nhttp://r/2\nhttp://r/3http://r/4\n"));
    QVERIFY(test::ProgressBar(form, 3)->isHidden());

    // Only blank lines: each one is still sent.
    {
        std::lock_guard lock(mutex);
        bodies.clear();
    }
    test::Source_Links(form)->setPlainText("\n\n");
    test::Press(form, "BitBtn6");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::Make_URLs_List)->Suspended(), kJobWaitMs);
    {
        std::lock_guard lock(mutex);
        QCOMPARE(bodies, (QStringList{"list=", "list="}));
    }
    QCOMPARE(test::URLs_List(form)->toPlainText(), QString());
    QVERIFY(f.answers.messages.isEmpty());
}

void ListsFilesTest::urlListBuilderAsksForSourceLinks() {
    GuiFixture f;
    TForm1* form = f.start();
    test::URLs_List(form)->setPlainText("http://stays.example/not");
    test::Source_Links(form)->clear();
    test::Press(form, "BitBtn6");
    QCOMPARE(f.answers.messages, QStringList{"Enter source link(s) please"});
    QVERIFY(test::URLs_List(form)->toPlainText().isEmpty());
    QVERIFY(test::CurrentJob(form, JobId::Make_URLs_List)->Suspended());
    QVERIFY(test::ProgressBar(form, 3)->isHidden());
}

// ---------------------------------------------------------------- URL list tools

void ListsFilesTest::extractLastUrlWorksLineByLine() {
    GuiFixture f;
    TForm1* form = f.start();
    const QStringList before = {
        "see http://example.com/page",
        "",
        "https://only.example/x",
        "caps HTTPS://UPPER.EXAMPLE/A",
        "a http://first.example/ and http://second.ex/ tail",
        "short http://a.b",
        "no address at all",
    };
    test::URLs_List(form)->setPlainText(before.join('\n') + '\n');
    action(form, "ExtractlastURLinline1")->trigger();
    QCOMPARE(test::Lines(test::URLs_List(form)), (QStringList{
                                                     "http://example.com/page",
                                                     "",
                                                     "https://only.example/x",
                                                     "HTTPS://UPPER.EXAMPLE/A",
                                                     "http://second.ex/ tail",
                                                     "short http://a.b",
                                                     "no address at all",
                                                 }));
    QVERIFY(test::URLs_List(form)->toPlainText().endsWith('\n'));

    // One step of Undo gives the lines back.
    test::URLs_List(form)->undo();
    QCOMPARE(test::Lines(test::URLs_List(form)), before);
}

void ListsFilesTest::filterDialogAppliesAndStaysOpen() {
    GuiFixture f;
    TForm1* form = f.start();
    test::URLs_List(form)->setPlainText(
        "http://a/one.jpg\n\nhttp://b/THUMB_two.JPG\nhttp://c/x.png\nhttp://d/photojpgs/\n");

    bool checked = false;
    test::WhenModalShows([&](QWidget* modal) {
        auto* dialog = qobject_cast<TForm36*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("URLs filter"));
        QCOMPARE(dialog->findChild<QLabel*>("Label1")->text(), QString("Contains"));
        QCOMPARE(dialog->findChild<QLabel*>("Label2")->text(), QString("Not contains"));
        QCOMPARE(dialog->findChild<QPushButton*>("BitBtn1")->text(), QString("Apply"));
        QCOMPARE(dialog->findChild<QPushButton*>("BitBtn3")->text(), QString("Close"));

        dialog->findChild<QLineEdit*>("Edit1")->setText("jpg");
        click(dialog, "BitBtn1");
        QCOMPARE(test::URLs_List(form)->toPlainText(),
                 QString("http://a/one.jpg\nhttp://b/THUMB_two.JPG\nhttp://d/photojpgs/\n"));
        QVERIFY(dialog->isVisible());

        dialog->findChild<QLineEdit*>("Edit2")->setText("thumb");
        click(dialog, "BitBtn1");
        QCOMPARE(test::URLs_List(form)->toPlainText(), QString("http://a/one.jpg\nhttp://d/photojpgs/\n"));
        QVERIFY(dialog->isVisible());

        click(dialog, "BitBtn3");
        QVERIFY(!dialog->isVisible());
        checked = true;
    });
    action(form, "Filter1")->trigger();
    QVERIFY(checked);

    // The fields keep their text; on an empty list the filter leaves it empty.
    test::URLs_List(form)->clear();
    checked = false;
    test::WhenModalShows([&](QWidget* modal) {
        auto* dialog = qobject_cast<TForm36*>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QLineEdit*>("Edit1")->text(), QString("jpg"));
        QCOMPARE(dialog->findChild<QLineEdit*>("Edit2")->text(), QString("thumb"));
        click(dialog, "BitBtn1");
        QVERIFY(test::URLs_List(form)->toPlainText().isEmpty());
        checked = true;
    });
    action(form, "Filter1")->trigger();
    QVERIFY(checked);
}

void ListsFilesTest::clipboardCopyPasteAndClear() {
    GuiFixture f;
    TForm1* form = f.start();
    QClipboard* clipboard = QGuiApplication::clipboard();
    test::URLs_List(form)->setPlainText("http://a/1\nhttp://a/2");

    action(form, "Selectall1")->trigger();
    QCOMPARE(clipboard->text(), QString("http://a/1\nhttp://a/2"));
    const QTextCursor selection = test::URLs_List(form)->textCursor();
    QCOMPARE(selection.selectionStart(), 0);
    QCOMPARE(selection.selectionEnd(), test::URLs_List(form)->document()->characterCount() - 1);

    // Paste replaces the selection at the caret.
    clipboard->setText("X\nY");
    QTextCursor part = test::URLs_List(form)->textCursor();
    part.setPosition(7);
    part.setPosition(10, QTextCursor::KeepAnchor); // "a/1"
    test::URLs_List(form)->setTextCursor(part);
    action(form, "PastefromClipboard1")->trigger();
    QCOMPARE(test::URLs_List(form)->toPlainText(), QString("http://X\nY\nhttp://a/2"));

    action(form, "Clear1")->trigger();
    QVERIFY(test::URLs_List(form)->toPlainText().isEmpty());
    QCOMPARE(test::Lines(test::URLs_List(form)).size(), 0);
}

// ---------------------------------------------------------------- file download

void ListsFilesTest::extensionComesFromTheContentType_data() {
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("extension");
    QTest::newRow("everything after the slash") << "application/pdf"
                                                << ".pdf";
    QTest::newRow("lower case") << "Text/HTML"
                                << ".html";
    QTest::newRow("only the first slash counts") << "application/vnd.x/y"
                                                 << ".vnd.x/y";
    QTest::newRow("no slash: the whole type") << "weird"
                                              << ".weird";
    QTest::newRow("no content type: a lone dot") << ""
                                                 << ".";
}

void ListsFilesTest::extensionComesFromTheContentType() {
    QFETCH(QString, contentType);
    QFETCH(QString, extension);
    QCOMPARE(FilesDownload::ExtensionForContentType(contentType), extension);
}

void ListsFilesTest::filesAreNamedByServerOrAddressOrRow() {
    const std::string pdf(5000, 'P');
    LocalHttpServer server;
    auto& s = server.server();
    s.Get("/files/report.pdf",
          [&](const httplib::Request&, httplib::Response& res) { res.set_content(pdf, "application/pdf"); });
    s.Get("/get.php",
          [](const httplib::Request&, httplib::Response& res) { res.set_content("ZIP", "Application/ZIP"); });
    auto named = [&](const char* path, const char* disposition, const char* type) {
        s.Get(path, [disposition, type](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Disposition", disposition);
            res.set_content("named", type);
        });
    };
    named("/cd/plain", "attachment; filename=a.txt", "text/plain");
    named("/cd/quoted", "attachment; filename=\"b c.txt\"; size=5", "text/plain");
    named("/cd/star", "attachment; filename*=UTF-8''%C3%A9t%C3%A9.txt; filename=\"plain.txt\"", "text/plain");
    named("/cd/escape", "attachment; filename=\"../../evil.txt\"", "text/plain");
    named("/cd/nothing", "attachment; filename=\"../\"", "text/plain; charset=utf-8");
    s.Get("/dir/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html></html>", "text/html; charset=utf-8");
    });
    s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream",
                                         [](size_t offset, httplib::DataSink& sink) {
                                             if (offset < 2000)
                                                 sink.write(std::string(1000, 'c').data(), 1000);
                                             else
                                                 sink.done();
                                             return true;
                                         });
    });
    s.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/files/caf%C3%A9%20menu.txt");
    });
    s.Get("/files/caf.*",
          [](const httplib::Request&, httplib::Response& res) { res.set_content("menu", "text/plain"); });
    s.Get("/hostile",
          [](const httplib::Request&, httplib::Response& res) { res.set_content("up", "x/../../up"); });
    server.start();
    const QString base = server.baseUrl();

    GuiFixture f;
    TForm1* form = f.start();
    const QString folder = f.tempDir.path() + "/one/two/dl";
    QVERIFY(QDir().mkpath(folder));
    const QStringList urls = {
        base + "/files/report.pdf", base + "/get.php?id=7&x=1", base + "/cd/plain",   base + "/cd/quoted",
        base + "/cd/star",          base + "/cd/escape",        base + "/cd/nothing", base + "/dir/",
        base + "/chunked",          base + "/missing",          base + "/moved",      base + "/hostile?x",
    };
    test::URLs_List(form)->setPlainText(urls.join('\n'));
    f.answers.directories.push_back(folder);
    test::Press(form, "BitBtn7");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::FilesDownload)->Suspended(), kJobWaitMs);
    const QString dl = QDir::toNativeSeparators(folder) + QDir::separator();
    QCOMPARE(fileChooserStart(form, f.answers), dl);

    struct Expected {
        const char* status;
        QString file;
        const char* size;
    };
    const Expected expected[] = {
        {"OK", "report.pdf", "5000"}, {"OK", "2.zip", "3"},
        {"OK", "a.txt", "5"},         {"OK", "b c.txt", "5"},
        {"OK", "été.txt", "5"},       {"OK", "evil.txt", "5"},
        {"OK", "7.plain", "5"},       {"OK", "8.html", "13"},
        {"Broken", "", ""},           {"Error", "", ""},
        {"OK", "café menu.txt", "4"}, {"OK", "12..._.._up", "2"},
    };
    QCOMPARE(test::fileTable(form)->gridRowCount(), int(urls.size()) + 1);
    for (int i = 0; i < int(urls.size()); ++i) {
        const Expected& e = expected[i];
        const QString row = QString::number(i + 1);
        const QString path = e.file.isEmpty() ? QString() : dl + e.file;
        QCOMPARE(tableRow(test::fileTable(form), i + 1), (QStringList{row, e.status, urls[i], path, e.size}));
    }
    QCOMPARE(folderEntries(folder),
             (QStringList{"12..._.._up", "2.zip", "7.plain", "8.html", "a.txt", "b c.txt", "café menu.txt",
                          "evil.txt", "report.pdf", "été.txt"}));
    QCOMPARE(test::readFile(dl + "report.pdf"), QByteArray::fromStdString(pdf));
    QCOMPARE(test::readFile(dl + "café menu.txt"), QByteArray("menu"));
    // Nothing outside the chosen folder.
    QCOMPARE(folderEntries(f.tempDir.path() + "/one"), QStringList{"two"});
    QCOMPARE(folderEntries(f.tempDir.path() + "/one/two"), QStringList{"dl"});

    QVERIFY(test::ProgressBar(form, 2)->isHidden());
    QCOMPARE(test::ProgressBar(form, 2)->maximum(), int(urls.size()));
    QCOMPARE(test::ProgressBar(form, 2)->value(), int(urls.size()) - 1);
    QVERIFY(f.answers.messages.isEmpty());
}

void ListsFilesTest::aFileThatCannotBeWrittenIsAnError() {
    LocalHttpServer server;
    server.server().Get("/files/report.pdf", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("PDF", "application/pdf");
    });
    server.server().Get("/files/other.pdf", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("OTHER", "application/pdf");
    });
    server.start();

    GuiFixture f;
    TForm1* form = f.start();
    // A folder of that name stands where the file should go.
    const QString folder = f.tempDir.path() + "/dl/";
    QVERIFY(QDir().mkpath(folder + "report.pdf"));
    test::URLs_List(form)->setPlainText(server.baseUrl() + "/files/report.pdf\n" + server.baseUrl() +
                                        "/files/other.pdf\n");
    f.answers.directories.push_back(folder);
    test::Press(form, "BitBtn7");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::FilesDownload)->Suspended(), kJobWaitMs);
    const QString dl = QDir::toNativeSeparators(folder);
    QCOMPARE(fileChooserStart(form, f.answers), dl);

    QCOMPARE(tableRow(test::fileTable(form), 1),
             (QStringList{"1", "Error", server.baseUrl() + "/files/report.pdf", "", ""}));
    QCOMPARE(tableRow(test::fileTable(form), 2),
             (QStringList{"2", "OK", server.baseUrl() + "/files/other.pdf", dl + "other.pdf", "5"}));
    QVERIFY(QFileInfo(folder + "report.pdf").isDir());
}

void ListsFilesTest::anEmptyUrlListLeavesOneBlankRowAndAsksNothing() {
    GuiFixture f;
    TForm1* form = f.start();
    test::fileTable(form)->setGridRowCount(4);
    for (int r = 1; r <= 3; ++r)
        test::fileTable(form)->setRow(
            r, {QString::number(r), "OK", "http://h/" + QString::number(r), "/x", "1"});
    test::URLs_List(form)->clear();
    f.answers.directories.push_back(f.tempDir.path());

    test::Press(form, "BitBtn7");
    QCOMPARE(test::fileTable(form)->gridRowCount(), 2);
    QCOMPARE(tableRow(test::fileTable(form), 1), QStringList(5, QString()));
    QCOMPARE(f.answers.directories.size(), size_t(1)); // the chooser was not asked
    QVERIFY(test::CurrentJob(form, JobId::FilesDownload)->Suspended());
    QVERIFY(test::ProgressBar(form, 2)->isHidden());
    f.answers.directories.clear();
    QCOMPARE(fileChooserStart(form, f.answers), QString());
}

void ListsFilesTest::aCancelledChooserLeavesTheTableAlone() {
    LocalHttpServer server;
    server.server().Get("/files/a.bin", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("A", "application/octet-stream");
    });
    server.start();

    GuiFixture f;
    TForm1* form = f.start();
    test::fileTable(form)->setGridRowCount(3);
    test::fileTable(form)->setRow(1, {"1", "OK", "http://h/1", "/saved/1", "10"});
    test::fileTable(form)->setRow(2, {"2", "Broken", "http://h/2", "", ""});
    test::URLs_List(form)->setPlainText(server.baseUrl() + "/files/a.bin");
    f.answers.directories.push_back(std::nullopt);

    test::Press(form, "BitBtn7");
    QCOMPARE(test::fileTable(form)->gridRowCount(), 3);
    QCOMPARE(tableRow(test::fileTable(form), 1), (QStringList{"1", "OK", "http://h/1", "/saved/1", "10"}));
    QCOMPARE(tableRow(test::fileTable(form), 2), (QStringList{"2", "Broken", "http://h/2", "", ""}));
    QVERIFY(
        test::CurrentJob(form, JobId::FilesDownload)->Suspended()); // Resume would have cleared it at once
    QCOMPARE(fileChooserStart(form, f.answers), QString());
}

// ---------------------------------------------------------------- teardown

void ListsFilesTest::closingTheWindowEndsRunningJobs() {
    // Both the service and the file server hold their answer until the test lets them go.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    bool heldTooLong = false;
    auto hold = [&](httplib::Response& res) {
        std::unique_lock lock(mutex);
        if (!released.wait_for(lock, std::chrono::seconds(60), [&] { return release; }))
            heldTooLong = true;
        res.set_content("http://late/\n", "text/plain");
    };
    LocalHttpServer server;
    server.server().Post("/products/skarvel/scripts/make_list.php",
                         [&](const httplib::Request&, httplib::Response& res) { hold(res); });
    server.server().Get("/slow", [&](const httplib::Request&, httplib::Response& res) { hold(res); });
    server.start();

    {
        GuiFixture f;
        {
            ServiceHostOverride host("127.0.0.1:" + QString::number(server.port()));
            f.start();
        }
        TForm1* form = f.form.get();
        test::Source_Links(form)->setPlainText("http://x/one\nhttp://x/two");
        test::URLs_List(form)->setPlainText(server.baseUrl() + "/slow\n" + server.baseUrl() + "/slow");
        f.answers.directories.push_back(f.tempDir.path());
        test::Press(form, "BitBtn7");
        test::Press(form, "BitBtn6");
        // Both rows and both links are in flight at once.
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount("/slow") == 2, kJobWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount("/products/skarvel/scripts/make_list.php") == 2,
                                 kJobWaitMs);
        QVERIFY(!test::CurrentJob(form, JobId::FilesDownload)->Suspended());
        QVERIFY(!test::CurrentJob(form, JobId::Make_URLs_List)->Suspended());
        f.form.reset(); // must cut both requests short instead of waiting for the answers
    }
    {
        std::lock_guard lock(mutex);
        QVERIFY(!heldTooLong);
        release = true;
    }
    released.notify_all();
}

QTEST_MAIN(ListsFilesTest)
#include "test_lists_files.moc"
