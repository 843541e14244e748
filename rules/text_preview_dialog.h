#pragma once
// Text preview: the extraction rules applied to one page.
#include "app/dialog_base.h"

namespace skarvel {

class TForm37 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm37(TForm1* form1);
};

} // namespace skarvel
