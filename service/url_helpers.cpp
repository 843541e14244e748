// Addresses: resolving references, names and extensions, the https upgrade.
#include "service/analysis_internal.h"

#include <QHashFunctions>

#include <algorithm>

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

namespace {

// Characters that QUrl copies into a path as they are.
bool isPlainPathCharacter(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return true;
    switch (c) {
    case u'-':
    case u'.':
    case u'_':
    case u'~':
    case u'/':
    case u'!':
    case u'$':
    case u'&':
    case u'\'':
    case u'(':
    case u')':
    case u'*':
    case u'+':
    case u',':
    case u';':
    case u'=':
    case u'@':
        return true;
    default:
        return false;
    }
}

// A path that resolving copies unchanged: plain characters, no empty segment
// (nor "//", which would name a host), no segment of dots only.
bool isPlainPath(QStringView ref) {
    qsizetype segmentStart = 0;
    bool onlyDots = true;
    for (qsizetype i = 0; i <= ref.size(); ++i) {
        if (i == ref.size() || ref[i] == u'/') {
            const qsizetype length = i - segmentStart;
            if ((length == 0 && i > 0 && i < ref.size()) || (length > 0 && onlyDots))
                return false;
            segmentStart = i + 1;
            onlyDots = true;
            continue;
        }
        if (!isPlainPathCharacter(ref[i].unicode()))
            return false;
        onlyDots = onlyDots && ref[i] == u'.';
    }
    return true;
}

} // namespace

bool AddressSet::insert(const QString& text) {
    if ((std::size_t(m_keys.size()) + 1) * 2 > m_slots.size())
        grow();
    const auto hash = std::uint32_t(qHash(QStringView(text), QHashSeed::globalSeed()));
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.key == 0) {
            m_keys.append(text);
            slot = {hash, std::uint32_t(m_keys.size())};
            return true;
        }
        if (slot.hash == hash && m_keys[slot.key - 1] == text)
            return false;
    }
}

void AddressSet::grow() {
    std::vector<Slot> old(std::max<std::size_t>(64, m_slots.size() * 2));
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.key == 0)
            continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].key != 0)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

QString ResolvedAddress::extension() const {
    if (url)
        return urlExtension(*url);
    const qsizetype dot = plainName.lastIndexOf(u'.');
    return dot < 0 ? QString() : plainName.mid(dot + 1).toString().toLower();
}

AddressResolver::AddressResolver(QUrl base) : m_base(std::move(base)) {
    computePrefixes();
}

void AddressResolver::setUpgradeInsecure(bool upgrade) {
    if (upgrade == m_upgrade)
        return;
    m_upgrade = upgrade;
    computePrefixes();
}

void AddressResolver::computePrefixes() {
    auto prefixOf = [this](QStringView probe) {
        std::optional<QUrl> url = resolveReference(m_base, probe);
        if (!url)
            return QString();
        if (m_upgrade)
            url = upgradedToHttps(*std::move(url));
        QString text = url->toString(QUrl::FullyEncoded);
        if (!url->query().isEmpty() || !url->path().endsWith(u"/x") || !text.endsWith(u"/x"))
            return QString();
        text.chop(1);
        return text;
    };
    m_directoryPrefix = prefixOf(u"x");
    m_rootPrefix = prefixOf(u"/x");
    if (m_rootPrefix.isEmpty())
        m_directoryPrefix.clear();
}

std::optional<ResolvedAddress> AddressResolver::resolve(QStringView ref) const {
    const QStringView trimmed = trimAsciiWhitespace(ref);
    if (!m_directoryPrefix.isEmpty() && !trimmed.isEmpty() && isPlainPath(trimmed)) {
        const bool fromRoot = trimmed.front() == u'/';
        const QString& prefix = fromRoot ? m_rootPrefix : m_directoryPrefix;
        const QStringView path = fromRoot ? trimmed.sliced(1) : trimmed;
        ResolvedAddress address;
        address.text.reserve(prefix.size() + path.size());
        address.text.append(prefix).append(path);
        address.plainName = path.sliced(path.lastIndexOf(u'/') + 1);
        return address;
    }
    std::optional<QUrl> url = resolveReference(m_base, ref);
    if (!url)
        return std::nullopt;
    if (m_upgrade)
        url = upgradedToHttps(*std::move(url));
    ResolvedAddress address;
    address.text = url->toString(QUrl::FullyEncoded);
    address.url = std::move(url);
    return address;
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
