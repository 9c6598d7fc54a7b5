#include "platform/mediafw/AudioEngine.h"

#include <SDL2/SDL.h>

#include <chrono>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace skm::mf::detail {

namespace {

constexpr int64_t kBufferAheadHns = 3'000'000;  // what Fill keeps decoded

int64_t SystemHns() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100 + 1;
}

struct GraphFreer { void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); } };

} // namespace

// The atempo filter chain; owned by the engine thread.
struct TAudioEngine::TTempo {
  std::unique_ptr<AVFilterGraph, GraphFreer> graph;
  AVFilterContext* src = nullptr;   // owned by graph
  AVFilterContext* sink = nullptr;  // owned by graph
  FramePtr in{av_frame_alloc()};
  FramePtr out{av_frame_alloc()};
  int64_t outPts = 0;               // presentation time of the next output sample
};

TAudioEngine::TAudioEngine(std::shared_ptr<const TMovieInfo> info, const std::atomic<bool>* abort)
    : info_(std::move(info)), abort_(abort) {
  for (auto& v : volume_) v = 1.0f;
}

TAudioEngine::~TAudioEngine() { Close(); }

HRESULT TAudioEngine::Open(std::string& message) {
  HRESULT hr = OpenDemuxer(info_->path, abort_, fmt_, message);
  if (Failed(hr)) return hr;
  if (info_->audioIndex < 0 || info_->audioIndex >= static_cast<int>(fmt_->nb_streams))
    return MF_E_INVALIDSTREAMNUMBER;
  for (unsigned i = 0; i < fmt_->nb_streams; ++i)
    fmt_->streams[i]->discard = static_cast<int>(i) == info_->audioIndex ? AVDISCARD_DEFAULT
                                                                          : AVDISCARD_ALL;
  stream_ = fmt_->streams[info_->audioIndex];
  hr = OpenDecoder(fmt_.get(), info_->audioIndex, 1, dec_, message);
  if (Failed(hr)) return hr;
  pkt_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!pkt_ || !frame_) return E_OUTOFMEMORY;

  sampleRate_ = dec_->sample_rate > 0 ? dec_->sample_rate : info_->sampleRate;
  if (sampleRate_ <= 0 || sampleRate_ > 768000) return MF_E_INVALIDMEDIATYPE;
  const int srcChannels = dec_->ch_layout.nb_channels > 0 ? dec_->ch_layout.nb_channels
                                                           : info_->channels;
  channels_ = srcChannels == 1 ? 1 : 2;

  if (AudioSubsystemReady()) {
    SDL_AudioSpec want{}, have{};
    want.freq = sampleRate_;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(channels_);
    want.samples = 1024;
    want.callback = &TAudioEngine::Callback;
    want.userdata = this;
    // SDL converts to whatever the device plays; we always feed it this format.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  }
  nextPts_ = 0;
  trimBefore_ = 0;
  return S_OK;
}

void TAudioEngine::SetClockSink(TClockSink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void TAudioEngine::Close() {
  if (const uint32_t dev = device_.exchange(0)) {
    SDL_CloseAudioDevice(dev);  // waits for SDL's thread to leave the callback
  }
  std::lock_guard lock(mutex_);
  chunks_.clear();
  bufferedFrames_ = 0;
  sink_ = nullptr;
}

void TAudioEngine::ReleaseThreadState() { SDL_TLSCleanup(); }

void TAudioEngine::Play(int64_t) {
  if (const uint32_t dev = device_.load()) SDL_PauseAudioDevice(dev, 0);
}

void TAudioEngine::Pause() {
  if (const uint32_t dev = device_.load()) SDL_PauseAudioDevice(dev, 1);
}

void TAudioEngine::SetRate(double rate) { rate_ = rate; }

void TAudioEngine::SetVolume(uint32_t channel, float level) {
  if (channel < volume_.size()) volume_[channel] = std::clamp(level, 0.0f, 1.0f);
}

float TAudioEngine::Volume(uint32_t channel) const {
  return channel < volume_.size() ? volume_[channel].load() : 0.0f;
}

bool TAudioEngine::Drained() const {
  std::lock_guard lock(mutex_);
  return eof_ && chunks_.empty();
}

int64_t TAudioEngine::EndTime() const {
  std::lock_guard lock(mutex_);
  return decodedEnd_;
}

void TAudioEngine::Seek(int64_t pos) {
  if (!fmt_) return;
  {
    std::lock_guard lock(mutex_);
    chunks_.clear();
    bufferedFrames_ = 0;
  }
  const int64_t ts = HnsToStream(*info_, stream_, pos);
  if (avformat_seek_file(fmt_.get(), stream_->index, INT64_MIN, ts, ts, 0) < 0)
    av_seek_frame(fmt_.get(), stream_->index, ts, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(dec_.get());
  swr_.reset();
  ResetTempo();
  eof_ = false;
  trimBefore_ = pos;
  nextPts_ = pos;
}

void TAudioEngine::ResetTempo() {
  tempo_.reset();
  tempoRate_ = 1.0;
}

bool TAudioEngine::RebuildTempo(double rate) {
  tempo_.reset();
  auto t = std::make_unique<TTempo>();
  t->graph.reset(avfilter_graph_alloc());
  if (!t->graph || !t->in || !t->out) return false;
  char args[256];
  snprintf(args, sizeof args,
           "time_base=1/%d:sample_rate=%d:sample_fmt=flt:channel_layout=%s", sampleRate_,
           sampleRate_, channels_ == 1 ? "mono" : "stereo");
  if (avfilter_graph_create_filter(&t->src, avfilter_get_by_name("abuffer"), "in", args, nullptr,
                                   t->graph.get()) < 0)
    return false;
  if (avfilter_graph_create_filter(&t->sink, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                   nullptr, t->graph.get()) < 0)
    return false;
  AVFilterContext* tempo = nullptr;
  snprintf(args, sizeof args, "tempo=%f", rate);
  if (avfilter_graph_create_filter(&tempo, avfilter_get_by_name("atempo"), "tempo", args, nullptr,
                                   t->graph.get()) < 0)
    return false;
  if (avfilter_link(t->src, 0, tempo, 0) < 0 || avfilter_link(tempo, 0, t->sink, 0) < 0)
    return false;
  if (avfilter_graph_config(t->graph.get(), nullptr) < 0) return false;
  t->outPts = nextPts_;
  tempo_ = std::move(t);
  tempoRate_ = rate;
  return true;
}

void TAudioEngine::Push(const float* samples, int frames, int64_t pts) {
  if (frames <= 0) return;
  const double rate = rate_.load();
  const bool tempoUsable = rate >= 0.5 && rate <= 2.0 && std::fabs(rate - 1.0) > 1e-6;
  if (tempoUsable) {
    if (!tempo_ || tempoRate_ != rate) {
      nextPts_ = pts;
      if (!RebuildTempo(rate)) tempo_.reset();
    }
  } else if (tempo_) {
    ResetTempo();
  }
  auto enqueue = [&](const float* s, int n, int64_t at, double chunkRate) {
    TChunk c;
    c.samples.assign(s, s + size_t(n) * channels_);
    c.pts = at;
    c.rate = chunkRate;
    std::lock_guard lock(mutex_);
    bufferedFrames_ += size_t(n);
    decodedEnd_ = at + static_cast<int64_t>(double(n) * 1e7 * chunkRate / sampleRate_);
    chunks_.push_back(std::move(c));
  };
  if (!tempo_) {
    // Outside atempo's range the sound is muted (zeros keep the timing).
    if (std::fabs(rate - 1.0) > 1e-6) {
      std::vector<float> silent(size_t(frames) * channels_, 0.0f);
      enqueue(silent.data(), frames, pts, rate > 0 ? rate : 1.0);
    } else {
      enqueue(samples, frames, pts, 1.0);
    }
    return;
  }
  AVFrame* in = tempo_->in.get();
  av_frame_unref(in);
  in->format = AV_SAMPLE_FMT_FLT;
  in->sample_rate = sampleRate_;
  av_channel_layout_default(&in->ch_layout, static_cast<int>(channels_));
  in->nb_samples = frames;
  if (av_frame_get_buffer(in, 0) < 0) return;
  std::memcpy(in->data[0], samples, size_t(frames) * channels_ * sizeof(float));
  if (av_buffersrc_add_frame(tempo_->src, in) < 0) return;
  for (;;) {
    AVFrame* out = tempo_->out.get();
    if (av_buffersink_get_frame(tempo_->sink, out) < 0) break;
    const int n = out->nb_samples;
    enqueue(reinterpret_cast<const float*>(out->data[0]), n, tempo_->outPts, tempoRate_);
    tempo_->outPts += static_cast<int64_t>(double(n) * 1e7 * tempoRate_ / sampleRate_);
    av_frame_unref(out);
  }
}

bool TAudioEngine::DecodeSome() {
  for (;;) {
    if (abort_ && abort_->load()) return false;
    int r = avcodec_receive_frame(dec_.get(), frame_.get());
    if (r >= 0) {
      AVFrame* f = frame_.get();
      if (!swr_) {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, static_cast<int>(channels_));
        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, sampleRate_, &f->ch_layout,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0,
                                nullptr) < 0 ||
            swr_init(raw) < 0) {
          swr_free(&raw);
          av_frame_unref(f);
          return false;
        }
        swr_.reset(raw);
      }
      int64_t pts = nextPts_;
      if (f->best_effort_timestamp != AV_NOPTS_VALUE)
        pts = StreamToHns(*info_, stream_, f->best_effort_timestamp);
      const int maxOut = swr_get_out_samples(swr_.get(), f->nb_samples);
      if (maxOut <= 0 || maxOut > (1 << 22)) {
        av_frame_unref(f);
        continue;
      }
      scratch_.resize(size_t(maxOut) * channels_);
      uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(scratch_.data())};
      const int n = swr_convert(swr_.get(), outPlanes, maxOut,
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
      av_frame_unref(f);
      if (n <= 0) continue;
      // Drop what lies before the seek target, to the sample.
      int skip = 0;
      if (pts < trimBefore_) {
        const int64_t drop = (trimBefore_ - pts) * sampleRate_ / 10'000'000;
        skip = static_cast<int>(std::min<int64_t>(drop, n));
      }
      const int64_t at = pts + int64_t(skip) * 10'000'000 / sampleRate_;
      nextPts_ = pts + int64_t(n) * 10'000'000 / sampleRate_;
      if (n - skip > 0) Push(scratch_.data() + size_t(skip) * channels_, n - skip, at);
      return true;
    }
    if (r == AVERROR_EOF) {
      eof_ = true;
      return false;
    }
    if (r != AVERROR(EAGAIN)) {
      eof_ = true;
      return false;
    }
    r = av_read_frame(fmt_.get(), pkt_.get());
    if (r < 0) {
      avcodec_send_packet(dec_.get(), nullptr);
      if (r == AVERROR_EXIT) return false;
      continue;
    }
    if (pkt_->stream_index == stream_->index) avcodec_send_packet(dec_.get(), pkt_.get());
    av_packet_unref(pkt_.get());
  }
}

void TAudioEngine::Fill(const std::function<bool()>& interrupted) {
  if (!fmt_) return;
  for (int i = 0; i < 64; ++i) {
    if (interrupted && interrupted()) return;
    {
      std::lock_guard lock(mutex_);
      const int64_t buffered = int64_t(bufferedFrames_) * 10'000'000 / sampleRate_;
      if (buffered >= kBufferAheadHns || eof_) return;
    }
    if (!DecodeSome()) return;
  }
}

void TAudioEngine::Callback(void* self, uint8_t* stream, int len) {
  auto* e = static_cast<TAudioEngine*>(self);
  const int frames = len / int(sizeof(float) * e->channels_);
  e->Pull(reinterpret_cast<float*>(stream), frames);
}

void TAudioEngine::Pull(float* out, int frames) {
  const uint32_t ch = channels_;
  float vol[8];
  for (uint32_t c = 0; c < ch; ++c) vol[c] = volume_[c].load();
  int written = 0;
  int64_t heardPts = -1;
  TClockSink sink;
  {
    std::lock_guard lock(mutex_);
    sink = sink_;
    while (written < frames && !chunks_.empty()) {
      TChunk& c = chunks_.front();
      const size_t total = c.samples.size() / ch;
      if (heardPts < 0)
        heardPts = c.pts + static_cast<int64_t>(double(c.read) * 1e7 * c.rate / sampleRate_);
      const size_t take = std::min<size_t>(total - c.read, size_t(frames - written));
      const float* src = c.samples.data() + c.read * ch;
      for (size_t i = 0; i < take; ++i)
        for (uint32_t k = 0; k < ch; ++k) out[(written + i) * ch + k] = src[i * ch + k] * vol[k];
      written += static_cast<int>(take);
      c.read += take;
      bufferedFrames_ -= take;
      if (c.read >= total) chunks_.pop_front();
    }
  }
  if (written < frames)
    std::memset(out + size_t(written) * ch, 0, size_t(frames - written) * ch * sizeof(float));
  // The first sample of this buffer is heard about one buffer from now.
  if (sink && heardPts >= 0) {
    const int64_t latency = int64_t(frames) * 10'000'000 / sampleRate_;
    sink(heardPts, SystemHns() + latency);
  }
}

} // namespace skm::mf::detail
