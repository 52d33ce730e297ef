#include "capture/auto_tune_dlg.h"

#include "platform/messages.h"
#include "platform/sync.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* ReadOnlyBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    return box;
}

} // namespace

CAutoTuneDlg::CAutoTuneDlg(QWidget* parent, int baseIndex, TvTuner& tuner)
    : QDialog(parent), scan_(tuner, baseIndex), progress_(new QProgressBar(this)),
      lastFound_(ReadOnlyBox(this, "lastFound")), beingScanned_(ReadOnlyBox(this, "beingScanned"))
{
    setWindowTitle("Auto Tuning...");
    setModal(true);
    progress_->setObjectName("progress");
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("cancel");
    connect(cancel, &QPushButton::clicked, this, &CAutoTuneDlg::reject);

    auto* boxes = new QFormLayout;
    boxes->addRow("Last Found Channel:", lastFound_);
    boxes->addRow("Channel Being Scanned:", beingScanned_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress_);
    layout->addLayout(boxes);
    layout->addWidget(cancel, 0, Qt::AlignRight);
}

CAutoTuneDlg::~CAutoTuneDlg()
{
    // A dialog taken down before the scan ended: the worker stops after its
    // channel and must be gone before the widgets it posts to.
    scan_.Cancel();
    worker_.Wait(kInfinite);
}

void CAutoTuneDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Started on the first showing, so that the end of the scan always finds
    // the dialog open, as exec() or show() left it.
    if (!workerStarted_)
        workerStarted_ = worker_.Start([this] { return ScanOnWorker(); });
}

int CAutoTuneDlg::ScanOnWorker()
{
    scan_.Run(*this);
    // The last thing the worker does, so that the window thread's wait for
    // it after this message is short.
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(kMsgAutoTuneDone)));
    return 0;
}

bool CAutoTuneDlg::event(QEvent* event)
{
    if (event->type() != static_cast<QEvent::Type>(kMsgAutoTuneDone))
        return QDialog::event(event);
    OnScanDone();
    return true;
}

void CAutoTuneDlg::OnScanDone()
{
    worker_.Wait(kInfinite);
    accept();
}

void CAutoTuneDlg::reject()
{
    if (worker_.Registered())
        scan_.Cancel();
    else
        QDialog::reject();
}

void CAutoTuneDlg::PostToWindow(std::function<void()> work)
{
    // Queued on the dialog: should it go away first, the work is dropped with it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void CAutoTuneDlg::RangeKnown(TunerChannelRange range)
{
    PostToWindow([this, range] { progress_->setRange(range.minimum, range.maximum); });
}

void CAutoTuneDlg::Scanning(int channel)
{
    PostToWindow([this, channel] { beingScanned_->setText(QString::number(channel)); });
}

void CAutoTuneDlg::Found(int channel)
{
    PostToWindow([this, channel] { lastFound_->setText(QString::number(channel)); });
}

void CAutoTuneDlg::Scanned(int channel)
{
    PostToWindow([this, channel] { progress_->setValue(channel); });
}

int RunAutoTuneDialog(QWidget* parent, int baseIndex, TvTuner& tuner)
{
    CAutoTuneDlg dialog(parent, baseIndex, tuner);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
