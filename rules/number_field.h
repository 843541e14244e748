#pragma once
#include <QString>

namespace skarvel {

// A numeric dialog field as it reads once the focus has left it: "" stays "";
// anything else is read as a number (def when it is none), clamped to
// [minimum, maximum] and written back as plain decimal digits.
QString NormaliseNumberField(const QString& text, int def, int minimum, int maximum);

} // namespace skarvel
