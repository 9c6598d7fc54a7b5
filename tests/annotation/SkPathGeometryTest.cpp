// Outlines of records and the baking of shapes into polylines.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "annotation/SkPath.h"

namespace skm {
namespace {

constexpr uint32_t kPen = 0xFFFF3333;
constexpr uint32_t kRainbow = 0xFF000001;

std::unique_ptr<TSkPath> Shape(TPathKind k, uint32_t color, TPolygon pts, float thickness = 2) {
  return TSkPath::CreatePath({k, color, TStrokeDash::Solid, thickness}, pts);
}

void ExpectNear(TPointF a, TPointF b, const char* what, float tol = 1e-4f) {
  EXPECT_NEAR(a.X, b.X, tol) << what;
  EXPECT_NEAR(a.Y, b.Y, tol) << what;
}

TEST(Geometry, ArrowWings) {
  const double c30 = std::cos(std::numbers::pi / 6) * 10, s30 = 5;
  struct Case {
    const char* name;
    TPointF a, b;
    TPointF w1, w2;
  };
  // Thickness 2: wings of length 10, 30 degrees either side of the direction A -> B.
  const Case cases[] = {
      {"pointing right", {0, 0}, {10, 0}, {float(c30), float(s30)}, {float(c30), float(-s30)}},
      {"pointing down", {0, 0}, {0, 10}, {float(-s30), float(c30)}, {float(s30), float(c30)}},
      {"pointing left", {100, 50}, {40, 50}, {float(100 - c30), float(50 - s30)}, {float(100 - c30), float(50 + s30)}},
      {"zero length points right", {5, 5}, {5, 5}, {float(5 + c30), float(5 + s30)}, {float(5 + c30), float(5 - s30)}},
  };
  auto p = Shape(TPathKind::pkLineAr0, kPen, {}, 2);
  for (const Case& c : cases) {
    TPointF w1, w2;
    p->ArrowHeadGet(c.a, c.b, w1, w2);
    ExpectNear(w1, c.w1, c.name);
    ExpectNear(w2, c.w2, c.name);
  }
}

TEST(Geometry, OvalHas35PointsOnTheEllipseClosingOnTheFirst) {
  const TPointF p0{100, 100}, p1{150, 130};
  auto live = Shape(TPathKind::pkOval, kPen, {p0, p1});
  TPathData d;
  live->PathDataGet0(TZoomOffset{}, d);
  auto baked = Shape(TPathKind::pkOval, kRainbow, {p0, p1});
  baked->StrokeStyleKindDraw();
  for (const TPolygon* pts : std::initializer_list<const TPolygon*>{&d.Points, &baked->Polygon()}) {
    ASSERT_EQ(pts->size(), 35u);
    EXPECT_EQ(pts->front(), (TPointF{150, 100}));
    EXPECT_EQ(pts->back(), pts->front());
    for (size_t i = 0; i < pts->size(); ++i) {
      const double a = i * std::numbers::pi / 17;
      ExpectNear((*pts)[i], {float(100 + 50 * std::cos(a)), float(100 + 30 * std::sin(a))}, "oval point");
    }
  }
  // x1 = x0: a vertical segment traced back and forth.
  auto flat = Shape(TPathKind::pkOval, kPen, {{10, 10}, {10, 40}});
  flat->StrokeStyleKindDraw();
  for (TPointF q : flat->Polygon()) EXPECT_EQ(q.X, 10);
}

// Shapes dragged from bottom right to top left.
TEST(Geometry, BakeTablePointCountsAndOrder) {
  const TPointF p0{200, 150}, p1{100, 50};
  struct Case {
    TPathKind kind;
    uint32_t color;
    size_t points;
  };
  const Case cases[] = {
      {TPathKind::pkLine, kPen, 2},     {TPathKind::pkLine, kRainbow, 15},  {TPathKind::pkRect, kPen, 5},
      {TPathKind::pkRect, kRainbow, 29}, {TPathKind::pkOval, kPen, 35},     {TPathKind::pkLineAr0, kPen, 5},
      {TPathKind::pkLineAr0, kRainbow, 18}, {TPathKind::pkLineAr1, kPen, 8}, {TPathKind::pkLineAr1, kRainbow, 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.kind));
    SCOPED_TRACE(c.color);
    auto p = TSkPath::CreatePath({c.kind, c.color, TStrokeDash::DashDot, 3}, {p0, p1});
    p->StrokeStyleKindDraw();
    EXPECT_EQ(p->Polygon().size(), c.points);
    EXPECT_EQ(p->Style(), (TStrokeStyle{TPathKind::pkDraw, c.color, TStrokeDash::DashDot, 3}));
  }

  auto rect = Shape(TPathKind::pkRect, kPen, {p0, p1});
  rect->StrokeStyleKindDraw();
  EXPECT_EQ(rect->Polygon(), (TPolygon{{200, 150}, {200, 50}, {100, 50}, {100, 150}, {200, 150}}));

  auto rrect = Shape(TPathKind::pkRect, kRainbow, {p0, p1});
  rrect->StrokeStyleKindDraw();
  const TPolygon& r = rrect->Polygon();
  EXPECT_EQ(r[0], p0);
  EXPECT_EQ(r[7], (TPointF{200, 50}));
  EXPECT_EQ(r[14], p1);
  EXPECT_EQ(r[21], (TPointF{100, 150}));
  EXPECT_EQ(r[28], p0);
  ExpectNear(r[1], {200, 150 - 100.f / 7}, "first step of the first side");

  auto rline = Shape(TPathKind::pkLine, kRainbow, {p0, p1});
  rline->StrokeStyleKindDraw();
  for (size_t i = 0; i < 15; ++i)
    ExpectNear(rline->Polygon()[i], {200 - 100.f * i / 14, 150 - 100.f * i / 14}, "rainbow line step");
  EXPECT_EQ(rline->Polygon().back(), p1);
}

TEST(Geometry, BakedArrowsPutHeadsAtTheirEnds) {
  const TPointF p0{0, 0}, p1{100, 0};
  auto probe = Shape(TPathKind::pkLineAr1, kPen, {p0, p1});
  TPointF v1, v2, w1, w2;
  probe->ArrowHeadGet(p0, p1, v1, v2);
  probe->ArrowHeadGet(p1, p0, w1, w2);

  auto one = Shape(TPathKind::pkLineAr0, kPen, {p0, p1});
  one->StrokeStyleKindDraw();
  EXPECT_EQ(one->Polygon(), (TPolygon{p0, p1, w1, p1, w2}));

  probe->StrokeStyleKindDraw();
  EXPECT_EQ(probe->Polygon(), (TPolygon{v1, p0, v2, p0, p1, w1, p1, w2}));

  auto rb = Shape(TPathKind::pkLineAr1, kRainbow, {p0, p1});
  rb->StrokeStyleKindDraw();
  const TPolygon& r = rb->Polygon();
  EXPECT_EQ((TPolygon{r[0], r[1], r[2], r[3]}), (TPolygon{v1, p0, v2, p0}));
  EXPECT_EQ((TPolygon{r.end() - 4, r.end()}), (TPolygon{p1, w1, p1, w2}));
  ExpectNear(r[4], {100.f / 14, 0}, "first inner point");
}

TEST(Geometry, BakeLeavesNonShapesUnchanged) {
  const TPolygon pts{{1, 2}, {3, 4}, {5, 1}};
  for (TPathKind k : {TPathKind::pkDraw, TPathKind::pkBrush0, TPathKind::pkBrush1, TPathKind::pkErase,
                      TPathKind::pkNone, TPathKind::pkEraseAll, TPathKind::pkFill, TPathKind::pkEdit}) {
    for (uint32_t color : {kPen, kRainbow}) {
      auto p = TSkPath::CreatePath({k, color, TStrokeDash::Dot, 7}, pts);
      p->StrokeStyleKindDraw();
      EXPECT_EQ(p->Polygon(), pts) << int(k);
      EXPECT_EQ(p->Style(), (TStrokeStyle{k, color, TStrokeDash::Dot, 7})) << int(k);
    }
  }
}

TEST(Geometry, LiveOutlinePointCountsPerKind) {
  const TPolygon two{{200, 150}, {100, 50}};
  struct Case {
    TPathKind kind;
    uint32_t color;
    size_t points;
  };
  const Case cases[] = {
      {TPathKind::pkDraw, kPen, 2},      {TPathKind::pkBrush1, kRainbow, 2},   {TPathKind::pkErase, kPen, 2},
      {TPathKind::pkLine, kPen, 2},      {TPathKind::pkLine, kRainbow, 15},    {TPathKind::pkRect, kPen, 5},
      {TPathKind::pkRect, kRainbow, 29}, {TPathKind::pkEdit0, kRainbow, 5},    {TPathKind::pkEdit1, kPen, 2},
      {TPathKind::pkOval, kRainbow, 35}, {TPathKind::pkLineAr0, kPen, 6},     {TPathKind::pkLineAr0, kRainbow, 19},
      {TPathKind::pkLineAr1, kPen, 10},  {TPathKind::pkLineAr1, kRainbow, 23}, {TPathKind::pkNone, kPen, 1},
      {TPathKind::pkEraseAll, kPen, 1},  {TPathKind::pkPointer, kPen, 1},
  };
  for (const Case& c : cases) {
    auto p = Shape(c.kind, c.color, two);
    TPathData d;
    p->PathDataGet0(TZoomOffset{}, d);
    EXPECT_EQ(d.Points.size(), c.points) << "kind " << int(c.kind) << " colour " << c.color;
    if (c.kind != TPathKind::pkOval) {
      EXPECT_EQ(d.Points.front(), two[0]) << int(c.kind);
    }
  }
}

// The live arrow head follows the last five points of a longer record.
TEST(Geometry, LiveArrowLooksBackFivePoints) {
  TPolygon pts;
  for (int i = 0; i < 8; ++i) pts.push_back({float(i * 10), i < 2 ? 0.f : 50.f});
  auto p = Shape(TPathKind::pkLineAr0, kPen, pts);
  TPathData d;
  p->PathDataGet0(TZoomOffset{}, d);
  TPointF w1, w2;
  p->ArrowHeadGet(pts[7], pts[2], w1, w2);
  ASSERT_EQ(d.Points.size(), 2u + 4u); // the body of an arrow is P0-P1 only
  EXPECT_EQ((TPolygon{d.Points.end() - 4, d.Points.end()}), (TPolygon{w1, pts[7], w2, pts[7]}));
}

TEST(Geometry, OutlinesTransformByMatrixThenZoomThenOffset) {
  const TZoomOffset zo{2, {10, 20}};
  auto p = Shape(TPathKind::pkDraw, kPen, {{1, 2}, {3, 4}});
  TPathData d0, d1;
  p->PathDataGet0(zo, d0);
  p->PathDataGet1(zo, d1);
  EXPECT_EQ(d0.Points, (TPolygon{{12, 24}, {16, 28}}));
  EXPECT_EQ(d1.Points, d0.Points);

  p->MAdd(TMatrix::Translate(100, 0));
  p->PathDataGet1(zo, d1);
  EXPECT_EQ(d1.Points, (TPolygon{{212, 24}, {216, 28}}));
  p->PathDataGet1(TMatrix::Scale(3, 3), d1);
  EXPECT_EQ(d1.Points, (TPolygon{{303, 6}, {309, 12}}));

  // Wings and ovals are built in canvas units, so they scale with the zoom.
  auto arrow = Shape(TPathKind::pkLineAr0, kPen, {{0, 0}, {100, 0}}, 2);
  arrow->PathDataGet0({3, {0, 0}}, d0);
  ExpectNear(d0.Points[2], {float(3 * (100 - 10 * std::cos(std::numbers::pi / 6))), -15}, "scaled wing");
}

// Records from files can hold fewer points than their kind uses; nothing reads past them.
TEST(Geometry, ShortRecordsNeverReadPastTheirPoints) {
  for (int k = 0; k < kPathKindCount; ++k) {
    for (uint32_t color : {kPen, kRainbow}) {
      auto empty = Shape(TPathKind(k), color, {});
      TPathData d;
      empty->PathDataGet0(TZoomOffset{}, d);
      EXPECT_TRUE(d.IsEmpty()) << k;
      empty->PathDataGet1(TZoomOffset{}, d);
      EXPECT_TRUE(d.IsEmpty()) << k;
      empty->StrokeStyleKindDraw();
      EXPECT_TRUE(empty->Polygon().empty()) << k;

      auto one = Shape(TPathKind(k), color, {{5, 6}});
      one->PathDataGet0(TZoomOffset{}, d);
      ASSERT_FALSE(d.IsEmpty()) << k;
      if (k != int(TPathKind::pkLineAr0) && k != int(TPathKind::pkLineAr1)) {
        for (TPointF q : d.Points) EXPECT_EQ(q, (TPointF{5, 6})) << k;
      }
      one->StrokeStyleKindDraw();
      EXPECT_FALSE(one->Polygon().empty()) << k;
    }
  }
}

} // namespace
} // namespace skm
