#pragma once
// The main window: it owns everything the user works with (the comparison canvas, the
// two annotation lists, per lane a media manager and a transport bar, the bottom bar,
// the seven fly-outs, the opacity gauge and the play-both button), builds them in
// FormCreate and saves and frees them in FormDestroy, and carries out every button and
// key command.
//
// Files reach a lane from the open fly-out, from the command line (OpenArguments) and by
// drag and drop. Opening a movie waits for its first picture with the event loop
// running; while it waits, another open, a drop and the whiteboard switch are refused,
// and a close request ends the open first and then closes.
//
// Threads: UI thread only; the managers' timers and the theme watcher deliver here.
// Ownership: controls are children of the window; the lists and managers are owned here
// and freed explicitly at close, after the controls that refer to them.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>


class QFileDialog;

namespace skm {

class TContainer;
class TThemeWatcher;
class TSkImage;
class TSkPaths;
class TSkTraBtn;
class TSkTraBtnColor;
class TSkTraBtnThickness;
class TSkTraBtnDash;
class TSkTraBtnKind;
class TTraBtn;
class TTraValueF;
class TTraMediaLayout;
class TMfPackManager;
class TFrmSetup;
class TFrmAbout;
class TWindowExtras;

// The open dialog's filter: the movies and pictures FileKind accepts, and all files.
QString OpenDialogFilter();

class TMainFrm : public QWidget {
  Q_OBJECT
public:
  explicit TMainFrm(QWidget* parent = nullptr);
  ~TMainFrm() override;

  // --- Overlay and fly-outs ---------------------------------------------------------
  // Shows the overlay with every fly-out hidden (the caller then shows one).
  void RectangleCShow();
  // The overlay's click: hides the overlay (and with it the open fly-out).
  void RectangleCClick();

  // --- Commands of the buttons (sender: the clicked control) -----------------------
  void TraBtnOpensExecute(QObject* sender = nullptr);
  void TraBtnColorsExecute(QObject* sender = nullptr);
  void TraBtnThicknessesExecute(QObject* sender = nullptr);
  void TraBtnDashesExecute(QObject* sender = nullptr);
  void TraBtnKindsExecute(QObject* sender = nullptr);
  void TraBtnPensExecute(QObject* sender = nullptr);
  void TraBtnEraserExecute(QObject* sender = nullptr);
  void TraBtnEraseAllExecute(QObject* sender = nullptr);
  void TraBtnCenter1Execute(QObject* sender = nullptr);
  void TraBtnCenter2Execute(QObject* sender = nullptr);
  void TraBtnRedoExecute(QObject* sender = nullptr);
  void TraBtnUndoExecute(QObject* sender = nullptr);
  void TraBtnWbrdExecute(QObject* sender = nullptr);
  void TraBtnColorsXExecute(QObject* sender);
  void TraBtnThicknessesXExecute(QObject* sender);
  void TraBtnDashesXExecute(QObject* sender);
  void TraBtnKindsXExecute(QObject* sender);
  void TraBtnPensXExecute(QObject* sender);
  void TraBtnOpen1Execute(QObject* sender = nullptr);
  void TraBtnOpen2Execute(QObject* sender = nullptr);
  void TraBtnMenuExecute(QObject* sender = nullptr);
  void TraBtnSetupExecute(QObject* sender = nullptr);
  void TraBtnAboutExecute(QObject* sender = nullptr);
  void TraBtnPlayXExecute(QObject* sender = nullptr);

  // --- Lanes -------------------------------------------------------------------------
  // The lanes' status reports (bound as the managers' TimerInfoProc).
  void MfPackManager1Info(uint64_t currentTime, float volume, bool isPlaying);
  void MfPackManager2Info(uint64_t currentTime, float volume, bool isPlaying);
  // The play-both button's state from isPlaying1 and isPlaying2.
  void TraBtnPlayXUpdate();
  // Recomputes the transport area from the lanes and whiteboard mode.
  void LaneLayoutUpdate();
  // Opens name into lane 1 or 2 as if it had been chosen in the open dialog: refused
  // (false) while another open runs, in whiteboard mode, and for lane 2 unless lane 1
  // holds a movie. True when the lane took the file.
  bool OpenIntoLane(int lane, const QString& name);
  // The files given on the command line: the first into lane 1, the second into lane 2.
  void OpenArguments(const QStringList& files);
  // A lane is being opened (the open waits for the movie's first picture).
  bool isOpening() const { return FOpening != 0; }

  // --- Theme -------------------------------------------------------------------------
  // Applies the theme in effect to the window and every control.
  void ThemeUpdate();
  // The style resource and the bar and fly-out colours of the theme in effect.
  void StyleUpdate();
  bool isDark() const { return FisDark; }

  // The error of the last settings write at close, empty when it succeeded.
  QString LastSettingsError() const { return FSettingsError; }

  // --- Parts (read by the commands and the tests) -------------------------------------
  // Bottom bar.
  TContainer* RectangleB = nullptr;
  TContainer* LayoutB0 = nullptr;
  TContainer* LayoutBC = nullptr; // the 13 bottom-bar buttons
  TContainer* LayoutBR = nullptr; // the menu button
  // Overlay and its fly-outs, each with its centred layout.
  TContainer* RectangleC = nullptr;
  TContainer* RectanglePens = nullptr;
  TContainer* LayoutPens = nullptr;
  TContainer* RectangleKinds = nullptr;
  TContainer* LayoutKinds = nullptr;
  TContainer* RectangleColors = nullptr;
  TContainer* LayoutColors = nullptr;
  TContainer* RectangleDashes = nullptr;
  TContainer* LayoutDashes = nullptr;
  TContainer* RectangleThicknesses = nullptr;
  TContainer* LayoutThicknesses = nullptr;
  TContainer* RectangleOpens = nullptr;
  TContainer* LayoutOpens = nullptr;
  TContainer* RectangleSetups = nullptr;
  TContainer* LayoutSetups = nullptr;
  // Transport area.
  TContainer* LayoutM = nullptr;
  TContainer* LayoutML = nullptr;
  TContainer* LayoutMC = nullptr;
  TContainer* LayoutM1 = nullptr;
  TContainer* LayoutM2 = nullptr;

  // Last play states reported by the lanes.
  bool isPlaying1 = false;
  bool isPlaying2 = false;
  // The canvas and the two annotation lists it is pointed at.
  TSkImage* SkImage = nullptr;
  TSkPaths* SkPathsIMGS = nullptr;
  TSkPaths* SkPathsWBRD = nullptr;
  // Bottom-bar buttons showing the current style, and their presets.
  TSkTraBtnColor* TraBtnColors = nullptr;
  std::array<TSkTraBtnColor*, 9> TraBtnColorsX{};
  TSkTraBtnThickness* TraBtnThicknesses = nullptr;
  std::array<TSkTraBtnThickness*, 8> TraBtnThicknessesX{};
  TSkTraBtnDash* TraBtnDashes = nullptr;
  std::array<TSkTraBtnDash*, 5> TraBtnDashesX{};
  TSkTraBtnKind* TraBtnKinds = nullptr;
  std::array<std::array<TSkTraBtnKind*, 8>, 2> TraBtnKindsX{};
  TTraBtn* TraBtnPens = nullptr;
  std::array<TSkTraBtn*, 10> TraBtnPensX{};
  // Icon buttons.
  TTraBtn* TraBtnOpens = nullptr;
  TTraBtn* TraBtnOpen1 = nullptr;
  TTraBtn* TraBtnOpen2 = nullptr;
  TTraBtn* TraBtnEraser = nullptr;
  TTraBtn* TraBtnEraseAll = nullptr;
  TTraBtn* TraBtnCenter1 = nullptr;
  TTraBtn* TraBtnCenter2 = nullptr;
  TTraBtn* TraBtnRedo = nullptr;
  TTraBtn* TraBtnUndo = nullptr;
  TTraBtn* TraBtnWbrd = nullptr;
  TTraBtn* TraBtnMenu = nullptr;
  TTraBtn* TraBtnSetup = nullptr;
  TTraBtn* TraBtnAbout = nullptr;
  // Transport area: lane 2's opacity, play both, the lanes' bars.
  TTraValueF* TraOpacity = nullptr;
  TTraBtn* TraBtnPlayX = nullptr;
  TTraMediaLayout* TraMedialayout1 = nullptr;
  TTraMediaLayout* TraMedialayout2 = nullptr;
  // The lanes' media managers.
  TMfPackManager* MfPackManager1 = nullptr;
  TMfPackManager* MfPackManager2 = nullptr;

  // Linked lanes and the view export.
  TWindowExtras* Extras = nullptr;

  // Replaces the open dialog (tests): returns the chosen file or empty for cancel.
  std::function<QString(const QString& folder)> OpenDialogHook;
  // The open dialog's folder for this run (the folder of the last file chosen).
  QString OpenDialogFolder() const { return FOpenFolder; }

protected:
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

private:
  void FormCreate();
  void FormDestroy();
  void FormResize();
  void KeyDown(int key, Qt::KeyboardModifiers shift);
  void LayoutMPlace();
  void WhiteboardLeave(int k1);
  // The open dialog, then MediaOpen; the returned name is empty when nothing opened.
  QString MediaOpenDialog(int lane);
  QString MediaOpen(const QString& name, int lane);
  void CentreAgain();
  // Gives the transport bars the settings in force.
  void SettingsPassDown();
  void ThemeControls();

  bool FisDark = true;
  bool FDestroyed = false;
  int FOpening = 0;             // opens in progress (0 or 1)
  bool FCloseRequested = false; // a close arrived while a lane was opening
  bool FBoardShown = false;     // the whiteboard is lane 1's picture: its frames wait
  QString FSettingsError;
  QString FOpenFolder;
  TThemeWatcher* FThemeWatcher = nullptr;
  TFrmSetup* FFrmSetup = nullptr;
  TFrmAbout* FFrmAbout = nullptr;
};

} // namespace skm
