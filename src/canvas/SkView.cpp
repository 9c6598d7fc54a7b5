#include "canvas/SkView.h"

#include <algorithm>
#include <cmath>

namespace skm {

namespace {

TZoomOffset Make(double zoom, double x, double y) {
  TZoomOffset zo;
  zo.Zoom = static_cast<float>(zoom);
  zo.Offset = {static_cast<float>(x), static_cast<float>(y)};
  return zo;
}

// t: the picture's scale in control pixels; (x, y): its top-left corner in the control.
TZoomOffset RelativeToView(const TZoomOffset& view, double t, double x, double y) {
  const double z = view.Zoom, ox = view.Offset.X, oy = view.Offset.Y;
  return Make(t / z, (x - ox) / z, (y - oy) / z);
}

// A lane without a picture (no size) or a view without a zoom has no placement: zoom 0,
// which shows the lane nowhere, rather than the infinities of a division by zero.
bool Fittable(const TZoomOffset& view, double mw, double mh) {
  return mw > 0 && mh > 0 && view.Zoom != 0 && std::isfinite(mw) && std::isfinite(mh);
}

TZoomOffset LaneFitHalf(const TZoomOffset& view, double w, double h, double mw, double mh, bool right) {
  if (!Fittable(view, mw, mh)) return {0, {0, 0}};
  const double c = w / 2;
  const double t = std::min(c / mw, h / mh);
  return RelativeToView(view, t, (c - t * mw) / 2 + (right ? c : 0.0), (h - t * mh) / 2);
}

} // namespace

TZoomOffset ViewFit(double w, double h) {
  const double s = std::min(w / kCanvasUnitsW, h / kCanvasUnitsH);
  return Make(s, (w - kCanvasUnitsW * s) / 2, (h - kCanvasUnitsH * s) / 2);
}

TZoomOffset LaneFitWhole(const TZoomOffset& view, double w, double h, double mw, double mh) {
  if (!Fittable(view, mw, mh)) return {0, {0, 0}};
  const double t = std::min(w / mw, h / mh);
  return RelativeToView(view, t, (w - t * mw) / 2, (h - t * mh) / 2);
}

TZoomOffset LaneFitLeft(const TZoomOffset& view, double w, double h, double mw, double mh) {
  return LaneFitHalf(view, w, h, mw, mh, false);
}

TZoomOffset LaneFitRight(const TZoomOffset& view, double w, double h, double mw, double mh) {
  return LaneFitHalf(view, w, h, mw, mh, true);
}

QRectF LaneDisp(const TZoomOffset& lane, const TZoomOffset& view, double mw, double mh) {
  const float w = static_cast<float>(static_cast<double>(lane.Zoom) * view.Zoom * mw);
  const float h = static_cast<float>(static_cast<double>(lane.Zoom) * view.Zoom * mh);
  const float x = static_cast<float>(static_cast<double>(lane.Offset.X) * view.Zoom + view.Offset.X);
  const float y = static_cast<float>(static_cast<double>(lane.Offset.Y) * view.Zoom + view.Offset.Y);
  return QRectF(x, y, w, h);
}

void ZoomAt(TZoomOffset& zo, double a, TPointF p) {
  const double z = zo.Zoom;
  const double za = static_cast<float>(z * a);
  // A zero zoom has no point to keep; only the zoom changes.
  if (z != 0) {
    zo.Offset.X = static_cast<float>(zo.Offset.X + (p.X - static_cast<double>(zo.Offset.X)) * (z - za) / z);
    zo.Offset.Y = static_cast<float>(zo.Offset.Y + (p.Y - static_cast<double>(zo.Offset.Y)) * (z - za) / z);
  }
  zo.Zoom = static_cast<float>(za);
}

TPointF ControlToCanvas(const TZoomOffset& view, double x, double y) {
  return {static_cast<float>((x - view.Offset.X) / view.Zoom), static_cast<float>((y - view.Offset.Y) / view.Zoom)};
}

TZoomOffset ZoomOffsetRelative(const TZoomOffset& fit, const TZoomOffset& rel) {
  TZoomOffset zo;
  zo.Zoom = static_cast<float>(static_cast<double>(fit.Zoom) * rel.Zoom);
  zo.Offset.X = static_cast<float>(fit.Offset.X + static_cast<double>(rel.Offset.X) * zo.Zoom);
  zo.Offset.Y = static_cast<float>(fit.Offset.Y + static_cast<double>(rel.Offset.Y) * zo.Zoom);
  return zo;
}

} // namespace skm
