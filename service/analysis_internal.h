#pragma once
// Pieces shared by the files of the page analysis; not part of its interface.
#include "service/html_analysis.h"

#include <QSet>

#include <chrono>
#include <optional>
#include <utility>

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

// Addresses of one answer: resolved against the frozen base, each kept once.
class Collector {
public:
    explicit Collector(QUrl base) : m_base(std::move(base)) {}

    void setUpgradeInsecure(bool upgrade) { m_upgrade = upgrade; }
    // The resolved, encoded address when it is new to this answer.
    std::optional<std::pair<QUrl, QString>> take(QStringView ref);
    const QUrl& base() const { return m_base; }

private:
    QUrl m_base;
    bool m_upgrade = false;
    QSet<QString> m_seen;
};

class PictureCollector {
public:
    explicit PictureCollector(QUrl base) : m_collector(std::move(base)) {}

    void setUpgradeInsecure(bool upgrade) { m_collector.setUpgradeInsecure(upgrade); }
    void add(QStringView ref, const QString& alt, const QString& title);
    void addSrcset(QStringView srcset, const QString& alt, const QString& title) {
        add(largestSrcsetCandidate(srcset), alt, title);
    }
    void addCss(QStringView css, const QString& title);
    const QUrl& base() const { return m_collector.base(); }
    QList<PictureRecord> result() { return std::move(m_out); }

private:
    Collector m_collector;
    QList<PictureRecord> m_out;
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
