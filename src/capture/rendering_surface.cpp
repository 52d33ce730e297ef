#include "capture/rendering_surface.h"

#include "platform/messages.h"
#include "shared/live_params.h"
#include "shared/server_state.h"

namespace {

QImage surface;

} // namespace

int CreateRenderingSurface()
{
    const QSize captureSize(gCaptureWidth, gCaptureHeight);
    if (!surface.isNull() && surface.size() == captureSize)
        return 1;
    surface = QImage(captureSize, QImage::Format_BGR888);
    if (!surface.isNull())
        return 1;
    ShowMessage("Could not get a surface for video rendering.", gState.showMessages, 0);
    return 0;
}

QImage& RenderingSurface()
{
    return surface;
}
