#pragma once
#include <QString>

#include <optional>

namespace skarvel {

// The file name that a Content-Disposition value offers, read by the grammar of
// RFC 6266: a disposition type, then "; name=value" parameters whose values are
// tokens or quoted strings. filename* (RFC 8187: UTF-8 or ISO-8859-1,
// charset'language'percent-encoded) wins over filename. A value that breaks the
// grammar (no type, a stray word, a repeated parameter, an unterminated or
// trailing quote, a quoted or malformed filename*, another charset) offers no
// name at all: the header is ignored as a whole. nullopt when no non-empty name
// is offered.
std::optional<QString> ContentDispositionFileName(const QString& headerValue);

// A name offered by a server or an address made ready to create inside a chosen
// folder: the last path component only (after any "/" or "\"), blanks trimmed,
// then SafeFileName. "" when nothing usable is left ("", ".", "..", "dir/").
QString SafeLocalFileName(const QString& name);

} // namespace skarvel
