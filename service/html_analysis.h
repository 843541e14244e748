#pragma once
// Finds the pictures, sounds, videos and links of an HTML page. Pure functions:
// they work on the page text and its address, never on the network.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

#include <chrono>
#include <optional>
#include <stdexcept>

namespace skarvel {

struct PictureRecord {
    QString url;          // absolute http(s) address, fully encoded, no fragment
    QString originalName; // percent-decoded last path segment
    QString alt;
    QString title;
};

struct MediaRecord {
    QString url;
    QString originalName;
};

} // namespace skarvel

// Answers of hundreds of thousands of records grow by moving bytes, not records.
Q_DECLARE_TYPEINFO(skarvel::PictureRecord, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(skarvel::MediaRecord, Q_RELOCATABLE_TYPE);

namespace skarvel {

enum class MediaKind { Sound, Video };

// A moment after which an analysis gives up; none by default.
using AnalysisDeadline = std::optional<std::chrono::steady_clock::time_point>;

// Thrown by the analysis functions when their deadline has passed.
class AnalysisTimeout : public std::runtime_error {
public:
    AnalysisTimeout() : std::runtime_error("page analysis took too long") {}
};

// Every function below takes the page as UTF-8 and resolves against pageUrl
// (the final address after redirects) and the page's first <base href>.
// Time grows linearly with the page: elements nested deeper than
// kMaxNestingDepth are read as siblings of their ancestors at that depth.
constexpr int kMaxNestingDepth = 128;

// Pictures in document order; a full-size picture linked around a thumbnail
// comes before the thumbnail; literal addresses of inline scripts come last.
// Each address appears once. With upgrade-insecure-requests in the page's
// Content-Security-Policy (the answer's header, passed here, or a <meta>),
// http addresses are listed as the https addresses the browser loads.
QList<PictureRecord> findPictures(QByteArrayView utf8Html, const QUrl& pageUrl,
                                  const QString& contentSecurityPolicy = QString(),
                                  AnalysisDeadline deadline = std::nullopt);
// Sounds or videos in document order, each address once.
QList<MediaRecord> findMedia(QByteArrayView utf8Html, const QUrl& pageUrl, MediaKind kind,
                             AnalysisDeadline deadline = std::nullopt);
// Targets of <a href> and <area href>, http(s) only, each once, in document order.
QStringList findLinks(QByteArrayView utf8Html, const QUrl& pageUrl, AnalysisDeadline deadline = std::nullopt);

// One candidate of a srcset attribute.
struct SrcsetCandidate {
    QString url;
    std::optional<int> width;      // "640w"
    std::optional<double> density; // "2x"
};
// Splits a srcset value by the HTML standard's "parse a srcset attribute";
// commas inside an address stay. Candidates with broken descriptors are left out.
QList<SrcsetCandidate> parseSrcset(QStringView srcset);
// The candidate with the largest w descriptor, else the largest x, else the first; "" when none.
QString largestSrcsetCandidate(QStringView srcset);
// The url(...) references of a style sheet or style attribute, unquoted and unescaped.
QStringList cssUrls(QStringView css);

// ref resolved against base; nullopt for empty references and for anything
// that does not end up as an http or https address with a host.
std::optional<QUrl> resolveReference(const QUrl& base, QStringView ref);
// Percent-decoded last segment of the address's path ("" when the path ends with "/").
QString originalNameOf(const QUrl& url);
// Tabs, line breaks and other controls turned into single blanks, ends trimmed.
QString cleanField(const QString& text);

// Lower-case extension of the address's last path segment, without the dot.
QString urlExtension(const QUrl& url);
bool isPictureExtension(const QString& ext);
bool isSoundExtension(const QString& ext);
bool isVideoExtension(const QString& ext);

// Answer bodies: harvest records end with CR LF, fields are tab-separated and
// Parent is the last field; list lines end with a bare LF. All UTF-8.
QByteArray formatPictureAnswer(const QList<PictureRecord>& records, const QString& parent);
QByteArray formatMediaAnswer(const QList<MediaRecord>& records, const QString& parent);
QByteArray formatListAnswer(const QStringList& urls);

} // namespace skarvel
