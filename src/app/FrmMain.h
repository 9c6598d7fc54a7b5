#pragma once
// The main window: its container tree, the fly-out overlay and the frame of its
// creation and destruction (settings read first, written at close).
//
// Threads: UI thread only.

#include <QWidget>

namespace skm {

class TContainer;
class TThemeWatcher;

class TMainFrm : public QWidget {
  Q_OBJECT
public:
  explicit TMainFrm(QWidget* parent = nullptr);
  ~TMainFrm() override;

  // Shows the overlay with every fly-out hidden (the caller then shows one).
  void RectangleCShow();
  // The overlay's click: hides the overlay (and with it the open fly-out).
  void RectangleCClick();

  // The error of the last settings write at close, empty when it succeeded.
  QString LastSettingsError() const { return FSettingsError; }

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

protected:
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;

private:
  void FormCreate();
  void FormDestroy();
  void FormResize();
  void ThemeUpdate();
  void LayoutMPlace();

  bool FDestroyed = false;
  QString FSettingsError;
  TThemeWatcher* FThemeWatcher = nullptr;
};

} // namespace skm
