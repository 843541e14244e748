// The modern picture types from the window: a page naming a WebP, an AVIF, an SVG and a PNG,
// harvested and downloaded from a local site with MODERN_PICTURES=1 and without it; the rows,
// thumbnails, the saved and exported collection, the picture selection and "Parameters".
#include "common/text_ops.h"
#include "gui/thumbnail_grid.h"
#include "jobs/picture_jobs.h"
#include "net/transfer_engine.h"
#include "pictures/picture_codecs.h"
#include "pictures/picture_measure.h"
#include "tests/gui/export_test_support.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/test_media_site.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using namespace skarvel;
using skarvel::test::GuiFixture;
using skarvel::test::MediaSite;

namespace {

constexpr int kJobWaitMs = 60000;

Rgb24Image gradient(int w, int h, int blue) {
    Rgb24Image picture(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = picture.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
            p[2] = static_cast<std::uint8_t>(blue);
        }
    return picture;
}

struct Picture {
    const char* path;
    const char* contentType; // as the server sends it
    PictureKind kind;
    QByteArray bytes;
    int width, height;
};

// A WebP and an AVIF made by libwebp's and libavif's encoders, an SVG of 70 x 140 CSS pixels (a
// viewBox scaled up), a PNG; each content type written the way servers vary them.
std::vector<Picture> pictures() {
    // A build without a type cannot encode it; its stand-in bytes are never read without the key.
    const QByteArray standIn("not encoded: this build lacks the type");
    return {
        {"/a.webp", "image/webp", PictureKind::Webp,
         PictureKindBuilt(PictureKind::Webp) ? EncodeWebp(gradient(120, 80, 40)) : standIn, 120, 80},
        {"/b.avif", "Image/AVIF", PictureKind::Avif,
         PictureKindBuilt(PictureKind::Avif) ? EncodeAvif(gradient(90, 60, 200)) : standIn, 90, 60},
        {"/c.svg", "image/svg+xml; charset=utf-8", PictureKind::Svg,
         QByteArray(
             R"(<svg xmlns="http://www.w3.org/2000/svg" width="70" height="140" viewBox="0 0 7 14">)"
             R"(<rect width="7" height="7" fill="#e01010"/><circle cx="3.5" cy="10.5" r="3" fill="#1040e0"/>)"
             "</svg>"),
         70, 140},
        {"/d.png", "image/png", PictureKind::Png, EncodePng(gradient(50, 50, 120)), 50, 50},
    };
}

void serve(MediaSite& site, const std::vector<Picture>& all) {
    for (const Picture& p : all)
        site.add(p.path, p.contentType, p.bytes);
    site.addPage("/page.html", R"(<html><body><img src="a.webp"><img src="b.avif"><img src="c.svg">)"
                               R"(<img src="d.png"></body></html>)");
    site.start();
}

TForm1* startWithSettings(GuiFixture& f, const QByteArray& common) {
    if (!common.isNull())
        test::writeFile(f.programDir.filePath("Skarvel.ini"), "[COMMON]\r\n" + common);
    return f.start();
}

void downloadPage(TForm1* form, MediaSite& site) {
    test::PageControl1(form)->setCurrentIndex(2);
    test::URLs_List(form)->setPlainText(site.url("/page.html"));
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::PagesDownload)->Suspended() &&
                                 test::CurrentJob(form, JobId::DownloadPictures)->Suspended() &&
                                 test::pictureTable(form)->cell(col::Status, 4) != QString(),
                             kJobWaitMs);
}

int rowOf(const CollectionTable* table, const char* urlEnd) {
    for (int r = 1; r < table->gridRowCount(); ++r)
        if (table->cell(col::Url, r).endsWith(QLatin1String(urlEnd)))
            return r;
    return -1;
}

// The grid's cell of a row, grabbed once every thumbnail of the table is in.
QImage cellOf(TForm1* form, const QImage& grid, int row) {
    ThumbnailGrid* g = test::DrawGrid1(form);
    const int cols = g->colCount();
    return grid.copy(g->cellRect((row - 1) % cols, (row - 1) / cols));
}

// Where the cell differs from the thumbnail of the measured picture at its place; "" when it does not.
QString thumbnailMismatch(const QImage& cell, const PictureMeasure& measured) {
    const Rgb24Image& t = measured.thumbnail;
    if (t.isEmpty())
        return QStringLiteral("no thumbnail to compare with");
    for (int y = 0; y < t.height; ++y)
        for (int x = 0; x < t.width; ++x) {
            const std::uint8_t* p = t.pixel(x, y);
            const QRgb seen = cell.pixel(measured.placement.left + x, measured.placement.top + y);
            if ((seen & 0xFFFFFF) != (qRgb(p[0], p[1], p[2]) & 0xFFFFFF))
                return QStringLiteral("pixel (%1, %2) is %3").arg(x).arg(y).arg(seen & 0xFFFFFF, 6, 16);
        }
    return {};
}

QImage grabGrid(TForm1* form) {
    test::StringGrid1(form)->setFocus();
    return test::DrawGrid1(form)->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Names the four rows "row1".."row4" and saves the collection as JPEG into a new folder, which it returns.
QString saveRowsAsJpeg(GuiFixture& f, TForm1* form) {
    for (int r = 1; r <= 4; ++r)
        test::pictureTable(form)->setCell(col::PicExportName, r, QStringLiteral("row%1.x").arg(r));
    const QString out = f.tempDir.filePath("saved");
    QDir().mkpath(out);
    f.answers.directories.push_back(out);
    test::runDialog(
        f.answers, [&] { test::Press(form, "BitBtn5"); },
        [](QWidget* d) { test::child<QComboBox>(d, "ComboBox1")->setCurrentIndex(kSaveJpeg); }, "BitBtn1",
        "Collection saved!");
    if (!QTest::qWaitFor([form] { return test::CurrentJob(form, JobId::ExportPictures)->Suspended(); },
                         test::kWaitMs))
        qFatal("the save did not end");
    return out;
}

} // namespace

class ModernPicturesGuiTest : public QObject {
    Q_OBJECT
private slots:
    void aPageOfModernPicturesIsDownloadedShownSavedAndExported();
    void withoutTheKeyTheSamePageGivesUnknownRows();
    void parametersShowsSetsAndSavesTheSetting();
};

void ModernPicturesGuiTest::aPageOfModernPicturesIsDownloadedShownSavedAndExported() {
    for (const PictureKind kind : {PictureKind::Webp, PictureKind::Avif, PictureKind::Svg})
        if (!PictureKindBuilt(kind))
            QSKIP("this build lacks one of the modern picture types");
    const std::vector<Picture> all = pictures();
    MediaSite site;
    serve(site, all);
    GuiFixture f;
    TForm1* form = startWithSettings(f, "MODERN_PICTURES=1\r\n");
    downloadPage(form, site);

    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 5);
    const QString folder = f.workFolder() + "Pictures" + QDir::separator();
    for (const Picture& p : all) {
        const int r = rowOf(table, p.path);
        QVERIFY2(r > 0, p.path);
        QCOMPARE(table->cell(col::Status, r), QString("OK"));
        QCOMPARE(table->cell(col::LocalPath, r), folder + QString::number(r) + u'.' + KindExtension(p.kind));
        QCOMPARE(table->cell(col::Width, r), QString::number(p.width));
        QCOMPARE(table->cell(col::Height, r), QString::number(p.height));
        // Picture downloads ask for the modern types.
        QCOMPARE(site.acceptOf(p.path), QString("image/avif,image/webp,image/svg+xml,image/*,*/*;q=0.8"));
    }

    // Every thumbnail shows its picture: the cell holds the thumbnail of the file, pixel for pixel.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QImage grid = grabGrid(form);
            for (const Picture& p : all) {
                const int r = rowOf(table, p.path);
                if (!thumbnailMismatch(cellOf(form, grid, r), MeasurePicture(p.bytes, p.kind)).isEmpty())
                    return false;
            }
            return true;
        }(),
        kJobWaitMs);

    // "Save collection" as JPEG: four JPEGs of the measured sizes.
    const QString out = saveRowsAsJpeg(f, form);
    QCOMPARE(test::filesIn(out), (QStringList{"row1.jpg", "row2.jpg", "row3.jpg", "row4.jpg"}));
    for (const Picture& p : all)
        QCOMPARE(test::identify(out + QStringLiteral("/row%1.jpg").arg(rowOf(table, p.path))),
                 QStringLiteral("%1x%2 JPEG").arg(p.width).arg(p.height));

    // "Export to SQLite" as "Original": the modern files as they came, by their own type.
    for (const Picture& p : all)
        table->setCell(col::PicExportName, rowOf(table, p.path),
                       QStringLiteral("p%1.").arg(rowOf(table, p.path)) + KindExtension(p.kind));
    const QString db = f.tempDir.filePath("export.db");
    f.answers.saveFiles.push_back(db);
    test::runDialog(
        f.answers, [&] { test::Press(form, "BitBtn2"); }, [](QWidget*) {}, "BitBtn1",
        "Collection exported to SQLite database!");
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::ExportPicturesSQLite)->Suspended(), test::kWaitMs);
    const QStringList rows = test::sqlite(db, "select name, type, length(data) from Pictures order by id;");
    QCOMPARE(rows.size(), 4);
    for (const Picture& p : all) {
        const QString type = KindExtension(p.kind);
        const QString prefix = QStringLiteral("p%1|%2|").arg(rowOf(table, p.path)).arg(type);
        const auto it = std::find_if(rows.begin(), rows.end(),
                                     [&](const QString& row) { return row.startsWith(prefix); });
        QVERIFY2(it != rows.end(), qPrintable(prefix + " in " + rows.join(u' ')));
        if (IsModernKind(p.kind)) // the PNG is encoded again, as the classic types always are
            QCOMPARE(test::sqlite(db, "select hex(data) from Pictures where type = '" + type + "';"),
                     QStringList{QString::fromLatin1(p.bytes.toHex().toUpper())});
    }

    // The picture selection deletes no modern picture for its type.
    test::PageControl1(form)->setCurrentIndex(2);
    test::WhenModalShows([&](QWidget* d) {
        for (const char* box : {"CheckBox1", "CheckBox2", "CheckBox3"})
            test::child<QCheckBox>(d, box)->setChecked(false);
        QTest::mouseClick(test::child<QPushButton>(d, "BitBtn1"), Qt::LeftButton);
    });
    test::Trigger(form, "Selection1");
    QCOMPARE(table->gridRowCount(), 4);
    QCOMPARE(rowOf(table, "/d.png"), -1);
    for (const char* kept : {"/a.webp", "/b.avif", "/c.svg"})
        QVERIFY2(rowOf(table, kept) > 0, kept);
}

void ModernPicturesGuiTest::withoutTheKeyTheSamePageGivesUnknownRows() {
    const std::vector<Picture> all = pictures();
    MediaSite site;
    serve(site, all);
    GuiFixture f;
    TForm1* form = startWithSettings(f, QByteArray());
    downloadPage(form, site);

    CollectionTable* table = test::pictureTable(form);
    QCOMPARE(table->gridRowCount(), 5);
    const QString folder = f.workFolder() + "Pictures" + QDir::separator();
    for (const Picture& p : all) {
        const int r = rowOf(table, p.path);
        QVERIFY2(r > 0, p.path);
        const bool known = p.kind == PictureKind::Png;
        QCOMPARE(table->cell(col::Status, r), QString("OK"));
        QCOMPARE(table->cell(col::LocalPath, r),
                 folder + QString::number(r) + (known ? QStringLiteral(".png") : UnknownTypeFileExtension()));
        QCOMPARE(table->cell(col::Width, r), known ? QString::number(p.width) : QString());
        QCOMPARE(site.acceptOf(p.path), QString::fromLatin1(kDefaultAccept));
    }
    // Only the PNG has a thumbnail; the other cells keep the grid's background.
    const int png = rowOf(table, "/d.png");
    QTRY_VERIFY_WITH_TIMEOUT(
        thumbnailMismatch(cellOf(form, grabGrid(form), png), MeasurePicture(all[3].bytes, PictureKind::Png))
            .isEmpty(),
        kJobWaitMs);
    const QImage grid = grabGrid(form);
    for (const Picture& p : all) {
        if (p.kind == PictureKind::Png)
            continue;
        const QImage cell = cellOf(form, grid, rowOf(table, p.path));
        QCOMPARE(cell.pixel(50, 50), cell.pixel(0, 0));
    }
    // "Save collection" as JPEG writes the PNG alone.
    const QString out = saveRowsAsJpeg(f, form);
    QCOMPARE(test::filesIn(out), QStringList{QStringLiteral("row%1.jpg").arg(png)});
}

void ModernPicturesGuiTest::parametersShowsSetsAndSavesTheSetting() {
    const auto openParameters = [](TForm1* form, const std::function<void(QWidget*)>& act) {
        bool seen = false;
        test::WhenModalShows([&](QWidget* d) {
            seen = d->objectName() == QLatin1String("Form13");
            act(d);
        });
        test::Trigger(form, "Parameters1");
        QVERIFY(seen);
    };
    GuiFixture f;
    TForm1* form = f.start();
    openParameters(form, [](QWidget* d) {
        auto* box = test::child<QCheckBox>(d, "CheckBox1");
        QCOMPARE(box->text(), QString("Modern picture types (WebP, AVIF, SVG)"));
        QVERIFY(!box->isChecked());
        test::clickBox(box);
        QTest::mouseClick(test::child<QPushButton>(d, "BitBtn3"), Qt::LeftButton); // Save changes
    });
    // Taken at once: the next download knows WebP.
    if (PictureKindBuilt(PictureKind::Webp)) {
        MediaSite site;
        site.add("/a.webp", "image/webp", EncodeWebp(gradient(30, 20, 0)));
        site.addPage("/page.html", R"(<img src="a.webp">)");
        site.start();
        test::PageControl1(form)->setCurrentIndex(2);
        test::URLs_List(form)->setPlainText(site.url("/page.html"));
        QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(test::pictureTable(form)->cell(col::Width, 1) == "30", kJobWaitMs);
        QVERIFY(test::pictureTable(form)->cell(col::LocalPath, 1).endsWith("1.webp"));
    }
    // Written at close, read at the next start; "Cancel" changes nothing.
    form->close();
    QVERIFY(test::readFile(f.programDir.filePath("Skarvel.ini")).contains("MODERN_PICTURES=1"));
    f.restart();
    openParameters(f.form.get(), [](QWidget* d) {
        auto* box = test::child<QCheckBox>(d, "CheckBox1");
        QVERIFY(box->isChecked());
        test::clickBox(box);
        QTest::mouseClick(test::child<QPushButton>(d, "BitBtn4"), Qt::LeftButton); // Cancel
    });
    openParameters(f.form.get(), [](QWidget* d) {
        auto* box = test::child<QCheckBox>(d, "CheckBox1");
        QVERIFY(box->isChecked());
        test::clickBox(box);
        QTest::mouseClick(test::child<QPushButton>(d, "BitBtn3"), Qt::LeftButton);
    });
    f.form->close();
    QVERIFY(test::readFile(f.programDir.filePath("Skarvel.ini")).contains("MODERN_PICTURES=0"));
}

QTEST_MAIN(ModernPicturesGuiTest)
#include "test_modern_pictures_gui.moc"
