#pragma once
// Scaling 24-bit images down by whole factors with a box filter, for drawing smooth shapes:
// paint at several times the size, then shrink.

class QImage;

// Averages each fx x fy block of the source into one destination pixel. Both images end up
// 24 bits per pixel (Format_RGB888); the destination is resized to (width div fx, height div
// fy) and every pixel of it written; source columns and rows beyond the last whole block are
// ignored. Each channel is rounded to nearest, halves up. A negative fx mirrors left to right.
// A negative fy is refused with an assertion failure before either image is touched.
void ShrinkBitmap(QImage& source, QImage& destination, int fx, int fy);
