// Fuzz target: page decoding and the text extraction rules.
// Input: one byte of switches, then the page bytes and the rule texts separated by 0x1F.
#include "fuzz/fuzz_input.h"
#include "rules/line_list.h"
#include "rules/text_rules.h"

namespace {

using namespace skarvel;

enum Part {
    Page,
    BlockBegin,
    BlockEnd,
    From1,
    To1,
    From2,
    To2,
    DeleteLines,
    HeaderBegin,
    HeaderEnd,
    PartCount
};

bool onlyCrLfBreaks(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'))
            return false;
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r'))
            return false;
    }
    return true;
}

bool hasTagBracket(const QString& text) {
    return text.contains(u'<') || text.contains(u'>');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t switches = data[0];
    const auto parts = fuzz::splitParts(data + 1, size - 1, PartCount);

    const QString page = DecodePageText(parts[Page]);
    FUZZ_CHECK(onlyCrLfBreaks(page));

    TextRules rules;
    rules.blockBegin = fuzz::utf8(parts[BlockBegin]);
    rules.blockEnd = fuzz::utf8(parts[BlockEnd]);
    rules.includeBegin = switches & 0x01;
    rules.includeEnd = switches & 0x02;
    rules.replacements = {{fuzz::utf8(parts[From1]), fuzz::utf8(parts[To1])},
                          {fuzz::utf8(parts[From2]), fuzz::utf8(parts[To2])}};
    rules.stripTags = switches & 0x04;
    rules.deleteLinesContaining = fuzz::utf8(parts[DeleteLines]);
    rules.emptyLines = TextRules::EmptyLines((switches >> 3) % 3);
    rules.headerBegin = fuzz::utf8(parts[HeaderBegin]);
    rules.headerEnd = fuzz::utf8(parts[HeaderEnd]);
    rules.includeHeaderBegin = switches & 0x20;
    rules.includeHeaderEnd = switches & 0x40;
    rules.stripHeaderTags = switches & 0x80;

    const TextResult result = ApplyTextRules(page, rules);
    if (rules.stripTags)
        FUZZ_CHECK(!hasTagBracket(result.text));
    if (rules.stripHeaderTags)
        FUZZ_CHECK(!hasTagBracket(result.header));
    if (rules.emptyLines == TextRules::All)
        for (const QString& line : SplitLines(result.text))
            FUZZ_CHECK(!line.isEmpty());
    if (rules.emptyLines == TextRules::DoubleAndMore)
        FUZZ_CHECK(!result.text.contains(QStringLiteral("\r\n\r\n\r\n")));
    return 0;
}
