#include "service/html_analysis.h"

#include <gumbo.h>

#include <QSet>

#include <cstring>
#include <memory>
#include <vector>

namespace skarvel {

namespace {

// ---------------------------------------------------------------- gumbo tree

struct GumboOutputDeleter {
    void operator()(GumboOutput* output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};
using GumboDocument = std::unique_ptr<GumboOutput, GumboOutputDeleter>;

GumboDocument parseHtml(QByteArrayView utf8Html) {
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // nobody reads the parse errors; recording them costs time
    return GumboDocument(gumbo_parse_with_options(&options, utf8Html.data(), size_t(utf8Html.size())));
}

bool isElement(const GumboNode* node) {
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

const GumboVector* childrenOf(const GumboNode* node) {
    if (node->type == GUMBO_NODE_DOCUMENT)
        return &node->v.document.children;
    if (isElement(node))
        return &node->v.element.children;
    return nullptr;
}

// Visits every element in document order without recursion (pages can nest deeply).
template <typename Visitor>
void forEachElement(const GumboNode* root, Visitor&& visit) {
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (isElement(node))
            visit(node);
        if (const GumboVector* children = childrenOf(node)) {
            for (unsigned i = children->length; i > 0; --i)
                stack.push_back(static_cast<const GumboNode*>(children->data[i - 1]));
        }
    }
}

const char* rawAttr(const GumboNode* node, const char* name) {
    const GumboAttribute* attr = gumbo_get_attribute(&node->v.element.attributes, name);
    return attr ? attr->value : nullptr;
}

QString attr(const GumboNode* node, const char* name) {
    const char* value = rawAttr(node, name);
    return value ? QString::fromUtf8(value) : QString();
}

bool hasTag(const GumboNode* node, GumboTag tag) {
    return node && isElement(node) && node->v.element.tag == tag;
}

// gumbo 0.10 has no constant for newer elements such as <picture>.
bool isUnknownElementNamed(const GumboNode* node, const char* name) {
    if (!node || !isElement(node) || node->v.element.tag != GUMBO_TAG_UNKNOWN)
        return false;
    GumboStringPiece piece = node->v.element.original_tag;
    if (!piece.data || piece.length == 0)
        return false;
    gumbo_tag_from_original_text(&piece);
    return piece.length == std::strlen(name) && qstrnicmp(piece.data, name, piece.length) == 0;
}

const GumboNode* nearestAncestor(const GumboNode* node, GumboTag tag) {
    for (const GumboNode* p = node->parent; p; p = p->parent) {
        if (hasTag(p, tag))
            return p;
    }
    return nullptr;
}

const GumboNode* firstDescendant(const GumboNode* node, GumboTag tag) {
    const GumboNode* found = nullptr;
    const GumboVector* children = childrenOf(node);
    if (!children)
        return nullptr;
    for (unsigned i = 0; i < children->length && !found; ++i) {
        forEachElement(static_cast<const GumboNode*>(children->data[i]), [&](const GumboNode* n) {
            if (!found && hasTag(n, tag))
                found = n;
        });
    }
    return found;
}

QString textContent(const GumboNode* node) {
    QString text;
    if (const GumboVector* children = childrenOf(node)) {
        for (unsigned i = 0; i < children->length; ++i) {
            const auto* child = static_cast<const GumboNode*>(children->data[i]);
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_CDATA ||
                child->type == GUMBO_NODE_WHITESPACE)
                text += QString::fromUtf8(child->v.text.text);
        }
    }
    return text;
}

// The frozen base address: the first <base href> resolved against the page address.
QUrl documentBase(const GumboNode* root, const QUrl& pageUrl) {
    QUrl base = pageUrl;
    bool found = false;
    forEachElement(root, [&](const GumboNode* node) {
        if (found || !hasTag(node, GUMBO_TAG_BASE))
            return;
        const char* href = rawAttr(node, "href");
        if (!href)
            return;
        found = true;
        if (auto resolved = resolveReference(pageUrl, QString::fromUtf8(href)))
            base = *resolved;
    });
    return base;
}

bool containsToken(const QString& list, QLatin1StringView token) {
    const auto tokens = QStringView(list).split(u' ', Qt::SkipEmptyParts);
    for (QStringView t : tokens) {
        if (t.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isOneOf(const QString& value, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (value.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Name of an Open Graph / Twitter meta element (property= or name=).
QString metaKey(const GumboNode* node) {
    QString key = attr(node, "property");
    if (key.isEmpty())
        key = attr(node, "name");
    return key.trimmed();
}

// ------------------------------------------------------------- URL utilities

bool isHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

bool isAsciiWhitespace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

QStringView trimAsciiWhitespace(QStringView s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && (isAsciiWhitespace(s[begin]) || s[begin].unicode() < 0x20))
        ++begin;
    while (end > begin && (isAsciiWhitespace(s[end - 1]) || s[end - 1].unicode() < 0x20))
        --end;
    return s.mid(begin, end - begin);
}

// Addresses found in style sheets that are certainly not pictures.
bool isNonPictureResource(const QString& ext) {
    static const QSet<QString> kinds{QStringLiteral("woff"), QStringLiteral("woff2"),
                                     QStringLiteral("ttf"),  QStringLiteral("otf"),
                                     QStringLiteral("eot"),  QStringLiteral("css"),
                                     QStringLiteral("js"),   QStringLiteral("htc")};
    return kinds.contains(ext);
}

// -------------------------------------------------------------- collectors

class Collector {
public:
    explicit Collector(QUrl base) : m_base(std::move(base)) {}

    // The resolved, encoded address when it is new to this answer.
    std::optional<std::pair<QUrl, QString>> take(QStringView ref) {
        auto url = resolveReference(m_base, ref);
        if (!url)
            return std::nullopt;
        QString text = url->toString(QUrl::FullyEncoded);
        if (m_seen.contains(text))
            return std::nullopt;
        m_seen.insert(text);
        return std::make_pair(*std::move(url), std::move(text));
    }
    const QUrl& base() const { return m_base; }

private:
    QUrl m_base;
    QSet<QString> m_seen;
};

class PictureCollector {
public:
    explicit PictureCollector(QUrl base) : m_collector(std::move(base)) {}

    void add(QStringView ref, const QString& alt, const QString& title) {
        if (ref.isEmpty())
            return;
        if (auto taken = m_collector.take(ref))
            m_out.append({taken->second, originalNameOf(taken->first), cleanField(alt), cleanField(title)});
    }
    void addSrcset(QStringView srcset, const QString& alt, const QString& title) {
        add(largestSrcsetCandidate(srcset), alt, title);
    }
    void addCss(QStringView css, const QString& title) {
        const QStringList refs = cssUrls(css);
        for (const QString& ref : refs) {
            if (ref.startsWith(u'#'))
                continue; // SVG filter or marker inside the page
            auto url = resolveReference(m_collector.base(), ref);
            if (url && !isNonPictureResource(urlExtension(*url)))
                add(ref, QString(), title);
        }
    }
    const QUrl& base() const { return m_collector.base(); }
    QList<PictureRecord> result() { return std::move(m_out); }

private:
    Collector m_collector;
    QList<PictureRecord> m_out;
};

// Attributes that lazy-loading scripts and galleries use for the full-size
// picture, searched before the attributes that hold the shown picture.
constexpr const char* kFullSizeAttributes[] = {
    "data-full",      "data-full-src",  "data-fullsrc",      "data-large",     "data-large-src",
    "data-large_image", "data-hi-res",  "data-hires",        "data-zoom-image", "data-zoom-src",
    "data-orig-file", "data-large-file", "data-original-src",
};
constexpr const char* kSrcsetAttributes[] = {"srcset", "data-srcset", "data-lazy-srcset"};
constexpr const char* kLazySrcAttributes[] = {
    "data-src", "data-original", "data-lazy-src", "data-lazy", "data-cfsrc", "data-echo", "data-medium-file",
};

void collectImg(PictureCollector& pictures, const GumboNode* img) {
    const QString alt = attr(img, "alt");
    QString title = attr(img, "title");
    if (title.isEmpty()) {
        if (const GumboNode* link = nearestAncestor(img, GUMBO_TAG_A))
            title = attr(link, "title");
    }
    for (const char* name : kFullSizeAttributes)
        pictures.add(attr(img, name), alt, title);
    for (const char* name : kSrcsetAttributes)
        pictures.addSrcset(attr(img, name), alt, title);
    for (const char* name : kLazySrcAttributes)
        pictures.add(attr(img, name), alt, title);
    pictures.add(attr(img, "src"), alt, title);
    pictures.add(attr(img, "lowsrc"), alt, title);
}

void collectPictureSource(PictureCollector& pictures, const GumboNode* source) {
    // alt and title come from the <img> that the <picture> falls back to
    const GumboNode* img = firstDescendant(source->parent, GUMBO_TAG_IMG);
    const QString alt = img ? attr(img, "alt") : QString();
    QString title = attr(source, "title");
    if (title.isEmpty() && img)
        title = attr(img, "title");
    if (title.isEmpty()) {
        if (const GumboNode* link = nearestAncestor(source, GUMBO_TAG_A))
            title = attr(link, "title");
    }
    for (const char* name : kSrcsetAttributes)
        pictures.addSrcset(attr(source, name), alt, title);
}

void collectPictureLink(PictureCollector& pictures, const GumboNode* link) {
    const QString href = attr(link, "href");
    const auto url = resolveReference(pictures.base(), href);
    if (!url || !isPictureExtension(urlExtension(*url)))
        return;
    const GumboNode* thumb = firstDescendant(link, GUMBO_TAG_IMG);
    QString title = attr(link, "title");
    if (title.isEmpty() && thumb)
        title = attr(thumb, "title");
    pictures.add(href, thumb ? attr(thumb, "alt") : QString(), title);
}

bool isPictureMeta(const QString& key) {
    return isOneOf(key, {"og:image", "og:image:url", "og:image:secure_url", "twitter:image", "twitter:image:src"});
}

// ------------------------------------------------------------- media kinds

std::optional<MediaKind> kindOfMimeType(const QString& type) {
    const QString t = type.trimmed().toLower();
    if (t.startsWith(QLatin1StringView("audio/")))
        return MediaKind::Sound;
    if (t.startsWith(QLatin1StringView("video/")))
        return MediaKind::Video;
    return std::nullopt;
}

std::optional<MediaKind> kindOfExtension(const QString& ext) {
    if (isSoundExtension(ext))
        return MediaKind::Sound;
    if (isVideoExtension(ext))
        return MediaKind::Video;
    return std::nullopt;
}

class MediaCollector {
public:
    MediaCollector(QUrl base, MediaKind wanted) : m_collector(std::move(base)), m_wanted(wanted) {}

    void add(QStringView ref, std::optional<MediaKind> kind) {
        if (ref.isEmpty() || kind != m_wanted)
            return;
        if (auto taken = m_collector.take(ref))
            m_out.append({taken->second, originalNameOf(taken->first)});
    }
    // Kind from the type attribute, else the element's own kind, else the file extension.
    void addClassified(QStringView ref, const QString& type, std::optional<MediaKind> elementKind) {
        if (ref.isEmpty())
            return;
        std::optional<MediaKind> kind = kindOfMimeType(type);
        if (!kind)
            kind = elementKind;
        if (!kind) {
            const auto url = resolveReference(m_collector.base(), ref);
            if (!url)
                return;
            kind = kindOfExtension(urlExtension(*url));
        }
        add(ref, kind);
    }
    QList<MediaRecord> result() { return std::move(m_out); }

private:
    Collector m_collector;
    MediaKind m_wanted;
    QList<MediaRecord> m_out;
};

std::optional<MediaKind> kindOfMediaElement(const GumboNode* node) {
    if (hasTag(node, GUMBO_TAG_AUDIO))
        return MediaKind::Sound;
    if (hasTag(node, GUMBO_TAG_VIDEO))
        return MediaKind::Video;
    return std::nullopt;
}

std::optional<MediaKind> kindOfMeta(const QString& key) {
    if (isOneOf(key, {"og:audio", "og:audio:url", "og:audio:secure_url"}))
        return MediaKind::Sound;
    if (isOneOf(key, {"og:video", "og:video:url", "og:video:secure_url"}))
        return MediaKind::Video;
    return std::nullopt;
}

// ------------------------------------------------------------ answer format

void appendField(QByteArray& out, const QString& value) {
    out += cleanField(value).toUtf8();
}

} // namespace

// ================================================================= pictures

QList<PictureRecord> findPictures(QByteArrayView utf8Html, const QUrl& pageUrl) {
    const GumboDocument doc = parseHtml(utf8Html);
    PictureCollector pictures(documentBase(doc->document, pageUrl));
    forEachElement(doc->document, [&](const GumboNode* node) {
        const GumboTag tag = node->v.element.tag;
        switch (tag) {
        case GUMBO_TAG_IMG:
            collectImg(pictures, node);
            break;
        case GUMBO_TAG_SOURCE:
            if (isUnknownElementNamed(node->parent, "picture"))
                collectPictureSource(pictures, node);
            break;
        case GUMBO_TAG_A:
            collectPictureLink(pictures, node);
            break;
        case GUMBO_TAG_INPUT:
            if (attr(node, "type").trimmed().compare(QLatin1StringView("image"), Qt::CaseInsensitive) == 0)
                pictures.add(attr(node, "src"), attr(node, "alt"), attr(node, "title"));
            break;
        case GUMBO_TAG_VIDEO:
            pictures.add(attr(node, "poster"), QString(), attr(node, "title"));
            break;
        case GUMBO_TAG_META:
            if (isPictureMeta(metaKey(node)))
                pictures.add(attr(node, "content"), QString(), QString());
            break;
        case GUMBO_TAG_LINK:
            if (containsToken(attr(node, "rel"), QLatin1StringView("image_src")))
                pictures.add(attr(node, "href"), QString(), attr(node, "title"));
            break;
        case GUMBO_TAG_STYLE:
            pictures.addCss(textContent(node), QString());
            break;
        default:
            break;
        }
        if (const char* background = rawAttr(node, "background"))
            pictures.add(QString::fromUtf8(background), QString(), attr(node, "title"));
        if (const char* style = rawAttr(node, "style"))
            pictures.addCss(QString::fromUtf8(style), attr(node, "title"));
    });
    return pictures.result();
}

// =================================================================== media

QList<MediaRecord> findMedia(QByteArrayView utf8Html, const QUrl& pageUrl, MediaKind kind) {
    const GumboDocument doc = parseHtml(utf8Html);
    const QUrl base = documentBase(doc->document, pageUrl);
    MediaCollector media(base, kind);
    forEachElement(doc->document, [&](const GumboNode* node) {
        switch (node->v.element.tag) {
        case GUMBO_TAG_AUDIO:
        case GUMBO_TAG_VIDEO:
            media.add(attr(node, "src"), kindOfMediaElement(node));
            media.add(attr(node, "data-src"), kindOfMediaElement(node));
            break;
        case GUMBO_TAG_SOURCE:
            if (isUnknownElementNamed(node->parent, "picture"))
                break;
            for (const char* name : {"src", "data-src"})
                media.addClassified(attr(node, name), attr(node, "type"), kindOfMediaElement(node->parent));
            break;
        case GUMBO_TAG_EMBED:
            media.addClassified(attr(node, "src"), attr(node, "type"), std::nullopt);
            break;
        case GUMBO_TAG_OBJECT:
            media.addClassified(attr(node, "data"), attr(node, "type"), std::nullopt);
            break;
        case GUMBO_TAG_A: {
            const QString href = attr(node, "href");
            if (const auto url = resolveReference(base, href))
                media.add(href, kindOfExtension(urlExtension(*url)));
            break;
        }
        case GUMBO_TAG_META:
            media.add(attr(node, "content"), kindOfMeta(metaKey(node)));
            break;
        default:
            break;
        }
    });
    return media.result();
}

// =================================================================== links

QStringList findLinks(QByteArrayView utf8Html, const QUrl& pageUrl) {
    const GumboDocument doc = parseHtml(utf8Html);
    Collector links(documentBase(doc->document, pageUrl));
    QStringList out;
    forEachElement(doc->document, [&](const GumboNode* node) {
        const GumboTag tag = node->v.element.tag;
        if (tag != GUMBO_TAG_A && tag != GUMBO_TAG_AREA)
            return;
        const char* href = rawAttr(node, "href");
        if (!href)
            return;
        if (auto taken = links.take(QString::fromUtf8(href)))
            out.append(std::move(taken->second));
    });
    return out;
}

// ================================================================== srcset

QList<SrcsetCandidate> parseSrcset(QStringView input) {
    // The HTML standard's "parse a srcset attribute" algorithm.
    QList<SrcsetCandidate> candidates;
    qsizetype pos = 0;
    const qsizetype n = input.size();
    while (true) {
        while (pos < n && (isAsciiWhitespace(input[pos]) || input[pos] == u','))
            ++pos;
        if (pos >= n)
            return candidates;
        const qsizetype urlStart = pos;
        while (pos < n && !isAsciiWhitespace(input[pos]))
            ++pos;
        QStringView url = input.mid(urlStart, pos - urlStart);
        QStringList descriptors;
        if (url.endsWith(u',')) {
            while (url.endsWith(u','))
                url.chop(1);
        } else {
            while (pos < n && isAsciiWhitespace(input[pos]))
                ++pos;
            enum class State { InDescriptor, InParens, AfterDescriptor } state = State::InDescriptor;
            QString current;
            bool done = false;
            while (!done) {
                const bool atEnd = pos >= n;
                const QChar c = atEnd ? QChar() : input[pos];
                switch (state) {
                case State::InDescriptor:
                    if (atEnd) {
                        if (!current.isEmpty())
                            descriptors.append(current);
                        done = true;
                    } else if (isAsciiWhitespace(c)) {
                        if (!current.isEmpty())
                            descriptors.append(current);
                        current.clear();
                        state = State::AfterDescriptor;
                    } else if (c == u',') {
                        ++pos;
                        if (!current.isEmpty())
                            descriptors.append(current);
                        done = true;
                        continue;
                    } else if (c == u'(') {
                        current += c;
                        state = State::InParens;
                    } else {
                        current += c;
                    }
                    break;
                case State::InParens:
                    if (atEnd) {
                        descriptors.append(current);
                        done = true;
                    } else {
                        current += c;
                        if (c == u')')
                            state = State::InDescriptor;
                    }
                    break;
                case State::AfterDescriptor:
                    if (atEnd) {
                        done = true;
                    } else if (!isAsciiWhitespace(c)) {
                        state = State::InDescriptor;
                        continue; // reconsume
                    }
                    break;
                }
                if (!done)
                    ++pos;
            }
        }
        SrcsetCandidate candidate;
        candidate.url = url.toString();
        bool error = false;
        std::optional<int> height;
        for (const QString& d : std::as_const(descriptors)) {
            const QChar last = d.isEmpty() ? QChar() : d.back();
            const QStringView number = QStringView(d).chopped(d.isEmpty() ? 0 : 1);
            bool ok = false;
            if (last == u'w') {
                const int value = number.toInt(&ok);
                if (candidate.width || candidate.density || !ok || value <= 0 || number.startsWith(u'+'))
                    error = true;
                else
                    candidate.width = value;
            } else if (last == u'x') {
                const double value = number.toDouble(&ok);
                if (candidate.width || candidate.density || height || !ok || value < 0)
                    error = true;
                else
                    candidate.density = value;
            } else if (last == u'h') {
                const int value = number.toInt(&ok);
                if (height || candidate.density || !ok || value <= 0)
                    error = true;
                else
                    height = value;
            } else {
                error = true;
            }
        }
        if (height && !candidate.width)
            error = true;
        if (!error && !candidate.url.isEmpty())
            candidates.append(std::move(candidate));
    }
}

QString largestSrcsetCandidate(QStringView srcset) {
    const QList<SrcsetCandidate> candidates = parseSrcset(srcset);
    const SrcsetCandidate* best = nullptr;
    for (const SrcsetCandidate& c : candidates) {
        if (c.width && (!best || c.width > best->width))
            best = &c;
    }
    if (!best) {
        for (const SrcsetCandidate& c : candidates) {
            if (!best || c.density.value_or(1.0) > best->density.value_or(1.0))
                best = &c;
        }
    }
    return best ? best->url : QString();
}

// ===================================================================== CSS

QStringList cssUrls(QStringView css) {
    QStringList out;
    const qsizetype n = css.size();
    qsizetype pos = 0;
    auto readEscape = [&](QString& value) {
        // at a backslash: a hex code point with one optional blank, or the next character itself
        ++pos;
        if (pos >= n)
            return;
        qsizetype hexEnd = pos;
        while (hexEnd < n && hexEnd - pos < 6 && isHexDigit(css[hexEnd]))
            ++hexEnd;
        if (hexEnd > pos) {
            const uint code = css.mid(pos, hexEnd - pos).toUInt(nullptr, 16);
            if (code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF))
                value += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
            else
                value += QChar(QChar::ReplacementCharacter);
            pos = hexEnd;
            if (pos < n && isAsciiWhitespace(css[pos]))
                ++pos;
        } else if (css[pos] == u'\n') {
            ++pos; // escaped line break continues the string
        } else {
            value += css[pos++];
        }
    };
    while (pos < n) {
        if (css[pos] == u'/' && pos + 1 < n && css[pos + 1] == u'*') {
            const qsizetype end = css.indexOf(u"*/", pos + 2);
            pos = end < 0 ? n : end + 2;
            continue;
        }
        const bool isUrl = pos + 4 <= n && css.mid(pos, 4).compare(u"url(", Qt::CaseInsensitive) == 0 &&
                           (pos == 0 || !(css[pos - 1].isLetterOrNumber() || css[pos - 1] == u'-' ||
                                          css[pos - 1] == u'_'));
        if (!isUrl) {
            ++pos;
            continue;
        }
        pos += 4;
        while (pos < n && isAsciiWhitespace(css[pos]))
            ++pos;
        QString value;
        if (pos < n && (css[pos] == u'"' || css[pos] == u'\'')) {
            const QChar quote = css[pos++];
            while (pos < n && css[pos] != quote) {
                if (css[pos] == u'\\')
                    readEscape(value);
                else
                    value += css[pos++];
            }
            ++pos;
            while (pos < n && css[pos] != u')')
                ++pos;
        } else {
            while (pos < n && css[pos] != u')') {
                if (css[pos] == u'\\')
                    readEscape(value);
                else
                    value += css[pos++];
            }
        }
        ++pos;
        value = trimAsciiWhitespace(value).toString();
        if (!value.isEmpty())
            out.append(value);
    }
    return out;
}

// ============================================================ URL utilities

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
    if ((scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https")) || url.host().isEmpty() ||
        !url.isValid())
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
    static const QSet<QString> set{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                   QStringLiteral("gif"), QStringLiteral("bmp"),  QStringLiteral("webp"),
                                   QStringLiteral("svg"), QStringLiteral("avif"), QStringLiteral("tif"),
                                   QStringLiteral("tiff"), QStringLiteral("ico")};
    return set.contains(ext);
}

bool isSoundExtension(const QString& ext) {
    static const QSet<QString> set{QStringLiteral("mp3"),  QStringLiteral("ogg"), QStringLiteral("oga"),
                                   QStringLiteral("wav"),  QStringLiteral("aac"), QStringLiteral("m4a"),
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

// ================================================================== answers

namespace {

// One record: the fields, then the page it was found on, ended by CR LF.
void appendRecord(QByteArray& out, std::initializer_list<const QString*> fields, const QByteArray& parentField) {
    for (const QString* field : fields) {
        appendField(out, *field);
        out += '\t';
    }
    out += parentField;
    out += "\r\n";
}

} // namespace

QByteArray formatPictureAnswer(const QList<PictureRecord>& records, const QString& parent) {
    QByteArray out;
    const QByteArray parentField = cleanField(parent).toUtf8();
    for (const PictureRecord& r : records)
        appendRecord(out, {&r.url, &r.originalName, &r.alt, &r.title}, parentField);
    return out;
}

QByteArray formatMediaAnswer(const QList<MediaRecord>& records, const QString& parent) {
    QByteArray out;
    const QByteArray parentField = cleanField(parent).toUtf8();
    for (const MediaRecord& r : records)
        appendRecord(out, {&r.url, &r.originalName}, parentField);
    return out;
}

QByteArray formatListAnswer(const QStringList& urls) {
    QByteArray out;
    for (const QString& url : urls) {
        out += cleanField(url).toUtf8();
        out += '\n';
    }
    return out;
}

} // namespace skarvel
