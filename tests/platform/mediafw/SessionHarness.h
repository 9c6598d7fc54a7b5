#pragma once
// Drives a media session the way the playback session does: resolve a source, build the
// partial topology of its selected streams, set it, and keep one event request open,
// recording every event. Waits are guarded against hangs (a generous limit that fails
// the test), never measured.

#include "platform/mediafw/MediaFoundation.h"
#include "TestMovies.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace skmtest {

using namespace skm::mf;

// Records events; asks for the next one after each, until the session closes.
class TEventLog final : public IAsyncCallback, public std::enable_shared_from_this<TEventLog> {
 public:
  std::weak_ptr<IMediaSession> session;  // weak: the session holds us while a request is open

  HRESULT Invoke(const AsyncResult& result) override {
    auto s = session.lock();
    if (!s) return S_OK;
    std::shared_ptr<const MediaEvent> ev;
    if (Failed(s->EndGetEvent(result, ev)) || !ev) return E_FAIL;
    {
      std::lock_guard lock(m_);
      events_.push_back(*ev);
      cv_.notify_all();
    }
    if (ev->type != MESessionClosed) s->BeginGetEvent(shared_from_this());
    return S_OK;
  }
  // Index of the count-th event of type (1-based count), waiting for it; -1 if it never
  // comes within the hang guard.
  int WaitFor(MediaEventType type, int count = 1) {
    std::unique_lock lock(m_);
    int found = -1;
    cv_.wait_for(lock, std::chrono::seconds(20), [&] {
      int seen = 0;
      for (size_t i = 0; i < events_.size(); ++i)
        if (events_[i].type == type && ++seen == count) {
          found = static_cast<int>(i);
          return true;
        }
      return false;
    });
    return found;
  }
  // Number of events of type so far.
  int Count(MediaEventType type) {
    std::lock_guard lock(m_);
    int n = 0;
    for (const auto& e : events_) n += e.type == type;
    return n;
  }
  std::vector<MediaEvent> Events() {
    std::lock_guard lock(m_);
    return events_;
  }
  // The event types, leaving out rate changes.
  std::vector<uint32_t> Types() {
    std::vector<uint32_t> out;
    for (const auto& e : Events()) out.push_back(e.type);
    return out;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<MediaEvent> events_;
};

// A movie opened on a session, with what the media information reader says about it.
struct TOpened {
  std::shared_ptr<IMediaFramework> fw;
  std::shared_ptr<IMediaSession> session;
  std::shared_ptr<IMediaSource> source;
  std::shared_ptr<TEventLog> log;
  uint32_t width = 0, height = 0, num = 0, den = 0;
  uint64_t step = 0;       // truncate(den x 10^7 / num)
  uint64_t duration = 0;
  bool hasVideo = false, hasAudio = false;

  ~TOpened() { Close(); }

  // Shuts the session and the source down (their threads end) before the harness goes.
  void Close() {
    if (session) session->Shutdown();
    if (source) source->Shutdown();
    session.reset();
    source.reset();
  }

  // Opens path; returns the first failure. Waits for the topology to be ready.
  HRESULT Open(const std::string& path, const SessionOptions* options = nullptr,
               std::string* error = nullptr) {
    fw = FFmpegMediaFramework();
    HRESULT hr = fw->CreateMediaSession(options, session);
    if (Failed(hr)) return hr;
    log = std::make_shared<TEventLog>();
    log->session = session;
    if (Failed(hr = session->BeginGetEvent(log))) return hr;
    std::shared_ptr<ISourceResolver> resolver;
    if (Failed(hr = fw->CreateSourceResolver(resolver))) return hr;
    ObjectType type = MF_OBJECT_INVALID;
    hr = resolver->CreateObjectFromURL(path, MF_RESOLUTION_MEDIASOURCE, type, source);
    if (Failed(hr)) {
      if (error) *error = resolver->GetLastErrorText();
      return hr;
    }
    std::shared_ptr<ISourceReader> reader;
    if (Succeeded(fw->CreateSourceReaderFromMediaSource(source, reader))) {
      std::shared_ptr<IMediaType> mt;
      if (Succeeded(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, mt))) {
        uint64_t v = 0;
        mt->GetUINT64(MediaTypeAttribute::FrameSize, v);
        width = uint32_t(v >> 32);
        height = uint32_t(v);
        mt->GetUINT64(MediaTypeAttribute::FrameRate, v);
        num = uint32_t(v >> 32);
        den = uint32_t(v);
        step = uint64_t(double(den) * 10'000'000.0 / double(num));
      }
    }
    std::shared_ptr<IPresentationDescriptor> pd;
    if (Failed(hr = source->CreatePresentationDescriptor(pd))) return hr;
    pd->GetDuration(duration);
    std::shared_ptr<Topology> topo;
    fw->CreateTopology(topo);
    uint32_t n = 0;
    pd->GetStreamDescriptorCount(n);
    for (uint32_t i = 0; i < n; ++i) {
      bool selected = false;
      std::shared_ptr<IStreamDescriptor> sd;
      if (Failed(hr = pd->GetStreamDescriptorByIndex(i, selected, sd))) return hr;
      if (!selected) continue;
      MajorType mt = MajorType::Unknown;
      sd->GetMajorType(mt);
      std::shared_ptr<IActivate> act;
      if (mt == MajorType::Audio) {
        fw->CreateAudioRendererActivate(act);
        hasAudio = true;
      } else if (mt == MajorType::Video) {
        fw->CreateVideoRendererActivate(act);
        hasVideo = true;
      } else {
        return E_FAIL;
      }
      std::shared_ptr<TopologyNode> src, out;
      fw->CreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, src);
      src->SetSource(source);
      src->SetPresentationDescriptor(pd);
      src->SetStreamDescriptor(sd);
      topo->AddNode(src);
      fw->CreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, out);
      out->SetObject(act);
      out->SetUINT32(NodeAttribute::StreamId, 0);
      topo->AddNode(out);
      src->ConnectOutput(0, out, 0);
    }
    if (Failed(hr = session->SetTopology(MFSESSION_SETTOPOLOGY_IMMEDIATE, topo))) return hr;
    if (log->WaitFor(MESessionTopologyStatus) < 0) return E_ABORT;
    return S_OK;
  }

  // Start at pos, then pause at once, as a seek while paused does; waits for the pause.
  void SeekPaused(uint64_t pos) {
    const int paused = log->Count(MESessionPaused);
    session->Start(PropVariant::Position(static_cast<int64_t>(pos)));
    session->Pause();
    log->WaitFor(MESessionPaused, paused + 1);
  }

  // The index the current picture shows; -1 unreadable, -2 no picture.
  int ShownIndex(std::shared_ptr<const VideoFrame>* keep = nullptr) {
    std::shared_ptr<IVideoDisplayControl> display;
    if (Failed(session->GetVideoDisplayControl(display))) return -2;
    std::shared_ptr<const VideoFrame> f;
    if (Failed(display->GetCurrentImage(f)) || !f) return -2;
    if (keep) *keep = f;
    return ReadFrameIndex(f->pixels, f->width, f->height, f->stride);
  }

  // The presentation clock's time.
  int64_t ClockTime() {
    std::shared_ptr<IPresentationClock> clock;
    int64_t t = -1;
    if (Succeeded(session->GetClock(clock))) clock->GetTime(t);
    return t;
  }
};

} // namespace skmtest
