#include "canvas/SkImage.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "annotation/SkPathStroke.h"
#include "canvas/SkView.h"
#include "platform/FMXUtils.h"

namespace skm {

namespace {

// View zoom per wheel notch, and lane 2's.
constexpr double kViewZoomIn = 1.5, kViewZoomOut = 0.6666667;
constexpr double kLaneZoomIn = 1.01, kLaneZoomOut = 0.990099;
constexpr int kWheelNotch = 120;
// The view zoom stays inside these bounds: beyond them the mapping loses its precision
// (and at 0 or infinity every pointer position becomes NaN).
constexpr double kMinZoom = 1e-3, kMaxZoom = 1e3;
// Lane pictures are drawn with smooth scaling below this magnification and with sharp
// pixels from it on, where users compare single pixels.
constexpr double kSharpFromScale = 2.0;

bool IsDrawingKind(TPathKind k) { return k >= TPathKind::pkDraw && k <= TPathKind::pkErase; }
bool IsFreehand(TPathKind k) {
  return k == TPathKind::pkDraw || k == TPathKind::pkBrush0 || k == TPathKind::pkBrush1 || k == TPathKind::pkErase;
}
bool Same(const TZoomOffset& a, const TZoomOffset& b) {
  return a.Zoom == b.Zoom && a.Offset.X == b.Offset.X && a.Offset.Y == b.Offset.Y;
}

} // namespace

// ---- worker ----------------------------------------------------------------------------

// Replays the layer away from the UI thread. One request is pending at a time (a newer one
// replaces it); a replay under way can be cancelled. The result waits in Done until the UI
// thread takes it.
struct TSkImage::TWorker {
  struct Request {
    QSize Size;
    QPoint Origin;
    TZoomOffset ZO;
    std::shared_ptr<const TLayerRecords> Records;
    uint64_t Version = 0;
    uint64_t Seq = 0;
    int Bands = 2; // threads to replay on
  };
  struct Result {
    std::unique_ptr<TImageP1> Layer;
    TZoomOffset ZO;
    uint64_t Version = 0;
    uint64_t Seq = 0;
  };

  // Guarded by Mu.
  std::mutex Mu;
  std::condition_variable Cv;
  std::optional<Request> Pending;
  std::optional<Result> Done;
  bool Busy = false;
  bool Stop = false;
  // Read by the replay.
  std::atomic<bool> Cancel{false};
  // Set before the thread starts, then only read.
  std::function<void()> Notify; // posts LayerTake to the UI thread
  std::thread Thread;

  void Start() { Thread = std::thread([this] { Run(); }); }
  void Shutdown() {
    {
      std::lock_guard lock(Mu);
      Stop = true;
      Pending.reset();
    }
    Cancel = true;
    Cv.notify_all();
    if (Thread.joinable()) Thread.join();
  }
  void Submit(Request r, bool cancelBusy) {
    {
      std::lock_guard lock(Mu);
      Pending = std::move(r);
      if (cancelBusy) Cancel = true;
    }
    Cv.notify_all();
  }
  // Blocks until nothing is pending or under way.
  void WaitIdle() {
    std::unique_lock lock(Mu);
    Cv.wait(lock, [this] { return Stop || (!Pending && !Busy); });
  }
  bool Idle() {
    std::lock_guard lock(Mu);
    return !Pending && !Busy && !Done;
  }
  std::optional<Result> TakeDone() {
    std::lock_guard lock(Mu);
    std::optional<Result> r = std::move(Done);
    Done.reset();
    return r;
  }
  void Run() {
#ifdef __linux__
    // Below the UI thread: a replay may take a while, the pointer must not wait for it.
    // The band threads it starts inherit this.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
    for (;;) {
      Request req;
      {
        std::unique_lock lock(Mu);
        Cv.wait(lock, [this] { return Stop || Pending.has_value(); });
        if (Stop) return;
        req = std::move(*Pending);
        Pending.reset();
        Busy = true;
        Cancel = false;
      }
      auto layer = std::make_unique<TImageP1>();
      layer->BitmapSetSize(req.Size.width(), req.Size.height());
      layer->SetOrigin(req.Origin);
      const bool complete = layer->DrawPathAll(req.ZO, *req.Records, req.Bands, &Cancel);
      {
        std::lock_guard lock(Mu);
        Busy = false;
        if (complete) Done = Result{std::move(layer), req.ZO, req.Version, req.Seq};
      }
      Cv.notify_all();
      if (complete) Notify();
    }
  }
};

// ---- construction ---------------------------------------------------------------------

TSkImage::TSkImage(QWidget* owner) : QWidget(owner), FWorker(std::make_unique<TWorker>()) {
  // Stacked lanes, view zoom 1; both lanes 1280 x 720 with a bitmap of that size.
  FV1.Bitmap = QImage(1280, 720, QImage::Format_ARGB32_Premultiplied);
  FV1.Bitmap.fill(Qt::transparent);
  FV2.Bitmap = FV1.Bitmap;
  setMouseTracking(false);
  setFocusPolicy(Qt::NoFocus);
  WatchParent();
  FRecords = std::make_shared<const TLayerRecords>();
  // Runs on the worker; the destructor joins the worker before the canvas goes.
  FWorker->Notify = [this] { QMetaObject::invokeMethod(this, [this] { LayerTake(); }, Qt::QueuedConnection); };
  FWorker->Start();
}

TSkImage::~TSkImage() {
  FWorker->Shutdown();
  if (FWatchedParent) FWatchedParent->removeEventFilter(this);
}

void TSkImage::SetFillParent(bool on) {
  FFillParent = on;
  WatchParent();
}

void TSkImage::WatchParent() {
  QWidget* parent = FFillParent ? parentWidget() : nullptr;
  if (FWatchedParent != parent) {
    if (FWatchedParent) FWatchedParent->removeEventFilter(this);
    FWatchedParent = parent;
    if (parent) parent->installEventFilter(this);
  }
  if (parent && geometry() != parent->rect()) setGeometry(parent->rect());
}

bool TSkImage::event(QEvent* e) {
  if (e->type() == QEvent::ParentChange) WatchParent();
  return QWidget::event(e);
}

bool TSkImage::eventFilter(QObject* watched, QEvent* e) {
  if (watched == FWatchedParent && e->type() == QEvent::Resize) WatchParent();
  return QWidget::eventFilter(watched, e);
}

// ---- properties -----------------------------------------------------------------------

void TSkImage::SetV2Opacity(float value) {
  const float v = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
  if (v == FV2.Opacity) return;
  FV2.Opacity = v;
  update();
}

void TSkImage::SetV1Filename(const QString& name) {
  if (!name.isEmpty()) FV1Filename = name;
}
void TSkImage::SetV2Filename(const QString& name) {
  if (!name.isEmpty()) FV2FileName = name;
}

void TSkImage::SetSkPaths(TSkPaths* const* variable) { FSkPaths = variable; }

void TSkImage::SetV2Visible(bool visible) {
  if (visible == FV2.Visible) return;
  FV2.Visible = visible;
  update();
}

// ---- lanes ------------------------------------------------------------------------------

void TSkImage::ImageV1Capture(const QImage& ABitmap) {
  FV1.Bitmap = ABitmap; // implicitly shared: the manager's next write detaches its copy
  update(FV1.Bounds.toAlignedRect());
}
void TSkImage::ImageV2Capture(const QImage& ABitmap) {
  FV2.Bitmap = ABitmap;
  update(FV2.Bounds.toAlignedRect());
}

void TSkImage::LaneSetSize(TSkLane& lane, float w, float h, bool right) {
  lane.MediaWidth = w;
  lane.MediaHeight = h;
  const double W = width(), H = height();
  if (FisPile)
    lane.ZO = LaneFitWhole(FZOv, W, H, w, h);
  else
    lane.ZO = right ? LaneFitRight(FZOv, W, H, w, h) : LaneFitLeft(FZOv, W, H, w, h);
  LaneDispOf(lane);
}

void TSkImage::ImageV1SetSize(float AWidth, float AHeight) { LaneSetSize(FV1, AWidth, AHeight, false); }
void TSkImage::ImageV2SetSize(float AWidth, float AHeight) { LaneSetSize(FV2, AWidth, AHeight, true); }

void TSkImage::LaneDispOf(TSkLane& lane) {
  const QRectF old = lane.Bounds;
  lane.Bounds = LaneDisp(lane.ZO, FZOv, lane.MediaWidth, lane.MediaHeight);
  if (old != lane.Bounds) update();
}
void TSkImage::V1Disp() { LaneDispOf(FV1); }
void TSkImage::V2Disp() { LaneDispOf(FV2); }

void TSkImage::LanesFit() {
  const double W = width(), H = height();
  if (FisPile) {
    FV1.ZO = LaneFitWhole(FZOv, W, H, FV1.MediaWidth, FV1.MediaHeight);
    FV2.ZO = LaneFitWhole(FZOv, W, H, FV2.MediaWidth, FV2.MediaHeight);
  } else {
    FV1.ZO = LaneFitLeft(FZOv, W, H, FV1.MediaWidth, FV1.MediaHeight);
    FV2.ZO = LaneFitRight(FZOv, W, H, FV2.MediaWidth, FV2.MediaHeight);
  }
}

// ---- layout and view ------------------------------------------------------------------

void TSkImage::ImageP1CenterOne() {
  FisPile = true;
  ImageResize();
}
void TSkImage::ImageP1CenterTwo() {
  FisPile = false;
  ImageResize();
}

void TSkImage::ImageResize() {
  // A control of no size has no view to fit; it keeps the last one until it gets a size.
  if (width() <= 0 || height() <= 0) return;
  FZOv = ViewFit(width(), height());
  FDZO = FZOv;
  LanesFit();
  V1Disp();
  V2Disp();
  const QSize size(width(), height());
  if (FP0.size() != size) {
    FP0 = QImage(size, QImage::Format_ARGB32_Premultiplied);
    FP0.fill(Qt::transparent);
    FP0Dirty = {};
  }
  RecordsRefresh();
  LayerRequest();
  update();
}

void TSkImage::ZoomOffsetSet(const TZoomOffset& AZO) {
  FZOv = ZoomOffsetRelative(FDZO, AZO);
  V1Disp();
  V2Disp();
  LayerRequest();
  update();
}

// ---- annotation layer ------------------------------------------------------------------

void TSkImage::RecordsRefresh() {
  FRecords = LayerRecordsGet(CurrentPaths());
  ++FVersion;
}

void TSkImage::ImageP1DrawPathAll() {
  RecordsRefresh();
  LayerRequest();
}

void TSkImage::LayerGeometry(QSize& size, QPoint& origin, bool margin) const {
  // A margin of a quarter of the control on each side: pans within it show the layer
  // already painted, exactly.
  const int w = std::max(width(), 0), h = std::max(height(), 0);
  margin = margin && FLayerMargin;
  const int mx = margin ? w / 4 : 0, my = margin ? h / 4 : 0;
  size = QSize(w > 0 ? w + 2 * mx : 0, h > 0 ? h + 2 * my : 0);
  origin = QPoint(-mx, -my);
}

void TSkImage::ImageP1Clear() {
  // What erase-all leaves: the window of the list is empty (the owner added the record).
  FRecords = std::make_shared<const TLayerRecords>();
  ++FVersion;
  QSize size;
  QPoint origin;
  LayerGeometry(size, origin, true);
  if (QSize(FP1.Width(), FP1.Height()) != size) FP1.BitmapSetSize(size.width(), size.height());
  else FP1.Clear();
  FP1.SetOrigin(origin);
  FP1ZO = FZOv;
  FP1Version = FVersion;
  FP1Seq = ++FSeq;
  update();
}

bool TSkImage::LayerAt(const TZoomOffset& view, QPoint& at) const {
  if (FP1.Image().isNull() || view.Zoom != FP1ZO.Zoom) return false;
  TZoomOffset a, b;
  QPoint wa, wb;
  if (!LayerPlace(view, a, wa) || !LayerPlace(FP1ZO, b, wb)) return false;
  if (a.Offset.X != b.Offset.X || a.Offset.Y != b.Offset.Y) return false;
  // Same zoom and fraction: the layer moved by whole pixels is the view's layer.
  at = FP1.Origin() + (wa - wb);
  return at.x() <= 0 && at.y() <= 0 && at.x() + FP1.Width() >= width() && at.y() + FP1.Height() >= height();
}

bool TSkImage::LayerPending() const {
  QPoint at;
  return FP1Version != FVersion || !LayerAt(FZOv, at);
}

void TSkImage::LayerPaintHere() {
  QSize size;
  QPoint origin;
  LayerGeometry(size, origin, true);
  if (QSize(FP1.Width(), FP1.Height()) != size) FP1.BitmapSetSize(size.width(), size.height());
  FP1.SetOrigin(origin);
  FP1.DrawPathAll(FZOv, *FRecords);
  FP1ZO = FZOv;
  FP1Version = FVersion;
  FP1Seq = ++FSeq;
  update();
}

void TSkImage::LayerRequest() {
  QPoint at;
  const bool exact = LayerAt(FZOv, at);
  if (FP1Version == FVersion && exact) {
    // Shown exactly; during a pan, a layer centred on the view is prepared once half of
    // the margin on one side is used up, so the pan can go on without painting.
    if (FLKind != TPathKind::pkMove || FPanRequested) return;
    const int mx = -FP1.Origin().x(), my = -FP1.Origin().y();
    const int right = at.x() + FP1.Width() - width(), bottom = at.y() + FP1.Height() - height();
    if (-at.x() > mx / 2 && -at.y() > my / 2 && right > mx / 2 && bottom > my / 2) return;
    FPanRequested = true;
  }
  if (LayerRecordsPoints(*FRecords) <= FSyncPointLimit) {
    LayerPaintHere();
    return;
  }
  // A pan asks for a layer with margins to pan on. Anything else (a zoom, a change of the
  // list, a resize) first asks for the control's size alone, which is the exact picture
  // sooner; the margins follow (MarginRequest).
  const bool pan = FLKind == TPathKind::pkMove;
  QSize size;
  QPoint origin;
  LayerGeometry(size, origin, pan);
  // During a pan the replay under way is left to finish (its layer is closer than the
  // one shown), and it runs on one thread, leaving the other core to the pointer; a
  // zoom, a release or a change of the list makes it obsolete at once and uses both.
  FWorker->Submit({size, origin, FZOv, FRecords, FVersion, ++FSeq, pan ? 1 : 2}, !pan);
  update();
}

void TSkImage::MarginRequest() {
  if (!FLayerMargin || FP1.Origin() != QPoint(0, 0)) return;
  QPoint at;
  if (FP1Version != FVersion || !LayerAt(FZOv, at)) return;
  QSize size;
  QPoint origin;
  LayerGeometry(size, origin, true);
  if (origin == QPoint(0, 0)) return; // too small a control for margins
  FWorker->Submit({size, origin, FZOv, FRecords, FVersion, ++FSeq, 1}, false);
}

void TSkImage::LayerTake() {
  auto done = FWorker->TakeDone();
  if (!done) return;
  FPanRequested = false;
  // Only a layer of the current list, newer than the one shown.
  if (done->Version == FVersion && done->Seq > FP1Seq) {
    FP1 = std::move(*done->Layer);
    FP1ZO = done->ZO;
    FP1Version = done->Version;
    FP1Seq = done->Seq;
    update();
  }
  // A pan may have gone past this layer's margin meanwhile; otherwise an exact layer
  // without margins gets them now.
  if (FLKind == TPathKind::pkMove) LayerRequest();
  else MarginRequest();
}

QImage TSkImage::LayerImage() const {
  QPoint at;
  if (FP1Version != FVersion || !LayerAt(FZOv, at)) return {};
  return FP1.Image().copy(QRect(-at, size()));
}

void TSkImage::LayerWait() {
  // Taking a layer may ask for its margins: those are waited for as well.
  for (int i = 0; i < 3; ++i) {
    FWorker->WaitIdle();
    LayerTake();
    if (FWorker->Idle()) break;
  }
  if (!LayerPending()) return;
  // Superseded or never asked for: the same replay, here.
  LayerPaintHere();
}

// ---- live layer ------------------------------------------------------------------------

void TSkImage::ImageP0DrawPath() {
  if (FP0.isNull()) return;
  QRect dirty = FP0Dirty;
  {
    QPainter clear(&FP0);
    clear.setCompositionMode(QPainter::CompositionMode_Clear);
    if (!FP0Dirty.isEmpty()) clear.fillRect(FP0Dirty, Qt::transparent);
  }
  FP0Dirty = {};
  if (!FPath) {
    update(dirty);
    return;
  }
  TPathData outline;
  FPath->PathDataGet0(FZOv, outline);
  const TStrokeStyle& s = FPath->Style();
  const TStrokePlan plan = StrokePlanGet(s, FZOv.Zoom, TStrokeTarget::Live, outline);
  if (!outline.Points.empty()) {
    float l = outline.Points[0].X, r = l, t = outline.Points[0].Y, b = t;
    for (const TPointF& p : outline.Points) {
      l = std::min(l, p.X);
      r = std::max(r, p.X);
      t = std::min(t, p.Y);
      b = std::max(b, p.Y);
    }
    const float half = std::abs(plan.Pen.Thickness) / 2 + 2;
    if (std::isfinite(l) && std::isfinite(r) && std::isfinite(t) && std::isfinite(b) && std::isfinite(half))
      FP0Dirty = QRectF(QPointF(l - half, t - half), QPointF(r + half, b + half)).toAlignedRect() & FP0.rect();
    QPainter p(&FP0);
    p.setRenderHint(QPainter::Antialiasing);
    PaintPlan(p, plan, outline);
  }
  update(dirty | FP0Dirty);
}

// ---- pointer ---------------------------------------------------------------------------

TPointF TSkImage::ToCanvas(float X, float Y) const { return ControlToCanvas(FZOv, X, Y); }

void TSkImage::ImageP0MouseDown(Qt::MouseButton, Qt::KeyboardModifiers Shift, float X, float Y) {
  // A second button pressed during a gesture does not start another one.
  if (FLKind != TPathKind::pkNone) return;
  TStrokeStyle copy = FStroke;
  if (KeyIsDown(vk::Space)) {
    FLKind = (Shift & Qt::ShiftModifier) ? TPathKind::pkMoveV2 : TPathKind::pkMove;
  } else if (copy.Kind == TPathKind::pkDraw) {
    if (Shift & Qt::ShiftModifier) FLKind = TPathKind::pkLine;
    else if (Shift & Qt::ControlModifier) FLKind = TPathKind::pkRect;
    else if (Shift & Qt::AltModifier) FLKind = TPathKind::pkOval;
    else FLKind = TPathKind::pkDraw;
    copy.Kind = FLKind;
  } else {
    FLKind = (copy.Kind >= TPathKind::pkLine && copy.Kind <= TPathKind::pkErase) ? copy.Kind : TPathKind::pkNone;
  }
  if (IsDrawingKind(FLKind)) {
    const TPointF p = ToCanvas(X, Y);
    FPath = TSkPath::CreatePathDn(copy, p.X, p.Y);
  } else if (FLKind == TPathKind::pkMove) {
    P0Point = {X, Y};
    MOffset = FZOv.Offset;
  } else if (FLKind == TPathKind::pkMoveV2) {
    P0Point = {X, Y};
    MOffset = FV2.ZO.Offset;
  }
}

void TSkImage::ImageP0MouseMove(Qt::KeyboardModifiers, float X, float Y) {
  if (IsDrawingKind(FLKind) && FPath) {
    const TPointF p = ToCanvas(X, Y);
    if (IsFreehand(FLKind)) FPath->AddPathMv(p.X, p.Y);
    else FPath->ModPathMv(p.X, p.Y);
    ImageP0DrawPath();
  } else if (FLKind == TPathKind::pkMove) {
    FZOv.Offset = {MOffset.X - P0Point.X + X, MOffset.Y - P0Point.Y + Y};
    V1Disp();
    V2Disp();
    LayerRequest();
    update();
  } else if (FLKind == TPathKind::pkMoveV2) {
    FV2.ZO.Offset = {MOffset.X - P0Point.X + X, MOffset.Y - P0Point.Y + Y};
    V2Disp();
  }
}

void TSkImage::ImageP0MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, float X, float Y) {
  const TPathKind kind = FLKind;
  FLKind = TPathKind::pkNone;
  if (kind == TPathKind::pkMove) {
    // The pan is over: unless the layer shown covers the final view, the replay for it
    // replaces whatever is under way.
    FPanRequested = false;
    if (LayerPending()) LayerRequest();
    return;
  }
  if (!IsDrawingKind(kind) || !FPath) return;
  std::unique_ptr<TSkPath> rec = std::move(FPath);
  const TPointF p = ToCanvas(X, Y);
  if (kind >= TPathKind::pkLine && kind <= TPathKind::pkLineAr1) {
    rec->ModPathMv(p.X, p.Y);
    rec->StrokeStyleKindDraw();
  } else {
    rec->AddPathMv(p.X, p.Y);
    if (kind == TPathKind::pkErase) rec->SetStrokeStyleKind(TPathKind::pkDraw);
  }
  ImageP0DrawPath(); // FPath is gone: this clears the live layer
  TSkPaths* list = CurrentPaths();
  if (!list) return; // nowhere to keep it: the record is dropped
  const TSkPath& added = *rec;
  list->Add(std::move(rec));
  // The new record is the last of the window: painting it alone gives the replay's layer.
  QPoint at;
  const bool current = FP1Version == FVersion && LayerAt(FZOv, at);
  auto records = std::make_shared<TLayerRecords>(*FRecords);
  if (IsDrawnRecord(added) && !added.Polygon().empty())
    records->push_back(std::make_shared<const TLayerRecord>(LayerRecordMake(added)));
  FRecords = std::move(records);
  ++FVersion;
  if (current) {
    // Painted for the layer's own view: the same pixels, moved by whole pixels.
    const QRect dirty = FP1.DrawPath(FP1ZO, added);
    FP1Version = FVersion;
    if (!dirty.isEmpty()) update(dirty.translated(at - FP1.Origin()));
    MarginRequest(); // a margin layer under way was for the list before this stroke
  } else {
    LayerRequest();
  }
}

void TSkImage::ImageP0MouseWheel(Qt::KeyboardModifiers Shift, int WheelDelta, float X, float Y) {
  if (FLKind != TPathKind::pkNone) return;
  if (WheelDelta == 0) return; // a horizontal tilt says nothing about zooming
  if ((Shift & Qt::ShiftModifier) && KeyIsDown(vk::Space)) {
    const double a = WheelDelta > 0 ? kLaneZoomIn : kLaneZoomOut;
    const TPointF P{static_cast<float>(FV2.Bounds.width() * FV2.ZO.Zoom / 2),
                    static_cast<float>(FV2.Bounds.height() * FV2.ZO.Zoom / 2)};
    ZoomAt(FV2.ZO, a, P);
    V2Disp();
    return;
  }
  const double a = WheelDelta > 0 ? kViewZoomIn : kViewZoomOut;
  const double next = static_cast<double>(FZOv.Zoom) * a;
  if (!(next >= kMinZoom && next <= kMaxZoom)) return;
  ZoomAt(FZOv, a, {X, Y});
  V1Disp();
  V2Disp();
  LayerRequest();
  update();
}

// ---- Qt events ------------------------------------------------------------------------

void TSkImage::resizeEvent(QResizeEvent*) { ImageResize(); }

void TSkImage::mousePressEvent(QMouseEvent* e) {
  ImageP0MouseDown(e->button(), e->modifiers(), static_cast<float>(e->position().x()),
                   static_cast<float>(e->position().y()));
}
void TSkImage::mouseMoveEvent(QMouseEvent* e) {
  ImageP0MouseMove(e->modifiers(), static_cast<float>(e->position().x()), static_cast<float>(e->position().y()));
}
void TSkImage::mouseReleaseEvent(QMouseEvent* e) {
  // The gesture ends with the last button held.
  if (e->buttons() != Qt::NoButton) return;
  ImageP0MouseUp(e->button(), e->modifiers(), static_cast<float>(e->position().x()),
                 static_cast<float>(e->position().y()));
}
void TSkImage::wheelEvent(QWheelEvent* e) {
  // Whole notches only, so a high-resolution wheel zooms as much per turn as a plain one.
  const int dy = e->angleDelta().y();
  if (dy == 0) return;
  if (FLKind != TPathKind::pkNone) return;
  FWheelRest += dy;
  while (std::abs(FWheelRest) >= kWheelNotch) {
    const int step = FWheelRest > 0 ? kWheelNotch : -kWheelNotch;
    FWheelRest -= step;
    ImageP0MouseWheel(e->modifiers(), step, static_cast<float>(e->position().x()),
                      static_cast<float>(e->position().y()));
  }
  // Accepted: a parent scrolling on the same turn would move the canvas under the zoom.
  e->accept();
}

void TSkImage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  auto drawLane = [&](const TSkLane& lane) {
    if (!lane.Visible || lane.Bitmap.isNull() || lane.Opacity <= 0 || lane.Bounds.isEmpty()) return;
    const double scale = lane.Bounds.width() / lane.Bitmap.width();
    p.setRenderHint(QPainter::SmoothPixmapTransform, scale < kSharpFromScale);
    p.setOpacity(lane.Opacity);
    p.drawImage(lane.Bounds, lane.Bitmap);
  };
  drawLane(FV1);
  drawLane(FV2);
  p.setOpacity(1);
  const QImage& layer = FP1.Image();
  if (!layer.isNull()) {
    QPoint at;
    const QRect used = FP1.Used();
    if (used.isEmpty()) {
      // Nothing drawn: nothing to blend.
    } else if (LayerAt(FZOv, at)) {
      p.drawImage(at + used.topLeft(), layer, used);
    } else if (FP1ZO.Zoom != 0) {
      // The last layer moved and scaled to the view until the replay for it arrives.
      const double k = static_cast<double>(FZOv.Zoom) / FP1ZO.Zoom;
      p.save();
      p.setRenderHint(QPainter::SmoothPixmapTransform, false);
      p.translate(FZOv.Offset.X - FP1ZO.Offset.X * k, FZOv.Offset.Y - FP1ZO.Offset.Y * k);
      p.scale(k, k);
      p.drawImage(FP1.Origin() + used.topLeft(), layer, used);
      p.restore();
    }
  }
  if (!FP0.isNull() && !FP0Dirty.isEmpty()) p.drawImage(FP0Dirty.topLeft(), FP0, FP0Dirty);
}

} // namespace skm
