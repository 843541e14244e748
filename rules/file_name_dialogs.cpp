#include "rules/file_name_dialogs.h"

namespace skarvel {

TForm8::TForm8(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form8"), QStringLiteral("File names")) {}

TForm16::TForm16(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form16"), QStringLiteral("File names")) {}

TForm24::TForm24(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form24"), QStringLiteral("File names")) {}

TForm31::TForm31(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form31"), QStringLiteral("File names")) {}

} // namespace skarvel
