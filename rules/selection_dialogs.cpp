#include "rules/selection_dialogs.h"

namespace skarvel {

TForm7::TForm7(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form7"), QStringLiteral("Picture selection")) {}

TForm15::TForm15(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form15"), QStringLiteral("Sounds selection")) {}

TForm23::TForm23(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form23"), QStringLiteral("Videos selection")) {}

} // namespace skarvel
