#pragma once
// The rendering surface: a 24-bit picture of the capture size into which a
// frame is copied so that captions can be drawn over it before encoding.
// Made on the window thread by the live and recording starts.

#include <QImage>

// 1 when a surface of the running graph's capture size exists afterwards,
// else 0 after telling the user. A graph of another size gets a surface of
// its own size: a picture is never copied into one that does not fit it.
int CreateRenderingSurface();

// The surface as last made; null before the first start. The video
// callback's thread draws into it while a capture runs.
QImage& RenderingSurface();
