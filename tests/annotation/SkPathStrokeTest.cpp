// Stroking rules: pens per target, premultiplied colours, rainbow cycling, brush widths.
#include <gtest/gtest.h>

#include <cmath>

#include "annotation/SkPathStroke.h"

namespace skm {
namespace {

TEST(Stroke, PremultiplyColor) {
  struct Case {
    uint32_t in, out;
  };
  const Case cases[] = {
      {0x00123456, 0x00000000}, {0xFF123456, 0xFF123456}, {0x80FF8040, 0x80804020},
      {0x01FFFFFF, 0x01010101}, {0xFE010203, 0xFE000102}, {0x00000001, 0x00000000},
  };
  for (const Case& c : cases) EXPECT_EQ(PremultiplyColor(c.in), c.out) << std::hex << c.in;
}

TEST(Stroke, SettingsPerTarget) {
  struct Case {
    const char* name;
    TStrokeStyle style;
    TStrokeTarget target;
    uint32_t color;
    bool roundCap;
  };
  const TStrokeStyle pen{TPathKind::pkDraw, 0xFFFF3333, TStrokeDash::Dash, 4};
  const TStrokeStyle marker{TPathKind::pkDraw, 0x80FF8040, TStrokeDash::Solid, 4};
  const TStrokeStyle eraser{TPathKind::pkErase, kEraserColor, TStrokeDash::Solid, 4};
  const TStrokeStyle erased{TPathKind::pkDraw, kEraserColor, TStrokeDash::Solid, 4};
  const Case cases[] = {
      {"pen live", pen, TStrokeTarget::Live, 0xFFFF3333, true},
      {"pen colour", pen, TStrokeTarget::ColorBitmap, 0xFFFF3333, true},
      {"pen mask", pen, TStrokeTarget::MaskBitmap, 0xFFFFFFFF, true},
      {"marker live", marker, TStrokeTarget::Live, 0x80FF8040, false},
      {"marker colour", marker, TStrokeTarget::ColorBitmap, 0xFF804020, false},
      {"marker mask", marker, TStrokeTarget::MaskBitmap, 0xFF808080, false},
      {"eraser live", eraser, TStrokeTarget::Live, 0x44FFFFFF, false},
      {"stored eraser live", erased, TStrokeTarget::Live, kEraserColor, false},
      {"eraser colour", erased, TStrokeTarget::ColorBitmap, 0xFF000000, false},
      {"eraser mask", erased, TStrokeTarget::MaskBitmap, 0xFF000000, false},
  };
  for (const Case& c : cases) {
    const TStrokeSettings s = StrokeSettingsGet(c.style, 2.5f, c.target);
    EXPECT_EQ(s.Color, c.color) << c.name;
    EXPECT_EQ(s.RoundCap, c.roundCap) << c.name;
    EXPECT_EQ(s.Thickness, 10.f) << c.name;
    EXPECT_EQ(s.Dash, c.style.Dash) << c.name;
  }
}

TEST(Stroke, RainbowTablePerTarget) {
  const auto live = RainbowColorsGet(0x80000001, TStrokeTarget::Live);
  const auto bitmap = RainbowColorsGet(0x80000001, TStrokeTarget::ColorBitmap);
  EXPECT_EQ(live[0], 0x80FF00FFu);
  EXPECT_EQ(live[6], 0x806666CCu);
  EXPECT_EQ(bitmap[0], 0xFF800080u);
  EXPECT_EQ(bitmap[2], 0xFF803300u);
  EXPECT_EQ(RainbowColorsGet(0xFF000001, TStrokeTarget::ColorBitmap), kRainbowColors);
}

TEST(Stroke, BrushSpeedFactor) {
  struct Case {
    double v, f;
  };
  const Case cases[] = {{0, 1.0075274}, {15, 0.51}, {30, 0.0124726}, {1000, 0.01}};
  for (const Case& c : cases) EXPECT_NEAR(BrushSpeedFactor(c.v), c.f, 1e-6) << c.v;
}

TStrokePlan Plan(TPathKind kind, uint32_t color, float zoom, TStrokeTarget target, TPolygon outline) {
  return StrokePlanGet({kind, color, TStrokeDash::Solid, 10}, zoom, target, TPathData{outline});
}

TEST(Stroke, BrushClickWithoutMovementDrawsOneThinDot) {
  for (float zoom : {1.f, 2.f}) {
    const TStrokePlan p = Plan(TPathKind::pkBrush0, 0xFF000000, zoom, TStrokeTarget::Live, {{5, 5}, {5, 5}});
    ASSERT_FALSE(p.Whole);
    ASSERT_EQ(p.Segments.size(), 1u);
    EXPECT_NEAR(p.Segments[0].Thickness / (10 * zoom), 0.1726, 1e-4);
    EXPECT_EQ(p.Segments[0].Color, 0xFF000000u);
  }
}

// A resting brush swells from thin; the same stroke seen at twice the zoom gets the same
// factors (speed is measured in canvas units) and twice the widths.
TEST(Stroke, BrushWidthSwellsAndIgnoresZoom) {
  TPolygon slow, slow2;
  for (int i = 0; i < 30; ++i) {
    slow.push_back({float(i), 0});
    slow2.push_back({float(2 * i), 0});
  }
  const TStrokePlan a = Plan(TPathKind::pkBrush1, 0xFF000000, 1, TStrokeTarget::ColorBitmap, slow);
  const TStrokePlan b = Plan(TPathKind::pkBrush1, 0xFF000000, 2, TStrokeTarget::ColorBitmap, slow2);
  ASSERT_EQ(a.Segments.size(), 29u);
  ASSERT_EQ(b.Segments.size(), 29u);
  for (size_t k = 1; k < a.Segments.size(); ++k) EXPECT_GT(a.Segments[k].Thickness, a.Segments[k - 1].Thickness);
  for (size_t k = 0; k < a.Segments.size(); ++k) EXPECT_FLOAT_EQ(b.Segments[k].Thickness, 2 * a.Segments[k].Thickness);

  // A fast stroke gets thinner than it started.
  const TStrokePlan fast = Plan(TPathKind::pkBrush0, 0xFF000000, 1, TStrokeTarget::Live,
                                {{0, 0}, {100, 0}, {200, 0}, {300, 0}, {400, 0}});
  EXPECT_LT(fast.Segments.back().Thickness, 10 * 0.1f);
}

TEST(Stroke, PlanWholeOrSegments) {
  const TPolygon line15 = [] {
    TPolygon p;
    for (int i = 0; i < 15; ++i) p.push_back({float(i), 0});
    return p;
  }();
  struct Case {
    const char* name;
    TPathKind kind;
    uint32_t color;
    TStrokeTarget target;
    bool whole;
    size_t segments;
  };
  const Case cases[] = {
      {"pen", TPathKind::pkDraw, 0xFFFF0000, TStrokeTarget::Live, true, 0},
      {"rainbow pen", TPathKind::pkDraw, 0xFF000001, TStrokeTarget::Live, false, 14},
      {"rainbow marker", TPathKind::pkDraw, 0x80000001, TStrokeTarget::ColorBitmap, false, 14},
      {"rainbow line preview", TPathKind::pkLine, 0xFF000001, TStrokeTarget::Live, false, 14},
      {"brush", TPathKind::pkBrush0, 0xFFFF0000, TStrokeTarget::ColorBitmap, false, 14},
      {"rainbow brush", TPathKind::pkBrush1, 0xFF000001, TStrokeTarget::Live, false, 14},
      {"brush on mask", TPathKind::pkBrush0, 0xFFFF0000, TStrokeTarget::MaskBitmap, true, 0},
      {"rainbow on mask", TPathKind::pkDraw, 0xFF000001, TStrokeTarget::MaskBitmap, true, 0},
  };
  for (const Case& c : cases) {
    const TStrokePlan p = Plan(c.kind, c.color, 1, c.target, line15);
    EXPECT_EQ(p.Whole, c.whole) << c.name;
    EXPECT_EQ(p.Segments.size(), c.segments) << c.name;
  }

  // Colours cycle per outline from the first table colour; widths stay fixed for pens.
  const TStrokePlan r = Plan(TPathKind::pkDraw, 0xFF000001, 1.5f, TStrokeTarget::Live, line15);
  for (size_t k = 0; k < r.Segments.size(); ++k) {
    EXPECT_EQ(r.Segments[k].Color, kRainbowColors[k % 7]) << k;
    EXPECT_EQ(r.Segments[k].Thickness, 15.f);
    EXPECT_EQ(r.Segments[k].P, line15[k]);
    EXPECT_EQ(r.Segments[k].Q, line15[k + 1]);
  }
  // Fewer than two points: nothing segment-wise.
  EXPECT_TRUE(Plan(TPathKind::pkDraw, 0xFF000001, 1, TStrokeTarget::Live, {{1, 1}}).Segments.empty());
  EXPECT_TRUE(Plan(TPathKind::pkBrush0, 0xFF000000, 1, TStrokeTarget::Live, {}).Segments.empty());
}

} // namespace
} // namespace skm
