#pragma once
// The frame splitter's blend: the remembered frames of a lane drawn over one another
// into one picture, so motion shows as a trail of copies.
//
// Threads: pure functions on the caller's images; any thread. ComposeRing may use one
// helper thread of its own for large pictures and joins it before returning.

#include <QImage>
#include <vector>

namespace skm {

// Blends one premultiplied BGRA frame over dst at the given opacity (clamped to 0..1),
// nearest-neighbour and unscaled: only the part both pictures cover is touched.
// dst must be Format_ARGB32_Premultiplied and writable; src is converted if it is not.
void BlendFrameOver(QImage& dst, const QImage& src, float opacity);

// Draws the ring into target as the splitter shows it: target keeps its size and is
// cleared to transparent; the slot `current` (unless it equals `next`, the slot written
// next, or is empty) is drawn opaque; then every other non-empty slot in ring order
// after `current`, each at `opacity` (clamped to 1). Empty slots (width 0) are skipped.
// Rows are blended frame after frame while they are still in cache.
void ComposeRing(QImage& target, const std::vector<QImage>& ring, int current, int next,
                 float opacity);

} // namespace skm
