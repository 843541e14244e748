#include "export/sqlite_dialogs.h"

namespace skarvel {

TForm10::TForm10(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form10"), QStringLiteral("Export pictures to SQLite")) {}

TForm18::TForm18(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form18"), QStringLiteral("Export sounds to SQLite")) {}

TForm26::TForm26(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form26"), QStringLiteral("Export videos to SQLite")) {}

TForm33::TForm33(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form33"), QStringLiteral("Export text to SQLite")) {}

} // namespace skarvel
