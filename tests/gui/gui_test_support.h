#pragma once
// Starting the real main window in a test: a program folder and a TEMP folder
// of the test's own, dialogs answered by the test.
#include "gui/dialog_service.h"
#include "gui/main_window.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>
#include <memory>

namespace skarvel::test {

// Parent of the timers that wait for modal dialogs; a fixture ends them all so
// a timer that never saw its dialog cannot act on a later test's dialog.
inline QObject& ModalWatchers() {
    static QObject owner;
    return owner;
}

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
        return form.get();
    }
    void restart() {
        form.reset();
        start();
    }
};

// Runs action once the next modal dialog is up (waiting up to waitMs), then
// closes the dialog if it is still open.
inline void WhenModalShows(const std::function<void(QWidget*)>& action, int waitMs = 5000) {
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

// True when act opens a modal dialog (which is closed again at once).
inline bool OpensModal(const std::function<void()>& act) {
    bool opened = false;
    QTimer::singleShot(100, [&opened] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened = true;
            modal->close();
        }
    });
    act();
    QTest::qWait(150);
    return opened;
}

} // namespace skarvel::test
