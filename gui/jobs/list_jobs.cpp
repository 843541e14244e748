#include "gui/jobs/list_jobs.h"

#include "gui/main_window.h"
#include "common/text_ops.h"

#include <QPlainTextEdit>
#include <QProgressBar>

namespace skarvel {

Make_URLs_List::Make_URLs_List(TForm1* form1) : WindowJob(form1), m_service(form1->serviceBase) {}

void Make_URLs_List::prepareStep() {
    itemCount = TForm1::MemoLineCount(Form1->Source_Links);
    ShowProgress(Form1->ProgressBar3, itemCount);
}

void Make_URLs_List::fetchStep() {
    m_link = TForm1::MemoLines(Form1->Source_Links).value(itemIndex);
}

void Make_URLs_List::work() {
    m_answer.clear();
    m_answer = ReplaceAll(m_service.makeList(m_link), QStringLiteral("\n"), QStringLiteral("\r\n"));
}

void Make_URLs_List::workFailed(const std::exception& error) {
    Q_UNUSED(error);
    m_answer.clear();
}

void Make_URLs_List::writeStep() {
    TForm1::AppendToMemo(Form1->URLs_List, m_answer);
    Form1->ProgressBar3->setValue(itemIndex + 1);
    if (itemIndex >= itemCount - 1)
        Form1->ProgressBar3->hide();
}

void Make_URLs_List::abortWork() {
    m_service.abort();
}

} // namespace skarvel
