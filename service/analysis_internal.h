#pragma once
// Pieces shared by the files of the page analysis; not part of its interface.
#include "service/html_analysis.h"

#include <QHash>
#include <QSet>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace skarvel::analysis {

inline bool isAsciiWhitespace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

inline bool isAsciiDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

inline bool isHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// Ends trimmed of ASCII whitespace and C0 controls, as browsers trim addresses.
QStringView trimAsciiWhitespace(QStringView s);

// Throws AnalysisTimeout once the deadline has passed; reading the clock on
// every call would cost more than the work it guards, so most calls only count.
class DeadlineGuard {
public:
    explicit DeadlineGuard(AnalysisDeadline deadline) : m_deadline(deadline) {}
    void tick() {
        if (m_deadline && (++m_count & 1023u) == 0)
            check();
    }
    void check() const {
        if (m_deadline && std::chrono::steady_clock::now() > *m_deadline)
            throw AnalysisTimeout();
    }

private:
    AnalysisDeadline m_deadline;
    unsigned m_count = 0;
};

// True when a Content-Security-Policy value holds the upgrade-insecure-requests directive.
bool policyUpgradesInsecureRequests(QStringView policy);
// The https address a browser loads instead of an http one (port 80 becomes the default).
QUrl upgradedToHttps(QUrl url);

// An address resolved against a base, as resolveReference resolves it.
struct ResolvedAddress {
    QString text;            // fully encoded, without fragment
    std::optional<QUrl> url; // set when QUrl resolved it
    QStringView plainName;   // else the last path segment, which needed no encoding or decoding

    QString originalName() const { return url ? originalNameOf(*url) : plainName.toString(); }
    QString extension() const;
};

// Resolves references against one base. A plain relative or root-relative
// path (characters that QUrl neither encodes nor decodes, no dot segments) is
// appended to the base's own resolved prefix, which is what QUrl would give at
// many times the cost; every other reference goes through resolveReference.
class AddressResolver {
public:
    explicit AddressResolver(QUrl base);

    // http addresses come out as the https addresses a browser loads.
    void setUpgradeInsecure(bool upgrade);
    std::optional<ResolvedAddress> resolve(QStringView ref) const;
    const QUrl& base() const { return m_base; }

private:
    void computePrefixes();

    QUrl m_base;
    bool m_upgrade = false;
    QString m_directoryPrefix; // the base resolved "x", less the x; empty: no shortcut
    QString m_rootPrefix;      // the same for "/x"
};

// The addresses an answer holds. The table keeps a 32-bit hash and the key's
// index in a slot of 8 bytes: the set of a large page stays small enough for
// the caches, and a probe compares strings only when their hashes are equal.
class AddressSet {
public:
    // True when the text was not in the set yet.
    bool insert(const QString& text);

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t key = 0; // index in m_keys plus one; 0: free
    };
    void grow();

    std::vector<Slot> m_slots;
    QList<QString> m_keys;
};

// Addresses of one answer: resolved against the frozen base, each kept once.
class Collector {
public:
    explicit Collector(QUrl base) : m_resolver(std::move(base)) {}

    void setUpgradeInsecure(bool upgrade) { m_resolver.setUpgradeInsecure(upgrade); }
    std::optional<ResolvedAddress> resolve(QStringView ref) const { return m_resolver.resolve(ref); }
    // True the first time the answer meets this address.
    bool isNew(const QString& text) { return m_seen.insert(text); }
    // The resolved address when it is new to this answer.
    std::optional<ResolvedAddress> take(QStringView ref) {
        std::optional<ResolvedAddress> address = resolve(ref);
        if (address && !isNew(address->text))
            address.reset();
        return address;
    }
    const QUrl& base() const { return m_resolver.base(); }

private:
    AddressResolver m_resolver;
    AddressSet m_seen;
};

// The address of a srcset that holds one candidate without descriptors, the
// common case, found without parsing; nullopt for anything else.
std::optional<QStringView> soleSrcsetAddress(QStringView srcset);

// The candidate with the largest w descriptor, else the largest x, else the first; null when none.
const SrcsetCandidate* largestCandidate(const QList<SrcsetCandidate>& candidates);

// ------------------------------------------------------- responsive pictures
// A browser loads one candidate of a srcset, chosen by the screen: by the
// <source media> that matches, the slot width that sizes gives, and the
// screen's pixel ratio. The answer lists the candidates that a table of common
// screens load, besides the largest one.
constexpr int kScreenCount = 20;
using ScreenSet = std::uint32_t; // bit i: screen i of the table
constexpr ScreenSet kAllScreens = (ScreenSet(1) << kScreenCount) - 1;

struct Screen {
    float width; // of the layout viewport, in CSS pixels
    float height;
    float ratio; // device pixels per CSS pixel
    bool touch;  // no hover, coarse pointer
};
const Screen& screenAt(int index);

struct MediaMatch {
    ScreenSet yes;     // the screens where the media query list certainly holds
    ScreenSet unknown; // where it names something not known here
};
MediaMatch evaluateMediaQueryList(QStringView media);

// The slot width in CSS pixels that a sizes attribute gives on each screen. A
// list that starts with "auto" (allowed for lazy pictures) leaves the width to
// the layout: from a quarter of what the rest of the list gives to all of it.
using SourceSizes = std::array<float, kScreenCount>;
struct SizeRange {
    SourceSizes narrowest{};
    SourceSizes widest{};
};
SizeRange evaluateSizes(QStringView sizes, bool autoAllowed);

// chosen[i]: candidate i is what a browser loads on one of the screens at a
// slot width of the range; the last entry stands for the src attribute, a 1x
// candidate when srcIsCandidate. Of the candidates chosen only inside a range
// (not at its ends) at most kMaxCandidatesBetween are, so that a srcset of
// thousands of widths does not list thousands of pictures.
constexpr qsizetype kMaxCandidatesBetween = 24;
void chooseCandidates(const QList<SrcsetCandidate>& candidates, bool srcIsCandidate, const SizeRange& sizes,
                      ScreenSet screens, std::vector<bool>& chosen);

// Whether browsers load the pictures of a <source type>: JPEG XL and types
// newer still are loaded by some.
enum class TypeSupport { Yes, No, Maybe };
TypeSupport pictureTypeSupport(QStringView type);

// What a browser chooses one srcset's candidate by.
struct CandidateChoice {
    QStringView sizes;
    bool autoAllowed = false; // sizes="auto" means the laid-out width
    ScreenSet screens = kAllScreens;
    bool srcIsCandidate = false;
};

// Alt and title come in as attribute values in UTF-8 (null when absent): most
// records of a page share a few of them, so each is cleaned once per run of equal values.
class PictureCollector {
public:
    explicit PictureCollector(QUrl base) : m_collector(std::move(base)) {}

    void setUpgradeInsecure(bool upgrade) { m_collector.setUpgradeInsecure(upgrade); }
    void reserve(qsizetype records) { m_out.reserve(records); }
    std::optional<ResolvedAddress> resolve(QStringView ref) const { return m_collector.resolve(ref); }
    void add(QStringView ref, const char* alt, const char* title) {
        if (!ref.isEmpty())
            add(resolve(ref), alt, title);
    }
    void add(std::optional<ResolvedAddress> address, const char* alt, const char* title);
    // The largest candidate, then the others that the screens load; false when
    // the srcset holds no candidate.
    bool addResponsive(QStringView srcset, const CandidateChoice& choice, const char* alt, const char* title);
    // Media query lists and sizes repeat across a page's pictures: each is read once.
    MediaMatch media(const QString& mediaQueryList);
    void addCss(QStringView css, const char* title);
    QList<PictureRecord> result() { return std::move(m_out); }

private:
    struct CleanedField {
        QByteArray raw;
        QString cleaned;
    };
    static const QString& cleaned(CleanedField& last, const char* raw);

    const SizeRange& sizes(const CandidateChoice& choice);

    Collector m_collector;
    CleanedField m_alt;
    CleanedField m_title;
    QList<PictureRecord> m_out;
    QHash<QString, MediaMatch> m_media;
    QHash<QString, SizeRange> m_sizes[2]; // by autoAllowed
    std::vector<bool> m_chosen;
};

// A literal of an inline script that names pictures: an address assigned to
// an image's src, or HTML passed to document.write / writeln.
struct ScriptLiteral {
    enum class Kind { ImageSource, WrittenMarkup } kind;
    QString text;
};
// The literals of one script, in script order, appended to out. Strings put
// together at run time are left out.
void findScriptLiterals(QStringView script, QList<ScriptLiteral>& out);

} // namespace skarvel::analysis
