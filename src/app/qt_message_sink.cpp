#include "app/qt_message_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {

// Runs a box on the GUI thread and returns its answer, blocking the caller.
template <typename Show>
int RunOnGuiThread(Show show)
{
    if (QThread::currentThread() == qApp->thread())
        return show();
    int answer = QMessageBox::Cancel;
    QMetaObject::invokeMethod(qApp, [&] { answer = show(); }, Qt::BlockingQueuedConnection);
    return answer;
}

int ExecBox(QMessageBox::Icon icon, const char* caption, const std::string& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, QString::fromStdString(text), buttons);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec();
}

} // namespace

void QtMessageSink::Error(const std::string& text, bool blocking)
{
    if (blocking) {
        RunOnGuiThread([&] { return ExecBox(QMessageBox::Critical, "Error!", text, QMessageBox::Ok); });
        return;
    }
    QMetaObject::invokeMethod(qApp, [text] {
        auto* box = new QMessageBox(QMessageBox::Critical, "Error!", QString::fromStdString(text), QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    }, Qt::QueuedConnection);
}

void QtMessageSink::Info(const std::string& text)
{
    RunOnGuiThread([&] { return ExecBox(QMessageBox::Information, "Info", text, QMessageBox::Ok); });
}

bool QtMessageSink::Confirm(const std::string& text)
{
    int answer = RunOnGuiThread(
        [&] { return ExecBox(QMessageBox::Question, "Confirm", text, QMessageBox::Ok | QMessageBox::Cancel); });
    return answer != QMessageBox::Cancel;
}
