#pragma once
// The annotation layer: a transparent picture over the lanes showing the records of a
// list's undo window, replayed in list order.
//
// It works as a mask and a colour bitmap: the mask holds at each pixel the alpha of the
// stroke that was painted there last; strokes overwrite it rather than accumulate, so a
// translucent marker crossing itself keeps one even alpha, a marker over a pen replaces
// the pen, and an eraser (alpha 0) clears. The colour bitmap holds that stroke's colour.
// The picture shown is the colour premultiplied by the mask level, and that is all that
// is kept: one premultiplied bitmap whose alpha is the mask. Keeping the colour unpremultiplied keeps every shown pixel a valid
// premultiplied value even where the mask and the colour come from different strokes: the
// full-thickness band around a brush's thinner core shows the colour underneath at the
// brush's alpha (black over an empty pixel).
//
// Rendering is deterministic: a record painted alone onto the layer (DrawPath) gives
// exactly the pixels a full replay gives, and a replay split into horizontal bands on
// several threads gives exactly the pixels of a replay on one. It is also the same under
// whole-pixel moves of the view: outlines are built with the fractional part of the view
// offset only and moved by its whole part when filled, so a layer painted for one offset,
// moved by a whole number of pixels, is exactly the layer painted for the other. The
// layer's bitmaps may be larger than the control (Origin: the control position of their
// top-left pixel), so a pan within that margin needs no painting at all.
//
// Threads: a TImageP1 belongs to one thread at a time. TLayerRecords are immutable once
// built and may be shared between threads.

#include <QImage>
#include <QRect>
#include <atomic>
#include <memory>
#include <vector>

#include "annotation/SkPath.h"
#include "annotation/SkPathStroke.h"

class QPainter;

namespace skm {

// The Qt pen style a stroke's dash is drawn with, by the layer and by the palette's pictures.
Qt::PenStyle PenStyleOf(TStrokeDash d);

// The drawable records of a list's undo window, copied so they can be painted on another
// thread while the list changes. Each keeps its bounding box in canvas units (points only;
// the stroke's half-thickness is added when culling).
struct TLayerRecord {
  std::unique_ptr<TSkPath> Path;
  float MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
};
using TLayerRecords = std::vector<std::shared_ptr<const TLayerRecord>>;
// Points of all records together (what a replay costs).
size_t LayerRecordsPoints(const TLayerRecords& records);

// Whether a record of the window is painted at all: shown, and a pen or brush polyline.
bool IsDrawnRecord(const TSkPath& r);
// The drawable records of APwPaths' window, in list order (null list: none).
std::shared_ptr<const TLayerRecords> LayerRecordsGet(const TSkPaths* APwPaths);
// A copy of one record for painting.
TLayerRecord LayerRecordMake(const TSkPath& r);

// Strokes an outline by its plan (whole, or segment by segment) onto any painter with the
// plan's colours as they are: the live layer's drawing.
void PaintPlan(QPainter& p, const TStrokePlan& plan, const TPathData& outline);

class TImageP1 {
public:
  TImageP1() = default;

  // Resizes both bitmaps and the picture; their contents are not kept (cleared).
  void BitmapSetSize(int AWidth, int AHeight);
  int Width() const { return FImage.width(); }
  int Height() const { return FImage.height(); }
  // Control position of the bitmaps' top-left pixel ((0, 0) unless set); set it before
  // painting.
  QPoint Origin() const { return FOrigin; }
  void SetOrigin(QPoint origin) { FOrigin = origin; }
  // Colour 0 everywhere and mask level 0: nothing shown.
  void Clear();
  // Paints one record over the present contents, then refreshes the picture under it.
  // Returns the bitmap rectangle that changed (empty when nothing was painted).
  QRect DrawPath(const TZoomOffset& AZO, const TSkPath& APwPath);
  // Clears and replays every record, split into `bands` horizontal bands painted on as
  // many threads (1: this thread only). `cancel`, when given and set, stops the replay
  // early; the bitmaps are then incomplete and the call returns false.
  bool DrawPathAll(const TZoomOffset& AZO, const TLayerRecords& records, int bands = 1,
                   const std::atomic<bool>* cancel = nullptr);
  // The same from a list (its undo window).
  void DrawPathAll(const TZoomOffset& AZO, const TSkPaths* APwPaths);

  // The picture shown: colour premultiplied by the mask (ARGB32 premultiplied); its
  // alpha channel is the mask.
  const QImage& Image() const { return FImage; }

  // The part of the bitmap anything was painted on since the last clear (what a paint
  // needs to draw; empty for an empty layer).
  QRect Used() const { return FUsed; }

private:
  QImage FImage;
  QRect FUsed;
  QPoint FOrigin;
};

// Where a view puts the layer's outlines: the view with only the fractional part of its
// offset, and the whole pixels to move them by. False when the offset is not finite or
// beyond the range of pixel positions.
bool LayerPlace(const TZoomOffset& view, TZoomOffset& local, QPoint& whole);

} // namespace skm
