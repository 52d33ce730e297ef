#include "ui/true_color_toolbar.h"

#include "capture/tuner.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "platform/messages.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

int ChannelSpinGuard()
{
    const PipelineActivity activity = CurrentActivity();
    if (!activity.streaming && !activity.recording)
        return 0;
    ShowMessage("Current channel is being streamed/recorded. Please stop the streaming/recording first.", 1, 1);
    return -1;
}

namespace {

// Every change of the box goes through a step, so that the refusal while
// streaming or recording cannot be typed around.
class ChannelSpinBox : public QSpinBox {
public:
    explicit ChannelSpinBox(QWidget* parent) : QSpinBox(parent) { lineEdit()->setReadOnly(true); }

    void stepBy(int steps) override
    {
        if (ChannelSpinGuard() == 0)
            QSpinBox::stepBy(steps);
    }
};

QFont ArialFont(int pixelSize, bool bold)
{
    QFont font("Arial");
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

CTrueColorToolBar::CTrueColorToolBar(const QList<QAction*>& buttons, Tuner& tuner, QWidget* parent)
    : QToolBar("Toolbar", parent), channelBox_(new ChannelSpinBox(this))
{
    setObjectName("toolbar");
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(24, 24));
    addActions(buttons);
    addSeparator();

    auto* label = new QLabel("Channel:", this);
    label->setFont(ArialFont(12, false));
    label->setContentsMargins(4, 0, 4, 0);
    addWidget(label);

    channelBox_->setObjectName("channelBox");
    channelBox_->setRange(0, kChannelCount - 1);
    channelBox_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    channelBox_->setFont(ArialFont(13, true));
    channelBox_->setToolTip("Current channel");
    addWidget(channelBox_);
    connect(channelBox_, &QSpinBox::valueChanged, this, [&tuner](int channel) { tuner.Choose(channel); });
    ShowChannel(gSettings.record.currentChannel);
}

void CTrueColorToolBar::ShowChannel(int channel)
{
    const QSignalBlocker quiet(channelBox_);
    channelBox_->setValue(channel);
}
