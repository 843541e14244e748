// Fuzz target: the address encodings of the download jobs and of the service requests.
#include "fuzz/fuzz_input.h"
#include "net/url_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace skarvel;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    const QString line = EncodeForRequestLine(text);
    for (const QChar c : line)
        FUZZ_CHECK(c.unicode() > 32 && c.unicode() < 127 && c != u'#');

    // An encoded address goes through the encoding again unchanged: escapes are never doubled.
    const QString url = EncodeDownloadUrl(text);
    FUZZ_CHECK(EncodeDownloadUrl(url) == url);
    const qsizetype query = url.indexOf(u'?');
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    // Past the authority every character is plain ASCII (the query may keep U+0080).
    qsizetype from = 0;
    if (scheme > 0 && text.indexOf(QLatin1String("://")) == scheme) {
        from = scheme + 3;
        while (from < url.size() && url[from] != u'/' && url[from] != u'?' && url[from] != u'#')
            ++from;
    }
    for (qsizetype i = from; i < url.size(); ++i) {
        const char16_t u = url[i].unicode();
        FUZZ_CHECK(u >= 33 && (u <= 127 || (u == 128 && query >= 0 && i > query)));
    }
    return 0;
}
