// srcset attributes and url() references of style sheets.
#include "service/analysis_internal.h"

#include <algorithm>
#include <cfloat>
#include <climits>

namespace skarvel {

using analysis::isAsciiDigit;
using analysis::isAsciiWhitespace;
using analysis::isHexDigit;
using analysis::trimAsciiWhitespace;

namespace {

// "valid non-negative integer": one or more ASCII digits, nothing else.
std::optional<int> nonNegativeInteger(QStringView s) {
    if (s.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : s) {
        if (!isAsciiDigit(c))
            return std::nullopt;
        value = std::min<qint64>(value * 10 + (c.unicode() - u'0'), INT_MAX);
    }
    return int(value);
}

qsizetype skipDigits(QStringView s, qsizetype pos) {
    while (pos < s.size() && isAsciiDigit(s[pos]))
        ++pos;
    return pos;
}

// "valid floating-point number": an optional "-", digits with an optional
// fraction (or a fraction alone), then an optional exponent with its own sign.
std::optional<double> floatingPointNumber(QStringView s) {
    qsizetype pos = 0;
    if (pos < s.size() && s[pos] == u'-')
        ++pos;
    const qsizetype intEnd = skipDigits(s, pos);
    bool digits = intEnd > pos;
    pos = intEnd;
    if (pos < s.size() && s[pos] == u'.') {
        const qsizetype fracEnd = skipDigits(s, pos + 1);
        if (fracEnd == pos + 1)
            return std::nullopt;
        digits = true;
        pos = fracEnd;
    }
    if (!digits)
        return std::nullopt;
    bool negativeExponent = false;
    if (pos < s.size() && (s[pos] == u'e' || s[pos] == u'E')) {
        ++pos;
        if (pos < s.size() && (s[pos] == u'-' || s[pos] == u'+')) {
            negativeExponent = s[pos] == u'-';
            ++pos;
        }
        const qsizetype expEnd = skipDigits(s, pos);
        if (expEnd == pos)
            return std::nullopt;
        pos = expEnd;
    }
    if (pos != s.size())
        return std::nullopt;
    bool ok = false;
    const double value = s.toDouble(&ok);
    if (ok)
        return value;
    // out of a double's range: the nearest finite value, as the standard rounds
    const double magnitude = negativeExponent ? 0.0 : DBL_MAX;
    return s.startsWith(u'-') ? -magnitude : magnitude;
}

// The descriptor parser of "parse a srcset attribute": any broken or repeated
// descriptor drops the whole candidate.
bool descriptorsAreValid(const QStringList& descriptors, SrcsetCandidate& candidate) {
    std::optional<int> height;
    for (const QString& d : descriptors) {
        const QChar last = d.back();
        const QStringView number = QStringView(d).chopped(1);
        if (last == u'w') {
            if (candidate.width || candidate.density)
                return false;
            const std::optional<int> value = nonNegativeInteger(number);
            if (!value || *value == 0)
                return false;
            candidate.width = value;
        } else if (last == u'x') {
            if (candidate.width || candidate.density || height)
                return false;
            const std::optional<double> value = floatingPointNumber(number);
            if (!value || *value < 0)
                return false;
            candidate.density = *value + 0.0; // -0 reads as 0
        } else if (last == u'h') {
            if (height || candidate.density)
                return false;
            const std::optional<int> value = nonNegativeInteger(number);
            if (!value || *value == 0)
                return false;
            height = value;
        } else {
            return false;
        }
    }
    return !height || candidate.width;
}

} // namespace

QList<SrcsetCandidate> parseSrcset(QStringView input) {
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
        if (descriptorsAreValid(descriptors, candidate))
            candidates.append(std::move(candidate));
    }
}

namespace analysis {

std::optional<QStringView> soleSrcsetAddress(QStringView srcset) {
    qsizetype begin = 0;
    qsizetype end = srcset.size();
    while (begin < end && isAsciiWhitespace(srcset[begin]))
        ++begin;
    while (end > begin && isAsciiWhitespace(srcset[end - 1]))
        --end;
    const QStringView address = srcset.sliced(begin, end - begin);
    for (QChar c : address) {
        if (c == u',' || isAsciiWhitespace(c))
            return std::nullopt;
    }
    return address;
}

const SrcsetCandidate* largestCandidate(const QList<SrcsetCandidate>& candidates) {
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
    return best;
}

} // namespace analysis

QString largestSrcsetCandidate(QStringView srcset) {
    if (const std::optional<QStringView> sole = analysis::soleSrcsetAddress(srcset))
        return sole->toString();
    const QList<SrcsetCandidate> candidates = parseSrcset(srcset);
    const SrcsetCandidate* best = analysis::largestCandidate(candidates);
    return best ? best->url : QString();
}

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
    auto skipComment = [&] {
        if (css[pos] != u'/' || pos + 1 >= n || css[pos + 1] != u'*')
            return false;
        const qsizetype end = css.indexOf(u"*/", pos + 2);
        pos = end < 0 ? n : end + 2;
        return true;
    };
    // a function name that does not end a longer identifier
    auto takeFunction = [&](QStringView name) {
        if (pos + name.size() > n || css.mid(pos, name.size()).compare(name, Qt::CaseInsensitive) != 0 ||
            (pos > 0 && (css[pos - 1].isLetterOrNumber() || css[pos - 1] == u'-' || css[pos - 1] == u'_')))
            return false;
        pos += name.size();
        return true;
    };
    // Appends the characters up to stop (or the end), escapes resolved, to value.
    auto readUpTo = [&](QChar stop, QString& value) {
        while (pos < n && css[pos] != stop) {
            if (css[pos] == u'\\')
                readEscape(value);
            else
                value += css[pos++];
        }
    };
    auto readString = [&] { // at the opening quote
        QString value;
        const QChar quote = css[pos++];
        readUpTo(quote, value);
        ++pos;
        return value;
    };
    auto readUrl = [&] { // after "url("
        while (pos < n && isAsciiWhitespace(css[pos]))
            ++pos;
        QString value;
        if (pos < n && (css[pos] == u'"' || css[pos] == u'\'')) {
            value = readString();
            while (pos < n && css[pos] != u')')
                ++pos;
        } else {
            readUpTo(u')', value);
        }
        ++pos;
        return value;
    };
    auto append = [&](const QString& value) {
        const QStringView trimmed = trimAsciiWhitespace(value);
        if (!trimmed.isEmpty())
            out.append(trimmed.toString());
    };
    // image-set() names its pictures by url() or by plain strings; the strings
    // of type() inside it are no addresses
    auto readImageSet = [&] {
        int depth = 1;
        while (pos < n && depth > 0) {
            if (skipComment())
                continue;
            const QChar c = css[pos];
            if (c == u'"' || c == u'\'') {
                const QString value = readString();
                if (depth == 1)
                    append(value);
            } else if (takeFunction(u"url(")) {
                append(readUrl());
            } else {
                depth += c == u'(' ? 1 : c == u')' ? -1 : 0;
                ++pos;
            }
        }
    };
    while (pos < n) {
        if (skipComment())
            continue;
        if (takeFunction(u"url("))
            append(readUrl());
        else if (takeFunction(u"image-set(") || takeFunction(u"-webkit-image-set("))
            readImageSet();
        else
            ++pos;
    }
    return out;
}

} // namespace skarvel
