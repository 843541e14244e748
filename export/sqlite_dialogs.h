#pragma once
// SQLite export dialogs: write a collection into a database table.
#include "app/dialog_base.h"

namespace skarvel {

class TForm10 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm10(TForm1* form1);
};

class TForm18 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm18(TForm1* form1);
};

class TForm26 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm26(TForm1* form1);
};

class TForm33 : public SkarvelDialog {
    Q_OBJECT
public:
    explicit TForm33(TForm1* form1);
};

} // namespace skarvel
