// Outlines of records and the baking of shapes into polylines.
//
// Records read from a file may hold fewer points than their kind uses (a shape needs two):
// a missing second point is taken to be the first, and a record without points gives an
// empty outline, so no outline ever reads past the stored points.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "annotation/SkPath.h"

namespace skm {

namespace {

constexpr double kWingAngle = std::numbers::pi / 6;
constexpr double kWingLengthPerThickness = 5.0;
constexpr int kArrowLookBack = 5;
constexpr int kOvalPoints = 35;            // the last equals the first
constexpr double kOvalStep = std::numbers::pi / 17;
constexpr int kRainbowLineParts = 14;
constexpr int kRainbowRectParts = 7;

// Point (a * (parts - i) + b * i) / parts, in double so that i = parts gives b exactly.
TPointF Between(TPointF a, TPointF b, int i, int parts) {
  const double wa = parts - i, wb = i;
  return {static_cast<float>((wa * a.X + wb * b.X) / parts), static_cast<float>((wa * a.Y + wb * b.Y) / parts)};
}

// The 35 oval points. The closing point is the first one again rather than the formula at
// 2 pi, whose sine is not exactly 0 in double and would leave a hairline gap.
void AppendOval(std::vector<TPointF>& out, TPointF p0, TPointF p1) {
  const double rx = static_cast<double>(p1.X) - p0.X, ry = static_cast<double>(p1.Y) - p0.Y;
  const size_t first = out.size();
  for (int i = 0; i < kOvalPoints - 1; ++i) {
    const double a = i * kOvalStep;
    out.push_back({static_cast<float>(p0.X + rx * std::cos(a)), static_cast<float>(p0.Y + ry * std::sin(a))});
  }
  out.push_back(out[first]);
}

// Inner points of a rainbow line: i = 1 .. parts - 1 (the ends are added by the caller).
void AppendLineInner(std::vector<TPointF>& out, TPointF p0, TPointF p1) {
  for (int i = 1; i < kRainbowLineParts; ++i) out.push_back(Between(p0, p1, i, kRainbowLineParts));
}

// The four rainbow sides from P0 round to P0 again: 4 x 7 points, the first corner
// excluded, the last point equal to P0.
void AppendRectSides(std::vector<TPointF>& out, TPointF p0, TPointF p1) {
  const TPointF c1{p0.X, p1.Y}, c3{p1.X, p0.Y};
  for (int i = 1; i <= kRainbowRectParts; ++i) out.push_back(Between(p0, c1, i, kRainbowRectParts));
  for (int i = 1; i <= kRainbowRectParts; ++i) out.push_back(Between(c1, p1, i, kRainbowRectParts));
  for (int i = 1; i <= kRainbowRectParts; ++i) out.push_back(Between(p1, c3, i, kRainbowRectParts));
  for (int i = 1; i <= kRainbowRectParts; ++i) out.push_back(Between(c3, p0, i, kRainbowRectParts));
}

void Transform(std::vector<TPointF>& pts, const TMatrix& m) {
  for (TPointF& p : pts) p = m.Map(p);
}

TMatrix ViewMatrix(const TMatrix& fm, const TZoomOffset& zo) {
  return fm * TMatrix::Scale(zo.Zoom, zo.Zoom) * TMatrix::Translate(zo.Offset.X, zo.Offset.Y);
}

} // namespace

void TSkPath::ArrowHeadGet(TPointF A, TPointF B, TPointF& W1, TPointF& W2) const {
  const double theta = std::atan2(static_cast<double>(B.Y) - A.Y, static_cast<double>(B.X) - A.X);
  const double len = kWingLengthPerThickness * FStroke.Thickness;
  W1 = {static_cast<float>(A.X + len * std::cos(theta + kWingAngle)),
        static_cast<float>(A.Y + len * std::sin(theta + kWingAngle))};
  W2 = {static_cast<float>(A.X + len * std::cos(theta - kWingAngle)),
        static_cast<float>(A.Y + len * std::sin(theta - kWingAngle))};
}

void TSkPath::PathDataGet0(const TZoomOffset& AZO, TPathData& APathData) const {
  APathData.Clear();
  const int n = static_cast<int>(FPolygon.size());
  if (n == 0) return;
  const int b = n - 1;
  auto pt = [&](int i) { return FPolygon[static_cast<size_t>(std::clamp(i, 0, b))]; };
  const TPointF p0 = pt(0), p1 = pt(1);
  const TPathKind kind = FStroke.Kind;
  const bool rainbow = IsRainbowColor(FStroke.Color);
  std::vector<TPointF>& out = APathData.Points;

  if (kind == TPathKind::pkOval) {
    AppendOval(out, p0, p1);
    Transform(out, ViewMatrix(FM, AZO));
    return;
  }

  out.push_back(p0);
  if (kind == TPathKind::pkLineAr1) {
    TPointF v1, v2;
    ArrowHeadGet(p0, pt(std::min(b, kArrowLookBack)), v1, v2);
    out.insert(out.end(), {v1, p0, v2, p0});
  }
  switch (kind) {
  case TPathKind::pkDraw:
  case TPathKind::pkBrush0:
  case TPathKind::pkBrush1:
  case TPathKind::pkErase:
  case TPathKind::pkEdit1:
    out.insert(out.end(), FPolygon.begin() + 1, FPolygon.end());
    break;
  case TPathKind::pkLine:
  case TPathKind::pkLineAr0:
  case TPathKind::pkLineAr1:
    if (rainbow) {
      AppendLineInner(out, p0, p1);
      out.push_back(p1);
    } else {
      out.push_back(p1);
    }
    break;
  case TPathKind::pkRect:
    if (rainbow) {
      AppendRectSides(out, p0, p1);
    } else {
      out.insert(out.end(), {TPointF{p0.X, p1.Y}, p1, TPointF{p1.X, p0.Y}, p0});
    }
    break;
  case TPathKind::pkEdit0:
    out.insert(out.end(), {TPointF{p0.X, p1.Y}, p1, TPointF{p1.X, p0.Y}, p0});
    break;
  default:
    break;
  }
  if (kind == TPathKind::pkLineAr0 || kind == TPathKind::pkLineAr1) {
    const TPointF tip = pt(b);
    TPointF w1, w2;
    ArrowHeadGet(tip, pt(std::max(b - kArrowLookBack, 0)), w1, w2);
    out.insert(out.end(), {w1, tip, w2, tip});
  }
  Transform(out, ViewMatrix(FM, AZO));
}

void TSkPath::PathDataGet1(const TZoomOffset& AZO, TPathData& APathData) const {
  APathData.Points = FPolygon;
  Transform(APathData.Points, ViewMatrix(FM, AZO));
}

void TSkPath::PathDataGet1(const TMatrix& AM, TPathData& APathData) const {
  APathData.Points = FPolygon;
  Transform(APathData.Points, FM * AM);
}

void TSkPath::StrokeStyleKindDraw() {
  const TPathKind kind = FStroke.Kind;
  if (kind < TPathKind::pkLine || kind > TPathKind::pkLineAr1) return;
  if (FPolygon.empty()) {
    FStroke.Kind = TPathKind::pkDraw; // nothing to bake; the record stays empty
    return;
  }
  const TPointF p0 = FPolygon[0];
  const TPointF p1 = FPolygon.size() > 1 ? FPolygon[1] : p0;
  const bool rainbow = IsRainbowColor(FStroke.Color);
  TPolygon out;
  switch (kind) {
  case TPathKind::pkLine:
    out.push_back(p0);
    if (rainbow) AppendLineInner(out, p0, p1);
    out.push_back(p1);
    break;
  case TPathKind::pkRect:
    out.push_back(p0);
    if (rainbow) AppendRectSides(out, p0, p1);
    else out.insert(out.end(), {TPointF{p0.X, p1.Y}, p1, TPointF{p1.X, p0.Y}, p0});
    break;
  case TPathKind::pkOval:
    AppendOval(out, p0, p1);
    break;
  case TPathKind::pkLineAr0:
  case TPathKind::pkLineAr1: {
    if (kind == TPathKind::pkLineAr1) {
      TPointF v1, v2;
      ArrowHeadGet(p0, p1, v1, v2);
      out.insert(out.end(), {v1, p0, v2});
    }
    out.push_back(p0);
    if (rainbow) AppendLineInner(out, p0, p1);
    TPointF w1, w2;
    ArrowHeadGet(p1, p0, w1, w2);
    out.insert(out.end(), {p1, w1, p1, w2});
    break;
  }
  default:
    break;
  }
  FPolygon = std::move(out);
  FStroke.Kind = TPathKind::pkDraw;
}

} // namespace skm
