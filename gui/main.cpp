#include "gui/dialog_service.h"
#include "gui/main_window.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarvel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Skarvel"));
    try {
        auto form1 = skarvel::CreateWindows(skarvel::DefaultEnvironment());
        form1->show();
        const int code = app.exec();
        form1.reset();
        return code;
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Skarvel"), QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
