#pragma once
// TMfPackPlayer: the playback session of one lane. It opens a movie by path, routes
// every selected stream to the framework's audio or video renderer, runs the media
// session and offers start, pause, stop, seek and rate commands. The framework's
// commands complete asynchronously: while one waits for its completion event, later
// requests are remembered (only the last one counts) and carried out on completion.
//
// Threads: the lane's owner calls every public operation from the UI thread. The
// framework calls Invoke on the session's event thread; the event handling, the
// completion of pending commands and the commands those issue run there. The player's
// re-entrant lock orders the two; GetState, HasVideo and the capability bits are read
// without it. The close wait in ShutDown is the only blocking wait (at most 2000 ms).
//
// Ownership: always held by std::shared_ptr (Create). While an event request is
// outstanding the session holds a reference too, so a callback never reaches a
// destroyed player; the last holder to let go destroys it, on whichever thread.

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/core/MediaTime.h"
#include "platform/mediafw/MediaFoundation.h"

class QImage;

namespace skm {

// Commands of the state machine (one byte).
enum class TCommand : uint8_t {
  CmdNone = 0,
  CmdStop = 1,
  CmdStart = 2,
  CmdStartPlayBack = 3,
  CmdPause = 4,
  CmdSeek = 5,
  CmdClosing = 6,
  CmdOpenPending = 7,
  CmdClosed = 8,
  CmdReady = 9,
};

// What GetState reports (one byte). The numbers are the ones the state has always had;
// 4 and 5 are unused.
enum class TPlayerState : uint8_t {
  Closed = 0,
  Ready = 1,
  OpenPending = 2,
  Started = 3,
  Paused = 6,
  Stopped = 7,
  Closing = 8,
};

// A command with its state, rate and position: the one in progress (m_State) or the
// one remembered (m_Request). State is atomic because GetState reads it without the lock.
struct TSeekState {
  TCommand Command = TCommand::CmdNone;
  std::atomic<TPlayerState> State{TPlayerState::Closed};
  float fRate = 1.0f;
  bool bThin = false;
  TMediaTime hnsStart = 0;

  TSeekState() = default;
  TSeekState(const TSeekState& o)
      : Command(o.Command), State(o.State.load()), fRate(o.fRate), bThin(o.bThin), hnsStart(o.hnsStart) {}
  TSeekState& operator=(const TSeekState& o) {
    Command = o.Command;
    State.store(o.State.load());
    fRate = o.fRate;
    bThin = o.bThin;
    hnsStart = o.hnsStart;
    return *this;
  }
};

// The player's lock: re-entrant for the owning thread.
class TCritSec {
public:
  // Enters; re-entrant for the owning thread.
  void Lock() { m_pCriticalSection.lock(); }
  // Leaves once.
  void Unlock() { m_pCriticalSection.unlock(); }

private:
  std::recursive_mutex m_pCriticalSection;
};

// Holds a TCritSec for its scope.
class TAutoLock {
public:
  // Locks crit until destruction.
  explicit TAutoLock(TCritSec& crit) : m_pCriticalSection(crit) { m_pCriticalSection.Lock(); }
  ~TAutoLock() { m_pCriticalSection.Unlock(); }
  TAutoLock(const TAutoLock&) = delete;
  TAutoLock& operator=(const TAutoLock&) = delete;

private:
  TCritSec& m_pCriticalSection;
};

class TMfPackPlayer final : public mf::IAsyncCallback,
                            public std::enable_shared_from_this<TMfPackPlayer> {
  struct TCloseEvent;
  struct TPrivateTag {};

public:
  using HRESULT = mf::HRESULT;

  // Starts the framework and makes an empty player; nullptr (after a message) when the
  // framework cannot be started. fw: the framework to use (the default one if empty).
  static std::shared_ptr<TMfPackPlayer> Create(std::shared_ptr<mf::IMediaFramework> fw = {});
  TMfPackPlayer(TPrivateTag, std::shared_ptr<mf::IMediaFramework> fw);
  ~TMfPackPlayer() override;
  TMfPackPlayer(const TMfPackPlayer&) = delete;
  TMfPackPlayer& operator=(const TMfPackPlayer&) = delete;

  // --- the session ---
  // Opens a movie; 0 or positive on success. A failure is shown as a message.
  HRESULT OpenURL(const QString& sURL);
  // CmdNone and CmdSeek: 0; CmdStop, CmdStart, CmdStartPlayBack, CmdPause: the command;
  // anything else: E_NOTIMPL.
  HRESULT SendPlayerCommand(TCommand cmd);
  // Closes the session and the close-wait event; 0 when there was nothing to close.
  HRESULT ShutDown();
  // The player state, read without the lock.
  TPlayerState GetState() const { return m_State.State.load(); }
  // The video renderer is up.
  bool HasVideo() const;
  // Puts the renderer's current frame into bit (Format_ARGB32_Premultiplied, sharing the
  // renderer's pixels without a copy): 0; 1 with bit unchanged when there is none.
  HRESULT TakeSnapShot(QImage& bit);
  // Sets every channel to value clamped to 0..1, then reads channel 0 back.
  void SetVolume(float value);
  // Channel 0's volume (the last value read when there is no audio).
  float GetVolume();
  // Reads the duration from the source into dur and Duration.
  HRESULT GetInitialDuration(TMediaTime& dur);

  // --- properties ---
  // Duration of the open movie; 0 when none.
  TMediaTime Duration() const;
  // The position (a pending seek's target meanwhile); all ones without a clock.
  TMediaTime CurrentTime();
  // Seeks; remembered while a command is pending.
  void SetCurrentTime(TMediaTime position);
  // The session can seek in this movie.
  bool CanSeek() const;
  // The session can play forward at other rates.
  bool CanFastForward() const { return (m_Caps.load() & mf::MFSESSIONCAP_RATE_FORWARD) != 0; }
  // The session can play in reverse.
  bool CanFastRewind() const { return (m_Caps.load() & mf::MFSESSIONCAP_RATE_REVERSE) != 0; }
  // The rate requested last.
  float Rate();
  // Requests a rate; the result is dropped.
  void SetRate(float aRate) { SetMovieRate(aRate); }
  // Requests a rate: false without rate control, for 0, and for a direction the
  // session cannot play.
  bool SetMovieRate(float aRate);
  // Frame size, frame rate and frame duration of the open movie (Step is never 0).
  uint32_t Width() const { return m_pWidth; }
  uint32_t Height() const { return m_pHeight; }
  double Fps() const { return m_pfps; }
  TMediaTime Step() const { return m_pstp; }
  // The open movie's path; empty when none.
  QString FileName() const;
  // ShutDown; then, unless empty, OpenURL(value) and on success the name is value.
  void SetFileName(const QString& value);
  // Budget of the frames a session keeps, in MiB (0: the framework's default, from the
  // machine's memory); used by the sessions opened from then on.
  uint32_t FrameCacheMiB() const { return FFrameCacheMiB; }
  void SetFrameCacheMiB(uint32_t value) { FFrameCacheMiB = value; }

  // A command is waiting for its completion event (0, 1, or 2 for a seek).
  uint8_t PendingKind();
  // The last command issued to the session.
  TCommand CurrentCommand();
  // The remembered command (CmdNone when nothing is remembered).
  TCommand RequestedCommand();
  // Set to 258 when a close wait ran out.
  uint32_t WaitResult() const { return m_dWaitResult; }

  // mf::IAsyncCallback: one session event, on the session's event thread.
  HRESULT Invoke(const mf::AsyncResult& result) override;

  // Frame facts from a frame rate: fps = num / den, step = trunc(den x 10^7 / num);
  // false (values untouched) when the rate gives no positive step.
  static bool StepFromRate(uint32_t num, uint32_t den, double& fps, TMediaTime& step);
  // The step used until a movie says otherwise: one frame at 25 per second.
  static constexpr TMediaTime kDefaultStep = 400'000;

private:
  void ResetMembers();
  HRESULT MakeCloseEvent();
  HRESULT NewSession();
  HRESULT EndSession(bool wait = true);
  // why, when given, receives the resolver's account of a failure.
  HRESULT MakeSource(const QString& sURL, std::shared_ptr<mf::IMediaSource>& source,
                     std::string* why = nullptr);
  HRESULT ReadMediaInfo(const QString& sURL);
  HRESULT BuildTopology(const std::shared_ptr<mf::IMediaSource>& source,
                        const std::shared_ptr<mf::IPresentationDescriptor>& pd,
                        std::shared_ptr<mf::Topology>& topology);
  HRESULT AddStreamBranch(const std::shared_ptr<mf::Topology>& topology,
                          const std::shared_ptr<mf::IMediaSource>& source,
                          const std::shared_ptr<mf::IPresentationDescriptor>& pd, uint32_t index);
  HRESULT DispatchEvent(const mf::MediaEvent& event);
  HRESULT ShowFirstFrame();
  std::shared_ptr<mf::IMediaSession> Session();
  std::shared_ptr<mf::IVideoDisplayControl> VideoDisplay() const;
  void SetVideoDisplay(std::shared_ptr<mf::IVideoDisplayControl> display);
  void SignalClose();

  // Commands, position, rate and completion.
  HRESULT DoStart();
  HRESULT DoStartPlayBack();
  HRESULT DoPause();
  HRESULT DoStop();
  HRESULT PositionRead(TMediaTime& pos);
  HRESULT SeekRequest(TMediaTime pos);
  HRESULT DoSeek(TMediaTime pos);
  HRESULT RateRequest(float r);
  HRESULT DoRate(float r, bool thin);
  void PendingDone(TCommand cmd);

  std::shared_ptr<mf::IMediaFramework> m_pFramework;
  uint32_t FFrameCacheMiB = 0;  // UI thread only
  bool m_bStarted = false;  // Startup succeeded, so destruction owes a Shutdown

  // Private fields. Unless noted, guarded by m_critsec.
  std::atomic<uint32_t> m_dWaitResult{0};
  uint8_t m_bPending = 0;
  QString FFileName;
  TMediaTime m_hnsDuration = 0;
  TSeekState m_Request;
  TSeekState m_State;  // State also read without the lock
  // The pending stop is the first half of a restart (a change of rate direction): the seek
  // remembered behind it plays on. Any other stop ends playing, and a seek from it rests.
  bool m_bPlayOnAfterStop = false;
  std::shared_ptr<TCloseEvent> FhCloseEvent;  // guarded by m_closeLock
  mutable std::mutex m_closeLock;
  mutable TCritSec m_critsec;
  std::shared_ptr<mf::IPresentationClock> m_pClock;
  std::atomic<uint32_t> m_Caps{0};  // read and written without the lock
  float m_fPrevRate = 1.0f;
  std::shared_ptr<mf::IRateControl> m_pRate;
  std::shared_ptr<mf::IRateSupport> m_pRateSupport;
  uint32_t m_pWidth = 0;  // written by OpenURL before the session starts
  uint32_t m_pHeight = 0;
  double m_pfps = 0;
  TMediaTime m_pstp = kDefaultStep;

protected:
  std::shared_ptr<mf::IMediaSession> m_pSession;
  std::shared_ptr<mf::IMediaSource> m_pSource;
  std::shared_ptr<mf::IVideoDisplayControl> m_pVideoDisplay;  // guarded by m_displayLock
  mutable std::mutex m_displayLock;

public:
  std::atomic<float> m_fVolume{0.0f};     // last volume read back; written on both threads
};

// The signed decimal form of a result code, as messages show it.
QString ResultCodeText(mf::HRESULT hr);

// What a failed open tells the user: what is wrong in words (the framework's account
// why, else the meaning of hr), the code after it in brackets.
QString OpenFailureText(const QString& fileName, mf::HRESULT hr, const std::string& why);

} // namespace skm
