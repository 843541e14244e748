#pragma once
// URLs filter: keep or drop URL list lines by a text they contain.
#include "app/dialog_base.h"

namespace skarvel {

class TForm36 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm36(TForm1* form1);
};

} // namespace skarvel
