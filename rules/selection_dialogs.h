#pragma once
// Selection dialogs: narrow a media table by bounds and types.
#include "app/dialog_base.h"

namespace skarvel {

class TForm7 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm7(TForm1* form1);
};

class TForm15 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm15(TForm1* form1);
};

class TForm23 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm23(TForm1* form1);
};

} // namespace skarvel
