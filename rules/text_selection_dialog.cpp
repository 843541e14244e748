#include "rules/text_selection_dialog.h"

namespace skarvel {

TForm30::TForm30(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form30"), QStringLiteral("Text selection")) {}

} // namespace skarvel
