#pragma once
// Common ground of the program's dialogs: created once at start-up, shown
// modally and hidden again, with a fixed border and centred on the main window.
#include <QDialog>

namespace skarvel {

class TForm1;

class SkarvelDialog : public QDialog {
    Q_OBJECT
public:
    SkarvelDialog(TForm1* form1, const QString& objectName, const QString& caption, bool fixedBorder = true);
    TForm1* Form1() const { return m_form1; }
    // Shows the dialog modally, centred on the main window.
    int ShowModal();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TForm1* m_form1;
    bool m_fixed;
};

} // namespace skarvel
