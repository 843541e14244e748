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

#include <optional>

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

enum class MediaKind { Sound, Video };

// Every function below takes the page as UTF-8 and resolves against pageUrl
// (the final address after redirects) and the page's first <base href>.

// Pictures in document order; a full-size picture linked around a thumbnail
// comes before the thumbnail. Each address appears once.
QList<PictureRecord> findPictures(QByteArrayView utf8Html, const QUrl& pageUrl);
// Sounds or videos in document order, each address once.
QList<MediaRecord> findMedia(QByteArrayView utf8Html, const QUrl& pageUrl, MediaKind kind);
// Targets of <a href> and <area href>, http(s) only, each once, in document order.
QStringList findLinks(QByteArrayView utf8Html, const QUrl& pageUrl);

// One candidate of a srcset attribute.
struct SrcsetCandidate {
    QString url;
    std::optional<int> width;      // "640w"
    std::optional<double> density; // "2x"
};
// Splits a srcset value the way browsers do; commas inside an address stay.
// Candidates with broken descriptors are left out.
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
