// Addresses: resolving references, names and extensions, the https upgrade.
#include "service/analysis_internal.h"

namespace skarvel {

namespace analysis {

QStringView trimAsciiWhitespace(QStringView s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && (isAsciiWhitespace(s[begin]) || s[begin].unicode() < 0x20))
        ++begin;
    while (end > begin && (isAsciiWhitespace(s[end - 1]) || s[end - 1].unicode() < 0x20))
        --end;
    return s.mid(begin, end - begin);
}

bool policyUpgradesInsecureRequests(QStringView policy) {
    // a header may carry several policies separated by commas, each a list of directives
    for (QStringView one : policy.tokenize(u',')) {
        for (QStringView directive : one.tokenize(u';')) {
            directive = trimAsciiWhitespace(directive);
            qsizetype nameEnd = 0;
            while (nameEnd < directive.size() && !isAsciiWhitespace(directive[nameEnd]))
                ++nameEnd;
            if (directive.first(nameEnd).compare(u"upgrade-insecure-requests", Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

QUrl upgradedToHttps(QUrl url) {
    if (url.scheme() != QLatin1StringView("http"))
        return url;
    url.setScheme(QStringLiteral("https"));
    if (url.port() == 80)
        url.setPort(-1);
    return url;
}

std::optional<std::pair<QUrl, QString>> Collector::take(QStringView ref) {
    auto url = resolveReference(m_base, ref);
    if (!url)
        return std::nullopt;
    if (m_upgrade)
        url = upgradedToHttps(*std::move(url));
    QString text = url->toString(QUrl::FullyEncoded);
    if (m_seen.contains(text))
        return std::nullopt;
    m_seen.insert(text);
    return std::make_pair(*std::move(url), std::move(text));
}

} // namespace analysis

using analysis::isAsciiWhitespace;
using analysis::trimAsciiWhitespace;

std::optional<QUrl> resolveReference(const QUrl& base, QStringView ref) {
    QString text = trimAsciiWhitespace(ref).toString();
    if (text.isEmpty())
        return std::nullopt;
    // browsers drop tabs and line breaks anywhere in an address
    text.remove(u'\t');
    text.remove(u'\n');
    text.remove(u'\r');
    // and read backslashes as slashes before the query
    for (qsizetype i = 0; i < text.size() && text[i] != u'?' && text[i] != u'#'; ++i) {
        if (text[i] == u'\\')
            text[i] = u'/';
    }
    const QUrl relative(text, QUrl::TolerantMode);
    if (!relative.isValid())
        return std::nullopt;
    QUrl url = base.resolved(relative).adjusted(QUrl::RemoveFragment);
    const QString scheme = url.scheme();
    if ((scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https")) ||
        url.host().isEmpty() || !url.isValid())
        return std::nullopt;
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url;
}

QString originalNameOf(const QUrl& url) {
    const QString path = url.path(QUrl::FullyEncoded);
    const QString segment = path.mid(path.lastIndexOf(u'/') + 1);
    return cleanField(QString::fromUtf8(QByteArray::fromPercentEncoding(segment.toLatin1())));
}

QString cleanField(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool pendingBlank = false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool blank = u <= 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || u == 0x2028 || u == 0x2029;
        if (blank) {
            pendingBlank = !out.isEmpty();
            continue;
        }
        if (pendingBlank)
            out += u' ';
        pendingBlank = false;
        out += c;
    }
    return out;
}

QString urlExtension(const QUrl& url) {
    const QString path = url.path(QUrl::FullyDecoded);
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash)
        return QString();
    return path.mid(dot + 1).toLower();
}

bool isPictureExtension(const QString& ext) {
    static const QSet<QString> set{QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("png"),
                                   QStringLiteral("gif"),  QStringLiteral("bmp"),  QStringLiteral("webp"),
                                   QStringLiteral("svg"),  QStringLiteral("avif"), QStringLiteral("tif"),
                                   QStringLiteral("tiff"), QStringLiteral("ico")};
    return set.contains(ext);
}

bool isSoundExtension(const QString& ext) {
    static const QSet<QString> set{QStringLiteral("mp3"),  QStringLiteral("ogg"),  QStringLiteral("oga"),
                                   QStringLiteral("wav"),  QStringLiteral("aac"),  QStringLiteral("m4a"),
                                   QStringLiteral("flac"), QStringLiteral("opus"), QStringLiteral("wma")};
    return set.contains(ext);
}

bool isVideoExtension(const QString& ext) {
    static const QSet<QString> set{QStringLiteral("mp4"), QStringLiteral("webm"), QStringLiteral("ogv"),
                                   QStringLiteral("mov"), QStringLiteral("avi"),  QStringLiteral("mkv"),
                                   QStringLiteral("m4v"), QStringLiteral("flv"),  QStringLiteral("wmv"),
                                   QStringLiteral("3gp")};
    return set.contains(ext);
}

} // namespace skarvel
