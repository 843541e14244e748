#pragma once
// Starting the real main window in a test: a program folder and a TEMP folder
// of the test's own, dialogs answered by the test.
#include "common/text_ops.h"
#include "gui/dialog_service.h"
#include "gui/main_window.h"
#include "tests/gui/window_parts.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>
#include <memory>

namespace skarvel::test {

// The extension a row's local file has on disk for the extension its type reads as
// (".???" is written as UnknownTypeFileExtension() where "?" cannot stand in a name).
inline QString fileExtension(const char* shown) {
    const QString extension = QString::fromUtf8(shown);
    return extension == kUnknownTypeExtension ? UnknownTypeFileExtension() : extension;
}

// Parent of the timers that wait for modal dialogs; a fixture ends them all so
// a timer that never saw its dialog cannot act on a later test's dialog.
inline QObject& ModalWatchers() {
    static QObject owner;
    return owner;
}

inline QString ShownWorkFolder(QWidget* window);

struct GuiFixture {
    QTemporaryDir programDir;
    QTemporaryDir tempDir;
    ui::TestAnswers answers;
    std::unique_ptr<TForm1> form;

    GuiFixture() { ui::SetTestAnswers(&answers); }
    ~GuiFixture() {
        qDeleteAll(ModalWatchers().findChildren<QTimer*>(Qt::FindDirectChildrenOnly));
        form.reset();
        ui::SetTestAnswers(nullptr);
    }
    AppEnvironment env() const { return {programDir.path(), tempDir.path()}; }
    TForm1* start() {
        form = CreateWindows(env());
        form->show();
        m_workFolder.clear();
        return form.get();
    }
    // The work folder of the running window, read once from its "Parameters" dialog.
    const QString& workFolder() {
        if (m_workFolder.isEmpty())
            m_workFolder = ShownWorkFolder(form.get());
        return m_workFolder;
    }
    void restart() {
        form.reset();
        start();
    }

private:
    QString m_workFolder;
};

// Runs action once the next modal dialog is up (waiting up to waitMs), then
// closes the dialog if it is still open.
inline void WhenModalShows(const std::function<void(QWidget*)>& action, int waitMs = kWaitMs) {
    auto* timer = new QTimer(&ModalWatchers());
    timer->setInterval(20);
    int tries = 0;
    const int maxTries = std::max(1, waitMs / 20);
    QObject::connect(timer, &QTimer::timeout, [timer, action, tries, maxTries]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && ++tries < maxTries)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal) {
            action(modal);
            if (modal->isVisible())
                modal->close();
        }
    });
    timer->start();
}

// Makes widget's window the active one, as a user's click into it does; false when it never becomes
// active. Activations arrive queued, possibly behind a stale one of a dialog that has closed since,
// and a dialog counts as active while its parent window is: only QApplication::activeWindow() tells.
inline bool ActivateWindowOf(QWidget* widget) {
    QWidget* window = widget->window();
    window->activateWindow();
    deliverQueuedEvents();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }, kWaitMs);
}

// True when act opens a modal dialog (which is closed again at once). Every event act queued is
// delivered before the answer, so a dialog that one of them opens counts too.
inline bool OpensModal(const std::function<void()>& act) {
    class ModalSpy : public QObject {
    public:
        bool opened = false;

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (event->type() == QEvent::Show && widget && widget->isWindow() && widget->isModal()) {
                opened = true;
                // Closed from its own event loop, which starts once it has shown.
                QMetaObject::invokeMethod(widget, &QWidget::close, Qt::QueuedConnection);
            }
            return false;
        }
    } spy;
    qApp->installEventFilter(&spy);
    act();
    deliverQueuedEvents();
    qApp->removeEventFilter(&spy);
    return spy.opened;
}

// The window's work folder as the "Parameters" dialog shows it; the dialog is cancelled.
inline QString ShownWorkFolder(QWidget* window) {
    QString shown;
    bool seen = false;
    WhenModalShows([&](QWidget* dialog) {
        seen = dialog->objectName() == QLatin1String("Form13");
        shown = Part<QLineEdit>(dialog, QStringLiteral("Edit1"))->text();
        QTest::mouseClick(Part<QPushButton>(dialog, QStringLiteral("BitBtn4")), Qt::LeftButton);
    });
    Trigger(window, QStringLiteral("Parameters1"));
    if (!seen)
        qFatal("\"Parameters\" did not open");
    return shown;
}

// Types a work folder into the "Parameters" dialog and saves it, as a user would.
inline void SaveWorkFolder(QWidget* window, const QString& folder) {
    bool seen = false;
    WhenModalShows([&](QWidget* dialog) {
        seen = dialog->objectName() == QLatin1String("Form13");
        Part<QLineEdit>(dialog, QStringLiteral("Edit1"))->setText(folder);
        QTest::mouseClick(Part<QPushButton>(dialog, QStringLiteral("BitBtn3")), Qt::LeftButton);
    });
    Trigger(window, QStringLiteral("Parameters1"));
    if (!seen)
        qFatal("\"Parameters\" did not open");
}

} // namespace skarvel::test
