// "Remove duplicates" as a user runs it: pages harvested from a local web site, the pictures,
// sounds and videos downloaded, then the command of the table's popup menu.
#include "pictures/picture_codecs.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/test_media_site.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include <QBuffer>
#include <QImage>
#include <QMenu>
#include <QtTest>

using namespace skarvel;
using skarvel::test::GuiFixture;
using skarvel::test::MediaSite;
using Delivery = MediaSite::Delivery;

namespace {

constexpr int kJobWaitMs = 90000;

QImage ToQImage(const Rgb24Image& picture) {
    return QImage(picture.pixels.data(), picture.width, picture.height, int(picture.rowBytes()),
                  QImage::Format_RGB888)
        .copy();
}

QByteArray Encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality))
        qFatal("cannot encode a test picture as %s", format);
    return bytes;
}

// WebP and AVIF; SVG is not built everywhere, and its pair joins the case where it is.
bool ModernTypesBuilt() {
    return PictureKindBuilt(PictureKind::Webp) && PictureKindBuilt(PictureKind::Avif);
}

struct Picture {
    std::string path; // on the site, also the name in the page
    std::string contentType;
    QByteArray bytes;
    Delivery delivery = Delivery::Whole;
};

// The URL endings of the table's rows, "" for a blank row.
QStringList UrlEndings(const CollectionTable* table) {
    QStringList out;
    for (int r = 1; r < table->gridRowCount(); ++r)
        out << table->cell(col::Url, r).section(u'/', -1);
    return out;
}

QStringList Numbers(const CollectionTable* table) {
    QStringList out;
    for (int r = 1; r < table->gridRowCount(); ++r)
        out << table->cell(col::Number, r);
    return out;
}

bool PictureRunDone(TForm1* form) {
    return test::CurrentJob(form, JobId::PagesDownload)->Suspended() &&
           test::CurrentJob(form, JobId::DownloadPictures)->Suspended();
}

// Harvests a page of these pictures (none: the URL list stays empty) and waits for the download.
TForm1* Harvest(GuiFixture& f, MediaSite& site, const std::vector<Picture>& pictures,
                const QByteArray& settings) {
    QString html;
    for (const Picture& p : pictures) {
        site.add(p.path, p.contentType, p.bytes, p.delivery);
        html += QStringLiteral("<img src=\"%1\">").arg(QString::fromStdString(p.path).mid(1));
    }
    site.addPage("/page.html", html);
    site.start();
    if (!settings.isEmpty())
        test::writeFile(f.programDir.path() + "/Skarvel.ini", "[COMMON]\r\n" + settings);
    TForm1* form = f.start();
    if (pictures.empty())
        return form;
    test::URLs_List(form)->setPlainText(site.url("/page.html"));
    test::Press(form, QStringLiteral("BitBtn1"));
    if (!QTest::qWaitFor([form] { return PictureRunDone(form); }, kJobWaitMs))
        qFatal("the picture download did not end");
    return form;
}

} // namespace

class DuplicatesTest : public QObject {
    Q_OBJECT
private slots:
    void theCommandSitsBesideDeleteRow();
    void picturesKeepOneRowEach_data();
    void picturesKeepOneRowEach();
    void soundsAndVideosLoseTheirByteCopies();
};

void DuplicatesTest::theCommandSitsBesideDeleteRow() {
    GuiFixture f;
    TForm1* form = f.start();
    for (const char* menu : {"PopupMenu2", "PopupMenu3", "PopupMenu6"}) {
        QStringList captions;
        for (QAction* a : test::Part<QMenu>(form, QString::fromLatin1(menu))->actions())
            captions << a->text();
        QCOMPARE(captions.mid(0, 2), QStringList({"Delete row", "Remove duplicates"}));
    }
}

void DuplicatesTest::picturesKeepOneRowEach_data() {
    QTest::addColumn<std::vector<Picture>>("pictures");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<int>("removed");

    const Rgb24Image original = test::makeScene(480, 360, 21);
    const QImage originalImage = ToQImage(original);
    const QByteArray third = EncodeJpeg(test::makeScene(400, 300, 23), 90);
    const std::vector<Picture> page{
        {"/original.png", "image/png", EncodePng(original)},
        {"/half.png", "image/png",
         Encoded(originalImage.scaled(240, 180, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "PNG")},
        {"/same.jpg", "image/jpeg", Encoded(originalImage, "JPG", 80)},
        {"/different.png", "image/png", EncodePng(test::makeScene(480, 360, 22))},
        {"/missing.png", "image/png", {}, Delivery::NotFound},
        {"/third.jpg", "image/jpeg", third},
        {"/third-copy.jpg", "image/jpeg", third},
    };
    QTest::newRow("a page of copies at other sizes and encodings")
        << page << QByteArray() << QStringList{"original.png", "different.png", "missing.png", "third.jpg"}
        << 3;
    QTest::newRow("DUPLICATE_DISTANCE=0 compares bytes only")
        << page << QByteArray("DUPLICATE_DISTANCE=0\r\n")
        << QStringList{"original.png", "half.png", "same.jpg", "different.png", "missing.png", "third.jpg"}
        << 1;
    QTest::newRow("the largest copy stays wherever it is")
        << std::vector<Picture>{
               {"/small.jpg", "image/jpeg",
                Encoded(originalImage.scaled(120, 90, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "JPG")},
               {"/large.png", "image/png", EncodePng(original)},
           }
        << QByteArray() << QStringList{"large.png"} << 1;
    QTest::newRow("an empty table") << std::vector<Picture>{} << QByteArray() << QStringList{""} << 0;
    // Without MODERN_PICTURES a WebP is saved as ".???", a type the program does not decode: even
    // byte copies stay.
    const QByteArray webp = QByteArray("RIFF\x20\0\0\0WEBPVP8 ", 16) + QByteArray(20, '\x7f');
    QTest::newRow("rows without files, and files that do not decode")
        << std::vector<Picture>{{"/gone.png", "image/png", {}, Delivery::NotFound},
                                {"/gone-too.png", "image/png", {}, Delivery::NotFound},
                                {"/photo.webp", "image/webp", webp},
                                {"/photo-copy.webp", "image/webp", webp}}
        << QByteArray() << QStringList{"gone.png", "gone-too.png", "photo.webp", "photo-copy.webp"} << 0;
    // The JPEG, WebP and AVIF of one photo are one picture, and so are an SVG and a PNG of its drawing.
    std::vector<Picture> modern;
    QStringList modernKept{"photo.jpg", "different.webp"};
    if (ModernTypesBuilt()) {
        Rgb24Image half(240, 180);
        if (!ResizeNearest(original, half))
            qFatal("cannot scale a test picture");
        modern = {
            {"/photo.jpg", "image/jpeg", EncodeJpeg(original, 85)},
            {"/photo.webp", "image/webp", EncodeWebp(original, 80)},
            {"/photo-small.avif", "image/avif", EncodeAvif(half)},
            {"/different.webp", "image/webp", EncodeWebp(test::makeScene(480, 360, 22), 80)},
        };
    }
    if (ModernTypesBuilt() && PictureKindBuilt(PictureKind::Svg)) {
        Rgb24Image drawnHalf(200, 150);
        const QByteArray drawing = test::makeSvgScene(400, 300, 31);
        if (!ResizeNearest(DecodePicture(drawing, PictureKind::Svg), drawnHalf))
            qFatal("cannot scale a test picture");
        modern.insert(modern.begin() + 3, {{"/drawing.png", "image/png", EncodePng(drawnHalf)},
                                           {"/drawing.svg", "image/svg+xml", drawing}});
        modernKept.insert(1, "drawing.svg");
    }
    QTest::newRow("WebP and AVIF (and SVG where built) with MODERN_PICTURES=1")
        << modern << QByteArray("MODERN_PICTURES=1\r\n") << modernKept
        << int(modern.size() - modernKept.size());
    QTest::newRow("a table of one") << std::vector<Picture>{{"/original.png", "image/png",
                                                             EncodePng(original)}}
                                    << QByteArray() << QStringList{"original.png"} << 0;
}

void DuplicatesTest::picturesKeepOneRowEach() {
    QFETCH(std::vector<Picture>, pictures);
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, remaining);
    QFETCH(int, removed);
    if (settings.contains("MODERN_PICTURES") && !ModernTypesBuilt())
        QSKIP("built without WebP or AVIF");
    MediaSite site;
    GuiFixture f;
    TForm1* form = Harvest(f, site, pictures, settings);
    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), std::max(2, int(pictures.size()) + 1));

    // The download hashed every picture as it measured it: the command decodes nothing again.
    const std::uint64_t decodes = PictureDecodeCount();
    test::Trigger(form, QStringLiteral("Removeduplicates1"));
    const QString message = QStringLiteral("Duplicates removed: %1").arg(removed);
    QTRY_VERIFY_WITH_TIMEOUT(f.answers.messages.contains(message), kJobWaitMs);
    QCOMPARE(f.answers.messages, QStringList{message});
    QCOMPARE(UrlEndings(table), remaining);
    QStringList numbers;
    for (int n = 1; n <= int(remaining.size()); ++n)
        numbers << (pictures.empty() ? QString() : QString::number(n));
    QCOMPARE(Numbers(table), numbers);
    QVERIFY(test::ProgressBar(form, 1)->isHidden());
    const int columns = test::DrawGrid1(form)->colCount();
    QCOMPARE(test::DrawGrid1(form)->rowCount(), (columns + table->gridRowCount() - 2) / columns);
    QCOMPARE(PictureDecodeCount(), decodes);

    // Run again: nothing more goes.
    test::Trigger(form, QStringLiteral("Removeduplicates1"));
    QTRY_COMPARE_WITH_TIMEOUT(f.answers.messages.size(), 2, kJobWaitMs);
    QCOMPARE(f.answers.messages.last(), QStringLiteral("Duplicates removed: 0"));
    QCOMPARE(UrlEndings(table), remaining);
}

void DuplicatesTest::soundsAndVideosLoseTheirByteCopies() {
    MediaSite site;
    const QByteArray x(4000, 'x'), y(4000, 'y'), clip(9000, 'v'), other(7000, 'w');
    site.add("/x.mp3", "audio/mpeg", x);
    site.add("/y.mp3", "audio/mpeg", y); // the same size, other bytes
    site.add("/x-copy.mp3", "audio/mpeg", x);
    site.add("/gone.mp3", "audio/mpeg", {}, Delivery::NotFound);
    site.add("/clip.mp4", "video/mp4", clip);
    site.add("/other.mp4", "video/mp4", other);
    site.add("/clip-copy.mp4", "video/mp4", clip);
    site.addPage("/page.html", R"(<html><body>
        <audio src="x.mp3"></audio><audio src="y.mp3"></audio><audio src="x-copy.mp3"></audio>
        <audio src="gone.mp3"></audio>
        <video src="clip.mp4"></video><video src="other.mp4"></video><video src="clip-copy.mp4"></video>
        </body></html>)");
    site.start();
    GuiFixture f;
    TForm1* form = f.start();
    test::URLs_List(form)->setPlainText(site.url("/page.html"));
    test::Press(form, QStringLiteral("BitBtn8"));
    test::Press(form, QStringLiteral("BitBtn9"));
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::SoundPagesDownload)->Suspended() &&
                                 test::CurrentJob(form, JobId::DownloadSounds)->Suspended() &&
                                 test::CurrentJob(form, JobId::VideoPagesDownload)->Suspended() &&
                                 test::CurrentJob(form, JobId::DownloadVideos)->Suspended() &&
                                 test::soundTable(form)->gridRowCount() == 5 &&
                                 test::videoTable(form)->gridRowCount() == 4,
                             kJobWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!test::soundTable(form)->cell(col::Status, 4).isEmpty(), kJobWaitMs);

    test::Trigger(form, QStringLiteral("Removeduplicates2"));
    QTRY_COMPARE_WITH_TIMEOUT(f.answers.messages, QStringList{"Duplicates removed: 1"}, kJobWaitMs);
    QCOMPARE(UrlEndings(test::soundTable(form)), QStringList({"x.mp3", "y.mp3", "gone.mp3"}));
    QCOMPARE(Numbers(test::soundTable(form)), QStringList({"1", "2", "3"}));

    test::Trigger(form, QStringLiteral("Removeduplicates3"));
    QTRY_COMPARE_WITH_TIMEOUT(f.answers.messages.size(), 2, kJobWaitMs);
    QCOMPARE(f.answers.messages.last(), QStringLiteral("Duplicates removed: 1"));
    QCOMPARE(UrlEndings(test::videoTable(form)), QStringList({"clip.mp4", "other.mp4"}));
    QCOMPARE(Numbers(test::videoTable(form)), QStringList({"1", "2"}));
}

QTEST_MAIN(DuplicatesTest)
#include "test_duplicates.moc"
