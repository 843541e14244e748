// The picture harvest and download driven from the window, against a local web
// site and the embedded page-analysis service; the thumbnails they show.
#include "common/text_ops.h"
#include "gui/thumbnail_cache.h"
#include "gui/thumbnail_grid.h"
#include "pictures/picture_codecs.h"
#include "pictures/picture_thumbnail.h"
#include "jobs/picture_jobs.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/test_media_site.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "net/user_agent.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QScopeGuard>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

using namespace skarvel;
using skarvel::test::GuiFixture;
using skarvel::test::MediaSite;
using Delivery = MediaSite::Delivery;

namespace {

constexpr int kJobWaitMs = 60000;

// A picture whose every pixel tells where it came from.
QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 128));
    return image;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, format == QByteArray("JPG") ? 90 : -1))
        qFatal("cannot encode a test picture as %s", format);
    return bytes;
}

QByteArray gifOf(const QImage& image) {
    Rgb24Image picture(image.width(), image.height());
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(picture.row(y), rgb.constScanLine(y), picture.rowBytes());
    return EncodeGif(picture);
}

int rowEndingWith(const CollectionTable* table, const QString& urlEnd) {
    for (int r = 1; r < table->gridRowCount(); ++r)
        if (table->cell(col::Url, r).endsWith(urlEnd))
            return r;
    return -1;
}

bool pictureRunDone(TForm1* form) {
    return test::CurrentJob(form, JobId::PagesDownload)->Suspended() &&
           test::CurrentJob(form, JobId::DownloadPictures)->Suspended();
}

void setUrlList(TForm1* form, const QStringList& lines) {
    test::URLs_List(form)->setPlainText(lines.join(u'\n'));
}

// Compares the cell of a grabbed grid with the thumbnail rule: the picture's
// nearest-neighbour pixels at their place, and the cell's background around them.
QString thumbnailMismatch(const QImage& shot, const QRect& cell, const Rgb24Image& picture,
                          const ThumbnailPlacement& at) {
    const QRgb background = at.top > 0 ? shot.pixel(cell.left() + 50, cell.top())
                                       : (at.left > 0 ? shot.pixel(cell.left(), cell.top() + 50) : 0);
    for (int y = 0; y < ThumbnailGrid::kCellSize; ++y)
        for (int x = 0; x < ThumbnailGrid::kCellSize; ++x) {
            const QRgb seen = shot.pixel(cell.left() + x, cell.top() + y);
            const int tx = x - at.left;
            const int ty = y - at.top;
            QRgb expected = background;
            if (tx >= 0 && ty >= 0 && tx < at.width && ty < at.height) {
                const int sx = at.width > 1 ? tx * (picture.width - 1) / (at.width - 1) : 0;
                const int sy = at.height > 1 ? ty * (picture.height - 1) / (at.height - 1) : 0;
                const std::uint8_t* p = picture.pixel(sx, sy);
                expected = qRgb(p[0], p[1], p[2]);
            } else if (at.top == 0 && at.left == 0) {
                continue; // a square thumbnail leaves no background to look at
            }
            if ((seen & 0xFFFFFF) != (expected & 0xFFFFFF))
                return QStringLiteral("pixel (%1, %2) of the cell is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(seen & 0xFFFFFF, 6, 16, QChar(u'0'))
                    .arg(expected & 0xFFFFFF, 6, 16, QChar(u'0'));
        }
    return {};
}

QImage grabGrid(TForm1* form) {
    // The current cell of a focused grid carries a focus frame.
    if (test::DrawGrid1(form)->hasFocus())
        test::StringGrid1(form)->setFocus();
    return test::DrawGrid1(form)->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRect cellOfRow(TForm1* form, int row) {
    const int cols = test::DrawGrid1(form)->colCount();
    return test::DrawGrid1(form)->cellRect((row - 1) % cols, (row - 1) / cols);
}

// A page of three pictures /a /b /c whose /a the server holds; c is /c's delivery.
// Starts "Download pictures" on it and returns once /a's request has arrived.
TForm1* startRunWithFirstPictureHeld(MediaSite& site, GuiFixture& f, Delivery c) {
    site.add("/a.png", "image/png", encoded(gradient(2, 2), "PNG"));
    site.add("/b.png", "image/png", encoded(gradient(3, 3), "PNG"));
    site.add("/c.png", "image/png", c == Delivery::Whole ? encoded(gradient(4, 4), "PNG") : QByteArray(), c);
    site.addPage("/page.html", R"(<img src="a.png"><img src="b.png"><img src="c.png">)");
    site.hold("/a.png");
    site.start();

    TForm1* form = f.start();
    setUrlList(form, {site.url("/page.html")});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return site.arrived("/a.png") == 1; }, kJobWaitMs))
        qFatal("the held picture was never asked for");
    return form;
}

} // namespace

class PicturesDownloadTest : public QObject {
    Q_OBJECT
private slots:
    void harvestDownloadAndContinue();
    void secondClickClearsAgainButDoesNotRestart();
    void emptyUrlListRunsNoItem();
    void harvestSendsOnlyLongLinesAndSkipsFailedPages();
    void rowsDeletedAfterTheParseAreNotWrittenPast();
    void deletingTheRowInWorkKeepsEveryResultInItsOwnRow();
    void unwritablePicturesFolderFailsEveryItem();
    void thumbnailsFollowTheRule();
    void aDownloadedPictureIsDecodedOnce();
    void transferKeysOfTheSettingsFileTakeEffect();
    void closingTheWindowDuringRunsDoesNotWaitForThem();
};

void PicturesDownloadTest::harvestDownloadAndContinue() {
    const QImage wide = gradient(400, 100);
    const QByteArray widePng = encoded(wide, "PNG");
    const QByteArray okJpg = encoded(gradient(40, 30), "JPG");
    const QByteArray chunkedPng = encoded(gradient(20, 10), "PNG");
    const QByteArray charsetJpg = encoded(gradient(33, 44), "JPG");
    const QByteArray upperPng = encoded(gradient(7, 9), "PNG");
    const QByteArray bmp = encoded(gradient(31, 17), "BMP");
    const QByteArray gif = gifOf(gradient(12, 34));
    const QByteArray spacedPng = encoded(gradient(5, 6), "PNG");
    const QByteArray rawSpacePng = encoded(gradient(6, 5), "PNG");
    const QByteArray extraPng = encoded(gradient(8, 8), "PNG");
    const QByteArray bigJpg = encoded(gradient(300, 200), "JPG");

    MediaSite site;
    site.add("/wide.png", "image/png", widePng);
    site.add("/ok.jpg", "image/jpeg", okJpg);
    site.add("/chunked.png", "image/png", chunkedPng, Delivery::Chunked);
    site.add("/missing.gif", "image/gif", {}, Delivery::NotFound);
    site.add("/picture.webp", "image/webp", upperPng);
    site.add("/corrupt.jpg", "image/jpeg", bigJpg.left(bigJpg.size() / 2));
    site.add("/space name.png", "image/png", spacedPng);
    site.add("/raw space.png", "image/png", rawSpacePng);
    site.add("/charset.jpg", "image/jpeg; charset=binary", charsetJpg);
    site.add("/upper.png", "IMAGE/PNG", upperPng);
    site.add("/picture.bmp", "image/bmp", bmp);
    site.add("/picture.gif", "image/gif", gif);
    site.add("/extra.png", "image/png", extraPng);
    site.addPage("/page1.html", R"(<html><body>
        <img src="wide.png">
        <img src="ok.jpg" alt="first" title="first title">
        <img src="chunked.png"><img src="missing.gif"><img src="picture.webp"><img src="corrupt.jpg">
        <img src="space%20name.png"><img src="raw space.png">
        <img src="charset.jpg"><img src="upper.png"><img src="picture.bmp"><img src="picture.gif">
        </body></html>)");
    site.addPage("/page2.html", R"(<html><body>
        <img src="ok.jpg" alt="second" title="second title"><img src="extra.png">
        </body></html>)");
    site.start();

    GuiFixture f;
    TForm1* form = f.start();
    test::PageControl1(form)->setCurrentIndex(2);
    const QString page1 = site.url("/page1.html");
    setUrlList(form, {page1, site.url("/page2.html"), "too short"});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);

    // One row per distinct picture; the first page that names a picture gives its fields.
    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 14);
    QCOMPARE(test::ProgressBar(form, 1)->maximum(), 13); // the download's item count
    const int okRow = rowEndingWith(table, "/ok.jpg");
    QVERIFY(okRow > 0);
    QCOMPARE(table->cell(col::Alt, okRow), QString("first"));
    QCOMPARE(table->cell(col::Title, okRow), QString("first title"));
    QCOMPARE(table->cell(col::PicParent, okRow), page1);
    QCOMPARE(table->cell(col::PicOriginalName, okRow), QString("ok.jpg"));
    for (int r = 1; r < table->gridRowCount(); ++r)
        QCOMPARE(table->cell(col::Number, r), QString::number(r));

    struct Expected {
        const char* urlEnd;
        QString status;
        const char* extension; // nullptr: no local path
        int width;             // -1: not measured
        int height;
        QByteArray body;
    };
    const Expected expected[] = {
        {"/wide.png", "OK", ".png", 400, 100, widePng},
        {"/ok.jpg", "OK", ".jpg", 40, 30, okJpg},
        {"/chunked.png", "Broken", ".png", 20, 10, chunkedPng},
        {"/missing.gif", "Download error", nullptr, -1, -1, {}},
        {"/picture.webp", "OK", ".???", -1, -1, upperPng},
        {"/corrupt.jpg", "Download error", nullptr, -1, -1, {}},
        {"/space%20name.png", "OK", ".png", 5, 6, spacedPng},
        {"/raw%20space.png", "OK", ".png", 6, 5, rawSpacePng},
        {"/charset.jpg", "OK", ".jpg", 33, 44, charsetJpg},
        {"/upper.png", "OK", ".png", 7, 9, upperPng},
        {"/picture.bmp", "OK", ".bmp", 31, 17, bmp},
        {"/picture.gif", "OK", ".gif", 12, 34, gif},
        {"/extra.png", "OK", ".png", 8, 8, extraPng},
    };
    const QString pictures = f.workFolder() + "Pictures" + QDir::separator();
    for (const Expected& e : expected) {
        const int r = rowEndingWith(table, e.urlEnd);
        QVERIFY2(r > 0, e.urlEnd);
        QCOMPARE(table->cell(col::Status, r), e.status);
        const QString path =
            e.extension ? pictures + QString::number(r) + test::fileExtension(e.extension) : QString();
        QCOMPARE(table->cell(col::LocalPath, r), path);
        if (e.extension)
            QCOMPARE(test::readFile(path), e.body);
        QCOMPARE(table->cell(col::Width, r), e.width < 0 ? QString() : QString::number(e.width));
        QCOMPARE(table->cell(col::Height, r), e.height < 0 ? QString() : QString::number(e.height));
        QCOMPARE(table->cell(col::PicExportName, r), QString());
    }
    // Escapes already in an address are sent as they are; a raw space is sent escaped once.
    QVERIFY(site.targets().contains("/space%20name.png"));
    QVERIFY(site.targets().contains("/raw%20space.png"));
    QVERIFY(test::ProgressBar(form, 1)->isHidden());

    // The 400 x 100 picture shows as a 100 x 25 thumbnail 37 pixels below its cell's top.
    test::SendResize(form);
    const int wideRow = rowEndingWith(table, "/wide.png");
    const Rgb24Image wideDecoded = DecodePictureFile(table->cell(col::LocalPath, wideRow), PictureKind::Png);
    QString mismatch = "not drawn";
    QTRY_VERIFY2_WITH_TIMEOUT((mismatch = thumbnailMismatch(grabGrid(form), cellOfRow(form, wideRow),
                                                            wideDecoded, {100, 25, 0, 37}))
                                  .isEmpty(),
                              qPrintable(mismatch), 20000);

    // "Continue download" fetches again only the rows without a width, and a row
    // whose width the user cleared.
    const int gifRow = rowEndingWith(table, "/picture.gif");
    table->setCell(col::Width, gifRow, QString());
    std::map<std::string, int> before;
    for (const char* path : {"/wide.png", "/ok.jpg", "/chunked.png", "/missing.gif", "/picture.webp",
                             "/corrupt.jpg", "/space name.png", "/raw space.png", "/charset.jpg",
                             "/upper.png", "/picture.bmp", "/picture.gif", "/extra.png"})
        before[path] = site.count(path);
    form->findChild<QAction*>("Continuedownload1")->trigger();
    QVERIFY(test::Timer2(form)->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::DownloadPictures)->Suspended(), kJobWaitMs);
    for (const auto& [path, count] : before) {
        const bool fetchedAgain = path == "/missing.gif" || path == "/picture.webp" ||
                                  path == "/corrupt.jpg" || path == "/picture.gif";
        QVERIFY2(site.count(path) == count + (fetchedAgain ? 1 : 0), path.c_str());
    }
    QCOMPARE(table->cell(col::Width, gifRow), QString("12"));
    QCOMPARE(table->cell(col::Status, rowEndingWith(table, "/missing.gif")), QString("Download error"));
    // The refresh timer stops itself once the download is idle.
    QTRY_VERIFY_WITH_TIMEOUT(!test::Timer2(form)->isActive(), 10000);
}

void PicturesDownloadTest::secondClickClearsAgainButDoesNotRestart() {
    MediaSite site;
    site.add("/a.png", "image/png", encoded(gradient(3, 3), "PNG"));
    site.addPage("/slow.html", R"(<img src="a.png">)");
    site.addPage("/other.html", R"(<img src="a.png"><img src="b.png">)");
    site.hold("/slow.html");
    site.start();

    GuiFixture f;
    TForm1* form = f.start();
    setUrlList(form, {site.url("/slow.html"), site.url("/other.html")});
    QPushButton* button = form->findChild<QPushButton*>("BitBtn1");
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(site.arrived("/slow.html") == 1, kJobWaitMs);

    test::pictureTable(form)->setCell(col::Url, 1, "typed by the user");
    test::Memo1(form)->setText("left over\r\n");
    form->findChild<QAction*>("Downloadagain1")->trigger();
    QCOMPARE(test::pictureTable(form)->gridRowCount(), 2);
    QCOMPARE(test::pictureTable(form)->cell(col::Url, 1), QString());
    QCOMPARE(test::Memo1(form)->text(), QString());
    QVERIFY(!test::CurrentJob(form, JobId::PagesDownload)->Suspended());

    site.release("/slow.html");
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);
    // The running harvest went on with its own lines and parsed at its end.
    QCOMPARE(site.count("/slow.html"), 1);
    QCOMPARE(site.count("/other.html"), 1);
    QCOMPARE(test::pictureTable(form)->gridRowCount(), 3);
    QVERIFY(test::pictureTable(form)->cell(col::Url, 1).endsWith("/a.png"));
    QVERIFY(test::pictureTable(form)->cell(col::Url, 2).endsWith("/b.png"));
    QCOMPARE(test::pictureTable(form)->cell(col::Status, 1), QString("OK"));
    QCOMPARE(test::pictureTable(form)->cell(col::Status, 2), QString("Download error"));
}

void PicturesDownloadTest::emptyUrlListRunsNoItem() {
    MediaSite site;
    site.addPage("/five.html",
                 R"(<img src="1.png"><img src="2.png"><img src="3.png"><img src="4.png"><img src="5.png">)");
    site.start();
    GuiFixture f;
    TForm1* form = f.start();
    // A run of five pictures leaves its count behind.
    setUrlList(form, {site.url("/five.html")});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);
    QCOMPARE(test::ProgressBar(form, 1)->maximum(), 5);
    const QStringList targetsBefore = site.targets();

    test::URLs_List(form)->clear();
    test::pictureTable(form)->setCell(col::Url, 1, "old");
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);
    QCOMPARE(test::ProgressBar(form, 1)->maximum(), 0);
    QCOMPARE(test::pictureTable(form)->gridRowCount(), 2);
    for (int c = 0; c < test::pictureTable(form)->colCount(); ++c)
        QCOMPARE(test::pictureTable(form)->cell(c, 1), QString());
    QVERIFY(test::ProgressBar(form, 1)->isHidden());
    QCOMPARE(test::Memo1(form)->text(), QString());
    QCOMPARE(site.targets(), targetsBefore);
}

// A scripted service on the test's own server: what the harvest sends, and what
// it keeps of the answers.
void PicturesDownloadTest::harvestSendsOnlyLongLinesAndSkipsFailedPages() {
    std::mutex mutex;
    QStringList asked;
    test::LocalHttpServer service;
    service.server().Get(
        "/products/skarvel/scripts/get_images.php", [&](const httplib::Request& req, httplib::Response& res) {
            const std::string target = req.target;
            const std::string page = target.substr(target.find("url=") + 4);
            {
                std::lock_guard lock(mutex);
                asked.append(QString::fromStdString(page));
            }
            if (page.find("fail") != std::string::npos) {
                res.status = 500;
                res.set_content("x\tbroken\r\n", "text/plain");
            } else if (page.find("moved") != std::string::npos) {
                res.status = 302;
                res.set_header("Location", "/elsewhere");
                res.set_content("y\tmoved\r\n", "text/plain");
            } else if (page == "01234567890") {
                res.set_content("http://127.0.0.1:9/bare.png\r\n", "text/plain; charset=utf-8");
            } else {
                res.set_content("http://127.0.0.1:9/a.png\tA\talt a\ttitle a\tparent\r\n"
                                "http://127.0.0.1:9/A.png\tcase differs\t\t\tparent\r\n"
                                "http://127.0.0.1:9/a.png\tagain\t\t\tparent\r\n",
                                "text/plain; charset=utf-8");
            }
        });
    service.start();
    const QByteArray previous = qgetenv("SKARVEL_SERVICE_HOST");
    qputenv("SKARVEL_SERVICE_HOST", QStringLiteral("127.0.0.1:%1").arg(service.port()).toUtf8());
    GuiFixture f;
    TForm1* form = f.start();
    qputenv("SKARVEL_SERVICE_HOST", previous);

    setUrlList(form, {"0123456789", "", "01234567890", "http://fail.invalid/", "http://moved.invalid/",
                      "http://h.invalid/a=1&b=%41 c"});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);

    // Lines of 10 characters or fewer are not sent; the others go as typed (cpp-httplib
    // refuses a second "?" in a request, so the page address here has none).
    // Several are in flight at once, so they may arrive in any order.
    QStringList askedSorted = asked;
    askedSorted.sort();
    QCOMPARE(askedSorted, QStringList({"01234567890", "http://fail.invalid/",
                                       "http://h.invalid/a=1&b=%41%20c", "http://moved.invalid/"}));
    const QString parent = "parent";
    QCOMPARE(test::Memo1(form)->text(), QString("http://127.0.0.1:9/bare.png\r\n"
                                                "http://127.0.0.1:9/a.png\tA\talt a\ttitle a\tparent\r\n"
                                                "http://127.0.0.1:9/A.png\tcase differs\t\t\tparent\r\n"));
    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 4);
    QCOMPARE(table->cell(col::Url, 1), QString("http://127.0.0.1:9/bare.png"));
    QCOMPARE(table->cell(col::PicOriginalName, 1), QString());
    QCOMPARE(table->cell(col::Alt, 2), QString("alt a"));
    QCOMPARE(table->cell(col::PicParent, 2), parent);
    QCOMPARE(table->cell(col::PicOriginalName, 3), QString("case differs"));
    // Nothing listens on port 9: every picture fails.
    for (int r = 1; r <= 3; ++r)
        QCOMPARE(table->cell(col::Status, r), QString("Download error"));
}

void PicturesDownloadTest::rowsDeletedAfterTheParseAreNotWrittenPast() {
    MediaSite site;
    GuiFixture f;
    TForm1* form = startRunWithFirstPictureHeld(site, f, Delivery::Whole);
    QCOMPARE(test::ProgressBar(form, 1)->maximum(), 3); // the download's item count
    test::pictureTable(form)->removeDataRow(2);
    QCOMPARE(test::pictureTable(form)->gridRowCount(), 3);
    site.release("/a.png");
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);

    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 3);
    QVERIFY(table->cell(col::Url, 2).endsWith("/c.png"));
    QCOMPARE(table->cell(col::Status, 1), QString("OK"));
    QCOMPARE(table->cell(col::Status, 2), QString("OK"));
    QCOMPARE(table->cell(col::Width, 2), QString("4"));
    // /b.png was taken with the others before its row went: its answer has no row to go to.
    QCOMPARE(site.count("/c.png"), 1);
    QVERIFY(test::ProgressBar(form, 1)->isHidden());
}

// Three rows /a /b /c, /a held by the server, row 1 deleted by "Delete row":
// /b is fetched with its own address into its own row, and /a's bytes go nowhere.
// A failed row shows the status word, and why it failed as the cell's tooltip.
void PicturesDownloadTest::deletingTheRowInWorkKeepsEveryResultInItsOwnRow() {
    MediaSite site;
    GuiFixture f;
    TForm1* form = startRunWithFirstPictureHeld(site, f, Delivery::NotFound);
    test::SetCurrentRow(test::StringGrid1(form), 1);
    form->findChild<QAction*>("Deleterow3")->trigger();
    QCOMPARE(test::pictureTable(form)->gridRowCount(), 3);
    site.release("/a.png");
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);

    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 3);
    QVERIFY(table->cell(col::Url, 1).endsWith("/b.png"));
    QCOMPARE(table->cell(col::Status, 1), QString("OK"));
    QCOMPARE(table->cell(col::Width, 1), QString("3"));
    // Named by the row number it had when it was taken: every row was taken before row 1 went away.
    QCOMPARE(table->cell(col::LocalPath, 1), f.workFolder() + "Pictures" + QDir::separator() + "2.png");
    QCOMPARE(test::readFile(table->cell(col::LocalPath, 1)), encoded(gradient(3, 3), "PNG"));
    QCOMPARE(site.count("/b.png"), 1);

    QVERIFY(table->cell(col::Url, 2).endsWith("/c.png"));
    const QModelIndex status = test::StringGrid1(form)->model()->index(1, col::Status);
    QCOMPARE(status.data(Qt::DisplayRole).toString(), QString("Download error"));
    QCOMPARE(status.data(Qt::ToolTipRole).toString(), QString("HTTP 404"));
    QVERIFY(!test::StringGrid1(form)->model()->index(0, col::Status).data(Qt::ToolTipRole).isValid());
}

void PicturesDownloadTest::unwritablePicturesFolderFailsEveryItem() {
    MediaSite site;
    site.add("/a.png", "image/png", encoded(gradient(2, 2), "PNG"));
    site.add("/b.jpg", "image/jpeg", encoded(gradient(2, 2), "JPG"));
    site.addPage("/page.html", R"(<img src="a.png"><img src="b.jpg">)");
    site.start();

    GuiFixture f;
    TForm1* form = f.start();
    // A file where the folder should be: nothing can be created inside it, whoever runs the test.
    const QString folder = f.workFolder() + "Pictures";
    QVERIFY(QDir(folder).removeRecursively());
    test::writeFile(folder, "not a folder");
    setUrlList(form, {site.url("/page.html")});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);

    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 3);
    for (int r = 1; r <= 2; ++r) {
        // The body has nowhere to stream to: the item fails before or after its request is sent.
        QVERIFY(site.count(r == 1 ? "/a.png" : "/b.jpg") <= 1);
        QCOMPARE(table->cell(col::Status, r), QString("Download error"));
        QCOMPARE(table->cell(col::LocalPath, r), QString());
        QCOMPARE(table->cell(col::Width, r), QString());
    }
}

void PicturesDownloadTest::thumbnailsFollowTheRule() {
    GuiFixture f;
    TForm1* form = f.start();
    test::PageControl1(form)->setCurrentIndex(2);
    QTemporaryDir folder;
    const QImage square = gradient(50, 50);

    struct Case {
        const char* name;
        QString file;
        QByteArray bytes;
        std::optional<PictureKind> decodeAs; // nullopt: nothing may be drawn
        ThumbnailPlacement at;
    };
    const Case cases[] = {
        {"a 400 x 100 picture: 100 x 25 at top 37",
         "wide.png",
         encoded(gradient(400, 100), "PNG"),
         PictureKind::Png,
         {100, 25, 0, 37}},
        {"a 1 x 1000 picture: 2 x 100 at left 49",
         "tall.bmp",
         encoded(gradient(1, 1000), "BMP"),
         PictureKind::Bmp,
         {2, 100, 49, 0}},
        {"a square picture fills the cell",
         "square.jpg",
         encoded(square, "JPG"),
         PictureKind::Jpeg,
         {100, 100, 0, 0}},
        {"a 30 x 40 GIF: 75 x 100 at left 12",
         "portrait.gif",
         gifOf(gradient(30, 40)),
         PictureKind::Gif,
         {75, 100, 12, 0}},
        {"upper-case .JPG draws nothing", "upper.JPG", encoded(square, "JPG"), std::nullopt, {}},
        {".jpeg draws nothing", "long.jpeg", encoded(square, "JPG"), std::nullopt, {}},
        {"a picture its decoder rejects draws nothing",
         "bad.png",
         QByteArray("\x89PNG broken"),
         std::nullopt,
         {}},
        {"a missing file draws nothing", "", {}, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        const QString path = c.file.isEmpty() ? folder.filePath("absent.png") : folder.filePath(c.file);
        if (!c.file.isEmpty())
            test::writeFile(path, c.bytes);
        test::pictureTable(form)->clearToOneEmptyRow();
        test::pictureTable(form)->setCell(col::LocalPath, 1, path);
        test::SendResize(form);
        const QRect cell = cellOfRow(form, 1);
        if (c.decodeAs) {
            const Rgb24Image decoded = DecodePictureFile(path, *c.decodeAs);
            QString mismatch = "not drawn";
            QTRY_VERIFY2_WITH_TIMEOUT(
                (mismatch = thumbnailMismatch(grabGrid(form), cell, decoded, c.at)).isEmpty(),
                qPrintable(QString(c.name) + ": " + mismatch), 20000);
        } else {
            grabGrid(form);
            if (auto* thumbnails = form->findChild<ThumbnailCache*>())
                thumbnails->waitForIdle();
            const QImage shot = grabGrid(form);
            const QRgb corner = shot.pixel(cell.topLeft());
            for (int y = 0; y < ThumbnailGrid::kCellSize; ++y)
                for (int x = 0; x < ThumbnailGrid::kCellSize; ++x)
                    QVERIFY2(shot.pixel(cell.left() + x, cell.top() + y) == corner, c.name);
        }
    }

    // A picture replaced on disk shows its new contents.
    const QString path = folder.filePath("changing.png");
    test::writeFile(path, encoded(gradient(400, 100), "PNG"));
    test::pictureTable(form)->setCell(col::LocalPath, 1, path);
    QTRY_VERIFY_WITH_TIMEOUT(thumbnailMismatch(grabGrid(form), cellOfRow(form, 1),
                                               DecodePictureFile(path, PictureKind::Png), {100, 25, 0, 37})
                                 .isEmpty(),
                             20000);
    test::writeFile(path, encoded(gradient(100, 400), "PNG"));
    QTRY_VERIFY_WITH_TIMEOUT(thumbnailMismatch(grabGrid(form), cellOfRow(form, 1),
                                               DecodePictureFile(path, PictureKind::Png), {25, 100, 37, 0})
                                 .isEmpty(),
                             20000);
}

// The window goes while a download and a harvest wait for answers: it ends
// their requests instead of waiting for them, and nothing runs on afterwards.
// The measuring pass of the download makes the thumbnail too: drawing the grid afterwards
// decodes nothing more.
void PicturesDownloadTest::aDownloadedPictureIsDecodedOnce() {
    const QImage tall = gradient(30, 120);
    MediaSite site;
    site.add("/tall.png", "image/png", encoded(tall, "PNG"));
    site.add("/small.jpg", "image/jpeg", encoded(gradient(40, 30), "JPG"));
    site.add("/odd.bmp", "image/bmp", encoded(gradient(31, 17), "BMP"));
    site.addPage("/page.html", R"(<img src="tall.png"><img src="small.jpg"><img src="odd.bmp">)");
    site.start();

    GuiFixture f;
    TForm1* form = f.start();
    test::PageControl1(form)->setCurrentIndex(2);
    setUrlList(form, {site.url("/page.html")});
    const std::uint64_t before = PictureDecodeCount();
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);
    CollectionTable* table = test::pictureTable(form);
    for (int r = 1; r <= 3; ++r)
        QCOMPARE(table->cell(col::Status, r), QString("OK"));
    QCOMPARE(PictureDecodeCount() - before, std::uint64_t(3));

    test::SendResize(form);
    const int tallRow = rowEndingWith(table, "/tall.png");
    const Rgb24Image tallDecoded = DecodePictureFile(table->cell(col::LocalPath, tallRow), PictureKind::Png);
    const std::uint64_t afterDownload = PictureDecodeCount();
    QString mismatch = "not drawn";
    // The 30 x 120 picture shows as a 25 x 100 thumbnail 37 pixels right of its cell's left.
    QTRY_VERIFY2_WITH_TIMEOUT((mismatch = thumbnailMismatch(grabGrid(form), cellOfRow(form, tallRow),
                                                            tallDecoded, {25, 100, 37, 0}))
                                  .isEmpty(),
                              qPrintable(mismatch), 20000);
    auto* thumbnails = form->findChild<ThumbnailCache*>();
    QVERIFY(thumbnails);
    QCOMPARE(thumbnails->pendingCount(), 0);
    QCOMPARE(PictureDecodeCount(), afterDownload); // the grid decoded none of the three
}

// MAX_TRANSFERS_PER_HOST=1 lets one picture at a time come from the site; USER_AGENT names every
// request, the embedded service's page fetch included.
void PicturesDownloadTest::transferKeysOfTheSettingsFileTakeEffect() {
    test::LocalHttpServer site;
    std::mutex mutex;
    QStringList agents;
    std::atomic<int> inProgress{0};
    std::atomic<int> most{0};
    const QByteArray png = encoded(gradient(4, 4), "PNG");
    site.server().Get("/page.html", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        agents << QString::fromStdString(req.get_header_value("User-Agent"));
        res.set_content(R"(<img src="1.png"><img src="2.png"><img src="3.png"><img src="4.png">)",
                        "text/html");
    });
    site.server().Get(R"(/\d\.png)", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(mutex);
            agents << QString::fromStdString(req.get_header_value("User-Agent"));
        }
        const int now = ++inProgress;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        --inProgress;
        res.set_content(png.toStdString(), "image/png");
    });
    site.start();

    GuiFixture f;
    test::writeFile(f.programDir.path() + "/Skarvel.ini",
                    "[COMMON]\r\nMAX_TRANSFERS_PER_HOST=1\r\nUSER_AGENT=Collector/2.0 (test)\r\n");
    TForm1* form = f.start();
    const auto restore = qScopeGuard([] {
        setUserAgentOverride({});
        TableDownloadJob::SetDefaultLimits({});
    });
    test::PageControl1(form)->setCurrentIndex(2);
    setUrlList(form, {site.baseUrl() + "/page.html"});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(pictureRunDone(form), kJobWaitMs);
    for (int r = 1; r <= 4; ++r)
        QCOMPARE(test::pictureTable(form)->cell(col::Status, r), QString("OK"));
    QCOMPARE(most.load(), 1);
    std::lock_guard lock(mutex);
    QCOMPARE(agents.size(), 5);
    for (const QString& agent : agents)
        QCOMPARE(agent, QString("Collector/2.0 (test)"));
}

void PicturesDownloadTest::closingTheWindowDuringRunsDoesNotWaitForThem() {
    MediaSite site;
    site.add("/a.png", "image/png", encoded(gradient(2, 2), "PNG"));
    site.addPage("/pictures.html", R"(<img src="a.png">)");
    site.addPage("/sounds.html", R"(<audio src="a.mp3"></audio>)");
    site.hold("/a.png");
    site.hold("/sounds.html");
    site.start();

    GuiFixture f;
    TForm1* form = f.start();
    setUrlList(form, {site.url("/pictures.html")});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(site.arrived("/a.png") == 1, kJobWaitMs);
    setUrlList(form, {site.url("/sounds.html"), site.url("/sounds.html")});
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn8"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(site.arrived("/sounds.html") >= 1, kJobWaitMs); // both lines may be in flight

    f.form.reset();
    QCOMPARE(site.answered("/a.png"), 0);
    QCOMPARE(site.answered("/sounds.html"), 0);
    site.release("/a.png");
    site.release("/sounds.html");
}

QTEST_MAIN(PicturesDownloadTest)
#include "test_pictures_download.moc"
