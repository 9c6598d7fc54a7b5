#pragma once
// The headless form of the export of what the canvas shows, for scripts and tests:
//
//   sketchmark-movies --export-view LANE1 [LANE2] [--frame N] [--frame2 M]
//                     [--opacity X] [--side-by-side] [--annotations FILE.zpp] --output OUT.png
//
// Each lane is a movie (its frame N, or M for lane 2, exactly as --export-frame gives it)
// or a still image; the picture is composed as a freshly fitted canvas shows it, at lane
// 1's own resolution (ViewExport.h), and written through a temporary file and a rename.
//
// Threads: main thread, with a QGuiApplication present. Messages go to stderr.

#include <QString>
#include <QtGlobal>

namespace skm {

// The options of --export-view.
struct TViewExportOptions {
  QString Lane1;
  QString Lane2;             // empty: lane 1 alone
  qint64 Frame = 0;          // lane 1's frame
  qint64 Frame2 = -1;        // lane 2's frame; -1: the same as Frame
  float Opacity = 0.5f;      // lane 2's opacity when stacked
  bool SideBySide = false;
  QString Annotations;       // annotation file, empty: none
  QString Output;
};

// True when the command line asks for --export-view.
bool IsViewExportCommand(int argc, char** argv);
// Parses the command line of --export-view. False, after a message, on a bad or missing
// option (exit code 2).
bool ViewExportParse(int argc, char** argv, TViewExportOptions& o);
// Runs the export; the process exit code (0 success, 1 a failure reported on stderr).
int RunViewExport(const TViewExportOptions& o);
// Parses and runs in a headless application; the process exit code.
int ViewExportMain(int argc, char** argv);

} // namespace skm
