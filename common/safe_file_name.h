#pragma once
// File names that come from outside the program (a server's Content-Disposition,
// an address, an export name built from page text) made valid on Linux and on
// Windows before anything is created under them.
#include <QString>

namespace skarvel {

// The longest file name, in UTF-8 bytes, that Linux file systems accept; within
// Windows' limit of 255 UTF-16 units as well.
inline constexpr qsizetype kMaxFileNameBytes = 255;

// name as one file name that both systems accept:
// - the characters Windows forbids (< > : " / \ | ? *), control characters
//   (U+0000-U+001F, U+007F-U+009F) and unpaired surrogates become "_";
// - trailing dots and blanks are removed;
// - a reserved Windows device name (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9,
//   CONIN$, CONOUT$, in any letter case, alone or before a ".") gets a "_" in front;
// - a name longer than kMaxFileNameBytes is cut, never inside a character, and
//   keeps its extension (an extension of more than 32 bytes is cut with the rest).
// "" when nothing is left (an empty name, or only dots and blanks).
QString SafeFileName(const QString& name);

} // namespace skarvel
