#pragma once
// The comparison canvas: both lanes' pictures, the stored annotations and the annotation
// being drawn, under one view zoom-offset.
//
// Layers, bottom to top: lane 1's picture, lane 2's picture (at its opacity), the
// annotation layer (TImageP1) and the live layer with the record being drawn. The lanes
// are stacked (pile: both fitted into the whole canvas, lane 2 over lane 1) or side by side
// (lane 1 fitted into the left half, lane 2 into the right half). Annotations are stored
// in canvas units (1280 x 720); FZO maps them to control coordinates, and each lane's
// zoom-offset places its picture in canvas units, so pictures and drawings move together.
//
// Pointer gestures (press, move, release, wheel) arrive as the widget's own events and go
// to the ImageP0Mouse* handlers, which the owner may also call. Space (from the held-key
// table) turns a press into a pan of the view, Shift + Space into a pan of lane 2; the
// wheel zooms the view around the pointer, or lane 2 alone with Shift + Space.
//
// Redrawing the annotation layer for a new view (pan, zoom, resize, undo) replays every
// record; with many records that runs on a worker thread while the previous layer is
// shown moved and scaled to the new view. The finished layer is exactly what a replay on
// the UI thread gives; LayerWait() waits for it. Layers are painted with a margin around
// the control, and a layer moved by whole pixels is exactly the layer of the moved view,
// so a pan within the margin shows the exact layer at once and a stroke released onto it
// is painted alone.
//
// Threads: UI thread only (the worker never touches the canvas's fields). Ownership: the
// canvas owns its layers and the record being drawn; the annotation lists belong to the
// owner, which points the canvas at the variable that designates the current one
// (SetSkPaths) and calls ImageP1DrawPathAll or ImageP1Clear after changing a list.

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "annotation/SkPath.h"
#include "canvas/SkLayer.h"

namespace skm {

// One lane picture: its bitmap, its size in pixels and where it is placed.
struct TSkLane {
  QImage Bitmap;             // the lane's current frame (shown stretched into Bounds)
  float MediaWidth = 1280;   // picture size in pixels, for the fit
  float MediaHeight = 720;
  TZoomOffset ZO{0, {0, 0}}; // placement in canvas units, relative to the view
  QRectF Bounds{0, 0, 1280, 720}; // in control coordinates
  float Opacity = 1;
  bool Visible = true;
};

class TSkImage : public QWidget {
  Q_OBJECT
public:
  // Pile layout, view zoom 1, style {pkDraw, 0x88FF0000, Solid, 20}, both lanes 1280 x 720.
  explicit TSkImage(QWidget* owner = nullptr);
  ~TSkImage() override;

  // ---- properties -------------------------------------------------------------------
  // Current drawing style (the palette and the eraser button write it).
  const TStrokeStyle& StrokeStyle() const { return FStroke; }
  void SetStrokeStyle(const TStrokeStyle& s) { FStroke = s; }
  // Lane 2's opacity, 0..1.
  float V2Opacity() const { return FV2.Opacity; }
  void SetV2Opacity(float value);
  // Pile (true) or side by side; stored only, applied by the next refit.
  bool isPile() const { return FisPile; }
  void SetIsPile(bool value) { FisPile = value; }
  // File shown in each lane, kept for the owner; an empty name keeps the previous one.
  const QString& V1Filename() const { return FV1Filename; }
  void SetV1Filename(const QString& name);
  const QString& V2Filename() const { return FV2FileName; }
  void SetV2Filename(const QString& name);
  // The owner's variable that designates the list to draw; read at every redraw. Null
  // (or a variable holding null) draws nothing and stores nothing.
  void SetSkPaths(TSkPaths* const* variable);
  TSkPaths* CurrentPaths() const { return FSkPaths ? *FSkPaths : nullptr; }
  // Whether the canvas keeps itself over the whole of its parent (true after creation, as
  // the window's client area); false leaves its geometry to the owner.
  bool FillsParent() const { return FFillParent; }
  void SetFillParent(bool on);
  // Lane 2 shown or hidden (whiteboard mode hides it).
  bool V2Visible() const { return FV2.Visible; }
  void SetV2Visible(bool visible);

  // ---- frames and sizes -----------------------------------------------------------
  // Copies the frame into the lane's bitmap; the lane's bounds stay, so a frame of another
  // size is stretched into them.
  void ImageV1Capture(const QImage& ABitmap);
  void ImageV2Capture(const QImage& ABitmap);
  // A new picture size for the lane: refits the lane (the view stays).
  void ImageV1SetSize(float AWidth, float AHeight);
  void ImageV2SetSize(float AWidth, float AHeight);
  // The opacity gauge's change callback.
  void ImageV2OpacityChange(float Value) { SetV2Opacity(Value); }
  // Places each lane image from its zoom-offset and the view.
  void V1Disp();
  void V2Disp();

  // ---- layout and view --------------------------------------------------------------
  // Pile layout, then refit (view, lanes and annotation layer).
  void ImageP1CenterOne();
  // Side by side, then refit.
  void ImageP1CenterTwo();
  // Refit for the current size: fit view, lanes fitted, layer resized and redrawn. Runs on
  // every resize, so a resize returns the view and lane 2 to their fitted placement.
  void ImageResize();
  // Sets the view relative to the fit view ((1, (0, 0)) is the fit view).
  void ZoomOffsetSet(const TZoomOffset& AZO);

  // ---- annotation layer -------------------------------------------------------------
  // Replays the designated list's window (after undo, redo, switching lists, clearing).
  void ImageP1DrawPathAll();
  // Clears the layer (after erase-all).
  void ImageP1Clear();
  // Waits until the annotation layer shows the current list under the current view, and
  // until the margins for panning are painted.
  void LayerWait();
  // True while a redraw for the current view or list is still being made.
  bool LayerPending() const;
  // The annotation layer as it is shown when not pending.
  const TImageP1& ImageP1() const { return FP1; }
  // The view the annotation layer was painted for.
  const TZoomOffset& ImageP1ZO() const { return FP1ZO; }
  // The shown layer's pixels for the current view, as large as the control (a copy; empty
  // while LayerPending()).
  QImage LayerImage() const;
  // Layers painted with margins around the control (default) or exactly its size.
  void SetLayerMargin(bool on) { FLayerMargin = on; }
  // Replays with at most this many records' points run on the UI thread; larger ones on
  // the worker (0: always the worker; a huge value: never).
  void SetSyncPointLimit(size_t points) { FSyncPointLimit = points; }

  // ---- pointer gestures (bound to the widget's own events) --------------------------
  void ImageP0MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, float X, float Y);
  void ImageP0MouseMove(Qt::KeyboardModifiers Shift, float X, float Y);
  void ImageP0MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, float X, float Y);
  // WheelDelta: the signed step (120 per notch); (X, Y): the pointer in control coordinates.
  void ImageP0MouseWheel(Qt::KeyboardModifiers Shift, int WheelDelta, float X, float Y);

  // ---- state, for the owner and tests ---------------------------------------------------
  const TZoomOffset& FZO() const { return FZOv; }
  const TZoomOffset& DZO() const { return FDZO; }
  const TZoomOffset& V1ZO() const { return FV1.ZO; }
  const TZoomOffset& V2ZO() const { return FV2.ZO; }
  const TSkLane& ImageV1() const { return FV1; }
  const TSkLane& ImageV2() const { return FV2; }
  // The gesture in progress (pkNone when none).
  TPathKind LKind() const { return FLKind; }
  // The record being drawn, or null.
  const TSkPath* FSkPath() const { return FPath.get(); }
  // The live layer's bitmap.
  const QImage& ImageP0() const { return FP0; }

protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void WatchParent();
  struct TWorker;

  // Lane fit for the current layout and size.
  void LanesFit();
  void LaneSetSize(TSkLane& lane, float w, float h, bool right);
  void LaneDispOf(TSkLane& lane);
  // Repaints the live layer with the record being drawn.
  void ImageP0DrawPath();
  // The list's window copied for painting (rebuilt when the list may have changed).
  void RecordsRefresh();
  // Asks for the layer under the current view: on this thread when small, else the worker.
  void LayerRequest();
  // Takes a finished layer from the worker when it matches the list.
  void LayerTake();
  // Replays the layer for the current view on this thread.
  void LayerPaintHere();
  // Size and origin of a layer painted for the current view: the control, with margins
  // when asked for (and enabled).
  void LayerGeometry(QSize& size, QPoint& origin, bool margin) const;
  // Asks the worker for margins around an exact layer that has none.
  void MarginRequest();
  // Whether the layer shown is exactly the layer of `view`, and at which control position
  // its top-left pixel then lies.
  bool LayerAt(const TZoomOffset& view, QPoint& at) const;
  TPointF ToCanvas(float X, float Y) const;

  bool FisPile = true;
  QString FV1Filename;
  QString FV2FileName;
  TZoomOffset FZOv{1, {0, 0}};
  TZoomOffset FDZO{0, {0, 0}};
  TPointF MOffset;
  std::unique_ptr<TSkPath> FPath;
  TStrokeStyle FStroke{TPathKind::pkDraw, 0x88FF0000u, TStrokeDash::Solid, 20};
  TPathKind FLKind = TPathKind::pkNone;
  TPointF P0Point;
  TSkLane FV1;
  TSkLane FV2;
  TSkPaths* const* FSkPaths = nullptr;
  int FWheelRest = 0; // wheel delta short of a whole notch (high-resolution wheels)
  bool FFillParent = true;
  QPointer<QWidget> FWatchedParent;

  QImage FP0;       // live layer
  QRect FP0Dirty;   // where the live layer has pixels

  TImageP1 FP1;                 // annotation layer as shown
  TZoomOffset FP1ZO{1, {0, 0}}; // the view FP1 was painted for
  uint64_t FP1Version = 0;      // the list version FP1 shows
  uint64_t FP1Seq = 0;          // request number of FP1 (newer layers replace older)
  uint64_t FSeq = 0;            // last request number given out
  std::shared_ptr<const TLayerRecords> FRecords; // the window, copied
  uint64_t FVersion = 1;        // bumps whenever the list or the layer size changes
  size_t FSyncPointLimit = 4000;
  bool FLayerMargin = true;     // layers painted with margins for pans
  bool FPanRequested = false;   // a layer for the pan under way has been asked for
  std::unique_ptr<TWorker> FWorker;
};

} // namespace skm
