#pragma once
// Save dialogs: write a collection into a folder.
#include "app/dialog_base.h"

namespace skarvel {

class TForm6 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm6(TForm1* form1);
};

class TForm17 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm17(TForm1* form1);
};

class TForm25 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm25(TForm1* form1);
};

class TForm32 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm32(TForm1* form1);
};

} // namespace skarvel
