#include "rules/text_rules.h"

#include "tables/collection_tables.h"

#include "common/charset_decoder.h"
#include "common/file_ops.h"
#include "common/text_ops.h"
#include "rules/line_list.h"

#include <QFileInfo>
#include <QStringConverter>
#include <QStringDecoder>

namespace skarvel {

namespace {

// Lines of a text that a memo would hold: a NUL ends the text.
QStringList memoLines(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return SplitLines(nul < 0 ? QStringView(text) : QStringView(text).left(nul));
}

// The part of page between two markers. With only one marker found, the header
// (needBoth) is empty while the text block runs to the page's end or from its start.
QString cutBlock(const QString& page, const QString& begin, bool includeBegin, const QString& end,
                 bool includeEnd, bool needBoth) {
    qsizetype b = begin.isEmpty() ? -1 : page.indexOf(begin);
    qsizetype e = end.isEmpty() ? -1 : page.indexOf(end);
    const bool hasBegin = b >= 0, hasEnd = e >= 0;
    if (hasBegin && !includeBegin)
        b += begin.size();
    if (hasEnd && includeEnd)
        e += end.size();
    if (hasBegin && hasEnd)
        return e > b ? page.mid(b, e - b) : QString();
    if (needBoth)
        return {};
    if (hasBegin)
        return page.mid(b);
    if (hasEnd)
        return page.left(e);
    return {};
}

QString deleteLinesContaining(const QString& text, const QString& searchMemo) {
    QStringList needles;
    for (const QString& line : memoLines(searchMemo))
        if (!line.isEmpty())
            needles.append(line.toLower());
    QStringList kept;
    for (const QString& line : memoLines(text)) {
        bool hit = false;
        if (!needles.isEmpty()) {
            const QString lower = line.toLower();
            for (const QString& needle : needles)
                if (lower.contains(needle)) {
                    hit = true;
                    break;
                }
        }
        if (!hit)
            kept.append(line);
    }
    return JoinLines(kept);
}

QString dropEmptyLines(const QString& text, TextRules::EmptyLines rule) {
    QStringList kept;
    bool previousEmpty = true; // so that empty lines at the start go too
    for (const QString& line : memoLines(text)) {
        if (!line.isEmpty()) {
            kept.append(line);
            previousEmpty = false;
        } else if (rule == TextRules::DoubleAndMore && !previousEmpty) {
            kept.append(line);
            previousEmpty = true;
        }
    }
    return JoinLines(kept);
}

// The charset a page declares in a <meta> tag near its start, lower-cased; "" when none.
QByteArray declaredCharset(const QByteArray& bytes) {
    const QByteArray head = bytes.left(4096).toLower();
    qsizetype at = 0;
    while ((at = head.indexOf("<meta", at)) >= 0) {
        qsizetype end = head.indexOf('>', at);
        if (end < 0)
            end = head.size();
        const QByteArray tag = head.mid(at, end - at);
        at = end;
        // Both <meta charset="x"> and <meta http-equiv=... content="text/html; charset=x">.
        qsizetype pos = tag.indexOf("charset");
        while (pos >= 0) {
            qsizetype p = pos + 7;
            while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t'))
                ++p;
            if (p < tag.size() && tag[p] == '=') {
                ++p;
                while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '"' || tag[p] == '\''))
                    ++p;
                qsizetype q = p;
                while (q < tag.size() && !QByteArrayView(" \t\r\n\"';/>").contains(tag[q]))
                    ++q;
                if (q > p)
                    return tag.mid(p, q - p);
            }
            pos = tag.indexOf("charset", pos + 7);
        }
    }
    return {};
}

} // namespace

TextResult ApplyTextRules(const QString& page, const TextRules& rules) {
    TextResult result;
    QString text =
        cutBlock(page, rules.blockBegin, rules.includeBegin, rules.blockEnd, rules.includeEnd, false);
    if (!rules.replacements.empty() && !rules.replacements.front().first.isEmpty())
        for (const auto& [from, to] : rules.replacements)
            text = ReplaceAll(text, from, to);
    if (rules.stripTags)
        text = StripTags(text);
    if (!rules.deleteLinesContaining.isEmpty())
        text = deleteLinesContaining(text, rules.deleteLinesContaining);
    if (rules.emptyLines != TextRules::No)
        text = dropEmptyLines(text, rules.emptyLines);
    result.text = text;
    result.header = cutBlock(page, rules.headerBegin, rules.includeHeaderBegin, rules.headerEnd,
                             rules.includeHeaderEnd, true);
    if (rules.stripHeaderTags)
        result.header = StripTags(result.header);
    return result;
}

QString DecodePageText(const QByteArray& bytes) {
    QString text;
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        // The decoder skips the byte-order mark itself.
        text = QStringDecoder(*bom).decode(bytes);
    } else {
        QByteArray charset = declaredCharset(bytes);
        // A byte page cannot really be UTF-16; browsers read such a declaration as UTF-8.
        if (charset.startsWith("utf-16") || charset == "unicode")
            charset.clear();
        CharsetDecoder decoder(charset.isEmpty() ? QByteArrayView("UTF-8") : QByteArrayView(charset));
        if (!decoder.isValid())
            decoder = CharsetDecoder(QStringConverter::Utf8);
        text = decoder.decode(bytes);
    }
    return CrLfLineBreaks(text);
}

QString LoadPageText(const QString& path) {
    QByteArray bytes;
    if (path.isEmpty() || !QFileInfo(path).isFile() || !ReadWholeFile(path, bytes))
        return {};
    return DecodePageText(bytes);
}

bool SavePageText(const QString& path, const QString& text, QString* error) {
    QByteArray bytes("\xEF\xBB\xBF");
    bytes.append(JoinLines(memoLines(text)).toUtf8());
    return WriteWholeFile(path, bytes, error);
}

bool ApplyTextRulesToTable(CollectionTable& table, const TextRules& rules,
                           const std::function<void(int row, const TextResult& result)>& shown,
                           QString* error) {
    for (int row = 1; row < table.gridRowCount(); ++row) {
        const QString path = table.cell(col::LocalPath, row);
        const TextResult result = ApplyTextRules(LoadPageText(path), rules);
        if (shown)
            shown(row, result);
        QString reason;
        if (!path.isEmpty() && !SavePageText(path, result.text, &reason)) {
            if (error)
                *error = QStringLiteral("Cannot write ") + path + QStringLiteral(": ") + reason;
            return false;
        }
        table.setCell(col::Header, row, result.header);
    }
    return true;
}

} // namespace skarvel
