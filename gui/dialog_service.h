#pragma once
// Message boxes and file choosers of the program, in one place, with a hook
// for tests: when test answers are installed nothing modal is shown, messages
// are recorded and the choosers take the next queued answer.
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

class QWidget;

namespace skarvel::ui {

// A plain message box with an OK button.
void ShowMessage(QWidget* parent, const QString& text);
// The standard error box for an error raised in a command.
void ShowError(QWidget* parent, const QString& text, const QString& buttonText = QStringLiteral("OK"));
// A folder chooser that starts at start; a typed folder that does not exist is
// created (with its parents) after the user confirms. nullopt when cancelled.
std::optional<QString> ChooseDirectory(QWidget* parent, const QString& start);
// A save-file chooser without filter or default extension. nullopt when cancelled.
std::optional<QString> ChooseSaveFile(QWidget* parent, const QString& start);

struct TestAnswers {
    QStringList messages;                           // every message and error shown
    std::deque<std::optional<QString>> directories; // next answers of ChooseDirectory
    QStringList directoryStarts;                    // start folder of every ChooseDirectory call
    std::deque<std::optional<QString>> saveFiles;   // next answers of ChooseSaveFile
};

// Installs (or, with nullptr, removes) the test answers.
void SetTestAnswers(TestAnswers* answers);
TestAnswers* CurrentTestAnswers();

} // namespace skarvel::ui
