#pragma once
// What the comparison canvas shows, composed again as one picture at the lanes' own
// resolution rather than the screen's: lane 1's picture, lane 2 stacked over it at its
// opacity or beside it, and the annotation list over both.
//
// A scene describes the canvas by the same quantities the canvas keeps (its size, the view
// zoom-offset, each lane's placement relative to the view), so the picture follows every
// mapping of SkView exactly; only the scale differs. The scale makes one pixel of lane 1's
// picture one pixel of the output (lane 2's when lane 1 shows nothing). The output covers
// the lanes' pictures as far as they lie inside the canvas; where neither lane covers it,
// it is black, as the canvas is. Side by side, lane 2 is exported at full opacity: its
// opacity is for looking through it at lane 1, which it no longer covers there.
//
// Threads: any thread; a scene owns copies of the pictures (implicitly shared QImages)
// and points at an annotation list that must not change while ViewExportRender runs.

#include <QImage>
#include <QSizeF>
#include <QString>

#include "annotation/SkPath.h"

namespace skm {

class TSkImage;

// One lane as the canvas shows it.
struct TViewExportLane {
  QImage Picture;                 // the current picture (stretched into the placement)
  float MediaWidth = 0;           // picture size in pixels, which the placement is for
  float MediaHeight = 0;
  TZoomOffset ZO{0, {0, 0}};      // placement in canvas units, relative to the view
  float Opacity = 1;              // 0..1
  bool Visible = true;            // false: not drawn (lane 2 in whiteboard mode)
  // Drawn at all: visible, with a picture and a size.
  bool Shown() const;
};

struct TViewExportScene {
  QSizeF Control{1280, 720};      // the canvas's size in control units
  TZoomOffset View{1, {0, 0}};    // canvas units to control units
  TViewExportLane Lane1;
  TViewExportLane Lane2;          // drawn over lane 1
  const TSkPaths* Paths = nullptr; // its undo window is drawn over the lanes; null: none
};

// Largest output accepted, per side and in pixels.
inline constexpr int kViewExportMaxSide = 16384;
inline constexpr qint64 kViewExportMaxPixels = qint64(1) << 27;

// The scene of a canvas as it is now (its view, lanes, opacity when stacked, current list).
TViewExportScene ViewExportSceneOf(const TSkImage& canvas);

// The scene a freshly fitted canvas would show for these pictures: stacked (pile) in a
// canvas of lane 1's size, or side by side in a canvas twice as wide, so lane 1 fills its
// area pixel for pixel and lane 2 is fitted to the same area. A null lane 2 shows nothing.
TViewExportScene ViewExportSceneFitted(const QImage& lane1, const QImage& lane2, float opacity, bool pile,
                                       const TSkPaths* paths);

// Composes the scene at native resolution into out (RGB32). False with a message in error
// when nothing of the pictures is inside the canvas or the size would be out of bounds.
bool ViewExportRender(const TViewExportScene& scene, QImage& out, QString* error = nullptr);

// The suggested file name for an export: lane 1's file name without its extension, then
// "-frame" and the frame number when there is one (frame >= 0), else "-view", and ".png";
// in dir when dir is not empty, else beside lane 1's file. "sketchmark-view.png" when lane
// 1 has no file.
QString ViewExportDefaultName(const QString& lane1File, qint64 frame, const QString& dir = QString());

} // namespace skm
