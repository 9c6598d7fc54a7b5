#pragma once
// A scripted media framework for the playback session's tests. Sessions deliver events
// on their own thread, but only the events a test queues (or, with autoComplete, the
// completion events of the commands given), at the moment the test chooses. Every call
// the player makes is logged so a test can check what reached the framework.
//
// Threads: the test thread scripts and inspects; each session's event thread calls the
// player. Everything shared is guarded by the session's mutex, which is never held while
// the player is called.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mediafw/MediaFoundation.h"

namespace skmtest {

using namespace skm::mf;

// What the next source opened through the fake looks like.
struct TFakeMovie {
  std::vector<MajorType> streams{MajorType::Video, MajorType::Audio};  // all selected
  uint64_t duration = 20'000'000;             // 2 s
  uint32_t width = 64, height = 48;
  uint32_t fpsNum = 25, fpsDen = 1;
  bool hasFrameRate = true;
  uint32_t caps = MFSESSIONCAP_START | MFSESSIONCAP_SEEK | MFSESSIONCAP_PAUSE |
                  MFSESSIONCAP_RATE_FORWARD;
  HRESULT openResult = S_OK;                  // CreateObjectFromURL
  HRESULT rateZeroSupported = S_OK;           // IsRateSupported(thin, 0)
  uint32_t channels = 2;
};

class TFakeSession;

class TFakeFramework final : public IMediaFramework,
                             public std::enable_shared_from_this<TFakeFramework> {
public:
  TFakeMovie movie;
  HRESULT startupResult = S_OK;
  bool autoComplete = false;       // sessions answer Start/Pause/Stop by themselves (Close always)
  bool autoTopology = false;       // SetTopology reports set, caps and ready by itself
  bool syncTopology = false;       // ...and returns only once they (and what follows) are handled

  HRESULT Startup(uint32_t version, uint32_t flags) override;
  HRESULT Shutdown() override;
  HRESULT CreateMediaSession(const SessionOptions*, std::shared_ptr<IMediaSession>& s) override;
  HRESULT CreateSourceResolver(std::shared_ptr<ISourceResolver>& r) override;
  HRESULT CreateTopology(std::shared_ptr<Topology>& t) override;
  HRESULT CreateTopologyNode(TopologyNodeType type, std::shared_ptr<TopologyNode>& n) override;
  HRESULT CreateAudioRendererActivate(std::shared_ptr<IActivate>& a) override;
  HRESULT CreateVideoRendererActivate(std::shared_ptr<IActivate>& a) override;
  HRESULT CreateSourceReaderFromMediaSource(const std::shared_ptr<IMediaSource>& s,
                                            std::shared_ptr<ISourceReader>& r) override;

  // The session made last (empty before the first).
  std::shared_ptr<TFakeSession> LastSession();
  int StartupBalance();  // Startup calls minus Shutdown calls
  int SourcesAlive();    // sources made and not shut down

private:
  friend class TFakeSource;
  std::mutex mu_;
  std::weak_ptr<TFakeSession> last_;
  int startups_ = 0;
  int sourcesAlive_ = 0;
};

class TFakeSession final : public IMediaSession,
                           public std::enable_shared_from_this<TFakeSession> {
public:
  TFakeSession(TFakeMovie movie, bool autoComplete, bool autoTopology, bool syncTopology = false);
  ~TFakeSession() override;

  // Queues an event; it is delivered once the player has asked for one.
  void Deliver(MediaEventType type, HRESULT status = S_OK);
  void DeliverTopologyStatus(uint32_t status);
  void DeliverCaps(uint32_t caps);
  // Waits until every queued event has been handled (false if the player stopped asking
  // before the queue ran dry, or after 5 s).
  bool WaitIdle();
  // The calls made to the session, in order ("Start", "Start@400000", "Pause", ...).
  std::vector<std::string> Calls();
  void ClearCalls();
  // Whether a callback is waiting for an event.
  bool RequestOutstanding();
  // Results the next calls of that kind return (S_OK by default).
  void FailNext(const std::string& call, HRESULT hr);
  // The presentation clock's time.
  void SetClockTime(int64_t t);
  // Per-channel volume levels.
  std::vector<float> Volumes();

  HRESULT SetTopology(uint32_t flags, const std::shared_ptr<Topology>& topology) override;
  HRESULT ClearTopologies() override;
  HRESULT Start(const PropVariant& startPosition) override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT Close() override;
  HRESULT Shutdown() override;
  HRESULT BeginGetEvent(std::shared_ptr<IAsyncCallback> callback) override;
  HRESULT EndGetEvent(const AsyncResult& result, std::shared_ptr<const MediaEvent>& event) override;
  HRESULT GetSessionCapabilities(uint32_t& caps) override;
  HRESULT GetClock(std::shared_ptr<IPresentationClock>& clock) override;
  HRESULT GetRateControl(std::shared_ptr<IRateControl>& rate) override;
  HRESULT GetRateSupport(std::shared_ptr<IRateSupport>& support) override;
  HRESULT GetVideoDisplayControl(std::shared_ptr<IVideoDisplayControl>& display) override;
  HRESULT GetAudioStreamVolume(std::shared_ptr<IAudioStreamVolume>& volume) override;

  // Used by the fake's services.
  HRESULT Log(const std::string& call);  // records; returns the scripted result
  int64_t ClockTime();

private:
  // What the event thread shares with the session; the thread keeps it alive, so the
  // session may be destroyed on its own event thread.
  struct TCore {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::shared_ptr<const MediaEvent>> queue;
    std::shared_ptr<IAsyncCallback> callback;
    bool invoking = false;
    bool stop = false;
    bool shutdown = false;
    bool hasVideo = false;
    bool hasAudio = false;
    std::vector<std::string> calls;
    std::vector<std::pair<std::string, HRESULT>> failNext;
    int64_t clock = 0;
    std::vector<float> volumes;
  };
  static void Run(std::shared_ptr<TCore> c);
  void Queue(std::shared_ptr<MediaEvent> e);

  const TFakeMovie movie_;
  const bool autoComplete_;
  const bool autoTopology_;
  const bool syncTopology_;
  std::shared_ptr<TCore> c_ = std::make_shared<TCore>();
  std::thread thread_;
};

} // namespace skmtest
