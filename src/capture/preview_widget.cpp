#include "capture/preview_widget.h"

#include "capture/capture_graph.h"

#include <QPainter>
#include <QTimer>

namespace {

constexpr int kRefreshMs = 40;

CPreviewWidget* previewWidget = nullptr;

} // namespace

CPreviewWidget::CPreviewWidget(QWidget* parent) : QWidget(parent), timer_(new QTimer(this))
{
    setObjectName("preview");
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
    connect(timer_, &QTimer::timeout, this, &CPreviewWidget::Refresh);
    timer_->start(kRefreshMs);
}

void CPreviewWidget::Refresh()
{
    if (!TakePreviewPicture(picture_, picture_.serial))
        return;
    setVisible(picture_.shown);
    if (!picture_.shown)
        return;
    // The pictures are stored bottom-up.
    QImage rows(picture_.pixels.data(), picture_.width, picture_.height, picture_.width * 3, QImage::Format_BGR888);
    image_ = rows.mirrored(false, true);
    update();
}

void CPreviewWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (image_.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), image_);
}

CPreviewWidget* GetPreviewWidget(QWidget* parent)
{
    if (!previewWidget) {
        previewWidget = new CPreviewWidget(parent);
        QObject::connect(previewWidget, &QObject::destroyed, [] { previewWidget = nullptr; });
    }
    return previewWidget;
}
