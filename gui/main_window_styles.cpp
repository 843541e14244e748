// The window's styles and font.
#include "gui/main_window.h"

#include "gui/dialog_service.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>

// Resources of a static library are registered by hand.
static void initSkarvelResources() {
    Q_INIT_RESOURCE(resources);
}

namespace skarvel {

namespace {

QString styleResource(const QString& name) {
    return QStringLiteral(":/styles/") + QString(name).replace(u' ', u'_') + QStringLiteral(".qss");
}

} // namespace

QFont ProgramFont() {
    // Where Tahoma is missing, a condensed sans keeps the captions inside their buttons.
    const QStringList installed = QFontDatabase::families();
    QString family = QStringLiteral("Tahoma");
    if (!installed.contains(family) && installed.contains(QStringLiteral("DejaVu Sans Condensed")))
        family = QStringLiteral("DejaVu Sans Condensed");
    QFont font(family);
    font.setPixelSize(11);
    return font;
}

bool LoadStyle(const QString& name) {
    initSkarvelResources();
    for (const QString& known : StyleNames()) {
        if (known.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QFile file(styleResource(known));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
        return true;
    }
    return false;
}

bool TForm1::ApplyStyle(const QString& name) {
    if (LoadStyle(name))
        return true;
    ui::ShowError(this, QStringLiteral("Style '%1' not found").arg(name), QStringLiteral("Close"));
    return false;
}

QString TForm1::CheckedStyleName() const {
    for (QAction* item : styleActions)
        if (item->isChecked())
            return item->text();
    return kDefaultStyle;
}

void TForm1::StyleItemClick(QAction* item) {
    item->setChecked(true);
    ApplyStyle(item->text());
}

} // namespace skarvel
