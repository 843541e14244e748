#pragma once
// The window's side of the core jobs' small interfaces: a progress bar as a
// progress sink and a memo as a line source; and the lines of a memo's plain text.
#include "jobs/job_context.h"

#include <QStringList>

class QPlainTextEdit;
class QProgressBar;

namespace skarvel {

class ProgressBarSink : public ProgressSink {
public:
    explicit ProgressBarSink(QProgressBar* bar) : m_bar(bar) {}
    void start(int maximum) override;
    void setValue(int position) override;
    void finish() override;

private:
    QProgressBar* m_bar;
};

// The lines as the memo shows them: a final line break adds no line.
class MemoLineSource : public LineSource {
public:
    explicit MemoLineSource(const QPlainTextEdit* memo) : m_memo(memo) {}
    int lineCount() const override;
    QString line(int i) const override;

private:
    const QPlainTextEdit* m_memo;
};

// Lines of a memo's plain text as the memo shows them (a final line break adds no line).
QStringList MemoTextLines(const QPlainTextEdit* memo);

} // namespace skarvel
