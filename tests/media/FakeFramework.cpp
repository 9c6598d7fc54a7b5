#include "FakeFramework.h"

#include <chrono>

namespace skmtest {
namespace {

class TFakeActivate final : public IActivate {
public:
  explicit TFakeActivate(RendererKind k) : kind_(k) {}
  RendererKind Kind() const override { return kind_; }

private:
  RendererKind kind_;
};

class TFakeStream final : public IStreamDescriptor {
public:
  TFakeStream(uint32_t id, MajorType t) : id_(id), type_(t) {}
  HRESULT GetStreamIdentifier(uint32_t& id) const override { id = id_; return S_OK; }
  HRESULT GetMajorType(MajorType& t) const override { t = type_; return S_OK; }

private:
  uint32_t id_;
  MajorType type_;
};

class TFakePD final : public IPresentationDescriptor {
public:
  explicit TFakePD(const TFakeMovie& m) : movie_(m) {}
  HRESULT GetStreamDescriptorCount(uint32_t& n) const override {
    n = static_cast<uint32_t>(movie_.streams.size());
    return S_OK;
  }
  HRESULT GetStreamDescriptorByIndex(uint32_t i, bool& selected,
                                     std::shared_ptr<IStreamDescriptor>& sd) const override {
    if (i >= movie_.streams.size()) return MF_E_INVALIDINDEX;
    selected = true;
    sd = std::make_shared<TFakeStream>(i, movie_.streams[i]);
    return S_OK;
  }
  HRESULT GetDuration(uint64_t& d) const override { d = movie_.duration; return S_OK; }

private:
  TFakeMovie movie_;
};

class TFakeMediaType final : public IMediaType {
public:
  explicit TFakeMediaType(const TFakeMovie& m) : movie_(m) {}
  HRESULT GetUINT64(MediaTypeAttribute key, uint64_t& v) const override {
    if (key == MediaTypeAttribute::FrameSize) {
      v = (uint64_t{movie_.width} << 32) | movie_.height;
      return S_OK;
    }
    if (!movie_.hasFrameRate) return MF_E_ATTRIBUTENOTFOUND;
    v = (uint64_t{movie_.fpsNum} << 32) | movie_.fpsDen;
    return S_OK;
  }

private:
  TFakeMovie movie_;
};

class TFakeReader final : public ISourceReader {
public:
  explicit TFakeReader(const TFakeMovie& m) : movie_(m) {}
  HRESULT GetCurrentMediaType(uint32_t, std::shared_ptr<IMediaType>& t) override {
    for (MajorType s : movie_.streams)
      if (s == MajorType::Video) {
        t = std::make_shared<TFakeMediaType>(movie_);
        return S_OK;
      }
    return MF_E_INVALIDSTREAMNUMBER;
  }

private:
  TFakeMovie movie_;
};

class TFakeClock final : public IPresentationClock {
public:
  explicit TFakeClock(std::weak_ptr<TFakeSession> s) : s_(std::move(s)) {}
  HRESULT GetTime(int64_t& t) override {
    auto s = s_.lock();
    if (!s) return MF_E_SHUTDOWN;
    t = s->ClockTime();
    return S_OK;
  }
  HRESULT GetCorrelatedTime(uint32_t, int64_t& t, int64_t& sys) override {
    auto s = s_.lock();
    if (!s) return MF_E_SHUTDOWN;
    t = s->ClockTime();
    sys = 1 + std::chrono::steady_clock::now().time_since_epoch().count() / 100;
    return S_OK;
  }

private:
  std::weak_ptr<TFakeSession> s_;
};

class TFakeRate final : public IRateControl, public IRateSupport {
public:
  TFakeRate(std::weak_ptr<TFakeSession> s, HRESULT zero) : s_(std::move(s)), zero_(zero) {}
  HRESULT SetRate(bool thin, float rate) override {
    auto s = s_.lock();
    if (!s) return MF_E_SHUTDOWN;
    return s->Log("SetRate" + std::string(thin ? "T" : "") + "@" + std::to_string(rate));
  }
  HRESULT GetRate(bool& thin, float& rate) override { thin = false; rate = 1; return S_OK; }
  HRESULT GetSlowestRate(RateDirection, bool, float& r) override { r = 0; return S_OK; }
  HRESULT GetFastestRate(RateDirection, bool, float& r) override { r = 4; return S_OK; }
  HRESULT IsRateSupported(bool, float rate, float*) override { return rate == 0 ? zero_ : S_OK; }

private:
  std::weak_ptr<TFakeSession> s_;
  HRESULT zero_;
};

class TFakeDisplay final : public IVideoDisplayControl {
public:
  TFakeDisplay(std::weak_ptr<TFakeSession> s, const TFakeMovie& m) : s_(std::move(s)), movie_(m) {}
  // A picture whose colour encodes the frame index the clock is in, so a test can tell
  // which frame it got.
  HRESULT GetCurrentImage(std::shared_ptr<const VideoFrame>& frame) override {
    auto s = s_.lock();
    if (!s) return MF_E_SHUTDOWN;
    const int64_t step = int64_t{movie_.fpsDen} * 10'000'000 / movie_.fpsNum;
    const uint8_t index = static_cast<uint8_t>(s->ClockTime() / step);
    auto bytes = std::make_shared<std::vector<uint8_t>>(size_t{movie_.width} * movie_.height * 4);
    for (size_t i = 0; i < bytes->size(); i += 4) {
      (*bytes)[i] = index;
      (*bytes)[i + 1] = 0x40;
      (*bytes)[i + 2] = 0x80;
      (*bytes)[i + 3] = 0xFF;
    }
    auto f = std::make_shared<VideoFrame>();
    f->width = static_cast<int32_t>(movie_.width);
    f->height = static_cast<int32_t>(movie_.height);
    f->stride = f->width * 4;
    f->pixels = bytes->data();
    f->storage = bytes;
    frame = f;
    return S_OK;
  }
  HRESULT GetNativeVideoSize(int32_t& w, int32_t& h) override {
    w = static_cast<int32_t>(movie_.width);
    h = static_cast<int32_t>(movie_.height);
    return S_OK;
  }

private:
  std::weak_ptr<TFakeSession> s_;
  TFakeMovie movie_;
};

} // namespace

class TFakeSource final : public IMediaSource {
public:
  TFakeSource(std::shared_ptr<TFakeFramework> fw, const TFakeMovie& m) : fw_(std::move(fw)), movie_(m) {
    std::lock_guard g(fw_->mu_);
    ++fw_->sourcesAlive_;
  }
  ~TFakeSource() override { Shutdown(); }
  HRESULT CreatePresentationDescriptor(std::shared_ptr<IPresentationDescriptor>& pd) override {
    if (down_) return MF_E_SHUTDOWN;
    pd = std::make_shared<TFakePD>(movie_);
    return S_OK;
  }
  HRESULT Shutdown() override {
    if (down_) return MF_E_SHUTDOWN;
    down_ = true;
    std::lock_guard g(fw_->mu_);
    --fw_->sourcesAlive_;
    return S_OK;
  }
  const TFakeMovie& Movie() const { return movie_; }

private:
  std::shared_ptr<TFakeFramework> fw_;
  TFakeMovie movie_;
  bool down_ = false;
};

namespace {
class TFakeResolver final : public ISourceResolver {
public:
  explicit TFakeResolver(std::shared_ptr<TFakeFramework> fw) : fw_(std::move(fw)) {}
  HRESULT CreateObjectFromURL(const std::string&, uint32_t, ObjectType& type,
                              std::shared_ptr<IMediaSource>& source) override {
    type = MF_OBJECT_INVALID;
    if (Failed(fw_->movie.openResult)) return fw_->movie.openResult;
    source = std::make_shared<TFakeSource>(fw_, fw_->movie);
    type = MF_OBJECT_MEDIASOURCE;
    return S_OK;
  }
  std::string GetLastErrorText() const override { return {}; }

private:
  std::shared_ptr<TFakeFramework> fw_;
};
} // namespace

// --- framework --------------------------------------------------------------------------

HRESULT TFakeFramework::Startup(uint32_t version, uint32_t) {
  if (version != MF_VERSION) return MF_E_BAD_STARTUP_VERSION;
  if (Failed(startupResult)) return startupResult;
  std::lock_guard g(mu_);
  ++startups_;
  return S_OK;
}
HRESULT TFakeFramework::Shutdown() {
  std::lock_guard g(mu_);
  --startups_;
  return S_OK;
}
HRESULT TFakeFramework::CreateMediaSession(const SessionOptions*, std::shared_ptr<IMediaSession>& s) {
  auto session = std::make_shared<TFakeSession>(movie, autoComplete, autoTopology, syncTopology);
  {
    std::lock_guard g(mu_);
    last_ = session;
  }
  s = session;
  return S_OK;
}
HRESULT TFakeFramework::CreateSourceResolver(std::shared_ptr<ISourceResolver>& r) {
  r = std::make_shared<TFakeResolver>(shared_from_this());
  return S_OK;
}
HRESULT TFakeFramework::CreateTopology(std::shared_ptr<Topology>& t) {
  t = std::make_shared<Topology>();
  return S_OK;
}
HRESULT TFakeFramework::CreateTopologyNode(TopologyNodeType type, std::shared_ptr<TopologyNode>& n) {
  n = std::make_shared<TopologyNode>(type);
  return S_OK;
}
HRESULT TFakeFramework::CreateAudioRendererActivate(std::shared_ptr<IActivate>& a) {
  a = std::make_shared<TFakeActivate>(RendererKind::Audio);
  return S_OK;
}
HRESULT TFakeFramework::CreateVideoRendererActivate(std::shared_ptr<IActivate>& a) {
  a = std::make_shared<TFakeActivate>(RendererKind::Video);
  return S_OK;
}
HRESULT TFakeFramework::CreateSourceReaderFromMediaSource(const std::shared_ptr<IMediaSource>& s,
                                                          std::shared_ptr<ISourceReader>& r) {
  auto* src = dynamic_cast<TFakeSource*>(s.get());
  if (!src) return E_INVALIDARG;
  r = std::make_shared<TFakeReader>(src->Movie());
  return S_OK;
}
std::shared_ptr<TFakeSession> TFakeFramework::LastSession() {
  std::lock_guard g(mu_);
  return last_.lock();
}
int TFakeFramework::StartupBalance() {
  std::lock_guard g(mu_);
  return startups_;
}
int TFakeFramework::SourcesAlive() {
  std::lock_guard g(mu_);
  return sourcesAlive_;
}

// --- session ----------------------------------------------------------------------------

TFakeSession::TFakeSession(TFakeMovie movie, bool autoComplete, bool autoTopology, bool syncTopology)
    : movie_(std::move(movie)), autoComplete_(autoComplete), autoTopology_(autoTopology || syncTopology),
      syncTopology_(syncTopology) {
  c_->volumes.assign(movie_.channels, 1.0f);
  thread_ = std::thread([c = c_] { Run(c); });
}

TFakeSession::~TFakeSession() {
  {
    std::lock_guard g(c_->mu);
    c_->stop = true;
  }
  c_->cv.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TFakeSession::Run(std::shared_ptr<TCore> c) {
  std::unique_lock g(c->mu);
  for (;;) {
    c->cv.wait(g, [&] { return c->stop || (!c->queue.empty() && c->callback); });
    if (c->stop) return;
    std::shared_ptr<IAsyncCallback> cb = std::move(c->callback);
    c->callback.reset();
    AsyncResult r{S_OK, c->queue.front()};
    c->queue.pop_front();
    c->invoking = true;
    g.unlock();
    cb->Invoke(r);
    cb.reset();  // may be the player's last reference, and with it the session's
    g.lock();
    c->invoking = false;
    c->cv.notify_all();
  }
}

void TFakeSession::Queue(std::shared_ptr<MediaEvent> e) {
  {
    std::lock_guard g(c_->mu);
    c_->queue.push_back(std::move(e));
  }
  c_->cv.notify_all();
}

void TFakeSession::Deliver(MediaEventType type, HRESULT status) {
  auto e = std::make_shared<MediaEvent>();
  e->type = type;
  e->status = status;
  Queue(e);
}

void TFakeSession::DeliverTopologyStatus(uint32_t status) {
  auto e = std::make_shared<MediaEvent>();
  e->type = MESessionTopologyStatus;
  e->topologyStatus = status;
  Queue(e);
}

void TFakeSession::DeliverCaps(uint32_t caps) {
  auto e = std::make_shared<MediaEvent>();
  e->type = MESessionCapabilitiesChanged;
  e->sessionCaps = caps;
  Queue(e);
}

bool TFakeSession::WaitIdle() {
  std::unique_lock g(c_->mu);
  return c_->cv.wait_for(g, std::chrono::seconds(5), [this] {
    return !c_->invoking && (c_->queue.empty() || !c_->callback);
  }) && c_->queue.empty();
}

std::vector<std::string> TFakeSession::Calls() {
  std::lock_guard g(c_->mu);
  return c_->calls;
}
void TFakeSession::ClearCalls() {
  std::lock_guard g(c_->mu);
  c_->calls.clear();
}
bool TFakeSession::RequestOutstanding() {
  std::lock_guard g(c_->mu);
  return c_->callback != nullptr;
}
void TFakeSession::FailNext(const std::string& call, HRESULT hr) {
  std::lock_guard g(c_->mu);
  c_->failNext.emplace_back(call, hr);
}
void TFakeSession::SetClockTime(int64_t t) {
  std::lock_guard g(c_->mu);
  c_->clock = t;
}
int64_t TFakeSession::ClockTime() {
  std::lock_guard g(c_->mu);
  return c_->clock;
}
std::vector<float> TFakeSession::Volumes() {
  std::lock_guard g(c_->mu);
  return c_->volumes;
}

HRESULT TFakeSession::Log(const std::string& call) {
  std::lock_guard g(c_->mu);
  c_->calls.push_back(call);
  const std::string name = call.substr(0, call.find('@'));
  for (auto it = c_->failNext.begin(); it != c_->failNext.end(); ++it)
    if (it->first == name) {
      const HRESULT hr = it->second;
      c_->failNext.erase(it);
      return hr;
    }
  return c_->shutdown && name != "Shutdown" ? MF_E_SHUTDOWN : S_OK;
}

HRESULT TFakeSession::SetTopology(uint32_t, const std::shared_ptr<Topology>& topology) {
  const HRESULT hr = Log("SetTopology");
  if (Failed(hr)) return hr;
  bool video = false, audio = false;
  for (const auto& n : topology->Nodes())
    if (n->GetNodeType() == MF_TOPOLOGY_OUTPUT_NODE && n->Object())
      (n->Object()->Kind() == RendererKind::Video ? video : audio) = true;
  {
    std::lock_guard g(c_->mu);
    c_->hasVideo = video;
    c_->hasAudio = audio;
  }
  if (autoTopology_) {
    Deliver(MESessionTopologySet);
    DeliverCaps(movie_.caps);
    DeliverTopologyStatus(MF_TOPOSTATUS_READY);
  }
  if (syncTopology_) WaitIdle();  // the fastest framework: all done before we return
  return S_OK;
}

HRESULT TFakeSession::ClearTopologies() { return Log("ClearTopologies"); }

HRESULT TFakeSession::Start(const PropVariant& p) {
  const HRESULT hr = Log(p.vt == PropVariant::VT_I8 ? "Start@" + std::to_string(p.hVal) : "Start");
  if (Succeeded(hr) && p.vt == PropVariant::VT_I8) SetClockTime(p.hVal);
  if (Succeeded(hr) && autoComplete_) Deliver(MESessionStarted);
  return hr;
}
HRESULT TFakeSession::Pause() {
  const HRESULT hr = Log("Pause");
  if (Succeeded(hr) && autoComplete_) Deliver(MESessionPaused);
  return hr;
}
HRESULT TFakeSession::Stop() {
  const HRESULT hr = Log("Stop");
  if (Succeeded(hr) && autoComplete_) Deliver(MESessionStopped);
  return hr;
}
HRESULT TFakeSession::Close() {
  const HRESULT hr = Log("Close");
  // Like a real session, a close always answers, scripted or not.
  if (Succeeded(hr)) Deliver(MESessionClosed);
  return hr;
}
HRESULT TFakeSession::Shutdown() {
  Log("Shutdown");
  std::shared_ptr<IAsyncCallback> cancelled;
  {
    std::unique_lock g(c_->mu);
    // Like a real session's, Shutdown returns only once no callback runs any more.
    if (std::this_thread::get_id() != thread_.get_id())
      c_->cv.wait(g, [this] { return !c_->invoking; });
    c_->shutdown = true;
    cancelled = std::move(c_->callback);  // an outstanding request ends without a call
    c_->callback.reset();
    c_->queue.clear();
  }
  c_->cv.notify_all();
  return S_OK;  // cancelled is released here, outside the lock
}
HRESULT TFakeSession::BeginGetEvent(std::shared_ptr<IAsyncCallback> callback) {
  {
    std::lock_guard g(c_->mu);
    if (c_->shutdown) return MF_E_SHUTDOWN;
    if (c_->callback) return MF_E_MULTIPLE_BEGIN;
    c_->callback = std::move(callback);
  }
  c_->cv.notify_all();
  return S_OK;
}
HRESULT TFakeSession::EndGetEvent(const AsyncResult& result, std::shared_ptr<const MediaEvent>& event) {
  if (Failed(result.status)) return result.status;
  event = result.event;
  return event ? S_OK : E_POINTER;
}
HRESULT TFakeSession::GetSessionCapabilities(uint32_t& caps) {
  caps = movie_.caps;
  return Log("GetSessionCapabilities");
}
HRESULT TFakeSession::GetClock(std::shared_ptr<IPresentationClock>& clock) {
  clock = std::make_shared<TFakeClock>(weak_from_this());
  return S_OK;
}
HRESULT TFakeSession::GetRateControl(std::shared_ptr<IRateControl>& rate) {
  rate = std::make_shared<TFakeRate>(weak_from_this(), movie_.rateZeroSupported);
  return S_OK;
}
HRESULT TFakeSession::GetRateSupport(std::shared_ptr<IRateSupport>& support) {
  support = std::make_shared<TFakeRate>(weak_from_this(), movie_.rateZeroSupported);
  return S_OK;
}
HRESULT TFakeSession::GetVideoDisplayControl(std::shared_ptr<IVideoDisplayControl>& display) {
  std::lock_guard g(c_->mu);
  if (!c_->hasVideo || c_->shutdown) return MF_E_UNSUPPORTED_SERVICE;
  display = std::make_shared<TFakeDisplay>(weak_from_this(), movie_);
  return S_OK;
}
HRESULT TFakeSession::GetAudioStreamVolume(std::shared_ptr<IAudioStreamVolume>& volume) {
  std::lock_guard g(c_->mu);
  if (!c_->hasAudio || c_->shutdown) return MF_E_UNSUPPORTED_SERVICE;
  // The levels live in the session; the service shares them through a view that locks.
  struct TView final : IAudioStreamVolume {
    std::weak_ptr<TFakeSession> s;
    HRESULT GetChannelCount(uint32_t& n) override {
      auto p = s.lock();
      if (!p) return MF_E_SHUTDOWN;
      std::lock_guard g(p->c_->mu);
      n = static_cast<uint32_t>(p->c_->volumes.size());
      return S_OK;
    }
    HRESULT SetChannelVolume(uint32_t i, float v) override {
      auto p = s.lock();
      if (!p) return MF_E_SHUTDOWN;
      std::lock_guard g(p->c_->mu);
      if (i >= p->c_->volumes.size() || v < 0 || v > 1) return E_INVALIDARG;
      p->c_->volumes[i] = v;
      return S_OK;
    }
    HRESULT GetChannelVolume(uint32_t i, float& v) override {
      auto p = s.lock();
      if (!p) return MF_E_SHUTDOWN;
      std::lock_guard g(p->c_->mu);
      if (i >= p->c_->volumes.size()) return E_INVALIDARG;
      v = p->c_->volumes[i];
      return S_OK;
    }
    HRESULT SetAllVolumes(uint32_t, const float*) override { return E_NOTIMPL; }
    HRESULT GetAllVolumes(uint32_t, float*) override { return E_NOTIMPL; }
  };
  auto view = std::make_shared<TView>();
  view->s = weak_from_this();
  volume = view;
  return S_OK;
}

} // namespace skmtest
