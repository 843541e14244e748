#pragma once
// Common ground of the program's dialogs: created once at start-up, shown
// modally and hidden again, with a fixed border and centred on the main window.
#include <QDialog>

#include <functional>
#include <initializer_list>
#include <utility>

class QCheckBox;
class QLabel;
class QHBoxLayout;
class QPushButton;

namespace skarvel {

enum class Glyph;

class SkarvelDialog : public QDialog {
    Q_OBJECT
public:
    // window: the main window, the dialog's parent.
    SkarvelDialog(QWidget* window, const QString& objectName, const QString& caption,
                  bool fixedBorder = true);
    // Shows the dialog modally, centred on the main window.
    int ShowModal();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* m_window;
    bool m_fixed;
};

// A dialog button with its picture; it never acts as the default button, so
// Enter stays with the fields and grids that use it.
QPushButton* MakeDialogButton(const QString& name, const QString& caption, Glyph glyph, QWidget* parent);
// A widget of type W with its designer name, made as W(args..., parent).
template <class W, class... Args> W* MakeNamed(const QString& name, QWidget* parent, Args&&... args) {
    auto* widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(name);
    return widget;
}
// A row of buttons at the right edge, in the order given.
QHBoxLayout* MakeButtonRow(std::initializer_list<QPushButton*> buttons);
// A plain-text label (captions spaced with runs of blanks stay as typed).
QLabel* MakeLabel(const QString& name, const QString& text, QWidget* parent);

// A check box with its designer name and caption, unchecked.
QCheckBox* MakeCheckBox(const QString& name, const QString& caption, QWidget* parent);

// Runs onLeave each time the keyboard focus moves from field to another control
// (another window becoming active, or a popup opening, does not leave the field).
void OnFocusLeave(QWidget* field, std::function<void()> onLeave);

} // namespace skarvel
