#pragma once
// A pass over the bytes of a page, before the HTML parser, that bounds how
// deeply elements nest: the parser's tree building costs time in proportion
// to the depth for every tag, so a page of thousands of nested elements takes
// seconds. Deeper elements are closed right after their start tag, so their
// contents become their siblings; every tag, attribute and text stays.
#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace skarvel::analysis {

// The page with elements below maxDepth open ancestors flattened, or nullopt
// when no element is nested that deeply. Ancestors are counted as the parser
// will see them, closely enough: end tags the markup leaves out (p, li, td, ...)
// are implied as the parser implies them.
std::optional<QByteArray> limitNestingDepth(QByteArrayView html, int maxDepth);

} // namespace skarvel::analysis
