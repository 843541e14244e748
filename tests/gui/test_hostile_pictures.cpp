// A page of tiny pictures that claim gigapixels, harvested and downloaded from the window:
// every such row fails as a picture that cannot be decoded, quickly, without the memory
// the files claim.
#include "tests/gui/gui_test_support.h"
#include "tests/gui/test_media_site.h"
#include "tests/pictures/picture_test_tools.h"
#include "tests/support/test_support.h"

#include "pictures/picture_codecs.h"
#include "jobs/picture_jobs.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace skarvel;
using skarvel::test::GuiFixture;
using skarvel::test::MediaSite;

class HostilePicturesTest : public QObject {
    Q_OBJECT
private slots:
    void tinyFilesClaimingGigapixelsFailEachRowWithinBoundedMemory();
};

void HostilePicturesTest::tinyFilesClaimingGigapixelsFailEachRowWithinBoundedMemory() {
    MediaSite site;
    struct Hostile {
        const char* path;
        const char* type;
        QByteArray bytes;
    };
    const Hostile hostile[] = {
        {"/rle.bmp", "image/bmp", test::tinyRleBmp(24652, 18194)},
        {"/interlaced.png", "image/png", test::tinyPng(24652, 18194, true)},
        {"/plain.png", "image/png", test::tinyPng(24652, 18194, false)},
        {"/frame.gif", "image/gif", test::gifWithSizes(24652, 18194, 24652, 18194)},
        {"/flat.gif", "image/gif", test::gifWithSizes(24652, 18194, 1, 0)},
        {"/huge.jpg", "image/jpeg", test::jpegClaiming(24652, 18194)},
    };
    QString html = QStringLiteral("<html><body>");
    for (const Hostile& h : hostile) {
        QVERIFY(h.bytes.size() < 800);
        site.add(h.path, h.type, h.bytes);
        html += QStringLiteral("<img src=\"%1\">").arg(QLatin1String(h.path));
    }
    const QByteArray good = EncodePng(test::makePhotoLike(40, 30), 7);
    site.add("/good.png", "image/png", good);
    html += QStringLiteral("<img src=\"/good.png\"></body></html>");
    site.addPage("/hostile.html", html);
    site.start();

    GuiFixture fixture;
    TForm1* form = fixture.start();
    form->findChild<QPlainTextEdit*>("URLs_List")->setPlainText(site.url("/hostile.html"));
    const qint64 cpuBefore = test::processCpuMs();
    QTest::mouseClick(form->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(test::CurrentJob(form, JobId::PagesDownload)->Suspended() &&
                                 test::CurrentJob(form, JobId::DownloadPictures)->Suspended() &&
                                 site.count("/good.png") == 1,
                             60000);
    QTRY_VERIFY_WITH_TIMEOUT(!form->findChild<QTableView*>("StringGrid1")
                                  ->model()
                                  ->index(int(std::size(hostile)), 1)
                                  .data()
                                  .toString()
                                  .isEmpty(),
                             60000);
    // Processor time, which load does not stretch.
    const qint64 took = test::processCpuMs() - cpuBefore;

    QAbstractItemModel* table = form->findChild<QTableView*>("StringGrid1")->model();
    QCOMPARE(table->rowCount(), int(std::size(hostile)) + 1);
    for (int r = 0; r < table->rowCount(); ++r) {
        const QString url = table->index(r, 2).data().toString();
        const QString status = table->index(r, 1).data().toString();
        if (url.endsWith("/good.png")) {
            QCOMPARE(status, QString("OK"));
            QCOMPARE(table->index(r, 4).data().toString(), QString("40"));
            QCOMPARE(table->index(r, 5).data().toString(), QString("30"));
            continue;
        }
        QVERIFY2(status == "Download error", qPrintable(url + ": " + status));
        QVERIFY2(table->index(r, 4).data().toString().isEmpty(), qPrintable(url + " was measured"));
        const QString why = table->index(r, 1).data(Qt::ToolTipRole).toString();
        QVERIFY2(why.startsWith("Decode error"), qPrintable(url + ": " + why));
    }
    // Each file claims about 450 megapixels (1.3 GB of pixels); none of it is ever taken.
    const long peak = long(test::processStatusKiB("VmHWM:") / 1024);
    QVERIFY2(peak > 0 && peak < 300, qPrintable(QString::number(peak) + " MB at peak"));
    QVERIFY2(took < 30000, qPrintable(QString::number(took) + " ms of processor time"));
}

QTEST_MAIN(HostilePicturesTest)
#include "test_hostile_pictures.moc"
