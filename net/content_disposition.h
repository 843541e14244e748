#pragma once
#include <QString>

#include <optional>

namespace skarvel {

// The file name that a Content-Disposition value offers: filename* (RFC 5987
// charset'language'percent-encoded) when it decodes, else filename (token or
// quoted string, backslash escapes undone). Parameter names are matched
// without regard to case; later parameters are not part of the name.
// nullopt when the value names no non-empty file.
std::optional<QString> ContentDispositionFileName(const QString& headerValue);

// A name that is safe to create inside a chosen folder: the last path
// component only (after any "/" or "\"), control characters dropped, blanks
// trimmed, cut to 255 UTF-8 bytes keeping the extension. "" for "", "." and "..".
QString SafeLocalFileName(const QString& name);

} // namespace skarvel
