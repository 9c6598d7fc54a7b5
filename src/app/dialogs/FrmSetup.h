#pragma once
// The setup dialog: edits the settings in memory (gSettings) when closed with OK, previews
// a theme choice while open, and can delete the whiteboard file at once. The settings
// file is written later, by the main window at close.
//
// Threads: UI thread only. The dialog is modal; Execute returns when it closes.
// Ownership: the controls belong to the dialog; the dialog belongs to its parent window
// (the main window), over which it is centred.

#include <QDialog>
#include <functional>

#include "app/settings/Setup.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace skm {

class TNumberBoxD;
class TNumberBoxI;

class TFrmSetup final : public QDialog {
  Q_OBJECT
public:
  // Creates the dialog hidden, with every control in place.
  explicit TFrmSetup(QWidget* parent = nullptr);

  // Fills the controls from the settings, shows the dialog modally and, when it closes
  // with OK, stores the controls' values into gSettings. True for OK; false for Cancel,
  // Escape or the title bar's close, after which no setting has changed and the style of
  // the theme in effect is applied again (undoing a preview).
  bool Execute();
  // Makes the style of the theme in effect (IsLightTheme: "WIN10LIGHT", else
  // "WIN10DARK") the application's style.
  void ThemeUpdate();

  // The whiteboard file was deleted (or was already gone) while the dialog was open.
  // Cleared by Execute; the main window empties its whiteboard list after OK when set.
  bool isZPPWBrdClear = false;

  // The controls, named as the settings they edit (public for the tests and gallery).
  QLabel* Label1 = nullptr;                 // "Theme:"
  QComboBox* cbTheme = nullptr;             // "Auto", "Light", "Dark" = Mode
  QLabel* Label2 = nullptr;
  TNumberBoxD* nbTR0FWD1 = nullptr;         // Range0FWD1 in seconds, 0.1..3.0
  QLabel* Label3 = nullptr;
  TNumberBoxD* nbTR0FWD2 = nullptr;         // Range0FWD2 in seconds, 3.0..9.0
  QLabel* Label4 = nullptr;
  TNumberBoxD* nbBWardD = nullptr;          // BtnBWardD in seconds, 0.1..60.0
  QLabel* Label5 = nullptr;
  TNumberBoxD* nbFWardD = nullptr;          // BtnFWardD in seconds, 0.1..60.0
  QCheckBox* cbWBrdZPPSave = nullptr;       // ZPPWBrdAutoSave
  QPushButton* btDeleteZPP = nullptr;       // deletes the whiteboard file
  QCheckBox* cbVPOSave = nullptr;           // VPOAutoSave
  QLabel* Label6 = nullptr;
  TNumberBoxI* nbXWard1D = nullptr;         // KeyXWard1D, 5..9
  QLabel* Label7 = nullptr;
  TNumberBoxI* nbXWard0D = nullptr;         // KeyXWard0D, 1..4
  QLabel* Label8 = nullptr;
  TNumberBoxI* nbXWard2D = nullptr;         // KeyXWard3D, 10..20
  QCheckBox* cbSnapBitmaps = nullptr;       // DoSnapBitmap
  QLabel* Label10 = nullptr;
  TNumberBoxI* nbSnapBitmapsCount = nullptr; // Counts, 2..40
  QLabel* Label9 = nullptr;
  TNumberBoxD* nbSnapBitmapsAlpha = nullptr; // Alpha, 0.1..4.0
  QPushButton* BtDefault = nullptr;         // fills the controls with the built-in defaults
  QPushButton* BtCancel = nullptr;          // closes with Cancel
  QPushButton* BtOK = nullptr;              // closes with OK (also Enter)

public slots:
  // Previews the chosen theme's style in every window at once (Auto: the system's switch).
  void cbThemeChange(int index);
  // The splitter boxes are enabled exactly when the splitter is switched on.
  void cbSnapBitmapsChange();
  // Fills the controls from the built-in defaults (gSettingsDefaults); stores nothing.
  void BtDefaultClick();
  // Asks (No is the default), then moves the whiteboard file to the trash and sets
  // isZPPWBrdClear. When the file exists but can be neither trashed nor deleted, one
  // message names it and isZPPWBrdClear stays as it was.
  void btDeleteZPPClick();

  // Fills the controls from the given settings, as Execute does from gSettings and
  // Default from gSettingsDefaults (changing the theme item previews it).
  void FillControls(const TSettings& s);

private:
  // Stores the controls into gSettings (after OK).
  void StoreControls();
  // Whether the style last applied (by ThemeUpdate or a preview) is the light one.
  bool FStyleLight = true;
};

// What the setup command needs of the main window, which owns the lists, the canvas and
// the managers the dialog's changes reach.
struct TSetupCommandHooks {
  std::function<void()> HideOverlay;       // hide RectangleC before the dialog opens
  std::function<void()> ThemeUpdate;       // the main window's ThemeUpdate, after ThemeInit
  std::function<void()> ClearWhiteboard;   // SkPathsWBRD.Clear; redraw it in whiteboard mode
  std::function<void(bool)> SetSnapBitmaps; // MfPackManager1.isSnapBitmaps := DoSnapBitmap
};

// The setup button's command: HideOverlay; Execute; after OK: ThemeInit, ThemeUpdate,
// ClearWhiteboard when isZPPWBrdClear, SetSnapBitmaps(DoSnapBitmap). Nothing after Cancel.
// Empty hooks are skipped. Returns Execute's result.
bool TraBtnSetupExecute(TFrmSetup& frmSetup, const TSetupCommandHooks& hooks);

} // namespace skm
