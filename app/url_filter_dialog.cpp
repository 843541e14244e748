#include "app/url_filter_dialog.h"

namespace skarvel {

TForm36::TForm36(TForm1* form1) : SkarvelDialog(form1, QStringLiteral("Form36"), QStringLiteral("URLs filter")) {}

} // namespace skarvel
