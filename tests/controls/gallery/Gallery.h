#pragma once
// Every control of the kit in both themes and in each state (idle, hovered, pressed,
// down), rendered into one picture: a person checks the look at a glance, and the tests
// read a few of its pixels.
//
// Threads: UI thread; needs a QApplication.

#include <QImage>
#include <QPoint>
#include <cstdint>

namespace skmgallery {

enum TTheme { kLight = 0, kDark = 1 };
enum TRow { kIdle = 0, kHovered = 1, kPressed = 2, kDown = 3 };
enum TColumn { kIconButton = 0, kFilledButton = 1, kVolume = 2, kGauge = 3, kTrack = 4 };
inline constexpr int kRows = 4, kColumns = 5;

// Panel colours behind the controls.
inline constexpr uint32_t kLightPanel = 0xFFF0F0F0u;
inline constexpr uint32_t kDarkPanel = 0xFF202020u;
// Background of the filled button column.
inline constexpr uint32_t kButtonBackground = 0xFF2060C0u;
// Values shown: the volume and gauge rows, the track's length, playhead and marks.
inline constexpr float kVolumeValue = 0.6f;
inline constexpr float kGaugeValue = 0.4f;
inline constexpr uint64_t kTrackMax = 600'000'000;   // 60 s
inline constexpr uint64_t kTrackValue = 300'000'000; // 30 s, half way
inline constexpr uint64_t kTrackMarkA = 120'000'000;
inline constexpr uint64_t kTrackMarkB = 480'000'000;
inline constexpr int kTrackWidth = 360;

// The picture (ARGB32 premultiplied, device pixel ratio 1).
QImage RenderGallery();
// Top-left corner of a control's cell in the picture; every cell is 60 high and the
// control sits at its top-left corner.
QPoint CellOrigin(TTheme theme, TRow row, TColumn column);

} // namespace skmgallery
