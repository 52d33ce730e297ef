#pragma once
// Line-21 closed captions: the decoder that keeps a 15-row caption screen
// from the byte pairs of the first data channel, and the overlay that draws
// its visible rows into the rendering surface before a frame is encoded.
// Caption text is held in code page 1252.
//
// The decoder runs on the caption grabber's thread and the overlay on the
// video grabber's thread; the decoder only moves rows into view and the
// overlay alone paints, so the surface is touched by one thread.

#include "capture/caption_style.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>

// Caption thread (the caption grabber callback): decodes a batch of byte
// pairs into the one global decoder state. 0, or -1 when a byte fails the
// parity check (the rest of the batch is dropped).
int DecodeCaptions(const uint8_t* bytes, int count);

// Zeroes the decoder state, as start-up and every stream buffer reset do.
void ResetCaptionDecoder();

// Video thread (frame preparation): paints the visible display rows into
// the surface (a top-down QImage of capture size, Format_BGR888) with the
// style, then lets rows whose time is up disappear. Also callable with no
// rows.
void DrawCaptions(QImage& surface, const CaptionStyle& style);

// The lines DrawCaptions would paint now, top to bottom.
QStringList VisibleCaptionLines();

// The text of working row 0-14 from its start column, as it would be drawn
// once shown; empty for a row without text.
QString CaptionRowText(int row);

// The character a code page 1252 byte stands for.
QChar CharFromCodePage1252(uint8_t code);
