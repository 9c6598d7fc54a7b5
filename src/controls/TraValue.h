#pragma once
// Value controls on the control base: the volume control (TTraVolume), the vertical gauge
// (TTraValueF) and the time track with its two range marks (TTraTrack).
//
// Values written by program code fire no events and are ignored while the user holds the
// control; only the user's presses and drags fire OnChange, and only when an OnChange is
// set (without one a press changes nothing). The volume control and the track apply the
// pointer from a 200 ms drag timer; the gauge applies every move at once.
//
// Threads: UI thread only; callbacks run synchronously inside pointer events or timer ticks.
// Ownership: controls belong to their parent widget; each owns its drag timer.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "controls/TraBtn.h"

class QTimer;

namespace skm {

// Value changed by the user (volume, gauge).
using TMethodSingleChange = std::function<void(float value)>;
// Playhead or a mark changed by the user.
using TTrackChange = std::function<void(uint64_t value, uint64_t value0, uint64_t value1)>;
// A press on the track began or ended.
using TTrackTrack = std::function<void()>;

// Drag timer interval (ms).
inline constexpr int kDragTimerMs = 200;
// The media time meaning "no time"; written to the track it stores 0.
inline constexpr uint64_t kTrackNoTime = ~uint64_t{0};

// 0 below 0, 1 above 1, else v; NaN gives 0.
float Clamp01(float v);
double Clamp01(double v);
// Whole seconds of a media time (100 ns units) as hours:minutes:seconds, each at least two
// digits; hours are not limited ("100:00:00").
QString TimeText(uint64_t t);

// The 200 ms timer of a drag. In manual mode (SetManualDragTimers) it only remembers being
// on, and the test ticks the control itself.
class TDragTimer {
public:
  explicit TDragTimer(std::function<void()> tick);
  ~TDragTimer();
  void Start();
  void Stop();
  bool Enabled() const { return FEnabled; }
  // Milliseconds between ticks; takes effect at once, also during a drag.
  void SetInterval(int ms);

private:
  std::unique_ptr<QTimer> FTimer;
  bool FEnabled = false;
};

class TTraVolume : public TTraBtnBase {
  Q_OBJECT
public:
  // 60 x 60, value 1.0, timer off; the owner sets isDark afterwards.
  explicit TTraVolume(QWidget* owner = nullptr);
  ~TTraVolume() override;

  // Volume 0..1. Writes are clamped, ignored while pressed, fire nothing.
  float Value() const { return FValue; }
  void SetValue(float v);
  // Called with the new value when the user changes it.
  void SetOnChange(TMethodSingleChange handler) { FChange = std::move(handler); }
  // White foreground on black (true) or black on white.
  void SetIsDark(bool value) override;
  // Background colour that the speaker is cut out in.
  uint32_t BColor() const { return FBColor; }

  // Any button starts the drag timer.
  void BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                    float y) override;
  void BtnMouseMove(QObject* sender, Qt::KeyboardModifiers shift, float x, float y) override;
  // Records the release point; the next tick applies it and stops the timer.
  void BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                  float y) override;
  // Applies the latest pointer y when it moved since the last tick.
  void TimerTick();
  // Whether the drag timer is on.
  bool TimerEnabled() const { return FTimer.Enabled(); }
  void BitmapDraw() override;

private:
  void ValueFromY(float y);

  float FValue = 1.0f;
  uint32_t FBColor = 0;
  TDragTimer FTimer;
  bool FisFTimerStop = false;
  float FTimerY0 = -1;
  float FTimerY1 = -1;
  TMethodSingleChange FChange;
};

class TTraValueF : public TTraBtnBase {
  Q_OBJECT
public:
  // Left-aligned in the parent at its full height, 60 wide, value 1.0.
  explicit TTraValueF(QWidget* owner = nullptr);
  // Same, with the value as given (not clamped), the theme and the callback.
  static TTraValueF* CreateParam(QWidget* parent, float value, bool isDark,
                                 TMethodSingleChange onChange);

  // Value 0..1; writes as for TTraVolume.
  float Value() const { return FValue; }
  void SetValue(float v);
  void SetOnChange(TMethodSingleChange handler) { FChange = std::move(handler); }
  void SetIsDark(bool value) override;

  // Every press, move and release applies the pointer at once.
  void BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                    float y) override;
  void BtnMouseMove(QObject* sender, Qt::KeyboardModifiers shift, float x, float y) override;
  void BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                  float y) override;
  void BitmapDraw() override;

private:
  void ValueFromY(float y);

  float FValue = 1.0f;
  uint32_t FBColor = 0;
  TMethodSingleChange FChange;
};

class TTraTrack : public TTraBtnBase {
  Q_OBJECT
public:
  // Fills the parent; all times 0, timer off.
  explicit TTraTrack(QWidget* owner = nullptr);
  ~TTraTrack() override;

  // Track length. The all-ones time stores 0; every write resets Value0 to 0 and Value1 to
  // Max and is accepted while pressed; Value is left as it is.
  uint64_t Max() const { return FMax; }
  void SetMax(uint64_t v);
  // Playhead and range marks A and B. Writes are ignored while pressed, limited to Max
  // (the all-ones time stores 0), fire nothing and do not reorder the marks.
  uint64_t Value() const { return FValue; }
  void SetValue(uint64_t v);
  uint64_t Value0() const { return FValue0; }
  void SetValue0(uint64_t v);
  uint64_t Value1() const { return FValue1; }
  void SetValue1(uint64_t v);
  // (Value, Value0, Value1) after a user change.
  void SetOnChange(TTrackChange handler) { FChange = std::move(handler); }
  // First thing at every press, and last at every release.
  void SetOnTrackDn(TTrackTrack handler) { FTrackDn = std::move(handler); }
  void SetOnTrackUp(TTrackTrack handler) { FTrackUp = std::move(handler); }
  // How far a Ctrl release (Range0FWD1) or a Shift release (Range0FWD2) on mark A moves
  // it back; given by the owner, used from the next release on.
  static constexpr uint64_t kRange0FWD1Default = 10'000'000;
  static constexpr uint64_t kRange0FWD2Default = 30'000'000;
  uint64_t Range0FWD1() const { return FRange0FWD1; }
  void SetRange0FWD1(uint64_t v) { FRange0FWD1 = v; }
  uint64_t Range0FWD2() const { return FRange0FWD2; }
  void SetRange0FWD2(uint64_t v) { FRange0FWD2 = v; }
  // White on black text colours (true) or black on white.
  void SetIsDark(bool value) override;

  // A press in the upper half on a mark grabs it (B wins where they overlap); with Shift or
  // Ctrl held the press drags nothing.
  void BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                    float y) override;
  void BtnMouseMove(QObject* sender, Qt::KeyboardModifiers shift, float x, float y) override;
  // A Shift or Ctrl release on mark A moves it back by the configured step and the
  // playhead with it; the drag timer stops after its next tick.
  void BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                  float y) override;
  // Applies the latest pointer x when it moved since the last tick.
  void TimerTick();
  bool TimerEnabled() const { return FTimer.Enabled(); }
  // How often a drag applies the pointer (kDragTimerMs unless the owner asks for more):
  // a movie's track applies it fast enough for scrubbing to show a picture per move.
  void SetDragInterval(int ms) { FTimer.SetInterval(ms); }
  void BitmapDraw() override;

protected:
  // Re-creates the bitmap when the logical size changed.
  void BtnResize() override;

private:
  void ValueFromX(float x);
  void Value0Step(uint64_t d);
  void Value0Apply();
  bool StoreIfUp(uint64_t& field, uint64_t v);

  uint64_t FValue = 0;
  uint64_t FValue0 = 0;
  uint64_t FValue1 = 0;
  uint64_t FMax = 0;
  uint64_t FRange0FWD1 = kRange0FWD1Default;
  uint64_t FRange0FWD2 = kRange0FWD2Default;
  uint32_t FBColor = 0;
  TDragTimer FTimer;
  bool FisFTimerStop = false;
  float FTimerX0 = -1;
  float FTimerX1 = -1;
  TTrackChange FChange;
  TTrackTrack FTrackDn;
  TTrackTrack FTrackUp;
};

} // namespace skm
