#include "rules/text_preview_dialog.h"

namespace skarvel {

TForm37::TForm37(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form37"), QStringLiteral("Text preview"), false) {}

} // namespace skarvel
