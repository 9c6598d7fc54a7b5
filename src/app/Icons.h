#pragma once
// Icons of the main window's buttons: SVG path data in the unit square (absolute M, L,
// C and Z), filled with the non-zero rule; holes wind the other way.
//
// Threads: any; constants.

namespace skm::icons {

// An open folder.
extern const char* const kOpens;
// Four pencils side by side.
extern const char* const kPens;
// An eraser block.
extern const char* const kEraser;
// A burst of six short strokes.
extern const char* const kEraseAll;
// Four corner marks around a small cross.
extern const char* const kCenter1;
// Four corner marks around two dots.
extern const char* const kCenter2;
// A circular arrow turning clockwise.
extern const char* const kRedo;
// A circular arrow turning anticlockwise.
extern const char* const kUndo;
// A board on a stand.
extern const char* const kWbrd;
// Two stacked sheets, the lower one filled.
extern const char* const kOpen1;
// Two stacked sheets, the upper one filled.
extern const char* const kOpen2;
// A screwdriver crossed with a wrench.
extern const char* const kSetup;
// A letter i in a circle.
extern const char* const kAbout;
// Three horizontal bars.
extern const char* const kMenu;
// Play and pause (both end with a blank).
extern const char* const kPlay;
extern const char* const kPause;

} // namespace skm::icons
