#pragma once
// The user's preferences: program-wide variables named after their keys in the settings
// file, read once when the main window is created and written once when it closes.
//
// Threads: UI thread only; the variables are plain values read directly where needed.

#include <QString>
#include <QStringList>
#include <cstdint>

#include "platform/core/MediaTime.h"

namespace skm {

// All thirteen settings; `gSettings` holds the values in force, `gSettingsDefaults` the
// built-in ones (the setup dialog's Default button restores those, never the file's).
struct TSettings {
  uint8_t Mode = 0;                        // "Theme": 0 Auto, 1 Light, 2 Dark
  TMediaTime Range0FWD1 = 10'000'000;      // "TraTrack": mark A back with Ctrl (0.1..3 s)
  TMediaTime Range0FWD2 = 30'000'000;      // "TraTrack": mark A back with Shift (3..9 s)
  TMediaTime BtnBWardD = 100'000'000;      // "TraLayer": step-back button (0.1..60 s)
  TMediaTime BtnFWardD = 300'000'000;      // "TraLayer": step-forward button (0.1..60 s)
  uint64_t KeyXWard0D = 1;                 // "TraLayer": frames per key step with Ctrl (1..4)
  uint64_t KeyXWard1D = 5;                 // "TraLayer": frames per plain key step (5..9)
  uint64_t KeyXWard3D = 10;                // "TraLayer": frames per key step with Shift (10..20)
  bool ZPPWBrdAutoSave = false;            // "Setup": whiteboard file loaded at start, saved at close
  bool VPOAutoSave = false;                // "Setup": range marks saved automatically
  bool DoSnapBitmap = false;               // "SnapBitmap": frame splitter of lane 1 on
  int32_t Counts = 16;                     // "SnapBitmap": frames the splitter keeps (2..40)
  float Alpha = 2.0f;                      // "SnapBitmap": splitter blending weight (0.1..4)
};

extern TSettings gSettings;
extern TSettings gSettingsDefaults;

// Copies the variables into the defaults copy; runs once at program initialisation.
void SettingsDefaultsKeep();
// Clamps every variable into its range (64-bit values unsigned, Counts signed, Alpha in double).
void SettingsClamp();
// Reads the settings file into the variables (missing file or bad values keep the
// current ones), then clamps.
void SettingsLoad();
// Clamps, then rewrites the settings file keeping unknown sections and keys. False with
// a message when the file cannot be written; the old file then stays as it was.
bool SettingsSave(QString* error = nullptr);
// Same, on an explicit file (the tests and SettingsLoad/Save use these).
void SettingsLoadFrom(const QString& fileName);
bool SettingsSaveTo(const QString& fileName, QString* error = nullptr);

// The folder the settings and whiteboard files live in: the override (SetConfigDir, or
// the environment variable SKM_CONFIG_DIR) if given; else the program's folder when it
// is writable (a portable install); else $XDG_CONFIG_HOME/sketchmark-movies.
QString ConfigDir();
// Overrides the folder (the --config-dir option). Empty restores the default rule.
void SetConfigDir(const QString& dir);
// ConfigDir() + "/sketchmark-movies.ini".
QString SettingsFileName();
// ConfigDir() + "/whiteboard_i.zpp": the whiteboard's annotation file, loaded and saved by
// the main window and deleted by the setup dialog.
QString WhiteboardFileName();

// 0 nothing or other, 1 still image, 2 movie: by the extension, and by the content when
// the extension does not say (KindOf of platform/openkind/OpenKind.h).
int FileKind(const QString& fileName);
// The extensions (lower case, with the dot) of kind 1 or 2; empty for any other kind.
const QStringList& FileKindExtensions(int kind);

} // namespace skm
