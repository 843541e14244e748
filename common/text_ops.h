#pragma once
// Text operations shared by every part of the program. Positions count
// characters (UTF-16 code units); comparisons are case-sensitive.
#include <QString>

namespace skarvel {

// The n-th field (from 0) of text split at every delimiter; "" past the last field.
QString GetField(const QString& text, int n, const QString& delimiter);
// Text before the last "."; "" when there is none.
QString NameWithoutExtension(const QString& text);
// Text from the last "." to the end; "" when there is none.
QString ExtensionWithDot(const QString& text);
// Text after the last "\" or "/"; the whole text when there is neither.
QString FileNameFromPath(const QString& text);
// Text before the last platform directory separator; the whole text when there is none.
QString DirectoryOfPath(const QString& text);
// Every occurrence of find replaced, left to right, never rescanning a replacement.
QString ReplaceAll(const QString& text, const QString& find, const QString& replacement);
// Drops "<...>" runs, stray ">" and everything after an unclosed "<".
QString StripTags(const QString& text);
// The line from its last "http://", "https://" or "ftp://" (at least 11 characters long).
QString ExtractLastUrl(const QString& line);
// The last `count` characters of text (the whole text when it is shorter).
QString LastChars(const QString& text, int count);
// Blanks and control characters (codes up to 32) removed from both ends.
QString TrimControls(const QString& text);

// A decimal 32-bit signed integer, or def for anything else (empty, letters, out of range).
int ReadInt(const QString& text, int def);

// The platform's directory separator as text ("/" here, "\" on Windows).
QString PathSeparator();

// The extension of a download whose content type names no known kind.
inline const QString kUnknownTypeExtension = QStringLiteral(".???");
// The extension such a file is written with: kUnknownTypeExtension, except on Windows,
// where a file name cannot hold "?" and ".unknown" stands in for it.
QString UnknownTypeFileExtension();
// The local path as its type reads: a name ending in the Windows stand-in reads as
// ending in ".???"; every other path is returned unchanged.
QString TypedLocalPath(const QString& localPath);

} // namespace skarvel
