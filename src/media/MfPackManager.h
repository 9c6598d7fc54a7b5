#pragma once
// TMfPackManager: the per-lane front of the playback engine. It owns one playback
// session at a time, opens movies by file name (returning only once the picture can be
// shown), polls the session every 10 ms for a changed frame and every 200 ms for its
// status, and keeps the frame splitter's ring of the last frames shown.
//
// Threads: UI thread only, timers included. The session's own event thread never calls
// in here. Ownership: the manager owns its player and SnapBitmap; the QImage passed to
// TimerViewProc stays the manager's (receivers copy what they keep, which for a QImage is
// a cheap shared copy).

#include <QImage>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/core/MediaTime.h"

class QTimer;

namespace skm {

class TMfPackPlayer;

class TMfPackManager : public QObject {
  Q_OBJECT
public:
  // The frame event: the lane's current picture (the manager's SnapBitmap).
  using TTimerViewProc = std::function<void(const QImage& bitmap)>;
  // The status event: position, volume (not clamped) and whether the lane plays.
  using TTimerInfoProc = std::function<void(TMediaTime crrentTime, float volume, bool isPlaying)>;

  // How long an open waits for the picture before it gives up.
  static constexpr int kOpenWaitMs = 10'000;
  // The limit in force (tests shorten it).
  int OpenWaitMs = kOpenWaitMs;

  explicit TMfPackManager(QObject* parent = nullptr);
  ~TMfPackManager() override;

  // The open movie's path; empty when none.
  QString FileName() const;
  // Opens a movie on a new player (empty: closes). Returns once the picture can be shown,
  // or with FileName empty and a message when it cannot.
  void SetFileName(const QString& value);
  // Position; all ones when nothing is open.
  TMediaTime CurrentTime() const;
  // Seeks (remembered by the player while a command is pending).
  void SetCurrentTime(TMediaTime value);
  // Duration of the open movie; 0 when none.
  TMediaTime Duration() const;
  // The rate requested last.
  float Rate() const;
  // Requests a rate (ignored where the player cannot play it).
  void SetRate(float value);
  // The player reports Started (true from the moment a start was issued).
  bool isPlaying() const;
  // Frame size, frame rate and frame duration of the open movie.
  uint32_t MediaWidth() const;
  uint32_t MediaHeight() const;
  double MediaFPS() const;
  TMediaTime MediaSTEP() const;
  // The video renderer is up.
  bool HasVideo() const;
  // Volume clamped to 0..1; writing clamps too.
  float Volume() const;
  void SetVolume(float value);
  // Deliver frames only when the frame index changed (false while stepping or dragging).
  bool isCheckTimer() const { return FisCheckTimer; }
  void SetIsCheckTimer(bool value) { FisCheckTimer = value; }
  // The frame splitter is on; writing true again applies a changed ring size.
  bool isSnapBitmaps() const { return FisSnapBitmaps; }
  void SetIsSnapBitmaps(bool value);
  // The frame splitter's settings, given by the owner: how many frames the ring keeps
  // (clamped to 2..40; applied when the splitter is next switched on, or on again) and the
  // blending weight shared out among the older frames (clamped to 0.1..4, NaN to 0.1;
  // used from the next composite on).
  static constexpr int32_t kSnapCountsDefault = 16;
  static constexpr float kSnapAlphaDefault = 2.0f;
  int32_t SnapCounts() const { return FSnapCounts; }
  void SetSnapCounts(int32_t value);
  float SnapAlpha() const { return FSnapAlpha; }
  void SetSnapAlpha(float value);

  // Start when paused, stopped or opening.
  void MediaStart();
  // Pause when playing; the splitter composes at the next frame.
  void MediaPause();
  // Toggle between the two.
  void MediaStartPause();
  // Stops the timers and shuts the player down.
  void MediaClose();
  // Seeks forward by aTime, not past Duration.
  void MediaForward(TMediaTime aTime);
  // Seeks back by aTime, not before 0.
  void MediaBackward(TMediaTime aTime);
  // Takes the current picture again and delivers it.
  void MediaBitmapGet();
  // Walks the splitter's singled-out frame: -1 older, 1 newer, 0 none, else the oldest.
  void SnapBitmapsDrawIndex(int32_t aIndex);

  // Assigned by the owner after construction.
  TTimerViewProc TimerViewProc;
  TTimerInfoProc TimerInfoProc;

  // Read access for the lane's owner and the tests.
  const QImage& Snapshot() const { return SnapBitmap; }
  bool TimerViewActive() const;
  bool TimerInfoActive() const;
  const std::vector<QImage>& Ring() const { return SnapBitmaps; }
  int32_t RingIndex() const { return SnapBitmapsIndex; }
  int32_t RingCurrent() const { return SnapBitmapsCurrent; }
  bool RingDrawQueued() const { return isSnapBitmapsDrawing; }
  // The player in use (tests drive edge cases through it).
  TMfPackPlayer* Player() const { return FMfPackPlayer.get(); }
  // A non-owning handle on the player in use (tests check that a dropped one is freed).
  std::weak_ptr<TMfPackPlayer> PlayerRef() const { return FMfPackPlayer; }

  // One frame poll and one status report, as the timers run them.
  void TimerViewTick();
  void TimerInfoTick();

private:
  void RecreatePlayer();
  void DropPlayer();
  bool WaitForVideo();
  void StartCommand(uint8_t cmd);
  void StopTimers();

  // Frame splitter ring.
  void RingCreate();
  void RingFree();
  void RingResize();
  void RingClear();
  void RingPush();
  int32_t RingNext(int32_t i) const;
  int32_t RingPrev(int32_t i) const;
  void SnapCompose();

  TMediaTime DrawTime = 0;          // frame index of the frame last delivered
  QTimer* TimerView = nullptr;      // frame poll, 10 ms
  QTimer* TimerInfo = nullptr;      // status report, 200 ms
  bool TimerViewF = false;          // a frame poll is running
  bool TimerInfoF = false;          // a status report is running
  bool isOpening = false;           // a FileName write is waiting for the picture
  std::shared_ptr<TMfPackPlayer> FMfPackPlayer;
  bool FisCheckTimer = true;
  QImage SnapBitmap;                // last frame; target of the composite
  bool FisSnapBitmaps = false;
  int32_t FSnapCounts = kSnapCountsDefault;
  float FSnapAlpha = kSnapAlphaDefault;
  int32_t SnapBitmapsIndex = 0;     // ring slot written next
  int32_t SnapBitmapsCurrent = 0;   // ring slot shown opaque
  bool isDoSnapBitmapsDraw = false; // compose at the next delivered frame
  bool isSnapBitmapsDrawing = false;// a composite is drawn or queued
  std::vector<QImage> SnapBitmaps;  // the ring
  // Guards queued compositions against a manager freed before they run.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

} // namespace skm
