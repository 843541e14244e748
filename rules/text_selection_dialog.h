#pragma once
// Text selection: the extraction rules of the text collection.
#include "app/dialog_base.h"

namespace skarvel {

class TForm30 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm30(TForm1* form1);
};

} // namespace skarvel
