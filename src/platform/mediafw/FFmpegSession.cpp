// The media session: a command queue run by an engine thread, an event queue delivered by
// an event thread, the presentation clock and the services the callers look up.
//
// Threads per session:
// - callers (any thread) enqueue commands and read the clock and the services;
// - the engine thread runs commands one at a time and, while playing, decodes ahead and
//   feeds the sound;
// - the event thread hands events to the callback of the outstanding request;
// - SDL's audio thread pulls sound from the audio engine (see AudioEngine.h).
// Shutdown ends the engine and event threads (the event thread is detached instead of
// joined when Shutdown runs on it, and then holds the core alive until it returns).
#include "platform/mediafw/AudioEngine.h"
#include "platform/mediafw/MediaFoundationPrivate.h"
#include "platform/mediafw/VideoEngine.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace skm::mf::detail {

namespace {

int64_t SystemHns() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100 + 1;
}

// Rates a session plays; audio keeps its pitch within [0.5, 2] and is muted outside.
constexpr float kFastestRate = 8.0f;

// How long a start waits for a pause that follows it (a seek while paused gives both back
// to back) before the clock runs; the first start after an open waits longer, as its
// pause comes only once the caller saw MESessionStarted.
constexpr int kStartGraceMs = 10;
constexpr int kFirstStartGraceMs = 150;
// A pause this soon after the clock began running returns to the start's position.
constexpr int kSnapBackMs = 100;

// The presentation clock: a position that advances with the system time at the rate
// while running, or with the sound actually played when the audio engine drives it.
// Thread-safe.
class TClockState {
 public:
  // The presentation time now.
  int64_t Now() const {
    std::lock_guard lock(m_);
    return NowLocked(SystemHns());
  }
  // The presentation time and the system time it belongs to.
  void Correlated(int64_t& pos, int64_t& sys) const {
    std::lock_guard lock(m_);
    sys = SystemHns();
    pos = NowLocked(sys);
  }
  // Places the clock at pos, running or not.
  void Set(int64_t pos, bool running) {
    std::lock_guard lock(m_);
    base_ = Clamp(pos);
    baseSys_ = SystemHns();
    running_ = running;
    reported_ = base_;
  }
  // Stops the clock where it is; returns that position.
  int64_t Freeze() {
    std::lock_guard lock(m_);
    base_ = NowLocked(SystemHns());
    running_ = false;
    return base_;
  }
  // Changes the rate without a jump of the position.
  void SetRate(double rate) {
    std::lock_guard lock(m_);
    const int64_t sys = SystemHns();
    base_ = NowLocked(sys);
    baseSys_ = sys;
    rate_ = rate;
  }
  double Rate() const {
    std::lock_guard lock(m_);
    return rate_;
  }
  bool Running() const {
    std::lock_guard lock(m_);
    return running_;
  }
  // The end the clock never passes (0: unknown, no limit).
  void SetLimit(int64_t limit) {
    std::lock_guard lock(m_);
    limit_ = limit > 0 ? limit : INT64_MAX;
  }
  // Lets the sound correct the clock: pos is the time of the sound heard at system time
  // sys. Small differences are absorbed at once; the clock never runs backwards while
  // running forward by more than a few milliseconds, so pictures do not jitter.
  void SyncToAudio(int64_t pos, int64_t sys) {
    std::lock_guard lock(m_);
    // Muted rates (below 0.5, above 2, and 0: single frames) leave the clock to itself.
    if (!running_ || rate_ < 0.5 || rate_ > 2.0) return;
    const int64_t mine = Project(sys);
    const int64_t diff = pos - mine;
    if (diff > -500'000 && diff < 500'000) {
      // Slew gently toward the sound (a tenth of the difference per update).
      base_ = Clamp(mine + diff / 10);
      baseSys_ = sys;
    }
  }

 private:
  int64_t Clamp(int64_t p) const { return p < 0 ? 0 : (p > limit_ ? limit_ : p); }
  // Where the clock stands at system time sys, by its base and rate alone.
  int64_t Project(int64_t sys) const {
    if (!running_) return base_;
    const double advanced = double(sys - baseSys_) * rate_;
    return Clamp(base_ + static_cast<int64_t>(advanced));
  }
  int64_t NowLocked(int64_t sys) const {
    if (!running_) return base_;
    // Corrections toward the sound never take back time already reported.
    const int64_t now = std::max(Project(sys), reported_);
    reported_ = now;
    return now;
  }
  mutable std::mutex m_;
  bool running_ = false;
  double rate_ = 1.0;
  int64_t base_ = 0;
  int64_t baseSys_ = 0;
  int64_t limit_ = INT64_MAX;
  mutable int64_t reported_ = 0;  // the latest time handed out while running
};

struct TCommand {
  enum Kind { ApplyTopology, Start, Pause, Stop, Close } kind;
  PropVariant position;  // Start only
};

class TCore : public std::enable_shared_from_this<TCore> {
 public:
  explicit TCore(const SessionOptions& o) : options_(o) {}
  ~TCore() { Shutdown(); }

  void Launch() {
    engineThread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "skm-engine");
      EngineLoop();
    });
    eventThread_ = std::thread([self = shared_from_this()] {
      pthread_setname_np(pthread_self(), "skm-events");
      self->EventLoop();
    });
  }

  // --- Commands (any thread).
  HRESULT SetTopology(uint32_t flags, const std::shared_ptr<Topology>& topology);
  HRESULT Enqueue(TCommand cmd) {
    std::lock_guard lock(mutex_);
    if (shut_) return MF_E_SHUTDOWN;
    if (closed_) return MF_E_SHUTDOWN;
    if (cmd.kind != TCommand::ApplyTopology && cmd.kind != TCommand::Close && !topologySet_)
      return MF_E_INVALIDREQUEST;
    if (cmd.kind == TCommand::Close) closed_ = true;
    commands_.push_back(cmd);
    cv_.notify_all();
    return S_OK;
  }
  HRESULT ClearTopologies() {
    std::lock_guard lock(mutex_);
    if (shut_) return MF_E_SHUTDOWN;
    return S_OK;
  }
  HRESULT Shutdown();

  // --- Events.
  HRESULT BeginGetEvent(std::shared_ptr<IAsyncCallback> cb) {
    if (!cb) return E_POINTER;
    std::lock_guard lock(eventMutex_);
    if (eventsShut_) return MF_E_SHUTDOWN;
    if (callback_) return MF_E_MULTIPLE_BEGIN;
    callback_ = std::move(cb);
    eventCv_.notify_all();
    return S_OK;
  }
  void Post(MediaEventType type, HRESULT status = S_OK, std::optional<uint32_t> topo = {},
            std::optional<uint32_t> caps = {}, std::string message = {}) {
    auto ev = std::make_shared<MediaEvent>();
    ev->type = type;
    ev->status = status;
    ev->topologyStatus = topo;
    ev->sessionCaps = caps;
    ev->message = std::move(message);
    std::lock_guard lock(eventMutex_);
    if (eventsShut_) return;
    events_.push_back(std::move(ev));
    eventCv_.notify_all();
  }

  // --- Services.
  HRESULT Caps(uint32_t& caps) {
    std::lock_guard lock(mutex_);
    if (shut_) return MF_E_SHUTDOWN;
    caps = caps_;
    return S_OK;
  }
  bool HasTopology() {
    std::lock_guard lock(mutex_);
    return topologySet_ && !shut_;
  }
  std::shared_ptr<TVideoEngine> Video() {
    std::lock_guard lock(mutex_);
    return shut_ || closed_ ? nullptr : videoReady_;
  }
  std::shared_ptr<TAudioEngine> Audio() {
    std::lock_guard lock(mutex_);
    return shut_ || closed_ ? nullptr : audioReady_;
  }
  TClockState& Clock() { return clock_; }
  HRESULT SetRate(bool thin, float rate) {
    if (rate < 0.0f) return MF_E_REVERSE_UNSUPPORTED;
    if (!(rate <= kFastestRate)) return MF_E_UNSUPPORTED_RATE;
    {
      std::lock_guard lock(mutex_);
      if (shut_ || closed_) return MF_E_SHUTDOWN;
      thin_ = thin;
      rate_ = rate;
    }
    clock_.SetRate(rate);
    if (auto a = Audio()) a->SetRate(rate);
    // At rate 0 nothing plays until a frame is asked for; sound resumes with a rate.
    if (auto a = Audio()) {
      if (rate == 0.0f) a->Pause();
      else if (clock_.Running()) a->Play(clock_.Now());
    }
    Post(MESessionRateChanged);
    return S_OK;
  }
  void GetRate(bool& thin, float& rate) {
    std::lock_guard lock(mutex_);
    thin = thin_;
    rate = rate_;
  }
  // The decision time of the clock's position, for the picture shown now.
  HRESULT CurrentImage(std::shared_ptr<const VideoFrame>& frame) {
    auto v = Video();
    if (!v) return MF_E_SHUTDOWN;
    return v->GetImage(v->DecisionTime(clock_.Now()), frame);
  }

 private:
  void EngineLoop();
  void EventLoop();
  void Execute(const TCommand& cmd);
  void DoApplyTopology();
  void DoStart(const PropVariant& pos);
  void DoPause();
  void DoStop();
  void DoClose();
  void PlayTick();
  // Makes the picture for position pos exact unless a newer seek is waiting.
  void ShowPosition(int64_t pos);
  // True when a command that replaces the current picture is queued (seek coalescing).
  bool SeekQueued() {
    std::lock_guard lock(mutex_);
    if (shut_) return true;
    for (const auto& c : commands_)
      if ((c.kind == TCommand::Start && c.position.vt == PropVariant::VT_I8) ||
          c.kind == TCommand::Stop || c.kind == TCommand::Close)
        return true;
    return false;
  }
  bool CommandsQueued() {
    std::lock_guard lock(mutex_);
    return shut_ || !commands_.empty();
  }
  int64_t EndTime() const;

  const SessionOptions options_;

  // Guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<TCommand> commands_;
  bool shut_ = false;
  bool closed_ = false;
  bool topologySet_ = false;
  uint32_t caps_ = 0;
  bool thin_ = false;
  float rate_ = 1.0f;
  std::shared_ptr<const TMovieInfo> info_;
  bool wantVideo_ = false, wantAudio_ = false;
  std::shared_ptr<TVideoEngine> videoReady_;  // published once opened
  std::shared_ptr<TAudioEngine> audioReady_;

  // Engine thread only.
  enum class TState { Ready, Stopped, Started, Paused, Ended, Closed } state_ = TState::Ready;
  std::shared_ptr<TVideoEngine> video_;
  std::shared_ptr<TAudioEngine> audio_;
  std::shared_ptr<const TMovieInfo> engineInfo_;
  int64_t startTarget_ = 0;        // where the last Start placed the clock
  bool tickedSinceStart_ = false;  // playback ran since that Start (the clock runs)
  bool startedSinceTopology_ = false;  // a Start ran since the topology was set
  std::chrono::steady_clock::time_point graceUntil_{};  // the clock's start waits till then
  bool prefetchPending_ = false;   // paused: neighbours of the frame still to prepare
  bool audioSeekPending_ = false;  // the sound must move to the start target before playing
  std::chrono::steady_clock::time_point clockStartedAt_{};  // when the clock last began running

  // Guarded by eventMutex_.
  std::mutex eventMutex_;
  std::condition_variable eventCv_;
  std::deque<std::shared_ptr<const MediaEvent>> events_;
  std::shared_ptr<IAsyncCallback> callback_;
  bool eventsShut_ = false;

  std::atomic<bool> abort_{false};
  TClockState clock_;
  std::thread engineThread_;
  std::thread eventThread_;
  std::atomic<bool> shutdownStarted_{false};
};

HRESULT TCore::SetTopology(uint32_t flags, const std::shared_ptr<Topology>& topology) {
  (void)flags;
  if (!topology) return E_POINTER;
  std::shared_ptr<const TMovieInfo> info;
  bool video = false, audio = false;
  for (const auto& node : topology->Nodes()) {
    if (node->GetNodeType() != MF_TOPOLOGY_SOURCESTREAM_NODE) continue;
    auto* src = dynamic_cast<TSource*>(node->Source().get());
    if (!src || !node->StreamDescriptor()) return MF_E_INVALIDREQUEST;
    if (src->IsShutdown()) return MF_E_SHUTDOWN;
    if (info && info != src->Info()) return MF_E_INVALIDREQUEST;  // one source per session
    info = src->Info();
    auto out = node->Downstream();
    if (!out || !out->Object()) return MF_E_INVALIDREQUEST;
    MajorType type = MajorType::Unknown;
    node->StreamDescriptor()->GetMajorType(type);
    uint32_t id = 0;
    node->StreamDescriptor()->GetStreamIdentifier(id);
    const RendererKind kind = out->Object()->Kind();
    if (type == MajorType::Video && kind == RendererKind::Video &&
        static_cast<int>(id) == info->videoIndex)
      video = true;
    else if (type == MajorType::Audio && kind == RendererKind::Audio &&
             static_cast<int>(id) == info->audioIndex)
      audio = true;
    else
      return MF_E_INVALIDMEDIATYPE;
  }
  if (!info) return MF_E_INVALIDREQUEST;
  {
    std::lock_guard lock(mutex_);
    if (shut_ || closed_) return MF_E_SHUTDOWN;
    info_ = info;
    wantVideo_ = video;
    wantAudio_ = audio;
    topologySet_ = true;
    caps_ = MFSESSIONCAP_START | MFSESSIONCAP_PAUSE | MFSESSIONCAP_RATE_FORWARD;
    if (info->seekable && info->durationHns > 0) caps_ |= MFSESSIONCAP_SEEK;
  }
  clock_.SetLimit(static_cast<int64_t>(info->durationHns));
  return Enqueue({TCommand::ApplyTopology, {}});
}

HRESULT TCore::Shutdown() {
  // The first caller ends the threads; a second one (for instance a callback releasing
  // the last reference while the first waits for the event thread) returns at once.
  if (shutdownStarted_.exchange(true)) return S_OK;
  std::shared_ptr<IAsyncCallback> dropped;
  {
    std::lock_guard lock(mutex_);
    shut_ = true;
    abort_ = true;
    cv_.notify_all();
  }
  {
    std::lock_guard lock(eventMutex_);
    eventsShut_ = true;
    dropped = std::move(callback_);
    events_.clear();
    eventCv_.notify_all();
  }
  if (engineThread_.joinable()) engineThread_.join();
  if (eventThread_.joinable()) {
    if (eventThread_.get_id() == std::this_thread::get_id())
      eventThread_.detach();
    else
      eventThread_.join();
  }
  std::shared_ptr<TVideoEngine> v;
  std::shared_ptr<TAudioEngine> a;
  {
    std::lock_guard lock(mutex_);
    v = std::move(videoReady_);
    a = std::move(audioReady_);
  }
  if (a) a->Close();
  video_.reset();
  audio_.reset();
  // The callback goes last and outside every lock: releasing it may free its owner.
  dropped.reset();
  return S_OK;
}

void TCore::EventLoop() {
  for (;;) {
    std::shared_ptr<IAsyncCallback> cb;
    std::shared_ptr<const MediaEvent> ev;
    {
      std::unique_lock lock(eventMutex_);
      eventCv_.wait(lock, [&] { return eventsShut_ || (callback_ && !events_.empty()); });
      if (eventsShut_) return;
      cb = std::move(callback_);
      ev = std::move(events_.front());
      events_.pop_front();
    }
    cb->Invoke(AsyncResult{S_OK, ev});
  }
}

void TCore::EngineLoop() {
  for (;;) {
    TCommand cmd{};
    bool have = false;
    {
      std::unique_lock lock(mutex_);
      const bool playing = state_ == TState::Started;
      auto ready = [&] { return shut_ || !commands_.empty(); };
      if (playing && !tickedSinceStart_)
        cv_.wait_until(lock, graceUntil_, ready);
      else if (playing)
        // Sound needs feeding often; pictures are prepared several frames ahead, and
        // every turn costs a walk over them.
        cv_.wait_for(lock, std::chrono::milliseconds(audio_ ? 4 : 10), ready);
      else if (!prefetchPending_)
        cv_.wait(lock, ready);
      if (shut_) break;
      if (!commands_.empty()) {
        cmd = commands_.front();
        commands_.pop_front();
        have = true;
      }
    }
    if (have) {
      Execute(cmd);
    } else if (state_ == TState::Started) {
      PlayTick();
    } else if (prefetchPending_) {
      prefetchPending_ = false;
      if (video_ && state_ == TState::Paused)
        video_->Prefetch(video_->DecisionTime(clock_.Now()));
    }
  }
  // Everything the engine opened is released on its own thread.
  if (audio_) audio_->Close();
  TAudioEngine::ReleaseThreadState();
}

void TCore::Execute(const TCommand& cmd) {
  switch (cmd.kind) {
    case TCommand::ApplyTopology: DoApplyTopology(); break;
    case TCommand::Start: DoStart(cmd.position); break;
    case TCommand::Pause: DoPause(); break;
    case TCommand::Stop: DoStop(); break;
    case TCommand::Close: DoClose(); break;
  }
}

void TCore::DoApplyTopology() {
  std::shared_ptr<const TMovieInfo> info;
  bool wantVideo, wantAudio;
  {
    std::lock_guard lock(mutex_);
    info = info_;
    wantVideo = wantVideo_;
    wantAudio = wantAudio_;
  }
  // A new topology replaces the old presentation.
  if (audio_) audio_->Close();
  video_.reset();
  audio_.reset();
  engineInfo_ = info;
  std::string message;
  HRESULT hr = S_OK;
  if (wantVideo) {
    const uint64_t budget = uint64_t(std::max<uint32_t>(options_.frameCacheMiB, 8)) << 20;
    auto v = std::make_shared<TVideoEngine>(info, budget, int(options_.decoderThreads), &abort_);
    hr = v->Open(message);
    if (Succeeded(hr)) video_ = std::move(v);
  }
  if (Succeeded(hr) && wantAudio) {
    auto a = std::make_shared<TAudioEngine>(info, &abort_);
    std::string audioMessage;
    // Sound that cannot be played leaves a silent movie, never a failed one.
    if (Succeeded(a->Open(audioMessage))) {
      a->SetClockSink([this](int64_t pos, int64_t sys) { clock_.SyncToAudio(pos, sys); });
      audio_ = std::move(a);
    }
  }
  if (Failed(hr)) {
    Post(MESessionTopologySet, hr, {}, {}, message);
    return;
  }
  uint32_t caps;
  {
    std::lock_guard lock(mutex_);
    videoReady_ = video_;
    audioReady_ = audio_;
    caps = caps_;
  }
  state_ = TState::Stopped;
  startedSinceTopology_ = false;
  clock_.Set(0, false);
  Post(MESessionTopologySet);
  Post(MESessionCapabilitiesChanged, S_OK, {}, caps);
  Post(MESessionTopologyStatus, S_OK, MF_TOPOSTATUS_READY);
}

void TCore::ShowPosition(int64_t pos) {
  if (!video_) return;
  video_->Ensure(video_->DecisionTime(pos), [this] { return SeekQueued(); });
}

int64_t TCore::EndTime() const {
  if (engineInfo_ && engineInfo_->durationHns > 0) return int64_t(engineInfo_->durationHns);
  // Unknown duration: the end of the last frame, once decoding reached it.
  if (video_ && video_->AtEnd()) return video_->LastFrameTime() + 1;
  if (audio_ && audio_->AtEnd()) return audio_->EndTime();
  return INT64_MAX;
}

void TCore::DoStart(const PropVariant& pos) {
  if (state_ == TState::Closed || state_ == TState::Ready) {
    Post(MESessionStarted, MF_E_INVALIDREQUEST);
    return;
  }
  int64_t target;
  bool reposition = true;
  if (pos.vt == PropVariant::VT_I8) {
    target = std::max<int64_t>(pos.hVal, 0);
    const int64_t end = EndTime();
    if (end != INT64_MAX && target > end) target = end;
  } else if (state_ == TState::Paused || state_ == TState::Started) {
    target = clock_.Now();
    reposition = false;
  } else {
    target = 0;  // from stopped or ended: from the beginning
  }
  if (!SeekQueued()) ShowPosition(target);
  // Sound is repositioned only once playback begins: steps while paused never need it.
  if (reposition) audioSeekPending_ = true;
  // The clock starts with playback's first turn, not here: a command queued right behind
  // (the pause of a seek while paused, the pause that follows the first start after an
  // open) then finds the clock exactly where the picture is.
  const bool firstAfterOpen = state_ == TState::Stopped && !startedSinceTopology_;
  clock_.Set(target, false);
  startTarget_ = target;
  tickedSinceStart_ = false;
  startedSinceTopology_ = true;
  graceUntil_ = std::chrono::steady_clock::now() +
                std::chrono::milliseconds(firstAfterOpen ? kFirstStartGraceMs : kStartGraceMs);
  state_ = TState::Started;
  if (audio_) audio_->Pause();
  Post(MESessionStarted);
}

void TCore::DoPause() {
  if (state_ == TState::Closed || state_ == TState::Ready) {
    Post(MESessionPaused, MF_E_INVALIDREQUEST);
    return;
  }
  int64_t at = clock_.Freeze();
  if (state_ == TState::Started &&
      (!tickedSinceStart_ ||
       std::chrono::steady_clock::now() - clockStartedAt_ < std::chrono::milliseconds(kSnapBackMs))) {
    // A pause right behind a start (a seek while paused, even when the caller was held up
    // between the two) rests where the start was asked to be, not where the clock crept to.
    at = startTarget_;
    clock_.Set(at, false);
  }
  if (audio_) audio_->Pause();
  if (!SeekQueued()) ShowPosition(at);
  state_ = TState::Paused;
  prefetchPending_ = true;
  Post(MESessionPaused);
}

void TCore::DoStop() {
  if (state_ == TState::Closed || state_ == TState::Ready) {
    Post(MESessionStopped, MF_E_INVALIDREQUEST);
    return;
  }
  // A stop leaves the clock and the picture where they are, so a movie that played to its
  // end rests on its last frame and reads its end; only the next start without a
  // position goes back to the beginning.
  const int64_t at = clock_.Freeze();
  if (audio_) audio_->Pause();
  audioSeekPending_ = true;
  if (!SeekQueued()) ShowPosition(at);
  state_ = TState::Stopped;
  Post(MESessionStopped);
}

void TCore::DoClose() {
  clock_.Freeze();
  {
    std::lock_guard lock(mutex_);
    videoReady_.reset();
    audioReady_.reset();
  }
  if (audio_) audio_->Close();
  audio_.reset();
  video_.reset();
  state_ = TState::Closed;
  Post(MESessionClosed);
}

void TCore::PlayTick() {
  if (!tickedSinceStart_) {
    tickedSinceStart_ = true;
    if (audio_ && audioSeekPending_) {
      audio_->Seek(startTarget_);
      audio_->Fill([this] { return CommandsQueued(); });
    }
    audioSeekPending_ = false;
    clock_.Set(startTarget_, true);
    clockStartedAt_ = std::chrono::steady_clock::now();
    if (audio_) audio_->Play(startTarget_);
  }
  const int64_t now = clock_.Now();
  const auto interrupted = [this] { return CommandsQueued(); };
  if (audio_) audio_->Fill(interrupted);
  if (video_) {
    const double rate = std::max(1.0, clock_.Rate());
    video_->DecodeAhead(video_->DecisionTime(now), static_cast<int64_t>(3'000'000 * rate),
                        interrupted);
  }
  const int64_t end = EndTime();
  if (end != INT64_MAX && clock_.Now() >= end) {
    const bool soundDone = !audio_ || audio_->Drained() || !audio_->HasDevice();
    if (soundDone) {
      clock_.Set(end, false);
      if (audio_) audio_->Pause();
      // Decoding may have fallen behind; the end shows the last frame all the same.
      ShowPosition(end);
      state_ = TState::Ended;
      Post(MEEndOfPresentation);
      Post(MESessionEnded);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Services.

class TClockService final : public IPresentationClock {
 public:
  explicit TClockService(std::shared_ptr<TCore> c) : core_(std::move(c)) {}
  HRESULT GetTime(int64_t& t) override {
    t = core_->Clock().Now();
    return S_OK;
  }
  HRESULT GetCorrelatedTime(uint32_t reserved, int64_t& clockTime, int64_t& sys) override {
    if (reserved != 0) return E_INVALIDARG;
    core_->Clock().Correlated(clockTime, sys);
    return S_OK;
  }

 private:
  std::shared_ptr<TCore> core_;
};

class TRateService final : public IRateControl, public IRateSupport {
 public:
  explicit TRateService(std::shared_ptr<TCore> c) : core_(std::move(c)) {}
  HRESULT SetRate(bool thin, float rate) override { return core_->SetRate(thin, rate); }
  HRESULT GetRate(bool& thin, float& rate) override {
    core_->GetRate(thin, rate);
    return S_OK;
  }
  HRESULT GetSlowestRate(RateDirection dir, bool, float& rate) override {
    if (dir != MFRATE_FORWARD) return MF_E_REVERSE_UNSUPPORTED;
    rate = 0.0f;
    return S_OK;
  }
  HRESULT GetFastestRate(RateDirection dir, bool, float& rate) override {
    if (dir != MFRATE_FORWARD) return MF_E_REVERSE_UNSUPPORTED;
    rate = kFastestRate;
    return S_OK;
  }
  HRESULT IsRateSupported(bool, float rate, float* nearest) override {
    if (rate < 0.0f) {
      if (nearest) *nearest = 0.0f;
      return MF_E_REVERSE_UNSUPPORTED;
    }
    if (!(rate <= kFastestRate)) {
      if (nearest) *nearest = kFastestRate;
      return MF_E_UNSUPPORTED_RATE;
    }
    if (nearest) *nearest = rate;
    return S_OK;
  }

 private:
  std::shared_ptr<TCore> core_;
};

class TDisplayService final : public IVideoDisplayControl {
 public:
  explicit TDisplayService(std::shared_ptr<TCore> c) : core_(std::move(c)) {}
  HRESULT GetCurrentImage(std::shared_ptr<const VideoFrame>& frame) override {
    return core_->CurrentImage(frame);
  }
  HRESULT GetNativeVideoSize(int32_t& w, int32_t& h) override {
    auto v = core_->Video();
    if (!v) return MF_E_SHUTDOWN;
    w = v->Width();
    h = v->Height();
    return S_OK;
  }

 private:
  std::shared_ptr<TCore> core_;
};

class TVolumeService final : public IAudioStreamVolume {
 public:
  explicit TVolumeService(std::shared_ptr<TCore> c) : core_(std::move(c)) {}
  HRESULT GetChannelCount(uint32_t& n) override {
    auto a = core_->Audio();
    if (!a) return MF_E_SHUTDOWN;
    n = a->Channels();
    return S_OK;
  }
  HRESULT SetChannelVolume(uint32_t i, float level) override {
    auto a = core_->Audio();
    if (!a) return MF_E_SHUTDOWN;
    if (i >= a->Channels() || !(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
    a->SetVolume(i, level);
    return S_OK;
  }
  HRESULT GetChannelVolume(uint32_t i, float& level) override {
    auto a = core_->Audio();
    if (!a) return MF_E_SHUTDOWN;
    if (i >= a->Channels()) return E_INVALIDARG;
    level = a->Volume(i);
    return S_OK;
  }
  HRESULT SetAllVolumes(uint32_t count, const float* levels) override {
    auto a = core_->Audio();
    if (!a) return MF_E_SHUTDOWN;
    if (!levels) return E_POINTER;
    if (count != a->Channels()) return E_INVALIDARG;
    for (uint32_t i = 0; i < count; ++i)
      if (!(levels[i] >= 0.0f && levels[i] <= 1.0f)) return E_INVALIDARG;
    for (uint32_t i = 0; i < count; ++i) a->SetVolume(i, levels[i]);
    return S_OK;
  }
  HRESULT GetAllVolumes(uint32_t count, float* levels) override {
    auto a = core_->Audio();
    if (!a) return MF_E_SHUTDOWN;
    if (!levels) return E_POINTER;
    if (count != a->Channels()) return E_INVALIDARG;
    for (uint32_t i = 0; i < count; ++i) levels[i] = a->Volume(i);
    return S_OK;
  }

 private:
  std::shared_ptr<TCore> core_;
};

class TSession final : public IMediaSession {
 public:
  explicit TSession(const SessionOptions& o) : core_(std::make_shared<TCore>(o)) { core_->Launch(); }
  ~TSession() override { core_->Shutdown(); }

  HRESULT SetTopology(uint32_t flags, const std::shared_ptr<Topology>& t) override {
    return core_->SetTopology(flags, t);
  }
  HRESULT ClearTopologies() override { return core_->ClearTopologies(); }
  HRESULT Start(const PropVariant& pos) override {
    if (pos.vt != PropVariant::VT_EMPTY && pos.vt != PropVariant::VT_I8) return E_INVALIDARG;
    return core_->Enqueue({TCommand::Start, pos});
  }
  HRESULT Pause() override { return core_->Enqueue({TCommand::Pause, {}}); }
  HRESULT Stop() override { return core_->Enqueue({TCommand::Stop, {}}); }
  HRESULT Close() override { return core_->Enqueue({TCommand::Close, {}}); }
  HRESULT Shutdown() override { return core_->Shutdown(); }
  HRESULT BeginGetEvent(std::shared_ptr<IAsyncCallback> cb) override {
    return core_->BeginGetEvent(std::move(cb));
  }
  HRESULT EndGetEvent(const AsyncResult& r, std::shared_ptr<const MediaEvent>& ev) override {
    if (Failed(r.status)) return r.status;
    if (!r.event) return E_INVALIDARG;
    ev = r.event;
    return S_OK;
  }
  HRESULT GetSessionCapabilities(uint32_t& caps) override { return core_->Caps(caps); }
  HRESULT GetClock(std::shared_ptr<IPresentationClock>& clock) override {
    if (!core_->HasTopology()) return MF_E_NO_CLOCK;
    clock = std::make_shared<TClockService>(core_);
    return S_OK;
  }
  HRESULT GetRateControl(std::shared_ptr<IRateControl>& rate) override {
    if (!core_->HasTopology()) return MF_E_UNSUPPORTED_SERVICE;
    rate = std::make_shared<TRateService>(core_);
    return S_OK;
  }
  HRESULT GetRateSupport(std::shared_ptr<IRateSupport>& support) override {
    if (!core_->HasTopology()) return MF_E_UNSUPPORTED_SERVICE;
    support = std::make_shared<TRateService>(core_);
    return S_OK;
  }
  HRESULT GetVideoDisplayControl(std::shared_ptr<IVideoDisplayControl>& d) override {
    if (!core_->Video()) return MF_E_UNSUPPORTED_SERVICE;
    d = std::make_shared<TDisplayService>(core_);
    return S_OK;
  }
  HRESULT GetAudioStreamVolume(std::shared_ptr<IAudioStreamVolume>& v) override {
    if (!core_->Audio()) return MF_E_UNSUPPORTED_SERVICE;
    v = std::make_shared<TVolumeService>(core_);
    return S_OK;
  }

 private:
  std::shared_ptr<TCore> core_;
};

} // namespace

HRESULT CreateFFmpegSession(const SessionOptions& options, std::shared_ptr<IMediaSession>& out) {
  out = std::make_shared<TSession>(options);
  return S_OK;
}

} // namespace skm::mf::detail
