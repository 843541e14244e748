#pragma once
// URLs filter: keep or drop URL list lines by a text they contain.
#include "gui/dialog_base.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace skarvel {

class TForm36 : public SkarvelDialog {
    Q_OBJECT
public:
    // urls: the URL list the filter applies to.
    TForm36(QWidget* window, QPlainTextEdit& urls);
    QLabel* Label1;
    QLineEdit* Edit1; // a kept line must contain this
    QLabel* Label2;
    QLineEdit* Edit2;     // a kept line must not contain this
    QPushButton* BitBtn1; // Apply
    QPushButton* BitBtn3; // Close

public slots:
    // Filters the URL list and stays open, so that filters can follow one another.
    void BitBtn1Click();
    void BitBtn3Click();

private:
    QPlainTextEdit& m_urls;
};

} // namespace skarvel
