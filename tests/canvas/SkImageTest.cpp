// Pointer gestures on a shown canvas, driven by real events through its window: drawing
// with every tool and modifier, panning the view and lane 2 with Space, wheel zoom, and
// the annotation layer those leave behind.
#include <cstring>

#include "CanvasTestUtil.h"
#include "canvas/SkView.h"

namespace {

using namespace skm;
using skmtest::LayerPixel;

class Gestures : public skmtest::CanvasWindowTest {};

TEST_F(Gestures, PressMoveReleaseDrawsAStroke) {
  canvas->SetStrokeStyle({TPathKind::pkDraw, 0xFFFF3333u, TStrokeDash::Solid, 10});
  Press({100, 100});
  EXPECT_EQ(canvas->LKind(), TPathKind::pkDraw);
  ASSERT_NE(canvas->FSkPath(), nullptr);
  Move({150, 100});
  Move({200, 100});
  // While dragging the record lives on the live layer only.
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(qAlpha(canvas->ImageP0().pixel(150, 100)), 255);
  Release({200, 100});
  EXPECT_EQ(canvas->LKind(), TPathKind::pkNone);
  EXPECT_EQ(canvas->FSkPath(), nullptr);
  ASSERT_EQ(list.Count(), 1);
  const TSkPath& r = *list.SkList[0];
  EXPECT_EQ(r.StrokeStyleKind(), TPathKind::pkDraw);
  ASSERT_EQ(r.Polygon().size(), 4u); // press, two moves, release
  EXPECT_EQ(r.Polygon()[3], (TPointF{200, 100}));
  EXPECT_EQ(LayerPixel(*canvas, 180, 100), 0xFFFF3333u);
  EXPECT_EQ(qAlpha(canvas->ImageP0().pixel(150, 100)), 0); // live layer cleared
}

TEST_F(Gestures, ModifiersTurnThePenIntoShapes) {
  struct Case {
    const char* name;
    Qt::KeyboardModifiers mods;
    size_t points;
  } cases[] = {
      {"Shift: line", Qt::ShiftModifier, 2},
      {"Ctrl: rectangle", Qt::ControlModifier, 5},
      {"Alt: oval", Qt::AltModifier, 35},
      {"Shift wins over Ctrl", Qt::ShiftModifier | Qt::ControlModifier, 2},
  };
  const TStrokeStyle pen{TPathKind::pkDraw, 0xFFFF3333u, TStrokeDash::Solid, 10};
  canvas->SetStrokeStyle(pen);
  for (const Case& c : cases) {
    list.Clear();
    Drag({{400, 300}, {450, 320}, {500, 400}}, c.mods);
    ASSERT_EQ(list.Count(), 1) << c.name;
    EXPECT_EQ(list.SkList[0]->StrokeStyleKind(), TPathKind::pkDraw) << c.name;
    EXPECT_EQ(list.SkList[0]->Polygon().size(), c.points) << c.name;
    EXPECT_TRUE(canvas->StrokeStyle() == pen) << c.name; // the tool stays the pen
  }
}

TEST_F(Gestures, EveryToolLeavesItsRecord) {
  struct Case {
    TPathKind tool;
    TPathKind stored;
    size_t points; // freehand: press, three moves, release
  } cases[] = {
      {TPathKind::pkLine, TPathKind::pkDraw, 2},      {TPathKind::pkRect, TPathKind::pkDraw, 5},
      {TPathKind::pkOval, TPathKind::pkDraw, 35},     {TPathKind::pkLineAr0, TPathKind::pkDraw, 5},
      {TPathKind::pkLineAr1, TPathKind::pkDraw, 8},   {TPathKind::pkBrush0, TPathKind::pkBrush0, 5},
      {TPathKind::pkBrush1, TPathKind::pkBrush1, 5},  {TPathKind::pkErase, TPathKind::pkDraw, 5},
  };
  for (const Case& c : cases) {
    list.Clear();
    canvas->SetStrokeStyle({c.tool, c.tool == TPathKind::pkErase ? kEraserColor : 0xFF3399FFu, TStrokeDash::Solid, 10});
    Drag({{300, 300}, {320, 310}, {340, 330}, {400, 400}});
    ASSERT_EQ(list.Count(), 1) << int(c.tool);
    EXPECT_EQ(list.SkList[0]->StrokeStyleKind(), c.stored) << int(c.tool);
    EXPECT_EQ(list.SkList[0]->Polygon().size(), c.points) << int(c.tool);
  }
  // The eraser keeps its transparent colour; tools without function draw nothing.
  EXPECT_EQ(list.SkList[0]->Style().Color, kEraserColor);
  for (TPathKind k : {TPathKind::pkNone, TPathKind::pkEdit0, TPathKind::pkEdit1, TPathKind::pkPointer}) {
    list.Clear();
    canvas->SetStrokeStyle({k, 0xFF3399FFu, TStrokeDash::Solid, 10});
    Drag({{300, 300}, {400, 400}});
    EXPECT_EQ(list.Count(), 0) << int(k);
    EXPECT_EQ(canvas->LKind(), TPathKind::pkNone);
  }
}

TEST_F(Gestures, BrushShowsItsCoreWhileDraggedAndItsBandOnceReleased) {
  canvas->SetStrokeStyle({TPathKind::pkBrush0, 0x88FF0000u, TStrokeDash::Solid, 40});
  Press({100, 300});
  for (int x = 102; x <= 300; x += 2) Move({x, 300});
  // Slow strokes start thin: near the start only the core is on the live layer.
  EXPECT_NE(qAlpha(canvas->ImageP0().pixel(104, 300)), 0);
  EXPECT_EQ(qAlpha(canvas->ImageP0().pixel(104, 314)), 0);
  Release({300, 300});
  EXPECT_EQ(LayerPixel(*canvas, 104, 300), 0x88880000u);
  EXPECT_EQ(LayerPixel(*canvas, 104, 314), 0x88000000u); // the band, black at the brush's alpha
}

TEST_F(Gestures, EraserOverEmptyLayerStillAddsARecord) {
  canvas->SetStrokeStyle({TPathKind::pkErase, kEraserColor, TStrokeDash::Solid, 25});
  Press({100, 100});
  Move({200, 100});
  // Its trace shows in translucent white while dragging.
  EXPECT_EQ(canvas->ImageP0().pixel(150, 100), qPremultiply(0x44FFFFFFu));
  Release({200, 100});
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(LayerPixel(*canvas, 150, 100), 0u);
  list.UndoSet();
  canvas->ImageP1DrawPathAll();
  EXPECT_EQ(list.SkEnd, -1);
}

TEST_F(Gestures, SpacePansTheViewAndShiftSpaceLaneTwo) {
  Key(Qt::Key_Space, true);
  ASSERT_TRUE(KeyIsDown(vk::Space));
  // A press and release with Space and no movement: nothing changes.
  Drag({{500, 300}});
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FLOAT_EQ(canvas->FZO().Offset.X, 0);

  Press({500, 300});
  EXPECT_EQ(canvas->LKind(), TPathKind::pkMove);
  Move({530, 310});
  Move({560, 340});
  EXPECT_FLOAT_EQ(canvas->FZO().Offset.X, 60);
  EXPECT_FLOAT_EQ(canvas->FZO().Offset.Y, 40);
  EXPECT_EQ(canvas->ImageV1().Bounds.topLeft(), QPointF(60, 40));
  Release({560, 340});
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(canvas->LKind(), TPathKind::pkNone);

  // Lane 2 alone: its offset (canvas units) grows by the displacement.
  const TZoomOffset v2 = canvas->V2ZO();
  const QRectF v1Bounds = canvas->ImageV1().Bounds;
  Drag({{500, 300}, {510, 295}}, Qt::ShiftModifier);
  EXPECT_FLOAT_EQ(canvas->V2ZO().Offset.X, v2.Offset.X + 10);
  EXPECT_FLOAT_EQ(canvas->V2ZO().Offset.Y, v2.Offset.Y - 5);
  EXPECT_EQ(canvas->ImageV1().Bounds, v1Bounds);
  EXPECT_EQ(list.Count(), 0);
  Key(Qt::Key_Space, false);

  // Space released before the next press: the pen draws again.
  Drag({{100, 100}, {200, 200}});
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(Gestures, PanMovesStrokesWithThePictures) {
  canvas->SetStrokeStyle({TPathKind::pkDraw, 0xFFFF0000u, TStrokeDash::Solid, 10});
  Drag({{100, 100}, {300, 100}});
  canvas->SetSyncPointLimit(0); // nothing replayed on the UI thread
  Key(Qt::Key_Space, true);
  Press({500, 500});
  Move({550, 500});
  // Within the layer's margin the pan shows the exact layer at once, moved.
  EXPECT_FALSE(canvas->LayerPending());
  EXPECT_EQ(LayerPixel(*canvas, 250, 100), 0xFFFF0000u);
  Move({600, 550});
  Release({600, 550});
  Key(Qt::Key_Space, false);
  EXPECT_FALSE(canvas->LayerPending());
  EXPECT_EQ(LayerPixel(*canvas, 300, 150), 0xFFFF0000u);
  EXPECT_EQ(LayerPixel(*canvas, 150, 100), 0u);
}

TEST_F(Gestures, WheelZoomsAroundThePointer) {
  const QPoint at(400, 200);
  const TPointF under = ControlToCanvas(canvas->FZO(), at.x(), at.y());
  Wheel(at, 120);
  EXPECT_FLOAT_EQ(canvas->FZO().Zoom, 1.5f);
  const TPointF after = ControlToCanvas(canvas->FZO(), at.x(), at.y());
  EXPECT_NEAR(after.X, under.X, 1e-3);
  EXPECT_NEAR(after.Y, under.Y, 1e-3);
  EXPECT_NEAR(canvas->ImageV1().Bounds.width(), 1920, 1e-3);
  Wheel(at, -120);
  EXPECT_NEAR(canvas->FZO().Zoom, 1.0f, 1e-6);
  // Half notches add up to one.
  Wheel(at, 60);
  EXPECT_NEAR(canvas->FZO().Zoom, 1.0f, 1e-6);
  Wheel(at, 60);
  EXPECT_NEAR(canvas->FZO().Zoom, 1.5f, 1e-6);

  // Shift + Space: lane 2 alone, by 1 %.
  const float view = canvas->FZO().Zoom;
  const float lane = canvas->V2ZO().Zoom;
  Key(Qt::Key_Space, true);
  Wheel(at, 120, Qt::ShiftModifier);
  Key(Qt::Key_Space, false);
  EXPECT_FLOAT_EQ(canvas->FZO().Zoom, view);
  EXPECT_FLOAT_EQ(canvas->V2ZO().Zoom, static_cast<float>(lane * 1.01));

  // A resize returns the view and lane 2 to the fit.
  canvas->resize(1000, 600);
  canvas->resize(1280, 720);
  EXPECT_FLOAT_EQ(canvas->FZO().Zoom, 1);
  EXPECT_FLOAT_EQ(canvas->V2ZO().Zoom, 1);
  EXPECT_EQ(canvas->ImageV2().Bounds, QRectF(0, 0, 1280, 720));
}

TEST_F(Gestures, WheelDuringADragDoesNothing) {
  Press({100, 100});
  Move({150, 150});
  Wheel({150, 150}, 120);
  EXPECT_FLOAT_EQ(canvas->FZO().Zoom, 1);
  Release({200, 200});
  Key(Qt::Key_Space, true);
  Press({100, 100});
  Wheel({100, 100}, -120);
  Release({100, 100});
  Key(Qt::Key_Space, false);
  EXPECT_FLOAT_EQ(canvas->FZO().Zoom, 1);
}

TEST_F(Gestures, StrokesAtAZoomLandInCanvasUnits) {
  Wheel({0, 0}, 120); // zoom 1.5 around the corner: offset stays (0, 0)
  ASSERT_FLOAT_EQ(canvas->FZO().Zoom, 1.5f);
  Drag({{150, 300}, {300, 300}});
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.SkList[0]->Polygon()[0], (TPointF{100, 200}));
  EXPECT_EQ(list.SkList[0]->Polygon()[1], (TPointF{200, 200}));
}

TEST_F(Gestures, NoListKeepsNothing) {
  current = nullptr;
  Drag({{100, 100}, {200, 100}});
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(canvas->LKind(), TPathKind::pkNone);
}

bool SameBytes(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.width()) * 4) != 0) return false;
  return true;
}

TEST_F(Gestures, WorkerLayerEqualsTheReplayHere) {
  canvas->SetStrokeStyle({TPathKind::pkBrush0, 0x883399FFu, TStrokeDash::Solid, 30});
  for (int i = 0; i < 12; ++i) Drag({{50 + 90 * i, 100}, {100 + 90 * i, 300}, {60 + 90 * i, 500}, {120 + 80 * i, 650}});
  canvas->SetSyncPointLimit(0); // every replay on the worker
  Key(Qt::Key_Space, true);
  Drag({{600, 300}, {640, 320}, {700, 330}});
  Key(Qt::Key_Space, false);
  Wheel({500, 400}, 120);
  Wheel({520, 380}, 120);
  Wheel({520, 380}, -120);
  canvas->LayerWait();
  EXPECT_FALSE(canvas->LayerPending());
  TImageP1 here;
  here.BitmapSetSize(canvas->width(), canvas->height());
  here.DrawPathAll(canvas->FZO(), &list);
  EXPECT_TRUE(SameBytes(here.Image(), canvas->LayerImage()));
  // A stroke released while the worker's layer is current is painted onto it.
  Drag({{200, 200}, {400, 400}});
  EXPECT_FALSE(canvas->LayerPending());
  here.DrawPathAll(canvas->FZO(), &list);
  EXPECT_TRUE(SameBytes(here.Image(), canvas->LayerImage()));
}

TEST_F(Gestures, UndoRedoAndClearThroughTheOwnersCalls) {
  Drag({{100, 100}, {300, 100}});
  EXPECT_NE(LayerPixel(*canvas, 200, 100), 0u);
  list.UndoSet();
  canvas->ImageP1DrawPathAll();
  canvas->LayerWait();
  EXPECT_EQ(LayerPixel(*canvas, 200, 100), 0u);
  list.RedoSet();
  canvas->ImageP1DrawPathAll();
  canvas->LayerWait();
  EXPECT_NE(LayerPixel(*canvas, 200, 100), 0u);
  list.Add(TSkPath::CreateEraseAll());
  canvas->ImageP1Clear();
  EXPECT_EQ(LayerPixel(*canvas, 200, 100), 0u);
  // Switching lists.
  TSkPaths other;
  other.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFF00FF00u, TStrokeDash::Solid, 10}, {{0, 400}, {600, 400}}));
  current = &other;
  canvas->ImageP1DrawPathAll();
  canvas->LayerWait();
  EXPECT_EQ(LayerPixel(*canvas, 300, 400), 0xFF00FF00u);
}

} // namespace
