#pragma once
// How an outline of a record is stroked: the pen settings for each drawing target, the
// rainbow colours and the speed-dependent brush width. The canvas draws; these functions
// decide what it draws, so the rules can be checked without pixels.
// Pure functions; any thread.

#include <array>
#include <cstdint>
#include <vector>

#include "annotation/SkPath.h"

namespace skm {

// Where an outline is stroked.
enum class TStrokeTarget : uint8_t {
  Live,        // the layer that shows the record being drawn
  ColorBitmap, // colour bitmap of the annotation layer
  MaskBitmap,  // mask bitmap of the annotation layer (grey level = alpha)
};

// Pen for one stroke call. The join is always round and the brush solid.
struct TStrokeSettings {
  uint32_t Color = 0;                    // ARGB
  TStrokeDash Dash = TStrokeDash::Solid;
  bool RoundCap = false;                 // round for opaque pens, flat for markers
  float Thickness = 0;                   // in the target's coordinates (already x zoom)
};

// The seven rainbow colours in drawing order (opaque).
inline constexpr std::array<uint32_t, 7> kRainbowColors = {
    0xFFFF00FF, 0xFFFF0000, 0xFFFF6600, 0xFFFFFF00, 0xFF00FF00, 0xFF0000FF, 0xFF6666CC};

// Brush width constants: speed scale (canvas units per segment), smoothing, start factor.
inline constexpr double kBrushSpeedScale = 30.0;
inline constexpr double kBrushSmoothing = 0.08;
inline constexpr double kBrushStartFactor = 0.1;

// Alpha 0 gives 0; alpha 0xFF leaves the colour; otherwise each of R, G, B becomes
// trunc(channel x A / 255) and the alpha stays.
uint32_t PremultiplyColor(uint32_t color);
// The colour with its alpha byte replaced.
inline uint32_t WithAlpha(uint32_t color, uint8_t alpha) {
  return (color & 0x00FFFFFFu) | (static_cast<uint32_t>(alpha) << 24);
}

// Pen settings for a record of style s at view zoom z on a target.
TStrokeSettings StrokeSettingsGet(const TStrokeStyle& s, float zoom, TStrokeTarget target);
// The rainbow colour table for style colour `color` on a target (the mask uses none and
// gets the plain table).
std::array<uint32_t, 7> RainbowColorsGet(uint32_t color, TStrokeTarget target);

// The target factor of one brush segment of v canvas units:
// 0.5 - tanh(v / 30 x 6 - 3) / 2 + 0.01 (about 1.0075 at rest, 0.0125 when fast).
double BrushSpeedFactor(double v);

// Smoothed brush width factor along one outline: starts at 0.1 and moves 8 % toward the
// speed factor of every segment.
class TBrushWidth {
public:
  // The factor for the next segment, whose length in the target's coordinates is
  // lengthView at view zoom `zoom`.
  double Next(double lengthView, double zoom);
  double Factor() const { return FE; }

private:
  double FE = kBrushStartFactor;
};

// One segment drawn on its own, as a single line at opacity 1.
struct TStrokeSegment {
  TPointF P;
  TPointF Q;
  uint32_t Color = 0;
  float Thickness = 0; // target coordinates
};

// What to draw for one outline: either the whole outline at once with Pen, or each of
// Segments on its own (same dash, cap and join as Pen, their own colour and width).
struct TStrokePlan {
  bool Whole = true;
  TStrokeSettings Pen;
  std::vector<TStrokeSegment> Segments; // used when Whole is false
};

// The plan for stroking `outline` (already in target coordinates) of a record of style s
// at view zoom `zoom`: brushes segment by segment with the smoothed width, rainbow colours
// segment by segment cycling through the table from its first colour, everything else
// (and everything on the mask) as one stroke. Fewer than 2 points give no segments.
TStrokePlan StrokePlanGet(const TStrokeStyle& s, float zoom, TStrokeTarget target, const TPathData& outline);

} // namespace skm
