#include "gui/jobs/window_adapters.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace skarvel {

void ProgressBarSink::start(int maximum) {
    m_bar->setRange(0, std::max(maximum, 0));
    m_bar->setValue(0);
    m_bar->show();
}

void ProgressBarSink::setValue(int position) {
    m_bar->setValue(position);
}

void ProgressBarSink::finish() {
    m_bar->hide();
}

int MemoLineSource::lineCount() const {
    const QTextDocument* document = m_memo->document();
    if (document->isEmpty())
        return 0;
    const int blocks = document->blockCount();
    // A text that ends with a line break shows an empty last block that is no line.
    return document->lastBlock().text().isEmpty() ? blocks - 1 : blocks;
}

QString MemoLineSource::line(int i) const {
    if (i < 0 || i >= lineCount())
        return {};
    return m_memo->document()->findBlockByNumber(i).text();
}

QStringList MemoTextLines(const QPlainTextEdit* memo) {
    QString text = memo->toPlainText();
    if (text.isEmpty())
        return {};
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.split(u'\n');
}

} // namespace skarvel
