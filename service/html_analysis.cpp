// The walk over the parsed page that finds its pictures, sounds, videos and links.
#include "service/html_analysis.h"

#include "service/analysis_internal.h"
#include "service/html_tree.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace skarvel {

using namespace analysis;

namespace {

bool containsToken(const QString& list, QLatin1StringView token) {
    for (QStringView t : QStringView(list).tokenize(u' ', Qt::SkipEmptyParts)) {
        if (trimAsciiWhitespace(t).compare(token, Qt::CaseInsensitive) == 0)
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

bool attrIs(const GumboNode* node, const char* name, QLatin1StringView value) {
    return trimAsciiWhitespace(attr(node, name)).compare(value, Qt::CaseInsensitive) == 0;
}

// Name of an Open Graph / Twitter meta element (property= or name=).
QString metaKey(const GumboNode* node) {
    QString key = attr(node, "property");
    if (key.isEmpty())
        key = attr(node, "name");
    return key.trimmed();
}

// Addresses found in style sheets that are certainly not pictures.
bool isNonPictureResource(const QString& ext) {
    static const QSet<QString> kinds{QStringLiteral("woff"), QStringLiteral("woff2"), QStringLiteral("ttf"),
                                     QStringLiteral("otf"),  QStringLiteral("eot"),   QStringLiteral("css"),
                                     QStringLiteral("js"),   QStringLiteral("htc")};
    return kinds.contains(ext);
}

bool isPictureElement(const GumboNode* node) {
    return isUnknownElementNamed(node, "picture");
}

// What the page says about itself before any picture is read: the frozen base
// address, its own upgrade-insecure-requests policy, and the first <img> inside
// every <picture> and <a> (found in one pass, so no element searches its subtree).
struct PageSurvey {
    QUrl base;
    bool upgradeInsecure = false;
    QHash<const GumboNode*, const GumboNode*> firstImage;
    qsizetype pictureElements = 0; // elements whose kind may name a picture: room for the answer
};

PageSurvey surveyPage(const GumboNode* root, const QUrl& pageUrl, bool wantImages, DeadlineGuard& guard) {
    PageSurvey survey;
    survey.base = pageUrl;
    bool baseFound = false;
    std::vector<const GumboNode*> waitingForImage; // open <picture> and <a> without an <img> yet
    walkElements(
        root,
        [&](const GumboNode* node) {
            guard.tick();
            switch (node->v.element.tag) {
            case GUMBO_TAG_SOURCE:
            case GUMBO_TAG_INPUT:
            case GUMBO_TAG_VIDEO:
            case GUMBO_TAG_LINK:
                ++survey.pictureElements;
                break;
            case GUMBO_TAG_BASE:
                if (const char* href = rawAttr(node, "href"); href && !baseFound) {
                    baseFound = true;
                    if (auto resolved = resolveReference(pageUrl, QString::fromUtf8(href)))
                        survey.base = *resolved;
                }
                break;
            case GUMBO_TAG_META:
                ++survey.pictureElements;
                // browsers obey the policy of a <meta> only inside <head>
                if (hasTag(node->parent, GUMBO_TAG_HEAD) &&
                    attrIs(node, "http-equiv", QLatin1StringView("content-security-policy")) &&
                    policyUpgradesInsecureRequests(attr(node, "content")))
                    survey.upgradeInsecure = true;
                break;
            case GUMBO_TAG_A:
                ++survey.pictureElements;
                if (wantImages)
                    waitingForImage.push_back(node);
                break;
            case GUMBO_TAG_IMG:
                ++survey.pictureElements;
                for (const GumboNode* waiting : waitingForImage)
                    survey.firstImage.insert(waiting, node);
                waitingForImage.clear();
                break;
            default:
                if (wantImages && isPictureElement(node))
                    waitingForImage.push_back(node);
                break;
            }
        },
        [&](const GumboNode* node) {
            if (!waitingForImage.empty() && waitingForImage.back() == node)
                waitingForImage.pop_back();
        });
    return survey;
}

// Attributes that lazy-loading scripts and galleries use for the full-size
// picture, searched before the attributes that hold the shown picture.
constexpr const char* kFullSizeAttributes[] = {
    "data-full",        "data-full-src",   "data-fullsrc",      "data-large",      "data-large-src",
    "data-large_image", "data-hi-res",     "data-hires",        "data-zoom-image", "data-zoom-src",
    "data-orig-file",   "data-large-file", "data-original-src",
};
// Where lazy loaders keep the srcset they set once the picture comes near.
constexpr const char* kLazySrcsetAttributes[] = {"data-srcset", "data-lazy-srcset"};
constexpr const char* kLazySrcAttributes[] = {
    "data-src", "data-original", "data-lazy-src", "data-lazy", "data-cfsrc", "data-echo", "data-medium-file",
};

// As QString::fromUtf8(value).isEmpty(), which drops a byte order mark.
bool isEmptyValue(const char* value) {
    return !value || !*value || (*value == '\xEF' && QString::fromUtf8(value).isEmpty());
}

// The first of the attributes that is there and not empty, else null.
const char* firstValue(std::initializer_list<std::pair<const GumboNode*, const char*>> attributes) {
    for (const auto& [node, name] : attributes) {
        if (const char* value = node ? rawAttr(node, name) : nullptr; !isEmptyValue(value))
            return value;
    }
    return nullptr;
}

// Lazy loaders turn data-srcset into srcset, and data-sizes into sizes ("auto":
// the laid-out width). Where the element says neither how wide it is laid out
// nor that its loader measures it, only the largest candidate is listed. True
// when the loader's srcset holds candidates that the screens choose from.
bool collectLazySrcsets(PictureCollector& pictures, const GumboNode* node, const QString& sizes,
                        ScreenSet screens, const char* alt, const char* title) {
    const char* lazySizes = rawAttr(node, "data-sizes");
    const bool slotKnown = lazySizes || !sizes.isEmpty();
    const QString slot = lazySizes ? QString::fromUtf8(lazySizes) : sizes;
    const CandidateChoice choice{slot, true, slotKnown ? screens : 0,
                                 !isEmptyValue(rawAttr(node, "data-src")) ||
                                     !isEmptyValue(rawAttr(node, "src"))};
    bool found = false;
    for (const char* name : kLazySrcsetAttributes)
        found = pictures.addResponsive(attr(node, name), choice, alt, title) || found;
    return found && slotKnown;
}

// link: the nearest <a> around the element, or null; screens: those on which
// the <img> chooses from its own srcset (no <source> of its <picture> matched).
void collectImg(PictureCollector& pictures, const GumboNode* img, const GumboNode* link, ScreenSet screens) {
    const char* alt = rawAttr(img, "alt");
    const char* title = firstValue({{img, "title"}, {link, "title"}});
    for (const char* name : kFullSizeAttributes)
        pictures.add(attr(img, name), alt, title);
    const QString sizes = attr(img, "sizes");
    const bool lazy = attrIs(img, "loading", QLatin1StringView("lazy"));
    pictures.addResponsive(attr(img, "srcset"), {sizes, lazy, screens, !isEmptyValue(rawAttr(img, "src"))},
                           alt, title);
    collectLazySrcsets(pictures, img, sizes, screens, alt, title);
    for (const char* name : kLazySrcAttributes)
        pictures.add(attr(img, name), alt, title);
    pictures.add(attr(img, "src"), alt, title);
    pictures.add(attr(img, "lowsrc"), alt, title);
}

// img: the <img> that the <picture> falls back to, or null; open: the screens
// that no earlier <source> of the <picture> took, or null outside a <picture>
// that browsers read.
void collectPictureSource(PictureCollector& pictures, const GumboNode* source, const GumboNode* img,
                          const GumboNode* link, ScreenSet* open) {
    // alt and title come from the <img>
    const char* alt = img ? rawAttr(img, "alt") : nullptr;
    const char* title = firstValue({{source, "title"}, {img, "title"}, {link, "title"}});
    // browsers take the first source of a type they load whose media matches
    ScreenSet screens = 0;
    ScreenSet taken = 0;
    if (open && *open) {
        const TypeSupport type = pictureTypeSupport(attr(source, "type"));
        if (type != TypeSupport::No) {
            const char* media = rawAttr(source, "media");
            const MediaMatch match =
                media ? pictures.media(QString::fromUtf8(media)) : MediaMatch{kAllScreens, 0};
            screens = *open & (match.yes | match.unknown);
            if (type == TypeSupport::Yes)
                taken = *open & match.yes;
        }
    }
    const QString sizes = attr(source, "sizes");
    const bool chosen =
        pictures.addResponsive(attr(source, "srcset"), {sizes, false, screens, false}, alt, title);
    if ((collectLazySrcsets(pictures, source, sizes, screens, alt, title) || chosen) && open)
        *open &= ~taken;
}

// thumb: the first <img> inside the link, or null.
void collectPictureLink(PictureCollector& pictures, const GumboNode* link, const GumboNode* thumb) {
    const QString href = attr(link, "href");
    if (href.isEmpty())
        return;
    std::optional<ResolvedAddress> address = pictures.resolve(href);
    if (!address || !isPictureExtension(address->extension()))
        return;
    pictures.add(std::move(address), thumb ? rawAttr(thumb, "alt") : nullptr,
                 firstValue({{link, "title"}, {thumb, "title"}}));
}

void collectLinkElement(PictureCollector& pictures, const GumboNode* node) {
    const QString rel = attr(node, "rel");
    const char* title = rawAttr(node, "title");
    // the page's icons, of which browsers load some as the tab's icon
    if (containsToken(rel, QLatin1StringView("image_src")) || containsToken(rel, QLatin1StringView("icon")) ||
        containsToken(rel, QLatin1StringView("apple-touch-icon")) ||
        containsToken(rel, QLatin1StringView("apple-touch-icon-precomposed")) ||
        containsToken(rel, QLatin1StringView("mask-icon")))
        pictures.add(attr(node, "href"), nullptr, title);
    if (containsToken(rel, QLatin1StringView("preload")) && attrIs(node, "as", QLatin1StringView("image"))) {
        const char* media = rawAttr(node, "media");
        const MediaMatch match =
            media ? pictures.media(QString::fromUtf8(media)) : MediaMatch{kAllScreens, 0};
        const QString sizes = attr(node, "imagesizes");
        const QString href = attr(node, "href");
        pictures.addResponsive(attr(node, "imagesrcset"),
                               {sizes, false, match.yes | match.unknown, !href.isEmpty()}, nullptr, title);
        pictures.add(href, nullptr, title);
    }
}

// <object> and <embed> show a picture when their type, or else their address, says so.
void collectEmbeddedPicture(PictureCollector& pictures, const GumboNode* node, const char* addressAttribute) {
    const QString ref = attr(node, addressAttribute);
    if (ref.isEmpty())
        return;
    std::optional<ResolvedAddress> address = pictures.resolve(ref);
    if (!address)
        return;
    const QString type = attr(node, "type").trimmed();
    if (type.isEmpty() ? isPictureExtension(address->extension())
                       : type.startsWith(QLatin1StringView("image/"), Qt::CaseInsensitive))
        pictures.add(std::move(address), nullptr, rawAttr(node, "title"));
}

// <use href="sprite.svg#icon"> loads the sprite file; "#icon" alone points into the page.
void collectSvgUse(PictureCollector& pictures, const GumboNode* node) {
    const QString href = attr(node, "href"); // gumbo files xlink:href under its local name
    if (!trimAsciiWhitespace(href).startsWith(u'#'))
        pictures.add(href, nullptr, nullptr);
}

bool isClassicOrModuleScript(const GumboNode* node) {
    if (rawAttr(node, "src"))
        return false;
    const QString type = attr(node, "type").trimmed();
    return type.isEmpty() || type.compare(QLatin1StringView("module"), Qt::CaseInsensitive) == 0 ||
           type.contains(QLatin1StringView("javascript"), Qt::CaseInsensitive) ||
           type.contains(QLatin1StringView("ecmascript"), Qt::CaseInsensitive);
}

bool isPictureMeta(const QString& key) {
    return isOneOf(key,
                   {"og:image", "og:image:url", "og:image:secure_url", "twitter:image", "twitter:image:src"});
}

// The <img> elements of markup that a script writes into the page.
void collectWrittenImages(PictureCollector& pictures, const QString& markup, DeadlineGuard& guard) {
    const QByteArray utf8 = markup.toUtf8();
    const HtmlTree tree(utf8);
    std::vector<const GumboNode*> links;
    walkElements(
        tree.root(),
        [&](const GumboNode* node) {
            guard.tick();
            if (hasTag(node, GUMBO_TAG_A))
                links.push_back(node);
            else if (hasTag(node, GUMBO_TAG_IMG))
                collectImg(pictures, node, links.empty() ? nullptr : links.back(), kAllScreens);
        },
        [&](const GumboNode* node) {
            if (hasTag(node, GUMBO_TAG_A))
                links.pop_back();
        });
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
        if (!ref.isEmpty() && kind == m_wanted)
            add(m_collector.resolve(ref));
    }
    void add(const std::optional<ResolvedAddress>& address) {
        if (address && m_collector.isNew(address->text))
            m_out.append({address->text, address->originalName()});
    }
    // Kind from the type attribute, else the element's own kind, else the file extension.
    void addClassified(QStringView ref, const QString& type, std::optional<MediaKind> elementKind) {
        if (ref.isEmpty())
            return;
        std::optional<MediaKind> kind = kindOfMimeType(type);
        if (!kind)
            kind = elementKind;
        if (kind) {
            add(ref, kind);
            return;
        }
        const std::optional<ResolvedAddress> address = m_collector.resolve(ref);
        if (address && kindOfExtension(address->extension()) == m_wanted)
            add(address);
    }
    void addLink(QStringView ref) {
        if (ref.isEmpty())
            return;
        const std::optional<ResolvedAddress> address = m_collector.resolve(ref);
        if (address && kindOfExtension(address->extension()) == m_wanted)
            add(address);
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

} // namespace

namespace analysis {

const QString& PictureCollector::cleaned(CleanedField& last, const char* raw) {
    static const QString kEmpty;
    if (!raw || !*raw)
        return kEmpty;
    if (last.raw != raw) {
        last.raw = raw;
        last.cleaned = cleanField(QString::fromUtf8(raw));
    }
    return last.cleaned;
}

void PictureCollector::add(std::optional<ResolvedAddress> address, const char* alt, const char* title) {
    if (address && m_collector.isNew(address->text)) {
        QString name = address->originalName();
        m_out.append(
            {std::move(address->text), std::move(name), cleaned(m_alt, alt), cleaned(m_title, title)});
    }
}

bool PictureCollector::addResponsive(QStringView srcset, const CandidateChoice& choice, const char* alt,
                                     const char* title) {
    if (const std::optional<QStringView> sole = soleSrcsetAddress(srcset)) {
        add(*sole, alt, title);
        return !sole->isEmpty();
    }
    const QList<SrcsetCandidate> candidates = parseSrcset(srcset);
    const SrcsetCandidate* largest = largestCandidate(candidates);
    if (!largest)
        return false;
    add(largest->url, alt, title);
    if (candidates.size() > 1 && choice.screens) {
        static const SizeRange kUnused{};
        const bool anyWidth = std::any_of(candidates.begin(), candidates.end(),
                                          [](const SrcsetCandidate& c) { return c.width.has_value(); });
        chooseCandidates(candidates, choice.srcIsCandidate, anyWidth ? sizes(choice) : kUnused,
                         choice.screens, m_chosen);
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            if (m_chosen[std::size_t(i)] && &candidates[i] != largest)
                add(candidates[i].url, alt, title);
        }
    }
    return true;
}

MediaMatch PictureCollector::media(const QString& mediaQueryList) {
    auto found = m_media.constFind(mediaQueryList);
    if (found == m_media.cend())
        found = m_media.insert(mediaQueryList, evaluateMediaQueryList(mediaQueryList));
    return *found;
}

const SizeRange& PictureCollector::sizes(const CandidateChoice& choice) {
    QHash<QString, SizeRange>& cache = m_sizes[choice.autoAllowed ? 1 : 0];
    const QString key = choice.sizes.toString();
    auto found = cache.constFind(key);
    if (found == cache.cend())
        found = cache.insert(key, evaluateSizes(choice.sizes, choice.autoAllowed));
    return *found;
}

void PictureCollector::addCss(QStringView css, const char* title) {
    const QStringList refs = cssUrls(css);
    for (const QString& ref : refs) {
        if (ref.startsWith(u'#') || ref.isEmpty())
            continue; // SVG filter or marker inside the page
        std::optional<ResolvedAddress> address = resolve(ref);
        if (address && !isNonPictureResource(address->extension()))
            add(std::move(address), nullptr, title);
    }
}

} // namespace analysis

// ================================================================= pictures

QList<PictureRecord> findPictures(QByteArrayView utf8Html, const QUrl& pageUrl,
                                  const QString& contentSecurityPolicy, AnalysisDeadline deadline) {
    DeadlineGuard guard(deadline);
    guard.check();
    const HtmlTree tree(utf8Html);
    guard.check();
    const PageSurvey survey = surveyPage(tree.root(), pageUrl, true, guard);
    PictureCollector pictures(survey.base);
    pictures.reserve(survey.pictureElements);
    pictures.setUpgradeInsecure(survey.upgradeInsecure ||
                                policyUpgradesInsecureRequests(contentSecurityPolicy));
    auto firstImageOf = [&](const GumboNode* node) { return survey.firstImage.value(node, nullptr); };
    std::vector<const GumboNode*> links; // the open <a> elements around the element in hand
    // the open <picture> elements, each with the screens that none of its sources took yet
    std::vector<std::pair<const GumboNode*, ScreenSet>> pictureScreens;
    auto openScreensOf = [&](const GumboNode* picture) -> ScreenSet* {
        return !pictureScreens.empty() && pictureScreens.back().first == picture
                   ? &pictureScreens.back().second
                   : nullptr;
    };
    QList<ScriptLiteral> scriptLiterals;
    walkElements(
        tree.root(),
        [&](const GumboNode* node) {
            guard.tick();
            const GumboNode* link = links.empty() ? nullptr : links.back();
            switch (node->v.element.tag) {
            case GUMBO_TAG_IMG: {
                ScreenSet* open = openScreensOf(node->parent);
                collectImg(pictures, node, link, open ? *open : kAllScreens);
                if (open)
                    *open = 0; // sources after the <img> are not read
                break;
            }
            case GUMBO_TAG_SOURCE:
                if (isPictureElement(node->parent))
                    collectPictureSource(pictures, node, firstImageOf(node->parent), link,
                                         openScreensOf(node->parent));
                break;
            case GUMBO_TAG_A:
                collectPictureLink(pictures, node, firstImageOf(node));
                links.push_back(node);
                break;
            case GUMBO_TAG_INPUT:
                if (attrIs(node, "type", QLatin1StringView("image")))
                    pictures.add(attr(node, "src"), rawAttr(node, "alt"), rawAttr(node, "title"));
                break;
            case GUMBO_TAG_VIDEO:
                pictures.add(attr(node, "poster"), nullptr, rawAttr(node, "title"));
                break;
            case GUMBO_TAG_OBJECT:
                collectEmbeddedPicture(pictures, node, "data");
                break;
            case GUMBO_TAG_EMBED:
                collectEmbeddedPicture(pictures, node, "src");
                break;
            case GUMBO_TAG_META:
                if (isPictureMeta(metaKey(node)))
                    pictures.add(attr(node, "content"), nullptr, nullptr);
                break;
            case GUMBO_TAG_LINK:
                collectLinkElement(pictures, node);
                break;
            case GUMBO_TAG_STYLE:
                pictures.addCss(textContent(node), nullptr);
                break;
            case GUMBO_TAG_SCRIPT:
                if (isClassicOrModuleScript(node))
                    findScriptLiterals(textContent(node), scriptLiterals);
                break;
            default:
                if (node->v.element.tag_namespace == GUMBO_NAMESPACE_SVG) {
                    if (node->v.element.tag == GUMBO_TAG_IMAGE || isUnknownElementNamed(node, "feimage"))
                        pictures.add(attr(node, "href"), nullptr, nullptr); // xlink:href too
                    else if (isUnknownElementNamed(node, "use"))
                        collectSvgUse(pictures, node);
                } else if (isPictureElement(node)) {
                    pictureScreens.emplace_back(node, kAllScreens);
                }
                break;
            }
            if (const char* background = rawAttr(node, "background"))
                pictures.add(QString::fromUtf8(background), nullptr, rawAttr(node, "title"));
            if (const char* style = rawAttr(node, "style"))
                pictures.addCss(QString::fromUtf8(style), rawAttr(node, "title"));
        },
        [&](const GumboNode* node) {
            if (hasTag(node, GUMBO_TAG_A))
                links.pop_back();
            else if (!pictureScreens.empty() && pictureScreens.back().first == node)
                pictureScreens.pop_back();
        });
    for (const ScriptLiteral& literal : std::as_const(scriptLiterals)) {
        if (literal.kind == ScriptLiteral::Kind::ImageSource)
            pictures.add(literal.text, nullptr, nullptr);
        else
            collectWrittenImages(pictures, literal.text, guard);
    }
    return pictures.result();
}

// =================================================================== media

QList<MediaRecord> findMedia(QByteArrayView utf8Html, const QUrl& pageUrl, MediaKind kind,
                             AnalysisDeadline deadline) {
    DeadlineGuard guard(deadline);
    guard.check();
    const HtmlTree tree(utf8Html);
    guard.check();
    const QUrl base = surveyPage(tree.root(), pageUrl, false, guard).base;
    MediaCollector media(base, kind);
    forEachElement(tree.root(), [&](const GumboNode* node) {
        guard.tick();
        switch (node->v.element.tag) {
        case GUMBO_TAG_AUDIO:
        case GUMBO_TAG_VIDEO:
            media.add(attr(node, "src"), kindOfMediaElement(node));
            media.add(attr(node, "data-src"), kindOfMediaElement(node));
            break;
        case GUMBO_TAG_SOURCE:
            if (isPictureElement(node->parent))
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
        case GUMBO_TAG_A:
            media.addLink(attr(node, "href"));
            break;
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

QStringList findLinks(QByteArrayView utf8Html, const QUrl& pageUrl, AnalysisDeadline deadline) {
    DeadlineGuard guard(deadline);
    guard.check();
    const HtmlTree tree(utf8Html);
    guard.check();
    Collector links(surveyPage(tree.root(), pageUrl, false, guard).base);
    QStringList out;
    forEachElement(tree.root(), [&](const GumboNode* node) {
        guard.tick();
        const GumboTag tag = node->v.element.tag;
        if (tag != GUMBO_TAG_A && tag != GUMBO_TAG_AREA)
            return;
        const char* href = rawAttr(node, "href");
        if (!href)
            return;
        if (std::optional<ResolvedAddress> taken = links.take(QString::fromUtf8(href)))
            out.append(std::move(taken->text));
    });
    return out;
}

} // namespace skarvel
