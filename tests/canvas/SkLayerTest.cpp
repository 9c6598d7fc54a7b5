// The annotation layer's pixels: overwrite semantics of the mask, brush bands, erasers,
// rainbow segments, and the equality of every way of producing the same layer.
#include <QImage>
#include <cstring>

#include "CanvasTestUtil.h"
#include "canvas/SkLayer.h"

namespace {

using namespace skm;

constexpr TZoomOffset kUnit{1, {0, 0}};

std::unique_ptr<TSkPath> Stroke(TStrokeStyle s, std::initializer_list<TPointF> pts) {
  return TSkPath::CreatePath(s, TPolygon(pts));
}

uint32_t Px(const TImageP1& l, int x, int y) {
  return reinterpret_cast<const uint32_t*>(l.Image().constScanLine(y))[x];
}

// A straight stroke sampled every `step` units, so a brush rests and swells.
std::unique_ptr<TSkPath> SlowLine(TStrokeStyle s, TPointF a, TPointF b, int steps) {
  TPolygon pts;
  for (int i = 0; i <= steps; ++i)
    pts.push_back({a.X + (b.X - a.X) * i / steps, a.Y + (b.Y - a.Y) * i / steps});
  return TSkPath::CreatePath(s, pts);
}

class Layer : public ::testing::Test {
protected:
  void SetUp() override { layer.BitmapSetSize(400, 400); }
  TImageP1 layer;
};

TEST_F(Layer, ClearedLayerShowsNothing) {
  EXPECT_EQ(Px(layer, 10, 10), 0u);
  EXPECT_EQ(layer.Image().format(), QImage::Format_ARGB32_Premultiplied);
}

TEST_F(Layer, SelfCrossingMarkerKeepsOneEvenAlpha) {
  // A bow tie: the two diagonals cross at (200, 200).
  auto m = Stroke({TPathKind::pkDraw, 0x880000FFu, TStrokeDash::Solid, 20},
                  {{100, 100}, {300, 300}, {300, 100}, {100, 300}});
  layer.DrawPath(kUnit, *m);
  const uint32_t expected = 0x88000088u; // blue at alpha 0x88, premultiplied
  EXPECT_EQ(Px(layer, 200, 200), expected);
  EXPECT_EQ(Px(layer, 150, 150), expected);
  EXPECT_EQ(Px(layer, 300, 200), expected);
  EXPECT_EQ(Px(layer, 200, 120), 0u);
}

TEST_F(Layer, MarkerOverPenReplacesThePen) {
  auto pen = Stroke({TPathKind::pkDraw, 0xFFFF0000u, TStrokeDash::Solid, 20}, {{50, 200}, {350, 200}});
  auto marker = Stroke({TPathKind::pkDraw, 0x880000FFu, TStrokeDash::Solid, 20}, {{200, 50}, {200, 350}});
  layer.DrawPath(kUnit, *pen);
  layer.DrawPath(kUnit, *marker);
  EXPECT_EQ(Px(layer, 100, 200), 0xFFFF0000u); // pen alone
  EXPECT_EQ(Px(layer, 200, 100), 0x88000088u); // marker alone
  EXPECT_EQ(Px(layer, 200, 200), 0x88000088u); // overlap: the pen's red is gone
}

TEST_F(Layer, BrushBandAroundItsCore) {
  const TStrokeStyle brush{TPathKind::pkBrush0, 0x88FF0000u, TStrokeDash::Solid, 40};
  // Slow (2 units a segment): the core starts at about a tenth of the thickness.
  auto b = SlowLine(brush, {100, 200}, {300, 200}, 100);
  layer.DrawPath(kUnit, *b);
  EXPECT_EQ(Px(layer, 104, 200), 0x88880000u); // core: red at the brush's alpha
  EXPECT_EQ(Px(layer, 104, 214), 0x88000000u); // band: black at the brush's alpha
  EXPECT_EQ(Px(layer, 104, 225), 0u);          // beyond the thickness

  // Over an earlier opaque green stroke the band shows green at the brush's alpha.
  TImageP1 over;
  over.BitmapSetSize(400, 400);
  auto green = Stroke({TPathKind::pkDraw, 0xFF00FF00u, TStrokeDash::Solid, 60}, {{50, 200}, {350, 200}});
  over.DrawPath(kUnit, *green);
  over.DrawPath(kUnit, *b);
  EXPECT_EQ(Px(over, 104, 214), 0x88008800u);
  EXPECT_EQ(Px(over, 104, 200), 0x88880000u);
  EXPECT_EQ(Px(over, 104, 226), 0xFF00FF00u); // green outside the brush
}

TEST_F(Layer, RainbowSegmentsCycleThroughTheTable) {
  // A baked rainbow line: 15 points, 14 segments of 20 units.
  auto line = TSkPath::CreatePathDn({TPathKind::pkLine, 0xFF000001u, TStrokeDash::Solid, 10}, 30, 200);
  line->ModPathMv(310, 200);
  line->StrokeStyleKindDraw();
  ASSERT_EQ(line->Polygon().size(), 15u);
  layer.DrawPath(kUnit, *line);
  const uint32_t table[7] = {0xFFFF00FF, 0xFFFF0000, 0xFFFF6600, 0xFFFFFF00, 0xFF00FF00, 0xFF0000FF, 0xFF6666CC};
  for (int k = 0; k < 14; ++k) EXPECT_EQ(Px(layer, 30 + 20 * k + 10, 200), table[k % 7]) << "segment " << k;
  // Translucent rainbow: the table colours at the style's alpha.
  TImageP1 t;
  t.BitmapSetSize(400, 400);
  auto tl = TSkPath::CreatePath({TPathKind::pkDraw, 0x88000001u, TStrokeDash::Solid, 10}, {{30, 100}, {110, 100}, {190, 100}});
  t.DrawPath(kUnit, *tl);
  EXPECT_EQ(Px(t, 70, 100), 0x88880088u);
  EXPECT_EQ(Px(t, 150, 100), 0x88880000u);
}

TEST_F(Layer, EraserClearsAndUndoBringsTheStrokeBack) {
  TSkPaths list;
  list.Add(Stroke({TPathKind::pkDraw, 0xFFFF0000u, TStrokeDash::Solid, 20}, {{50, 200}, {350, 200}}));
  list.Add(Stroke({TPathKind::pkDraw, kEraserColor, TStrokeDash::Solid, 25}, {{100, 100}, {100, 300}}));
  layer.DrawPathAll(kUnit, &list);
  EXPECT_EQ(Px(layer, 100, 200), 0u);
  EXPECT_EQ(Px(layer, 300, 200), 0xFFFF0000u);
  list.UndoSet();
  layer.DrawPathAll(kUnit, &list);
  EXPECT_EQ(Px(layer, 100, 200), 0xFFFF0000u);
}

TEST_F(Layer, ClicksDotsAndCommandRecords) {
  // A pen click stores two equal points: a round dot; a marker click shows nothing.
  auto pen = Stroke({TPathKind::pkDraw, 0xFFFF0000u, TStrokeDash::Solid, 20}, {{100, 100}, {100, 100}});
  auto marker = Stroke({TPathKind::pkDraw, 0x88FF0000u, TStrokeDash::Solid, 20}, {{300, 300}, {300, 300}});
  layer.DrawPath(kUnit, *pen);
  layer.DrawPath(kUnit, *marker);
  EXPECT_EQ(Px(layer, 100, 100), 0xFFFF0000u);
  EXPECT_EQ(Px(layer, 105, 100), 0xFFFF0000u);
  EXPECT_EQ(Px(layer, 300, 300), 0u);
  // Records that are not drawn: commands, hidden records, no thickness.
  auto hidden = Stroke({TPathKind::pkDraw, 0xFF00FF00u, TStrokeDash::Solid, 20}, {{0, 50}, {400, 50}});
  hidden->SetStat(TPathStat::psDeleted);
  auto fill = Stroke({TPathKind::pkFill, 0xFF00FF00u, TStrokeDash::Solid, 20}, {{0, 60}, {400, 60}});
  auto thin = Stroke({TPathKind::pkDraw, 0xFF00FF00u, TStrokeDash::Solid, 0}, {{0, 70}, {400, 70}});
  EXPECT_TRUE(layer.DrawPath(kUnit, *hidden).isEmpty());
  EXPECT_TRUE(layer.DrawPath(kUnit, *fill).isEmpty());
  EXPECT_TRUE(layer.DrawPath(kUnit, *TSkPath::CreateEraseAll()).isEmpty());
  layer.DrawPath(kUnit, *thin);
  EXPECT_EQ(Px(layer, 200, 50), 0u);
  EXPECT_EQ(Px(layer, 200, 60), 0u);
  EXPECT_EQ(Px(layer, 200, 70), 0u);
}

// Every record kind and colour class, in a crowded order, at an odd view.
TSkPaths& Busy(TSkPaths& list) {
  uint32_t seed = 7;
  auto rnd = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xFFFF;
  };
  const TStrokeStyle styles[] = {
      {TPathKind::pkDraw, 0xFFFF3333u, TStrokeDash::Solid, 10}, {TPathKind::pkDraw, 0x883399FFu, TStrokeDash::Solid, 30},
      {TPathKind::pkBrush0, 0xFF121212u, TStrokeDash::Solid, 25}, {TPathKind::pkDraw, 0xFF000001u, TStrokeDash::Dash, 8},
      {TPathKind::pkBrush1, 0x88000001u, TStrokeDash::Solid, 20}, {TPathKind::pkDraw, kEraserColor, TStrokeDash::Solid, 25},
      {TPathKind::pkDraw, 0xFF33FF99u, TStrokeDash::DashDot, 5}};
  for (int i = 0; i < 60; ++i) {
    TPolygon pts;
    float x = rnd() % 1280, y = rnd() % 720;
    for (int k = 0; k < 30; ++k) {
      x += static_cast<float>(rnd() % 41) - 20;
      y += static_cast<float>(rnd() % 41) - 20;
      pts.push_back({x, y});
    }
    list.Add(TSkPath::CreatePath(styles[i % 7], pts));
  }
  return list;
}

bool SameBytes(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.format() != b.format()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.width()) * 4) != 0) return false;
  return true;
}

TEST(LayerReplay, IncrementalBandedAndWholeReplaysAreIdentical) {
  TSkPaths list;
  Busy(list);
  const TZoomOffset zos[] = {{1, {0, 0}}, {1.37f, {-211.25f, 33.5f}}, {0.5f, {17, 180}}};
  for (const TZoomOffset& zo : zos) {
    TImageP1 whole, banded, incremental;
    for (TImageP1* l : {&whole, &banded, &incremental}) l->BitmapSetSize(1280, 720);
    whole.DrawPathAll(zo, &list);
    ASSERT_TRUE(banded.DrawPathAll(zo, *LayerRecordsGet(&list), 3));
    for (const auto& r : list.SkList) incremental.DrawPath(zo, *r);
    EXPECT_TRUE(SameBytes(whole.Image(), banded.Image())) << zo.Zoom;
    EXPECT_TRUE(SameBytes(whole.Image(), incremental.Image())) << zo.Zoom;
  }
}

TEST(LayerReplay, WholePixelMovesOfTheViewMoveTheSamePixels) {
  TSkPaths list;
  Busy(list);
  const TZoomOffset a{1.37f, {-211.25f, 33.5f}};
  struct Case {
    int dx, dy;
  } cases[] = {{7, 0}, {-13, 5}, {300, -120}};
  TImageP1 ref;
  ref.BitmapSetSize(1280, 720);
  ref.DrawPathAll(a, &list);
  for (const Case& c : cases) {
    const TZoomOffset b{a.Zoom, {a.Offset.X + c.dx, a.Offset.Y + c.dy}};
    // Painted for the moved view, and painted for the first view onto a bitmap whose
    // origin follows the move: the same bytes.
    TImageP1 moved, shifted;
    moved.BitmapSetSize(1280, 720);
    moved.DrawPathAll(b, &list);
    shifted.BitmapSetSize(1280, 720);
    shifted.SetOrigin({-c.dx, -c.dy});
    shifted.DrawPathAll(a, &list);
    EXPECT_TRUE(SameBytes(moved.Image(), shifted.Image())) << c.dx << "," << c.dy;
    // And a record added to each alone still agrees.
    auto extra = Stroke({TPathKind::pkDraw, 0x8833FF99u, TStrokeDash::Dot, 12}, {{100, 100}, {700, 500}, {900, 100}});
    moved.DrawPath(b, *extra);
    shifted.DrawPath(a, *extra);
    EXPECT_TRUE(SameBytes(moved.Image(), shifted.Image())) << c.dx << "," << c.dy;
  }
}

TEST(LayerReplay, ReplayShowsOnlyTheUndoWindow) {
  TSkPaths list;
  list.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFFFF0000u, TStrokeDash::Solid, 20}, {{10, 10}, {100, 10}}));
  list.Add(TSkPath::CreateEraseAll());
  list.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFF0000FFu, TStrokeDash::Solid, 20}, {{10, 50}, {100, 50}}));
  TImageP1 l;
  l.BitmapSetSize(200, 100);
  l.DrawPathAll(kUnit, &list);
  EXPECT_EQ(Px(l, 50, 10), 0u);
  EXPECT_EQ(Px(l, 50, 50), 0xFF0000FFu);
  list.UndoSet();
  list.UndoSet();
  l.DrawPathAll(kUnit, &list);
  EXPECT_EQ(Px(l, 50, 10), 0xFFFF0000u);
  EXPECT_EQ(Px(l, 50, 50), 0u);
}

TEST(LayerReplay, CancelledReplayReportsIt) {
  TSkPaths list;
  Busy(list);
  TImageP1 l;
  l.BitmapSetSize(1280, 720);
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(l.DrawPathAll(kUnit, *LayerRecordsGet(&list), 2, &cancel));
}

} // namespace
