// Fuzz target: the page analysis of the service (pictures, sounds, videos, links,
// srcset and CSS addresses) and the answers it builds from what it finds.
#include "fuzz/fuzz_input.h"
#include "service/html_analysis.h"

#include <QSet>

namespace {

using namespace skarvel;

bool isHttpAddress(const QString& text) {
    const QUrl url(text);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty() &&
           !url.hasFragment();
}

// An answer body: `lines` records, each ended by CR LF and holding `fields` tab-separated fields.
void checkAnswer(const QByteArray& answer, qsizetype lines, qsizetype fields) {
    QList<QByteArray> records = answer.split('\n');
    FUZZ_CHECK(records.takeLast().isEmpty());
    FUZZ_CHECK(records.size() == lines);
    for (const QByteArray& record : records) {
        FUZZ_CHECK(record.endsWith('\r'));
        FUZZ_CHECK(record.count('\r') == 1);
        FUZZ_CHECK(record.count('\t') == fields - 1);
    }
}

template <typename Record> void checkUniqueHttp(const QList<Record>& records) {
    QSet<QString> seen;
    for (const Record& r : records) {
        FUZZ_CHECK(isHttpAddress(r.url));
        FUZZ_CHECK(!seen.contains(r.url));
        seen.insert(r.url);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView page(data, qsizetype(size));
    const QUrl pageUrl(QStringLiteral("http://page.invalid/dir/index.html?q=1"));
    const QString parent = QStringLiteral("http://page.invalid/dir/index.html?q=1");

    const QList<PictureRecord> pictures = findPictures(page, pageUrl);
    checkUniqueHttp(pictures);
    checkAnswer(formatPictureAnswer(pictures, parent), pictures.size(), 5);

    for (const MediaKind kind : {MediaKind::Sound, MediaKind::Video}) {
        const QList<MediaRecord> media = findMedia(page, pageUrl, kind);
        checkUniqueHttp(media);
        checkAnswer(formatMediaAnswer(media, parent), media.size(), 3);
    }

    const QStringList links = findLinks(page, pageUrl);
    FUZZ_CHECK(QSet<QString>(links.begin(), links.end()).size() == links.size());
    for (const QString& link : links)
        FUZZ_CHECK(isHttpAddress(link));

    // The attribute-level parsers see the raw bytes as one value too.
    const QString text = QString::fromUtf8(page);
    (void)parseSrcset(text);
    (void)largestSrcsetCandidate(text);
    (void)cssUrls(text);
    if (const auto resolved = resolveReference(pageUrl, text))
        FUZZ_CHECK(isHttpAddress(resolved->toString(QUrl::FullyEncoded)));
    return 0;
}
