#pragma once
// The mappings of the comparison canvas, kept in one place: canvas units (the fixed
// 1280 x 720 space the annotations live in) to control coordinates through the view
// zoom-offset, and a lane picture's pixels to canvas units through the lane's own
// zoom-offset. The widget only applies what these functions compute.
//
// Threads: any; pure functions. Arithmetic in double precision, results stored as floats.

#include <QRectF>

#include "annotation/SkPath.h"

namespace skm {

// The logical space every annotation is stored in.
inline constexpr float kCanvasUnitsW = 1280.0f;
inline constexpr float kCanvasUnitsH = 720.0f;

// The view that shows all canvas units as large as possible, centred, in a W x H control:
// zoom min(W/1280, H/720).
TZoomOffset ViewFit(double w, double h);

// Lane placements relative to the view `view` for a picture of mw x mh pixels in a W x H
// control: the whole control (pile), its left half, or its right half, as large as
// possible with the aspect ratio kept and centred.
TZoomOffset LaneFitWhole(const TZoomOffset& view, double w, double h, double mw, double mh);
TZoomOffset LaneFitLeft(const TZoomOffset& view, double w, double h, double mw, double mh);
TZoomOffset LaneFitRight(const TZoomOffset& view, double w, double h, double mw, double mh);

// Bounds of a lane picture of mw x mh pixels in control coordinates.
QRectF LaneDisp(const TZoomOffset& lane, const TZoomOffset& view, double mw, double mh);

// Zooms `zo` by factor a around the point p (in the coordinates zo maps to), which stays
// where it is. The new zoom is rounded to a float before the offsets are computed from it.
void ZoomAt(TZoomOffset& zo, double a, TPointF p);

// A control point in canvas units under the view.
TPointF ControlToCanvas(const TZoomOffset& view, double x, double y);

// The view relative to the fit view (1, (0, 0) gives the fit view back).
TZoomOffset ZoomOffsetRelative(const TZoomOffset& fit, const TZoomOffset& rel);

} // namespace skm
