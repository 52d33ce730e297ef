#include "capture/rendering_surface.h"

#include "capture/capture_graph.h"
#include "platform/messages.h"
#include "shared/live_params.h"
#include "shared/server_state.h"

namespace {

QImage surface;

} // namespace

int CreateRenderingSurface()
{
    const QSize captureSize(gCapture.format.width, gCapture.format.height);
    if (!surface.isNull() && surface.size() == captureSize)
        return 1;
    surface = QImage(captureSize, QImage::Format_BGR888);
    if (!surface.isNull())
        return 1;
    ShowFailure("Could not get a surface for video rendering.");
    return 0;
}

QImage& RenderingSurface()
{
    return surface;
}
