#pragma once
// The base of every self-drawn control (TTraBtnBase) and the icon button (TTraBtn).
//
// A control owns one bitmap in device pixels (its logical size times the window's device
// pixel ratio) and repaints all of it whenever its state changes; hover and press show as
// the opacity of the whole control. Repaints are never done inside the event that asked
// for them: each request queues one call on the UI thread's event queue, and requests are
// not merged, so every request runs exactly once after the current event.
//
// Threads: UI thread only. Ownership: a control is a QWidget owned by its parent widget;
// callbacks are plain functions the owner binds and must outlive the control's events.
// As with any widget, a control created under (or moved to) a parent that is already
// shown needs show(); controls made before their window is shown appear with it.

#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "controls/Align.h"

class QPainter;

namespace skm {

// Press state. Only the time track uses dmD0 (pressed on range mark A) and dmD1 (mark B).
enum TDnMode : uint8_t { dmUp = 0, dmDn = 1, dmD0 = 2, dmD1 = 3 };

// Foreground colours: white for dark surroundings, black for light ones.
inline constexpr uint32_t kColorWhite = 0xFFFFFFFFu;
inline constexpr uint32_t kColorBlack = 0xFF000000u;

// Height of every control of the kit; width of buttons made by TTraBtn::Create.
inline constexpr int kControlSize = 60;
// Width of a control that does not set one (buttons made by CreateParam are 50 x 60).
inline constexpr int kDefaultControlWidth = 50;
// A press held this long (ms) counts as a right click.
inline constexpr uint32_t kLongPressMs = 2000;

// Callback with the control that fired it.
using TNotifyEvent = std::function<void(QObject* sender)>;

class TTraBtnBase : public QWidget {
  Q_OBJECT
public:
  // Height 60, width 50, opacity TransD, hand pointer; queues the first _BitmapInitDraw,
  // which runs after the creating code has placed and parented the control.
  explicit TTraBtnBase(QWidget* owner = nullptr);
  ~TTraBtnBase() override;

  // Opacity while the pointer is away (0.5 after construction); writing recomputes it.
  float TransD() const { return FTransD; }
  void SetTransD(float v);
  // Opacity while hovered and not pressed (0.6).
  float TransH() const { return FTransH; }
  void SetTransH(float v);
  // Opacity while hovered and pressed (1.0).
  float TransP() const { return FTransP; }
  void SetTransP(float v);

  // True when the foreground is white (dark surroundings).
  bool isDark() const { return FFColor == kColorWhite; }
  // Sets the foreground to white (true) or black and queues a repaint; subclasses with a
  // background colour set it as well.
  virtual void SetIsDark(bool value);

  // Pointer press and release; X and Y in the control's logical coordinates. The widget's
  // own mouse events arrive here, so a subclass's override is what runs.
  virtual void BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                            float x, float y);
  virtual void BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                          float x, float y);
  // Pointer move while captured or hovering; nothing in the base.
  virtual void BtnMouseMove(QObject* sender, Qt::KeyboardModifiers shift, float x, float y);
  // Pointer entered or left the control.
  void BtnMouseEnter();
  void BtnMouseLeave();

  // Paints the whole bitmap; runs only from the queued requests below.
  virtual void BitmapDraw() = 0;

  // Press state.
  TDnMode DnMode() const { return FDnMode; }
  // The pointer is over the control.
  bool isHover() const { return FisHover; }
  // Current opacity of the whole control (from hover and press, see TransUpdate).
  float Opacity() const { return FOpacity; }
  // The control's bitmap in device pixels (null until the first _BitmapInitDraw ran).
  const QImage& Bitmap() const { return FBitmap; }
  // Device pixels per logical unit of the bitmap.
  qreal BitmapScale() const { return FScale; }
  // Repaints queued so far (both kinds), and repaints run; for tests and diagnostics.
  int DrawRequests() const { return FDrawRequests; }
  int DrawsRun() const { return FDrawsRun; }
  // Foreground colour (0xFFFFFFFF or 0xFF000000).
  uint32_t FColor() const { return FFColor; }

  // Places the control in its parent (an edge at full length and its own thickness, the
  // whole parent, or centred at its own size) and keeps it there when the parent is
  // resized. None leaves the geometry to the owner.
  void SetAlign(TAlign align);

protected:
  // Opacity from state: hovered ? (pressed ? TransP : TransH) : TransD. A track pressed on
  // a mark (dmD0, dmD1) counts as not pressed here.
  void TransUpdate();
  // Queue one BitmapDraw on the UI thread.
  void _BitmapDraw();
  // Queue one bitmap re-creation at the window's current scale followed by BitmapDraw.
  void _BitmapInitDraw();
  // Size change: the base only repaints; the bitmap keeps its size and is fitted.
  virtual void BtnResize();
  // Logical size the bitmap was made for.
  QSize BitmapLogicalSize() const { return FLogicalSize; }
  // The bitmap for BitmapDraw to paint on.
  QImage& BitmapRef() { return FBitmap; }

  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  float FTransD = 0.5f;
  float FTransH = 0.6f;
  float FTransP = 1.0f;
  bool FisHover = false;
  TDnMode FDnMode = dmUp;
  uint32_t FFColor = kColorWhite; // always white or black

private:
  void RunInitDraw();
  void WatchParent();
  void ApplyAlign();

  float FOpacity = 0.5f;
  QImage FBitmap;
  qreal FScale = 1.0;
  QSize FLogicalSize;
  int FDrawRequests = 0;
  int FDrawsRun = 0;
  bool FScaleCheckQueued = false;
  TAlign FAlign = TAlign::None;
  QPointer<QWidget> FWatchedParent;
};

// Fills the icon path (unit square) stretched to the central half of a W x H canvas:
// scaled by (W/2, H/2), moved by (W/4, H/4), antialiased, in the given colour.
void IconFill(QPainter& canvas, const QPainterPath& unitPath, int w, int h, uint32_t color);

// Inverts coverage in place: each pixel's alpha becomes 255 - alpha and its colour the
// given colour at that alpha (premultiplied), so an icon on transparency turns into a
// solid block of the colour with the icon cut out. Works on any format (converted to
// premultiplied ARGB32 first).
void BitmapInvert(QImage& bitmap, uint32_t color);

class TTraBtn : public TTraBtnBase {
  Q_OBJECT
public:
  // Base construction, then width 60, no background, not down, no actions.
  explicit TTraBtn(QWidget* owner = nullptr);
  // A 50 x 60 button at (x, y) in parent with the icon, theme and actions given.
  static TTraBtn* CreateParam(QWidget* parent, const QString& svgData, int x, int y, bool isDark,
                              TNotifyEvent executeL, TNotifyEvent executeR);

  // Icon as path data in the unit square; writing an empty string keeps the old picture
  // on screen until the next repaint (no repaint is queued for it).
  const QString& Data() const { return FSVGData; }
  void SetData(const QString& data);
  // Background colour 0xAARRGGBB; alpha 0 means none. Repaints when changed.
  uint32_t BColor() const { return FBColor; }
  void SetBColor(uint32_t color);
  // The inverted "down" look of a toggle; set by the owner, never by the button.
  bool isDown() const { return FisDown; }
  void SetIsDown(bool value);
  // Left-click action.
  const TNotifyEvent& OnExecute() const { return FOnExecute; }
  void SetOnExecute(TNotifyEvent handler) { FOnExecute = std::move(handler); }
  // Right-click and long-press action.
  const TNotifyEvent& OnExecuteR() const { return FOnExecuteR; }
  void SetOnExecuteR(TNotifyEvent handler) { FOnExecuteR = std::move(handler); }

  // Press: base press, then the tick count is remembered.
  void BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                    float y) override;
  // Release inside the button runs OnExecuteR (right button, or held 2000 ms or longer,
  // when set) or else OnExecute (left button); then the base release.
  void BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                  float y) override;
  void BitmapDraw() override;

private:
  QString FSVGData;
  QPainterPath FPath; // FSVGData read once per write
  uint32_t FBColor = 0;
  uint32_t FTime = 0;
  TNotifyEvent FOnExecute;
  TNotifyEvent FOnExecuteR;
  bool FisDown = false;
};

} // namespace skm
