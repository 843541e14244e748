#pragma once
// File name dialogs: compute the Export name of every row.
#include "app/dialog_base.h"

namespace skarvel {

class TForm8 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm8(TForm1* form1);
};

class TForm16 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm16(TForm1* form1);
};

class TForm24 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm24(TForm1* form1);
};

class TForm31 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm31(TForm1* form1);
};

} // namespace skarvel
