#pragma once
// TTraMediaLayout: the transport bar of one lane. A strip with play/pause, the rate gauge,
// step back and step forward, the volume control and the time track with range marks A
// and B. It turns presses, drags and the lane's keys into calls on the lane's media
// manager, keeps the lane's marked range and its position file (".vpo" beside the movie),
// and holds the rate applied whenever the lane starts.
//
// Threads: UI thread only. Key steps and the pause at mark B are queued on the UI thread's
// event queue and run after the event that asked for them; a queued step reads the
// position when it runs, so steps queued behind each other add up.
//
// Ownership: the bar is a QWidget owned by its parent and owns its six controls and three
// inner containers. It never owns the manager; the owner destroys the bar before the
// manager. Settings values come from the owner (SetLayerSettings); the bar reads no
// settings of its own.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "media/MfPackManager.h"
#include "platform/core/MediaTime.h"

class QTimer;

namespace skm {

class TTraBtn;
class TTraVolume;
class TTraTrack;
class TTraFrameReadout;

// What the user just did to a lane through its bar (reported to OnUserAction).
enum class TTraUserAction : uint8_t {
  Start,     // started playing (after the start's wait)
  Pause,     // asked a playing lane to pause
  Rate,      // chose another rate (RateQue)
  Seek,      // a step button, a key step or a track move sent the lane to a time
  TrackDown, // a press on the track began (the lane is paused and silent)
  TrackUp,   // the press ended (volume and play state restored)
};

// The rate the rate button shows.
enum TMediaRate : uint8_t { mrNone = 0, mrHalf = 1, mrNormal = 2, mrDouble = 3 };

// The "TraLayer" values the bar acts on; the defaults are the settings' defaults.
struct TTraLayerSettings {
  TMediaTime BtnBWardD = 100'000'000; // step-back button: 10 s
  TMediaTime BtnFWardD = 300'000'000; // step-forward button: 30 s
  uint64_t KeyXWard0D = 1;            // frames per key step with Ctrl held
  uint64_t KeyXWard1D = 5;            // frames per key step without Shift or Ctrl
  uint64_t KeyXWard3D = 10;           // frames per key step with Shift held
};

// Icons of the bar (SVG path data in the unit square).
extern const char* const kIconPlay;
extern const char* const kIconPause;
extern const char* const kIconBWard;
extern const char* const kIconFWard;
extern const char* const kIconRateNormal;
extern const char* const kIconRateHalf;
extern const char* const kIconRateDouble;

// The position file of a movie: the text after the last dot of the file name (not of a
// folder name) replaced by "vpo"; a file name without a dot gets ".vpo" appended.
QString PositionFileName(const QString& movie);
// A value of the position file: more than two characters starting with "0x" (either case)
// are hexadecimal, anything else a decimal integer with an optional sign; nothing when it
// does not parse.
std::optional<int64_t> ParsePositionValue(std::string_view text);

class TTraMediaLayout : public QWidget {
  Q_OBJECT
public:
  // How long TraStartExecute waits for the lane to report playing before it gives up on
  // applying the queued rate (ms).
  static constexpr int kStartWaitMs = 2000;
  // The limit in force (tests shorten it).
  int StartWaitMs = kStartWaitMs;

  // Builds the bar inside aParent, filling it: the four buttons in a 240-wide strip at the
  // left, the volume control in a 60-wide strip at the right, the track in between.
  TTraMediaLayout(QWidget* aParent, TMfPackManager* aMfPackManager, bool aisDark, float aTransD);
  // The same, in the kit's creation style. Qt's parent owns a widget, so aParent owns the
  // bar; aOwner (the window) is accepted for symmetry with the other controls.
  static TTraMediaLayout* CreateParam(QWidget* aOwner, QWidget* aParent, TMfPackManager* aMfPackManager,
                                      bool aisDark, float aTransD);
  ~TTraMediaLayout() override;

  // --- the parts (public, as the owner and tests reach them) ---
  // The lane's manager, not owned; reads as null once the manager is gone, so a bar that
  // outlives its manager does nothing.
  QPointer<TMfPackManager> FMfPackManager;
  QWidget* LayoutB = nullptr;               // button strip, left
  QWidget* LayoutT = nullptr;               // track area, middle
  QWidget* LayoutS = nullptr;               // volume strip, right
  TTraBtn* TraStart = nullptr;              // play/pause
  TTraBtn* TraMRate = nullptr;              // rate gauge
  TTraBtn* TraBWard = nullptr;              // step back
  TTraBtn* TraFWard = nullptr;              // step forward
  TTraVolume* TraVolume = nullptr;          // volume
  TTraTrack* TraTrack = nullptr;            // time track with marks A and B
  TTraFrameReadout* TraReadout = nullptr;   // frame number and time over the track

  // --- properties ---
  // White foreground (dark surroundings); writing sets all six controls.
  bool isDark() const;
  void SetIsDark(bool value);
  // The movie's duration; writing sets the track's Max and resets the marks to 0 and it.
  TMediaTime Duration() const { return FDuration; }
  void SetDuration(TMediaTime a);
  // Idle opacity of the six controls.
  float TransD() const { return FTransD; }
  void SetTransD(float value);
  // The rate the lane plays at after its next start: 0.5, 1.0 or 2.0.
  float RateQue() const { return FRateQue; }
  void SetRateQue(float x);
  // Range marks A and B; writes are clamped to the duration and move the track's marks
  // (not while the track is pressed). They are never reordered.
  TMediaTime Range0() const { return FRange0; }
  void SetRange0(TMediaTime a);
  TMediaTime Range1() const { return FRange1; }
  void SetRange1(TMediaTime a);
  // The "TraLayer" values in use.
  const TTraLayerSettings& LayerSettings() const { return FLayer; }
  void SetLayerSettings(const TTraLayerSettings& s) { FLayer = s; }
  // The rate the rate button shows, and the play state the play/pause icon shows.
  TMediaRate MediaRate() const { return FMediaRate; }
  bool DisPlaying() const { return FDisPlaying; }

  // --- status from the manager's 200 ms report ---
  // Moves the track and the volume control, follows the play state with the icon, and
  // pauses the lane once it has played past mark B.
  void LayoutInfo(TMediaTime CurrentTime, float Volume, bool isPlaying);

  // --- the controls' handlers (also callable by the owner) ---
  // Pauses a playing lane; otherwise starts it inside the marked range (from mark A when
  // outside) and applies the queued rate once the lane plays.
  void TraStartExecute(QObject* Sender = nullptr);
  // Cycles the rate 1.0 -> 2.0 -> 0.5 -> 1.0; a playing lane changes at once.
  void TraMRateExecute(QObject* Sender = nullptr);
  // To mark A when set, else back by BtnBWardD (nothing when that would cross 0).
  void TraBWardExecute(QObject* Sender = nullptr);
  // To mark B when before the end, else on by BtnFWardD (nothing past the duration).
  void TraFWardExecute(QObject* Sender = nullptr);
  void TraVolumeChange(float Volume);
  void TraTrackChange(uint64_t CurrentTime, uint64_t aRange0, uint64_t aRange1);
  // A press on the track: silence and pause while scrubbing.
  void TrackDown();
  // The release: volume and play state of before the press come back.
  void TrackUp();

  // --- keyboard operations (called by the main window) ---
  // Steps back or forward by whole frames: Shift KeyXWard3D, else Ctrl KeyXWard0D, else
  // KeyXWard1D. Queued; ignores the marks; clamps at 0 and the track's end.
  void TraBWardKeyExecute(Qt::KeyboardModifiers AShift);
  void TraFWardKeyExecute(Qt::KeyboardModifiers AShift);
  // Sets mark A or B at the current position (pausing a playing lane first).
  void TraRange0KeyExecute();
  void TraRange1KeyExecute();

  // --- the position file ---
  // Reads the marks of the open movie's position file; nothing when the movie file is gone.
  void RangesOpenFromFile();
  // Writes the marks into the open movie's position file, keeping its other sections and
  // keys. True when written. A write that fails leaves the file and the marks as they were,
  // tells the user once through the message service and returns false; nothing is
  // written (and nothing said) without a movie or when the movie file is gone.
  bool RangesSaveToFile();

  // --- following another lane (the owner's lane link) ---
  // Called after each user action on this lane, with the time the lane was sent to (Seek)
  // or its position (the others). Not called for what the owner does through the bar's
  // methods while this callback runs; the callback may call into either bar.
  std::function<void(TTraUserAction, TMediaTime)> OnUserAction;
  // Sends the lane to t (clamped to the duration) as a step does, moving the track and the
  // readout. With pause, a playing lane is paused first and the seek waits for the pause
  // (a seek during it would take its place); otherwise the lane keeps playing or resting.
  // Nothing without video.
  void FollowSeek(TMediaTime t, bool pause = false);
  // Between a press on the track this bar acted on and its release.
  bool isTracking() const { return FisTracking; }

  // Frames per key step for the modifiers held.
  uint64_t KeyStep(Qt::KeyboardModifiers AShift) const;
  // Key steps queued and not yet run, and whether the bar is still following a seek that
  // has not landed (for tests and the benchmark).
  int StepsQueued() const { return FStepsQueued; }
  bool SettlePending() const;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  bool HasVideo() const;
  QString StartIcon();
  void RateFromQue();
  QString RateIcon() const;
  void KeyStepQueue(bool back, Qt::KeyboardModifiers AShift);
  // waited: ms spent so far waiting for a pause under way.
  void KeyStepRun(bool back, uint64_t n, int waited = 0);
  // Applies the held track target once the lane's pause has taken effect.
  void HeldSeekRun(int waited);
  void RangeKey(bool markB);
  // Queues fn on the UI thread, after the current event.
  void Post(std::function<void()> fn);
  // Seeks the lane and holds the frame check off until the seek has landed.
  void Seek(TMediaTime t);
  // The lane's position, or the target of the bar's last seek while it has not landed.
  TMediaTime Position() const;
  // Follows the last seek until it has landed, then has the manager deliver that frame
  // once and turns the frame check on (key steps and track presses hold it off meanwhile).
  void SettleThenCheck();
  void SettleTick();

  // Tells OnUserAction, unless it is already running.
  void UserAction(TTraUserAction a, TMediaTime t);
  bool FisInAction = false;
  void FollowRun(int waited);
  TMediaTime FFollowTarget = kNoPosition; // FollowSeek's target while it waits for a pause
  bool FFollowPause = false;
  bool FFollowWaiting = false;
  // Shows t (the lane's position, or the target of a seek under way) in the readout.
  void ReadoutUpdate(TMediaTime t);

  bool FisPlaying = false;    // play state when a track press began
  bool FisMarkDrag = false;   // a press on the track has moved a mark
  bool FDisPlaying = false;   // play state the play/pause icon shows
  bool FisTracking = false;   // between an accepted TrackDown and its TrackUp
  bool FisWaiting = false;    // TraStartExecute is waiting for the lane to play
  float FVolume = 1.0f;       // volume when a track press began
  float FTransD = 0.5f;
  TMediaTime FRange0 = 0;
  TMediaTime FRange1 = 0;
  TMediaTime FDuration = 0;
  float FRateQue = 0.0f;
  TMediaRate FMediaRate = mrNone;
  TTraLayerSettings FLayer;
  int FStepsQueued = 0;
  QTimer* FSettle = nullptr;  // polls the player until the last seek has landed
  int FSettleTicks = 0;
  TMediaTime FSeekTarget = kNoPosition;         // the bar's last seek, until it has landed
  TMediaTime FHeldSeek = kNoPosition;           // a drag's target waiting for the pause
  std::vector<std::function<void()>> FDeferred; // queued work held back during the wait
};

} // namespace skm
