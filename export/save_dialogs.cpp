#include "export/save_dialogs.h"

namespace skarvel {

TForm6::TForm6(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form6"), QStringLiteral("Save pictures")) {}

TForm17::TForm17(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form17"), QStringLiteral("Save sounds")) {}

TForm25::TForm25(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form25"), QStringLiteral("Save videos")) {}

TForm32::TForm32(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form32"), QStringLiteral("Save text")) {}

} // namespace skarvel
