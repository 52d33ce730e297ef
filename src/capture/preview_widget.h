#pragma once
// The preview window: the capture graph's pictures inside the main frame.

#include "platform/capture/capture_layer.h"

#include <QImage>
#include <QWidget>

class QTimer;

class CPreviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewWidget(QWidget* parent);

    // Takes the renderer's newest picture, if there is one; the widget shows
    // itself while the renderer has a picture to show.
    void Refresh();
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* timer_;
    PreviewPicture picture_;
    QImage image_;
};

// The one preview widget, made on first use as a child of parent, which the
// main frame places in its view. Its creation also lets the capture graph
// resize the main frame around the preview.
CPreviewWidget* GetPreviewWidget(QWidget* parent);
