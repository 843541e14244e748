#include "gui/dialog_base.h"

#include "gui/image_list.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <QShowEvent>

namespace skarvel {

SkarvelDialog::SkarvelDialog(QWidget* window, const QString& objectName, const QString& caption,
                             bool fixedBorder)
    : QDialog(window), m_window(window), m_fixed(fixedBorder) {
    setObjectName(objectName);
    setWindowTitle(caption);
    setModal(true);
    if (fixedBorder)
        setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
}

int SkarvelDialog::ShowModal() {
    return exec();
}

void SkarvelDialog::showEvent(QShowEvent* event) {
    if (m_fixed)
        setFixedSize(sizeHint().expandedTo(minimumSize()).expandedTo(QSize(240, 120)));
    if (m_window) {
        const QRect main = m_window->frameGeometry();
        move(main.center() - rect().center());
    }
    QDialog::showEvent(event);
}

QPushButton* MakeDialogButton(const QString& name, const QString& caption, Glyph glyph, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    SetGlyph(button, glyph);
    return button;
}

namespace {

class FocusLeaveFilter : public QObject {
public:
    FocusLeaveFilter(QObject* parent, std::function<void()> onLeave)
        : QObject(parent), m_onLeave(std::move(onLeave)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_onLeave();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onLeave;
};

} // namespace

void OnFocusLeave(QWidget* field, std::function<void()> onLeave) {
    field->installEventFilter(new FocusLeaveFilter(field, std::move(onLeave)));
}

QCheckBox* MakeCheckBox(const QString& name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

QHBoxLayout* MakeButtonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton* b : buttons)
        row->addWidget(b);
    return row;
}

QLabel* MakeLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace skarvel
