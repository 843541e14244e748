#pragma once
#include <QString>

namespace skarvel {

// Percent-encodes an address for the download jobs. Scheme, host and port
// stay as written. In the path a character stays when its code is 33..127
// and it is none of * < > # % " { } | \ ^ [ ] ` + ; in the query (from the
// first "?") when its code is 33..128 and it is none of the same except "+".
// Every other character becomes %XX (upper-case hex) per UTF-8 byte. A "%"
// that starts an escape (two hex digits follow) is kept as written; any
// other "%" becomes %25. A "#" is escaped like the rest: no fragment is cut off.
QString EncodeDownloadUrl(const QString& url);

// Escapes only what cannot travel in a request line: blanks, control
// characters, "#" and non-ASCII (as UTF-8 %XX). Everything else, "%"
// included, goes as typed.
QString EncodeForRequestLine(const QString& text);

} // namespace skarvel
