// The "Get text" tab driven as a user would, offscreen, against a local web site:
// the download, the preview memo, "Text selection" and "Text preview".
#include "jobs/text_jobs.h"
#include "gui/dialogs/text_preview_dialog.h"
#include "gui/dialogs/text_selection_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <map>
#include <string>

using namespace skarvel;
using skarvel::test::GuiFixture;

namespace {

const int kTextTab = 5;

// Byte strings of the served pages. The legacy pages are written out byte by
// byte so that the test does not lean on the decoder it checks.
const QByteArray kUtf8Page = QStringLiteral(u"<html><head><title>Café du Monde</title></head>\n<body>\n"
                                            u"<h1>Übersicht</h1>\n<p>Grüße aus Köln,\u00A0am Rhein</p>\n\n"
                                            u"</body></html>\n")
                                 .toUtf8();
const QByteArray kCp1251Page = QByteArray("<html><head><meta charset=\"windows-1251\"><title>"
                                          "\xCD\xEE\xE2\xEE\xF1\xF2\xE8" // Новости
                                          "</title></head>\r\n<body>\r\n<h1>"
                                          "\xCF\xF0\xE8\xE2\xE5\xF2" // Привет
                                          "</h1>\r\n<p>"
                                          "\xEC\xE8\xF0" // мир
                                          "</p>\r\n</body></html>");
const QByteArray kShiftJisPage = QByteArray(
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"><title>"
    "\x83\x6A\x83\x85\x81\x5B\x83\x58" // ニュース
    "</title></head>\n<body>\n<h1>"
    "\x93\xFA\x96\x7B\x8C\xEA" // 日本語
    "</h1>\n<p>"
    "\x83\x5C\x83\x74\x83\x67" // ソフト: the trail byte of ソ is a backslash
    "</p>\n</body></html>\n");
const QByteArray kUnknownCharsetPage =
    QStringLiteral(u"<html><head><meta charset=\"x-unheard-of\"><title>Grüße"
                   u"</title></head>\n<body>\n<h1>Straße</h1>\n</body></html>\n")
        .toUtf8();

// What each page reads as, with the memo's "\n" line breaks.
const QString kUtf8Text = QString::fromUtf8(kUtf8Page);
const QString kCp1251Text =
    QStringLiteral(u"<html><head><meta charset=\"windows-1251\"><title>Новости</title></head>\n"
                   u"<body>\n<h1>Привет</h1>\n<p>мир</p>\n</body></html>");
const QString kShiftJisText = QStringLiteral(
    u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
    u"<title>ニュース</title></head>\n<body>\n<h1>日本語</h1>\n<p>ソフト</p>\n</body></html>\n");
const QString kUnknownCharsetText = QString::fromUtf8(kUnknownCharsetPage);

// The site: four pages; every other path answers 404.
class TextSite {
public:
    TextSite() {
        serve("/utf8.html", kUtf8Page, "text/html");
        serve("/cp1251.html", kCp1251Page, "text/html; charset=windows-1251");
        serve("/sjis.html", kShiftJisPage, "text/html");
        serve("/unknown.html", kUnknownCharsetPage, "text/html");
        server.start();
    }
    QString url(const char* path) const { return server.baseUrl() + QString::fromLatin1(path); }

    test::LocalHttpServer server;

private:
    void serve(const char* path, const QByteArray& bytes, const char* type) {
        const std::string body = bytes.toStdString();
        const std::string contentType = type;
        server.server().Get(path, [body, contentType](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, contentType.c_str());
        });
    }
};

QString textFile(GuiFixture& f, int row) {
    return f.workFolder() + "Text" + QDir::separator() + QString::number(row) + ".txt";
}

// "Download texts" on the text tab, then the end of the run.
bool downloadTexts(TForm1* form, const QString& urls) {
    test::PageControl1(form)->setCurrentIndex(kTextTab);
    test::URLs_List(form)->setPlainText(urls);
    test::Press(form, "BitBtn12");
    return QTest::qWaitFor([form] { return test::CurrentJob(form, JobId::TextPagesDownload)->Suspended(); },
                           test::kWaitMs);
}

// Six rows: a UTF-8 page without BOM or declaration, a 404, windows-1251, a UTF-8
// page whose file cannot be written, a page declaring an unknown charset, Shift_JIS.
QString siteUrls(const TextSite& site) {
    return QStringList{site.url("/utf8.html"), site.url("/gone.html"),    site.url("/cp1251.html"),
                       site.url("/utf8.html"), site.url("/unknown.html"), site.url("/sjis.html")}
        .join('\n');
}
const std::map<int, QByteArray> kSitePages = {
    {1, kUtf8Page}, {3, kCp1251Page}, {5, kUnknownCharsetPage}, {6, kShiftJisPage}};
const std::map<int, QString> kSiteTexts = {
    {1, kUtf8Text}, {3, kCp1251Text}, {5, kUnknownCharsetText}, {6, kShiftJisText}};

// Blocks the file of a row: a folder of that name cannot be written as a file.
void blockTextFile(GuiFixture& f, int row) {
    QVERIFY(QDir().mkpath(textFile(f, row)));
}

void clickRow(QTableView* grid, int row) {
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, 2));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

// Runs act on the modal Dialog that trigger opens, then closes it; false when
// none opened or it never became the active window. The polling timer ends with
// this call, so a failed attempt leaves nothing behind for the next dialog.
template <class Dialog>
bool withModal(const std::function<void()>& trigger, const std::function<void(Dialog*)>& act) {
    bool shown = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll.stop();
        // Keys and focus changes need the dialog to be the active window.
        shown = QTest::qWaitFor([dialog] { return QApplication::activeWindow() == dialog; }, test::kWaitMs);
        if (shown)
            act(dialog);
        if (dialog->isVisible())
            dialog->close();
    });
    poll.start();
    trigger();
    return shown;
}

// Opens "Text selection" with Ctrl+D on the text tab and runs act while it is up.
bool withTextSelection(TForm1* form, const std::function<void(TForm30*)>& act) {
    test::PageControl1(form)->setCurrentIndex(kTextTab);
    if (!test::ActivateWindowOf(form))
        return false;
    return withModal<TForm30>([form] { QTest::keySequence(form, QKeySequence(QStringLiteral("Ctrl+D"))); },
                              act);
}

// "Preview" of the selection dialog; act runs while the preview window is up.
bool withPreview(TForm30* dialog, const std::function<void(TForm37*)>& act) {
    return withModal<TForm37>([dialog] { QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton); }, act);
}

using Rows = QList<QPair<QString, QString>>;

void setGridRows(QTableWidget* grid, const Rows& rows) {
    grid->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        grid->setItem(r, 0, new QTableWidgetItem(rows[r].first));
        grid->setItem(r, 1, new QTableWidgetItem(rows[r].second));
    }
}

Rows gridRows(const QTableWidget* grid) {
    Rows rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        const QTableWidgetItem* from = grid->item(r, 0);
        const QTableWidgetItem* to = grid->item(r, 1);
        rows.append({from ? from->text() : QString(), to ? to->text() : QString()});
    }
    return rows;
}

void chooseEmptyLines(TForm30* dialog, const QString& caption) {
    for (QAbstractButton* option : dialog->RadioGroup1Items->buttons())
        if (option->text() == caption)
            option->setChecked(true);
}

// A rewritten page: the UTF-8 byte-order mark, then the text with CR LF line breaks.
QByteArray rewritten(const QString& text) {
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace

class TextTabTest : public QObject {
    Q_OBJECT
private slots:
    void downloadSavesPagesByteForByteAndThePreviewReadsTheirCharset();
    void emptyUrlListGivesOneFailedRow();
    void applySelectionRewritesPagesAsUtf8AndFillsHeaders();
    void applyStopsAtAFileThatCannotBeWritten();
    void dialogControlsReachThePreview_data();
    void dialogControlsReachThePreview();
    void previewStepsThroughTheRows();
    void replacementGridIsTidiedAndDefaultsReset();
};

void TextTabTest::downloadSavesPagesByteForByteAndThePreviewReadsTheirCharset() {
    TextSite site;
    GuiFixture f;
    TForm1* form = f.start();
    blockTextFile(f, 4);
    test::Memo_Texts(form)->setText("left over");
    test::textTable(form)->setGridRowCount(9);
    test::textTable(form)->setCell(col::Header, 1, "old header");

    QVERIFY(downloadTexts(form, siteUrls(site)));
    QCOMPARE(test::Memo_Texts(form)->text(), QString());
    QCOMPARE(test::textTable(form)->gridRowCount(), 7);
    QVERIFY(test::ProgressBar(form, 6)->isHidden());
    QCOMPARE(test::ProgressBar(form, 6)->maximum(), 6);
    QCOMPARE(test::ProgressBar(form, 6)->value(), 6);

    const QStringList urls = siteUrls(site).split('\n');
    for (int row = 1; row <= 6; ++row) {
        const QString where = QStringLiteral("row %1").arg(row);
        QCOMPARE(test::textTable(form)->cell(col::Number, row), QString::number(row));
        QCOMPARE(test::textTable(form)->cell(col::Url, row), urls[row - 1]);
        QCOMPARE(test::textTable(form)->cell(col::Header, row), QString());
        const auto page = kSitePages.find(row);
        if (page == kSitePages.end()) {
            // The 404 and the file that could not be written.
            QVERIFY2(test::textTable(form)->cell(col::Status, row) == kStatusDownloadError,
                     qPrintable(where));
            QVERIFY2(test::textTable(form)->cell(col::LocalPath, row).isEmpty(), qPrintable(where));
            QVERIFY2(test::textTable(form)->cell(col::TextSize, row).isEmpty(), qPrintable(where));
            continue;
        }
        QVERIFY2(test::textTable(form)->cell(col::Status, row) == kStatusOK, qPrintable(where));
        QCOMPARE(test::textTable(form)->cell(col::LocalPath, row), textFile(f, row));
        QCOMPARE(test::textTable(form)->cell(col::TextSize, row), QString::number(page->second.size()));
        QCOMPARE(test::readFile(textFile(f, row)), page->second);
    }
    QVERIFY(!QFile::exists(textFile(f, 2)));
    QVERIFY(QFileInfo(textFile(f, 4)).isDir());

    // A click on a row shows its page in the charset it declares (UTF-8 when it
    // declares none or one this system does not know); rows without a file show nothing.
    for (int row : {3, 1, 2, 6, 4, 5}) {
        test::Memo_Text_Preview(form)->setPlainText("typed by hand");
        clickRow(test::StringGrid5(form), row);
        QCOMPARE(test::CurrentRow(test::StringGrid5(form)), row);
        const auto text = kSiteTexts.find(row);
        // toPlainText shows a no-break space as a plain space.
        const QString expected =
            text == kSiteTexts.end() ? QString() : QString(text->second).replace(QChar(0xA0), ' ');
        QCOMPARE(test::Memo_Text_Preview(form)->toPlainText(), expected);
    }
}

void TextTabTest::emptyUrlListGivesOneFailedRow() {
    GuiFixture f;
    TForm1* form = f.start();
    test::textTable(form)->setGridRowCount(4);
    test::textTable(form)->setRow(1, {"1", "OK", "http://old", "/x/1.txt", "5", "n", "o", "h"});

    QVERIFY(downloadTexts(form, QString()));
    QCOMPARE(test::textTable(form)->gridRowCount(), 2);
    QCOMPARE(test::textTable(form)->cell(col::Status, 1), kStatusDownloadError);
    for (int column : {col::Number, col::Url, col::LocalPath, col::TextSize, col::TextExportName,
                       col::TextOriginalName, col::Header})
        QCOMPARE(test::textTable(form)->cell(column, 1), QString());
    QVERIFY(test::ProgressBar(form, 6)->isHidden());
    QCOMPARE(test::ProgressBar(form, 6)->maximum(), 1);
}

void TextTabTest::applySelectionRewritesPagesAsUtf8AndFillsHeaders() {
    TextSite site;
    GuiFixture f;
    TForm1* form = f.start();
    blockTextFile(f, 4);
    QVERIFY(downloadTexts(form, siteUrls(site)));

    // First the preview of rows 1 and 6, then "Apply selection" with the same rules.
    QString previewFirst, previewFirstHeader, previewLast, previewLastHeader;
    bool previewShown = false;
    QVERIFY(withTextSelection(form, [&](TForm30* d) {
        d->Memo1->setPlainText("<body>");
        d->Memo2->setPlainText("</body>");
        d->Memo3->setPlainText("<title>");
        d->Memo4->setPlainText("</title>");
        d->CheckBox3->setChecked(true);
        chooseEmptyLines(d, "All");
        previewShown = withPreview(d, [&](TForm37* p) {
            QTest::mouseClick(p->BitBtn1, Qt::LeftButton);
            previewFirst = p->Memo1->toPlainText();
            previewFirstHeader = p->Edit1->text();
            QTest::mouseClick(p->BitBtn4, Qt::LeftButton);
            previewLast = p->Memo1->toPlainText();
            previewLastHeader = p->Edit1->text();
        });
        QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
        QVERIFY(d->isVisible()); // the dialog stays open
    }));
    QVERIFY(previewShown);

    const std::map<int, std::pair<QString, QString>> cleaned = {
        {1,
         {QStringLiteral(u"Übersicht\r\nGrüße aus Köln,\u00A0am Rhein\r\n"),
          QStringLiteral(u"Café du Monde")}},
        {3, {QStringLiteral(u"Привет\r\nмир\r\n"), QStringLiteral(u"Новости")}},
        {5, {QStringLiteral(u"Straße\r\n"), QStringLiteral(u"Grüße")}},
        {6, {QStringLiteral(u"日本語\r\nソフト\r\n"), QStringLiteral(u"ニュース")}}};
    for (const auto& [row, result] : cleaned) {
        QCOMPARE(test::readFile(textFile(f, row)), rewritten(result.first));
        QCOMPARE(test::textTable(form)->cell(col::Header, row), result.second);
    }
    // Rows without a file get an empty header, nothing is written for them, and the rows after them go on.
    QCOMPARE(test::textTable(form)->cell(col::Header, 2), QString());
    QCOMPARE(test::textTable(form)->cell(col::Header, 4), QString());
    QVERIFY(!QFile::exists(textFile(f, 2)));
    QVERIFY(QFileInfo(textFile(f, 4)).isDir());
    // The memo ends on the last row's cleaned text, and that row stays current.
    QCOMPARE(test::CurrentRow(test::StringGrid5(form)), 6);
    QCOMPARE(test::Memo_Text_Preview(form)->toPlainText(), QStringLiteral(u"日本語\nソフト\n"));
    // The preview showed what "Apply selection" wrote.
    QCOMPARE(previewFirst, QString(cleaned.at(1).first).replace("\r\n", "\n").replace(QChar(0xA0), ' '));
    QCOMPARE(previewFirstHeader, cleaned.at(1).second);
    QCOMPARE(previewLast, QString(cleaned.at(6).first).replace("\r\n", "\n"));
    QCOMPARE(previewLastHeader, cleaned.at(6).second);
    // The rewritten files are read back as UTF-8.
    clickRow(test::StringGrid5(form), 3);
    QCOMPARE(test::Memo_Text_Preview(form)->toPlainText(), QStringLiteral(u"Привет\nмир\n"));

    // Applying again finds no markers in the cleaned texts: every text and header becomes empty.
    QVERIFY(withTextSelection(form, [&](TForm30* d) { QTest::mouseClick(d->BitBtn1, Qt::LeftButton); }));
    for (int row : {1, 3, 5, 6}) {
        QCOMPARE(test::readFile(textFile(f, row)), rewritten(QString()));
        QCOMPARE(test::textTable(form)->cell(col::Header, row), QString());
    }

    // A second download replaces the rewritten files with the pages again.
    QVERIFY(downloadTexts(form, siteUrls(site)));
    for (const auto& [row, page] : kSitePages)
        QCOMPARE(test::readFile(textFile(f, row)), page);

    // Header markers that stay inside the cleaned text give the same header on a second Apply,
    // while the text, whose markers were cut away, becomes empty.
    for (int round = 1; round <= 2; ++round) {
        QVERIFY(withTextSelection(form, [&](TForm30* d) {
            d->Memo3->setPlainText("<h1>");
            d->Memo4->setPlainText("</h1>");
            d->CheckBox3->setChecked(false);
            chooseEmptyLines(d, "No");
            QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
        }));
        const QString round1Text = QStringLiteral(u"\r\n<h1>Привет</h1>\r\n<p>мир</p>\r\n");
        QCOMPARE(test::readFile(textFile(f, 3)), rewritten(round == 1 ? round1Text : QString()));
        QCOMPARE(test::textTable(form)->cell(col::Header, 1), QStringLiteral(u"Übersicht"));
        QCOMPARE(test::textTable(form)->cell(col::Header, 3), QStringLiteral(u"Привет"));
        QCOMPARE(test::textTable(form)->cell(col::Header, 5), QStringLiteral(u"Straße"));
        QCOMPARE(test::textTable(form)->cell(col::Header, 6), QStringLiteral(u"日本語"));
    }
}

void TextTabTest::applyStopsAtAFileThatCannotBeWritten() {
    GuiFixture f;
    TForm1* form = f.start();
    const QByteArray page = "<title>Kept</title>";
    test::textTable(form)->setGridRowCount(3);
    const QString folder = f.workFolder() + "Text" + QDir::separator() + "folder.txt";
    QVERIFY(QDir().mkpath(folder));
    test::textTable(form)->setRow(1, {"1", "OK", "http://x", folder});
    test::writeFile(textFile(f, 2), page);
    test::textTable(form)->setRow(2, {"2", "OK", "http://x", textFile(f, 2)});

    QVERIFY(withTextSelection(form, [&](TForm30* d) {
        d->Memo3->setPlainText("<title>");
        d->Memo4->setPlainText("</title>");
        QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    }));
    QCOMPARE(f.answers.messages.size(), 1);
    QVERIFY2(f.answers.messages[0].startsWith("Cannot write " + folder), qPrintable(f.answers.messages[0]));
    QCOMPARE(test::CurrentRow(test::StringGrid5(form)), 1);
    QCOMPARE(test::readFile(textFile(f, 2)), page);
    QCOMPARE(test::textTable(form)->cell(col::Header, 2), QString());
}

void TextTabTest::dialogControlsReachThePreview_data() {
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("includeBegin");
    QTest::addColumn<bool>("includeEnd");
    QTest::addColumn<Rows>("replacements");
    QTest::addColumn<bool>("stripTags");
    QTest::addColumn<QString>("deleteLines");
    QTest::addColumn<QString>("emptyLines");
    QTest::addColumn<QString>("headerBegin");
    QTest::addColumn<QString>("headerEnd");
    QTest::addColumn<bool>("includeHeaderBegin");
    QTest::addColumn<bool>("includeHeaderEnd");
    QTest::addColumn<bool>("stripHeaderTags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("header");

    const Rows none;
    QTest::newRow("Block between markers, header markers missing")
        << "<body>"
        << "</body>" << false << false << none << false << ""
        << "No"
        << "<title>"
        << "</nope>" << false << false << false << "\n<p>Alpha ADVERT</p>\n\n\n<p>Beta</p>\n"
        << "";
    QTest::newRow("Both markers included")
        << "<body>"
        << "</body>" << true << true << none << false << ""
        << "No"
        << ""
        << "" << false << false << false << "<body>\n<p>Alpha ADVERT</p>\n\n\n<p>Beta</p>\n</body>"
        << "";
    QTest::newRow("A marker typed on two lines matches a line break")
        << "</head>\n<body>"
        << "" << false << false << none << false << ""
        << "No"
        << ""
        << "" << false << false << false << "\n<p>Alpha ADVERT</p>\n\n\n<p>Beta</p>\n</body></html>"
        << "";
    QTest::newRow("Replacements act in order")
        << "<p>"
        << "</p>" << false << false << Rows{{"Alpha", "Beta"}, {"Beta", "Gamma"}, {"", ""}} << false << ""
        << "No"
        << ""
        << "" << false << false << false << "Gamma ADVERT"
        << "";
    QTest::newRow("A blank first replacement row switches them all off")
        << "<p>"
        << "</p>" << false << false << Rows{{"", ""}, {"Alpha", "Omega"}} << false << ""
        << "No"
        << ""
        << "" << false << false << false << "Alpha ADVERT"
        << "";
    QTest::newRow("Tags stripped, lines deleted without regard to case, all empty lines gone")
        << "<body>"
        << "</body>" << false << false << none << true << "zzz\nadvert"
        << "All"
        << ""
        << "" << false << false << false << "Beta\n"
        << "";
    QTest::newRow("Runs of empty lines cut to one")
        << "<body>"
        << "</body>" << false << false << none << true << ""
        << "Double and more"
        << ""
        << "" << false << false << false << "Alpha ADVERT\n\nBeta\n"
        << "";
    QTest::newRow("Header with its tags") << ""
                                          << "" << false << false << none << false << ""
                                          << "No"
                                          << "<title>"
                                          << "</title>" << false << false << false << ""
                                          << "The <b>News</b>";
    QTest::newRow("Header markers included, tags stripped") << ""
                                                            << "" << false << false << none << false << ""
                                                            << "No"
                                                            << "<title>"
                                                            << "</title>" << true << true << true << ""
                                                            << "The News";
}

void TextTabTest::dialogControlsReachThePreview() {
    QFETCH(QString, begin);
    QFETCH(QString, end);
    QFETCH(bool, includeBegin);
    QFETCH(bool, includeEnd);
    QFETCH(Rows, replacements);
    QFETCH(bool, stripTags);
    QFETCH(QString, deleteLines);
    QFETCH(QString, emptyLines);
    QFETCH(QString, headerBegin);
    QFETCH(QString, headerEnd);
    QFETCH(bool, includeHeaderBegin);
    QFETCH(bool, includeHeaderEnd);
    QFETCH(bool, stripHeaderTags);
    QFETCH(QString, text);
    QFETCH(QString, header);

    GuiFixture f;
    TForm1* form = f.start();
    const QString page =
        "<html><head><title>The <b>News</b></title></head>\r\n<body>\r\n<p>Alpha ADVERT</p>\r\n"
        "\r\n\r\n<p>Beta</p>\r\n</body></html>";
    test::Memo_Text_Preview(form)->setPlainText(page);
    const QString before = test::Memo_Text_Preview(form)->toPlainText();

    QString shownText, shownHeader;
    bool previewShown = false;
    QVERIFY(withTextSelection(form, [&](TForm30* d) {
        d->Memo1->setPlainText(begin);
        d->Memo2->setPlainText(end);
        d->CheckBox1->setChecked(includeBegin);
        d->CheckBox2->setChecked(includeEnd);
        if (!replacements.isEmpty())
            setGridRows(d->StringGrid1, replacements);
        d->CheckBox3->setChecked(stripTags);
        d->Memo5->setPlainText(deleteLines);
        chooseEmptyLines(d, emptyLines);
        d->Memo3->setPlainText(headerBegin);
        d->Memo4->setPlainText(headerEnd);
        d->CheckBox4->setChecked(includeHeaderBegin);
        d->CheckBox5->setChecked(includeHeaderEnd);
        d->CheckBox6->setChecked(stripHeaderTags);
        previewShown = withPreview(d, [&](TForm37* p) {
            shownText = p->Memo1->toPlainText();
            shownHeader = p->Edit1->text();
        });
    }));
    QVERIFY(previewShown);
    QCOMPARE(shownText, text);
    QCOMPARE(shownHeader, header);
    // The preview writes nothing back.
    QCOMPARE(test::Memo_Text_Preview(form)->toPlainText(), before);
    QCOMPARE(test::textTable(form)->cell(col::Header, 1), QString());
}

void TextTabTest::previewStepsThroughTheRows() {
    GuiFixture f;
    TForm1* form = f.start();
    // Pages on disk: row 2 has no file (its download failed).
    const auto page = [](const char* title, const char* body) -> QByteArray {
        return QByteArray("<title>") + title + "</title><body>" + body + "</body>";
    };
    test::textTable(form)->setGridRowCount(4);
    for (int row : {1, 3}) {
        const QString path = textFile(f, row);
        test::writeFile(path, page(row == 1 ? "One" : "Three", row == 1 ? "first" : "third"));
        test::textTable(form)->setRow(row, {QString::number(row), "OK", "http://x", path});
    }
    test::textTable(form)->setRow(2, {"2", "Download error", "http://x"});
    test::SetCurrentRow(test::StringGrid5(form), 3);
    test::Memo_Text_Preview(form)->setPlainText("<title>Typed</title><body>by hand</body>");

    struct Seen {
        int row;
        QString memo, text, header;
    };
    std::vector<Seen> seen;
    bool previewShown = false;
    QVERIFY(withTextSelection(form, [&](TForm30* d) {
        d->Memo1->setPlainText("<body>");
        d->Memo2->setPlainText("</body>");
        d->Memo3->setPlainText("<title>");
        d->Memo4->setPlainText("</title>");
        previewShown = withPreview(d, [&](TForm37* p) {
            const auto look = [&] {
                seen.push_back({test::CurrentRow(test::StringGrid5(form)),
                                test::Memo_Text_Preview(form)->toPlainText(), p->Memo1->toPlainText(),
                                p->Edit1->text()});
            };
            const auto press = [&](QPushButton* button, const char* typed) {
                // Text typed into the main memo shows whether a move reloaded the page.
                test::Memo_Text_Preview(form)->setPlainText(QString::fromLatin1(typed));
                QTest::mouseClick(button, Qt::LeftButton);
                look();
            };
            look();                        // on opening: the memo as it stands
            press(p->BitBtn1, "x");        // First
            press(p->BitBtn2, "kept");     // Previous on row 1: nothing at all
            press(p->BitBtn3, "x");        // Next: the row without a file
            press(p->BitBtn3, "x");        // Next: the last row
            press(p->BitBtn3, "kept too"); // Next on the last row: nothing at all
            press(p->BitBtn4, "x");        // Last, though already there: reloads
            press(p->BitBtn2, "x");        // Previous
            QTest::mouseClick(p->BitBtn5, Qt::LeftButton);
            seen.push_back({0, {}, {}, p->isVisible() ? "still open" : "closed"});
        });
    }));
    QVERIFY(previewShown);
    const QString one = "<title>One</title><body>first</body>";
    const QString three = "<title>Three</title><body>third</body>";
    const std::vector<Seen> expected = {
        {3, "<title>Typed</title><body>by hand</body>", "by hand", "Typed"},
        {1, one, "first", "One"},
        {1, "kept", "first", "One"},
        {2, "", "", ""},
        {3, three, "third", "Three"},
        {3, "kept too", "third", "Three"},
        {3, three, "third", "Three"},
        {2, "", "", ""},
        {0, "", "", "closed"},
    };
    QCOMPARE(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        const QString step = QStringLiteral("step %1").arg(i);
        QVERIFY2(seen[i].row == expected[i].row, qPrintable(step));
        QVERIFY2(seen[i].memo == expected[i].memo, qPrintable(step + ": " + seen[i].memo));
        QVERIFY2(seen[i].text == expected[i].text, qPrintable(step + ": " + seen[i].text));
        QVERIFY2(seen[i].header == expected[i].header, qPrintable(step + ": " + seen[i].header));
    }
    // Nothing was written.
    QCOMPARE(test::readFile(textFile(f, 1)), page("One", "first"));
    QCOMPARE(test::textTable(form)->cell(col::Header, 1), QString());
}

void TextTabTest::replacementGridIsTidiedAndDefaultsReset() {
    GuiFixture f;
    TForm1* form = f.start();
    // "Apply selection" would empty this memo (row 1 has no file).
    test::Memo_Text_Preview(form)->setPlainText("untouched");
    Rows initial, afterEnter, afterLeaving, afterDefaults;
    bool initialBoxes = true, defaultBoxes = false, memosEmpty = false, stillOpen = false;
    QString radioAfterDefaults;
    QVERIFY(withTextSelection(form, [&](TForm30* d) {
        initial = gridRows(d->StringGrid1);
        initialBoxes = false;
        for (QCheckBox* box :
             {d->CheckBox1, d->CheckBox2, d->CheckBox3, d->CheckBox4, d->CheckBox5, d->CheckBox6})
            initialBoxes = initialBoxes || box->isChecked();

        setGridRows(d->StringGrid1, {{"", "lost"}, {"a", "b"}, {"", ""}, {"c", "d"}});
        // Enter while a cell is being edited: the typed text counts.
        d->StringGrid1->setFocus();
        d->StringGrid1->setCurrentCell(2, 0);
        d->StringGrid1->editItem(d->StringGrid1->item(2, 0));
        QWidget* editor = QApplication::focusWidget();
        if (editor && editor != d->StringGrid1)
            QTest::keyClicks(editor, "e");
        QTest::keyClick(editor ? editor : d->StringGrid1, Qt::Key_Return);
        afterEnter = gridRows(d->StringGrid1);
        d->CheckBox1->setFocus();
        QTest::keyClick(d->CheckBox1, Qt::Key_Return);
        stillOpen = d->isVisible();

        // Leaving the grid tidies it too.
        d->StringGrid1->item(0, 0)->setText("");
        d->StringGrid1->setFocus();
        d->Memo5->setFocus();
        afterLeaving = gridRows(d->StringGrid1);

        chooseEmptyLines(d, "All");
        d->Memo1->setPlainText("x");
        d->Memo4->setPlainText("y");
        QTest::mouseClick(d->BitBtn3, Qt::LeftButton);
        afterDefaults = gridRows(d->StringGrid1);
        defaultBoxes = true;
        for (QCheckBox* box :
             {d->CheckBox1, d->CheckBox2, d->CheckBox3, d->CheckBox4, d->CheckBox5, d->CheckBox6})
            defaultBoxes = defaultBoxes && box->isChecked();
        memosEmpty = true;
        for (QPlainTextEdit* memo : {d->Memo1, d->Memo2, d->Memo3, d->Memo4, d->Memo5})
            memosEmpty = memosEmpty && memo->toPlainText().isEmpty();
        radioAfterDefaults = d->RadioGroup1Items->checkedButton()->text();
    }));
    QCOMPARE(initial, (Rows{{"", ""}}));
    QVERIFY(!initialBoxes);
    QCOMPARE(afterEnter, (Rows{{"a", "b"}, {"e", ""}, {"c", "d"}, {"", ""}}));
    QVERIFY(stillOpen); // Enter pressed no button, in the grid or on a check box
    QCOMPARE(test::Memo_Text_Preview(form)->toPlainText(), QString("untouched"));
    QCOMPARE(afterLeaving, (Rows{{"e", ""}, {"c", "d"}, {"", ""}}));
    QCOMPARE(afterDefaults, (Rows{{"", ""}}));
    QVERIFY(defaultBoxes);
    QVERIFY(memosEmpty);
    QCOMPARE(radioAfterDefaults, QString("All"));
}

QTEST_MAIN(TextTabTest)
#include "test_text_tab.moc"
