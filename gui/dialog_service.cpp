#include "gui/dialog_service.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace skarvel::ui {

namespace {
TestAnswers* g_answers = nullptr;

std::optional<QString> takeAnswer(std::deque<std::optional<QString>>& queue) {
    if (queue.empty())
        return std::nullopt;
    auto answer = queue.front();
    queue.pop_front();
    return answer;
}
} // namespace

void SetTestAnswers(TestAnswers* answers) {
    g_answers = answers;
}

TestAnswers* CurrentTestAnswers() {
    return g_answers;
}

void ShowMessage(QWidget* parent, const QString& text) {
    if (g_answers) {
        g_answers->messages.append(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Skarvel"), text, QMessageBox::Ok, parent);
    box.exec();
}

void ShowError(QWidget* parent, const QString& text, const QString& buttonText) {
    if (g_answers) {
        g_answers->messages.append(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Skarvel"), text, QMessageBox::NoButton, parent);
    box.addButton(buttonText, QMessageBox::AcceptRole);
    box.exec();
}

std::optional<QString> ChooseDirectory(QWidget* parent, const QString& start) {
    std::optional<QString> chosen;
    if (g_answers) {
        g_answers->directoryStarts.append(start);
        // As the dialog gives it: with the platform's separators.
        chosen = takeAnswer(g_answers->directories);
        if (chosen)
            chosen = QDir::toNativeSeparators(*chosen);
    } else {
        QFileDialog dialog(parent, QStringLiteral("Select directory"), start);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        chosen = QDir::toNativeSeparators(dialog.selectedFiles().first());
    }
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    if (!QDir(*chosen).exists()) {
        if (!g_answers) {
            const auto button = QMessageBox::question(
                parent, QStringLiteral("Skarvel"),
                QStringLiteral("The folder %1 does not exist. Create it?").arg(*chosen));
            if (button != QMessageBox::Yes)
                return std::nullopt;
        }
        if (!QDir().mkpath(*chosen))
            return std::nullopt;
    }
    return chosen;
}

std::optional<QString> ChooseSaveFile(QWidget* parent, const QString& start) {
    if (g_answers) {
        const std::optional<QString> file = takeAnswer(g_answers->saveFiles);
        return file ? std::optional(QDir::toNativeSeparators(*file)) : std::nullopt;
    }
    QFileDialog dialog(parent, QStringLiteral("Save as"), start);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

} // namespace skarvel::ui
