#pragma once
// Every pen palette button in both themes and each state (idle, hovered, pressed, down),
// and two canvases showing two lanes (stacked at 50 % and side by side) under a sample of
// every stroke kind, rendered into one picture: a person checks the look at a glance,
// and the tests read a few of its pixels.
//
// Threads: UI thread; needs a QApplication.

#include <QImage>
#include <QPoint>
#include <QRect>

namespace skmcanvasgallery {

enum TTheme { kLight = 0, kDark = 1 };
enum TState { kIdle = 0, kHovered = 1, kPressed = 2, kDown = 3 };
// The panels, one line each within a state's block.
enum TPanel { kPens = 0, kColors = 1, kThicknesses = 2, kDashes = 3, kKinds = 4 };

inline constexpr uint32_t kLightPanel = 0xFFF0F0F0u;
inline constexpr uint32_t kDarkPanel = 0xFF202020u;

// The picture (ARGB32 premultiplied, device pixel ratio 1).
QImage RenderGallery();
// Top-left corner of button `index` of a panel (kinds: 0..15) in the picture.
QPoint ButtonOrigin(TTheme theme, TState state, TPanel panel, int index);
// Where the stacked and the side-by-side canvases are in the picture.
QRect StackedCanvasRect();
QRect SideBySideCanvasRect();

} // namespace skmcanvasgallery
