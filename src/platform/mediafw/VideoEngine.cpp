#include "platform/mediafw/VideoEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
}

namespace skm::mf::detail {

namespace {

// Seeks land on a keyframe; when that keyframe still shows after the target (B-frames,
// coarse indexes), we seek again this much earlier, then from the start.
constexpr int64_t kBackoffHns[] = {0, 10'000'000, 50'000'000};
constexpr int kMaxAttempts = 4;

// Continuing to decode forward beats seeking when the target is this close and no index
// tells us about a keyframe in between.
constexpr int64_t kContinueWindowHns = 20'000'000;

// On the way to a target, frames that nothing references are left undecoded until this
// close to it: the frames within stay linked, so steps back from the target find them.
constexpr int64_t kDecodeAllBeforeHns = 10'000'000;

} // namespace

namespace {
// Buffers a pool keeps at most: the window of converted frames on both sides of the
// playhead plus the pictures on screen, so playback and steps reuse buffers throughout.
constexpr size_t kPoolKeep = 12;
} // namespace

TBufferPool::~TBufferPool() {
  for (uint8_t* p : free_) av_free(p);
}

std::shared_ptr<uint8_t> TBufferPool::Get(size_t bytes) {
  uint8_t* p = nullptr;
  {
    std::lock_guard lock(m_);
    if (bytes == size_ && !free_.empty()) {
      p = free_.back();
      free_.pop_back();
    }
  }
  if (!p) p = static_cast<uint8_t*>(av_malloc(bytes));
  if (!p) return nullptr;
  std::weak_ptr<TBufferPool> weak = weak_from_this();
  return std::shared_ptr<uint8_t>(p, [weak, bytes](uint8_t* q) {
    if (auto pool = weak.lock()) pool->Put(q, bytes);
    else av_free(q);
  });
}

void TBufferPool::Put(uint8_t* p, size_t bytes) {
  {
    std::lock_guard lock(m_);
    if (bytes != size_) {
      for (uint8_t* q : free_) av_free(q);
      free_.clear();
      size_ = bytes;
    }
    if (free_.size() < kPoolKeep) {
      free_.push_back(p);
      return;
    }
  }
  av_free(p);
}

TVideoEngine::TVideoEngine(std::shared_ptr<const TMovieInfo> info, uint64_t budgetBytes,
                           int threads, const std::atomic<bool>* abort)
    : info_(std::move(info)), budget_(budgetBytes), threads_(threads), abort_(abort) {
  if (info_->rateNum > 0 && info_->rateDen > 0) {
    frameDur_ = 1e7 * info_->rateDen / info_->rateNum;
    step_ = static_cast<uint64_t>(double(info_->rateDen) * 10'000'000.0 / double(info_->rateNum));
    if (step_ == 0) step_ = 1;
  }
}

TVideoEngine::~TVideoEngine() {
  {
    std::lock_guard lock(cacheMutex_);
    stopHelper_ = true;
  }
  helperCv_.notify_all();
  if (helper_.joinable()) helper_.join();
}

HRESULT TVideoEngine::Open(std::string& message) {
  HRESULT hr = OpenDemuxer(info_->path, abort_, fmt_, message);
  if (Failed(hr)) return hr;
  if (info_->videoIndex < 0 || info_->videoIndex >= static_cast<int>(fmt_->nb_streams))
    return MF_E_INVALIDSTREAMNUMBER;
  for (unsigned i = 0; i < fmt_->nb_streams; ++i)
    fmt_->streams[i]->discard = static_cast<int>(i) == info_->videoIndex ? AVDISCARD_DEFAULT
                                                                          : AVDISCARD_ALL;
  stream_ = fmt_->streams[info_->videoIndex];
  // These decoders drop only pictures no other picture predicts from when told to skip
  // non-reference frames; for others we do not rely on it.
  canSkip_ = stream_->codecpar->codec_id == AV_CODEC_ID_H264 ||
             stream_->codecpar->codec_id == AV_CODEC_ID_HEVC;
  hr = OpenDecoder(fmt_.get(), info_->videoIndex, threads_, dec_, message);
  if (Failed(hr)) return hr;
  pkt_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!pkt_ || !frame_) return E_OUTOFMEMORY;
  // A freshly opened demuxer stands at the start: the first run needs no seek.
  run_ = TRun{};
  run_.active = true;
  run_.fromStart = true;
  if (!helper_.joinable()) helper_ = std::thread([this] { HelperLoop(); });
  return S_OK;
}

void TVideoEngine::HelperLoop() {
  std::unique_lock lock(cacheMutex_);
  for (;;) {
    helperCv_.wait(lock, [&] { return stopHelper_ || !wanted_.empty(); });
    if (stopHelper_) return;
    const int64_t pts = wanted_.front();
    wanted_.erase(wanted_.begin());
    auto it = cache_.find(pts);
    if (it == cache_.end() || it->second.bgra || !it->second.yuv) continue;
    inFlight_ = pts;
    lock.unlock();
    ConvertEntry(pts, true);
    lock.lock();
    inFlight_ = kUnknown;
    doneCv_.notify_all();
  }
}

void TVideoEngine::Want(std::vector<int64_t> pts) {
  {
    std::lock_guard lock(cacheMutex_);
    wanted_ = std::move(pts);
  }
  helperCv_.notify_all();
}

int TVideoEngine::WindowFrames() const {
  // A converted frame holds its display size in BGRA. Converted pictures on both sides of
  // the playhead (the window ahead, the frames just stepped over) take at most a quarter
  // of the budget, so the decoded frames of the group around it stay.
  const uint64_t frame = uint64_t(FFALIGN(std::max(1, Width()) * 4, 64)) * uint64_t(std::max(1, Height()));
  const uint64_t n = budget_ / 8 / frame;
  return static_cast<int>(std::min<uint64_t>(n, 6));
}

std::vector<int64_t> TVideoEngine::Successors(int64_t pts, int n) {
  std::vector<int64_t> out;
  std::lock_guard lock(cacheMutex_);
  auto it = cache_.find(pts);
  while (it != cache_.end() && static_cast<int>(out.size()) < n) {
    if (it->second.last || it->second.next == kUnknown) break;
    it = cache_.find(it->second.next);
    if (it == cache_.end()) break;
    out.push_back(it->first);
  }
  return out;
}

int64_t TVideoEngine::DecisionTime(int64_t p) const {
  if (p < 0) p = 0;
  if (!info_->constantRate) return p;
  const uint64_t k = static_cast<uint64_t>(p) / step_;
  return static_cast<int64_t>(std::llround(double(k) * frameDur_ + frameDur_ / 2.0));
}

int64_t TVideoEngine::LastFrameTime() const {
  std::lock_guard lock(cacheMutex_);
  return lastFrameTime_;
}

size_t TVideoEngine::FrameBytes(const AVFrame* f) {
  size_t n = 0;
  for (int i = 0; i < AV_NUM_DATA_POINTERS && f->buf[i]; ++i) n += f->buf[i]->size;
  return n ? n : sizeof(AVFrame);
}

std::map<int64_t, TVideoEngine::TEntry>::iterator TVideoEngine::FindExact(int64_t t) {
  if (cache_.empty()) return cache_.end();
  auto it = cache_.upper_bound(t);
  if (it == cache_.begin()) {
    // Every frame lies after t: only the movie's first frame answers for it.
    return it->second.first ? it : cache_.end();
  }
  --it;
  const TEntry& e = it->second;
  if (e.last || (e.next != kUnknown && e.next > t)) return it;
  return cache_.end();
}

std::map<int64_t, TVideoEngine::TEntry>::iterator TVideoEngine::FindBest(int64_t t) {
  if (cache_.empty()) return cache_.end();
  auto it = cache_.upper_bound(t);
  if (it == cache_.begin()) return it;
  return std::prev(it);
}

void TVideoEngine::Insert(int64_t pts, FramePtr frame) {
  std::lock_guard lock(cacheMutex_);
  if (run_.prevPts != kUnknown && (!run_.skipped || run_.prevPts >= run_.skippedUpTo)) {
    auto prev = cache_.find(run_.prevPts);
    if (prev != cache_.end()) prev->second.next = pts;
  }
  auto [it, fresh] = cache_.try_emplace(pts);
  TEntry& e = it->second;
  if (run_.fromStart && !run_.gotFrame) e.first = true;
  if (fresh) {
    e.bytes = FrameBytes(frame.get());
    e.yuv = std::move(frame);
    cacheBytes_ += e.bytes;
  }
  ++stats_.framesDecoded;
  Evict();
}

void TVideoEngine::Evict() {
  // The frames farthest from the playhead go first; the one at the playhead stays. A
  // neighbour's link to an evicted frame stays valid: it only says which time stamp
  // follows, and a later request for the evicted frame's interval finds no exact entry
  // and decodes it again.
  // While playing, the frames already shown go before those still to come.
  const int64_t reach = static_cast<int64_t>(frameDur_ * (WindowFrames() + 1));
  while (cacheBytes_ > budget_ && cache_.size() > 2) {
    // First the converted pictures outside the window around the playhead: their decoded
    // frames stay, and converting again costs far less than decoding again.
    auto far = cache_.end();
    int64_t farDist = reach;
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      const int64_t d = it->first > focus_ ? it->first - focus_ : focus_ - it->first;
      if (it->second.bgra && it->second.yuv && d > farDist) {
        far = it;
        farDist = d;
      }
    }
    if (far != cache_.end()) {
      cacheBytes_ -= far->second.bgraBytes;
      far->second.bytes -= far->second.bgraBytes;
      far->second.bgraBytes = 0;
      far->second.bgra.reset();
      continue;
    }
    auto keep = FindBest(focus_);
    auto front = cache_.begin();
    auto back = std::prev(cache_.end());
    auto victim = (playing_ && front->first < focus_) ||
                          (focus_ - front->first) >= (back->first - focus_)
                      ? front
                      : back;
    if (victim == keep) victim = victim == front ? back : front;
    if (victim == keep) break;
    cacheBytes_ -= victim->second.bytes;
    cache_.erase(victim);
  }
}

std::shared_ptr<const VideoFrame> TVideoEngine::Convert(TConverter& c, const AVFrame* f,
                                                        int64_t pts) {
  std::lock_guard lock(c.m);
  const int rot = info_->rotation;
  const int dw = info_->displayWidth, dh = info_->displayHeight;
  // The picture is scaled upright-before-rotation, then turned.
  const int sw = (rot == 90 || rot == 270) ? dh : dw;
  const int sh = (rot == 90 || rot == 270) ? dw : dh;
  if (sw <= 0 || sh <= 0 || f->width <= 0 || f->height <= 0) return nullptr;
  c.sws.reset(sws_getCachedContext(c.sws.release(), f->width, f->height,
                                    static_cast<AVPixelFormat>(f->format), sw, sh,
                                    AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!c.sws) return nullptr;
  const int stride = FFALIGN(sw * 4, 64);
  const size_t bytes = size_t(stride) * size_t(sh);
  std::shared_ptr<uint8_t> buf = pool_->Get(bytes + 64);
  if (!buf) return nullptr;
  uint8_t* dst[4] = {buf.get(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  if (sws_scale(c.sws.get(), f->data, f->linesize, 0, f->height, dst, dstStride) <= 0)
    return nullptr;

  auto out = std::make_shared<VideoFrame>();
  out->timestamp = pts;
  if (rot == 0) {
    out->width = sw;
    out->height = sh;
    out->stride = stride;
    out->pixels = buf.get();
    out->storage = buf;
  } else {
    const int ostride = FFALIGN(dw * 4, 64);
    std::shared_ptr<uint8_t> obuf = pool_->Get(size_t(ostride) * dh + 64);
    if (!obuf) return nullptr;
    const auto* src = reinterpret_cast<const uint32_t*>(buf.get());
    const int srcPitch = stride / 4, dstPitch = ostride / 4;
    auto* o = reinterpret_cast<uint32_t*>(obuf.get());
    for (int y = 0; y < dh; ++y) {
      for (int x = 0; x < dw; ++x) {
        int sx, sy;
        if (rot == 90) { sx = y; sy = sh - 1 - x; }
        else if (rot == 180) { sx = sw - 1 - x; sy = sh - 1 - y; }
        else { sx = sw - 1 - y; sy = x; }
        o[y * dstPitch + x] = src[sy * srcPitch + sx];
      }
    }
    out->width = dw;
    out->height = dh;
    out->stride = ostride;
    out->pixels = obuf.get();
    out->storage = obuf;
  }
  {
    std::lock_guard cl(cacheMutex_);
    ++stats_.framesConverted;
  }
  return out;
}

void TVideoEngine::ConvertEntry(int64_t pts, bool background) {
  AVFrame* ref = nullptr;
  {
    std::unique_lock lock(cacheMutex_);
    for (;;) {
      auto it = cache_.find(pts);
      if (it == cache_.end() || it->second.bgra || !it->second.yuv) return;
      const bool onDemandNow =
          std::find(onDemandPts_.begin(), onDemandPts_.end(), pts) != onDemandPts_.end();
      const bool busy = onDemandNow || (!background && inFlight_ == pts);
      if (!busy) {
        ref = av_frame_clone(it->second.yuv.get());
        break;
      }
      // Someone converts this frame right now: the helper leaves it to them, a caller on
      // demand waits for their result, which is as good as its own and comes sooner.
      if (background || stopHelper_) return;
      doneCv_.wait(lock);
    }
    if (!background) onDemandPts_.push_back(pts);
  }
  FramePtr held(ref);
  auto bgra = held ? Convert(background ? background_ : onDemand_, held.get(), pts) : nullptr;
  std::lock_guard lock(cacheMutex_);
  if (!background)
    onDemandPts_.erase(std::find(onDemandPts_.begin(), onDemandPts_.end(), pts));
  auto it = cache_.find(pts);
  if (bgra && it != cache_.end() && !it->second.bgra) {
    // The decoded frame stays: once the playhead moves on, the converted picture is what
    // goes first.
    it->second.bgraBytes = size_t(bgra->stride) * size_t(bgra->height);
    it->second.bytes += it->second.bgraBytes;
    cacheBytes_ += it->second.bgraBytes;
    it->second.bgra = std::move(bgra);
    Evict();
  }
  // Waiters find the picture published (or give up on it and convert it themselves).
  if (!background) doneCv_.notify_all();
}

HRESULT TVideoEngine::GetImage(int64_t t, std::shared_ptr<const VideoFrame>& out) {
  int64_t pts = 0;
  {
    std::lock_guard lock(cacheMutex_);
    auto it = FindExact(t);
    if (it == cache_.end()) it = FindBest(t);
    if (it == cache_.end()) return MF_E_NOT_AVAILABLE;
    if (it->second.bgra) {
      out = it->second.bgra;
      return S_OK;
    }
    pts = it->first;
  }
  ConvertEntry(pts);
  std::lock_guard lock(cacheMutex_);
  auto it = cache_.find(pts);
  if (it == cache_.end() || !it->second.bgra) return MF_E_NOT_AVAILABLE;
  out = it->second.bgra;
  return S_OK;
}

TVideoEngine::TStats TVideoEngine::Stats() const {
  std::lock_guard lock(cacheMutex_);
  TStats s = stats_;
  s.cachedFrames = cache_.size();
  s.cachedBytes = cacheBytes_;
  return s;
}

bool TVideoEngine::CanContinueTo(int64_t t, bool jumpAhead) const {
  if (!run_.active || run_.eof) return false;
  if (run_.prevPts == kUnknown) return true;  // freshly positioned: its frames come next
  if (run_.prevPts > t) return false;
  if (!jumpAhead) return true;
  if (avformat_index_get_entries_count(stream_) > 0 && run_.lastDts != AV_NOPTS_VALUE) {
    // Index times are decode times, which run ahead of presentation times by the
    // reordering delay; a keyframe that close before the target may still be shown after
    // it, so the one before counts.
    const int64_t ts = HnsToStream(*info_, stream_, t);
    const int64_t margin = av_rescale_q(
        static_cast<int64_t>(frameDur_ * (std::max(dec_->has_b_frames, 2) + 1)), kHnsBase,
        stream_->time_base);
    const AVIndexEntry* key =
        avformat_index_get_entry_from_timestamp(stream_, ts, AVSEEK_FLAG_BACKWARD);
    if (key && ts - key->timestamp < margin)
      key = avformat_index_get_entry_from_timestamp(stream_, key->timestamp - 1,
                                                    AVSEEK_FLAG_BACKWARD);
    // A keyframe past what we have read, before the target: jumping there is cheaper.
    return !key || key->timestamp <= run_.lastDts;
  }
  return t - run_.prevPts <= kContinueWindowHns;
}

void TVideoEngine::SeekFor(int64_t t, int attempt) {
  const bool fromStart = attempt >= 3 || t - kBackoffHns[std::min(attempt, 2)] <= 0;
  int64_t target = fromStart ? 0 : t - kBackoffHns[std::min(attempt, 2)];
  int err;
  if (fromStart) {
    const int64_t ts = HnsToStream(*info_, stream_, 0);
    err = avformat_seek_file(fmt_.get(), stream_->index, INT64_MIN, ts, ts, 0);
    if (err < 0) err = av_seek_frame(fmt_.get(), stream_->index, ts, AVSEEK_FLAG_BACKWARD);
    if (err < 0) err = avformat_seek_file(fmt_.get(), -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE);
  } else {
    const int64_t ts = HnsToStream(*info_, stream_, target);
    err = avformat_seek_file(fmt_.get(), stream_->index, INT64_MIN, ts, ts, 0);
    if (err < 0) err = av_seek_frame(fmt_.get(), stream_->index, ts, AVSEEK_FLAG_BACKWARD);
  }
  avcodec_flush_buffers(dec_.get());
  {
    std::lock_guard lock(cacheMutex_);
    ++stats_.seeks;
  }
  run_ = TRun{};
  run_.active = err >= 0;
  run_.fromStart = fromStart && err >= 0;
}

int TVideoEngine::DecodeOne(int64_t& pts) {
  for (;;) {
    if (abort_ && abort_->load()) return AVERROR_EXIT;
    int r = avcodec_receive_frame(dec_.get(), frame_.get());
    if (r >= 0) {
      int64_t ts = frame_->best_effort_timestamp;
      int64_t p;
      if (ts == AV_NOPTS_VALUE) {
        if (run_.prevPts == kUnknown && !run_.fromStart) {
          // The first frame after a seek without a time stamp (MPEG program streams
          // landing between keyframes): nothing tells where it lies.
          av_frame_unref(frame_.get());
          continue;
        }
        p = run_.prevPts == kUnknown ? 0 : run_.prevPts + static_cast<int64_t>(frameDur_);
        // A guess cannot be trusted once frames were left out: link nothing more.
        if (run_.skipped) run_.skippedUpTo = INT64_MAX;
      } else {
        p = StreamToHns(*info_, stream_, ts);
      }
      if (run_.prevPts != kUnknown && p <= run_.prevPts) {
        // Time stamps that go backwards (damaged files): the frame cannot be placed.
        av_frame_unref(frame_.get());
        continue;
      }
      FramePtr held(av_frame_alloc());
      if (!held) return AVERROR(ENOMEM);
      av_frame_move_ref(held.get(), frame_.get());
          Insert(p, std::move(held));
      run_.prevPts = p;
      run_.gotFrame = true;
      pts = p;
      return 1;
    }
    if (r == AVERROR_EOF) {
      run_.eof = true;
      eofSeen_ = true;
      std::lock_guard lock(cacheMutex_);
      if (run_.prevPts != kUnknown) {
        auto it = cache_.find(run_.prevPts);
        if (it != cache_.end()) it->second.last = true;
        lastFrameTime_ = std::max(lastFrameTime_, run_.prevPts);
      }
      return 0;
    }
    if (r != AVERROR(EAGAIN)) return r;
    if (run_.demuxEof) {
      // The decoder wants more but the stream is drained: treat as the end.
      avcodec_send_packet(dec_.get(), nullptr);
      continue;
    }
    r = av_read_frame(fmt_.get(), pkt_.get());
    if (r == AVERROR_EOF || (r < 0 && avio_feof(fmt_->pb))) {
      run_.demuxEof = true;
      avcodec_send_packet(dec_.get(), nullptr);
      continue;
    }
    if (r < 0) {
      if (r == AVERROR_EXIT) return r;
      // A read error inside the file: end the stream here rather than spin.
      run_.demuxEof = true;
      avcodec_send_packet(dec_.get(), nullptr);
      continue;
    }
    if (pkt_->stream_index == stream_->index) {
      if (pkt_->dts != AV_NOPTS_VALUE) run_.lastDts = pkt_->dts;
      // Skipping starts once the run gave its first frame (the first of the movie and a
      // keyframe shown after the target are recognised by it) and needs each packet's
      // time stamp, to know what was left out.
      bool skip = false;
      if (canSkip_ && skipBefore_ != kUnknown && run_.gotFrame && pkt_->pts != AV_NOPTS_VALUE) {
        const int64_t p = StreamToHns(*info_, stream_, pkt_->pts);
        if (p < skipBefore_) {
          skip = true;
          run_.skipped = true;
          run_.skippedUpTo = std::max(run_.skippedUpTo, p);
        }
      }
      dec_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
      const int s = avcodec_send_packet(dec_.get(), pkt_.get());
      if (s < 0 && s != AVERROR(EAGAIN) && s != AVERROR_INVALIDDATA) {
        // Other decoder errors on damaged data: skip the packet and go on.
        ++failures_;
      }
    }
    av_packet_unref(pkt_.get());
  }
}

TVideoEngine::TResult TVideoEngine::Ensure(int64_t t, const std::function<bool()>& interrupted,
                                           bool convert) {
  // A frame asked for to be shown becomes the playhead; the frames the window prepares
  // leave it where it is.
  if (convert) {
    std::lock_guard lock(cacheMutex_);
    focus_ = t;
  }
  int attempt = 0;
  bool decoded = false;
  // Skipping is given up for this target once a run that skipped could not reach it
  // (a movie whose frames are unevenly spaced may show a skipped frame there).
  bool allowSkip = true;
  const int64_t keepAll = std::max<int64_t>(
      kDecodeAllBeforeHns, static_cast<int64_t>(frameDur_ * (dec_->has_b_frames + 3)));
  for (;;) {
    int64_t hit = kUnknown;
    bool converted = false;
    {
      std::lock_guard lock(cacheMutex_);
      auto it = FindExact(t);
      if (it != cache_.end()) {
        hit = it->first;
        converted = it->second.bgra != nullptr;
        if (!decoded) ++stats_.cacheHits;
      }
    }
    if (hit != kUnknown) {
      if (!converted && convert) ConvertEntry(hit);
      return TResult::Ready;
    }
    if ((interrupted && interrupted()) || (abort_ && abort_->load())) return TResult::Interrupted;
    if (!CanContinueTo(t, attempt == 0)) {
      if (attempt >= kMaxAttempts) break;
      if (attempt > 0 && run_.skipped) allowSkip = false;
      SeekFor(t, attempt);
      ++attempt;
      if (!run_.active) break;
    }
    const bool firstOfRun = !run_.gotFrame;
    int64_t pts = 0;
    skipBefore_ = allowSkip ? t - keepAll : kUnknown;
    const int r = DecodeOne(pts);
    skipBefore_ = kUnknown;
    decoded = true;
    if (r == AVERROR_EXIT) return TResult::Interrupted;
    if (r < 0) break;
    if (r == 1 && firstOfRun && !run_.fromStart && pts > t) {
      // The keyframe we landed on already lies past the target (B-frames, coarse
      // indexes): seek earlier on the next turn.
      run_.active = false;
      if (attempt == 0) attempt = 1;
    }
  }
  // Best effort: the nearest frame we have rather than nothing.
  int64_t best = kUnknown;
  {
    std::lock_guard lock(cacheMutex_);
    auto it = FindBest(t);
    if (it == cache_.end()) return TResult::Failed;
    best = it->first;
  }
  ConvertEntry(best);
  return TResult::Ready;
}

void TVideoEngine::DecodeAhead(int64_t t, int64_t ahead,
                               const std::function<bool()>& interrupted) {
  {
    std::lock_guard lock(cacheMutex_);
    focus_ = t;
    playing_ = true;
    // Pictures already shown are not shown again while playing on: their buffers go back
    // to the pool for the next frames at once (fresh buffers cost page faults).
    const auto shown = FindBest(t);
    for (auto it = cache_.begin(); it != shown && it != cache_.end(); ++it) {
      if (!it->second.bgra || !it->second.yuv) continue;
      cacheBytes_ -= it->second.bgraBytes;
      it->second.bytes -= it->second.bgraBytes;
      it->second.bgraBytes = 0;
      it->second.bgra.reset();
    }
  }
  if (Ensure(t, interrupted) != TResult::Ready) return;
  // Walk the chain of known successors, decoding what is missing; the helper converts the
  // next few frames to show meanwhile. Decoded frames ahead take at most half the budget,
  // so none is evicted before its turn comes.
  const size_t window = static_cast<size_t>(std::max(1, WindowFrames()));
  std::vector<int64_t> convert;
  uint64_t aheadBytes = 0;
  int64_t cursor = t;
  for (int i = 0; i < 128; ++i) {
    if (interrupted && interrupted()) return;
    int64_t pts;
    bool needConvert = false, known = false, last = false;
    {
      std::lock_guard lock(cacheMutex_);
      auto it = FindExact(cursor);
      if (it == cache_.end()) break;
      pts = it->first;
      needConvert = !it->second.bgra;
      last = it->second.last;
      known = it->second.next != kUnknown;
      if (known) cursor = it->second.next;
      if (i > 0) aheadBytes += it->second.bytes;
    }
    // Only the next few frames: a picture converted further ahead would be dropped again
    // before its turn (the window around the playhead is all memory keeps converted).
    if (needConvert && static_cast<size_t>(i) < window) {
      convert.push_back(pts);
      Want(convert);
    }
    if (last || pts >= t + ahead || aheadBytes > budget_ / 2) return;
    if (!known) {
      // Decode the successor; the run continues from where it stopped.
      if (Ensure(pts + 1, interrupted, false) != TResult::Ready) return;
      std::lock_guard lock(cacheMutex_);
      focus_ = t;
      auto it = cache_.find(pts);
      if (it == cache_.end() || it->second.next == kUnknown) return;
      cursor = it->second.next;
    }
  }
}

void TVideoEngine::Prefetch(int64_t t, const std::function<bool()>& interrupted) {
  // The direction of the last step decides where the window lies: users step the same
  // way several times in a row.
  const bool backward = lastPrefetch_ != kUnknown && t < lastPrefetch_;
  lastPrefetch_ = t;
  const int window = WindowFrames();
  int64_t at = kUnknown;
  std::vector<int64_t> before;
  {
    std::lock_guard lock(cacheMutex_);
    focus_ = t;
    playing_ = false;
    if (window <= 0) return;
    auto it = FindExact(t);
    if (it == cache_.end()) return;
    at = it->first;
    // Contiguous predecessors.
    auto p = it;
    for (int i = 0; i < (backward ? window : 1) && p != cache_.begin(); ++i) {
      auto q = std::prev(p);
      if (q->second.next != p->first) break;
      before.push_back(q->first);
      p = q;
    }
  }
  // Forward, more frames are decoded than converted: decoding is the slower half.
  const size_t convertAfter = backward ? 1 : static_cast<size_t>(window);
  const size_t decodeAfter = backward ? 1 : 2 * static_cast<size_t>(window);
  std::vector<int64_t> after = Successors(at, static_cast<int>(decodeAfter));
  auto post = [&] {
    std::vector<int64_t> order;
    const size_t n = std::min(after.size(), convertAfter);
    if (backward) {
      order = before;
      order.insert(order.end(), after.begin(), after.begin() + n);
    } else {
      order.assign(after.begin(), after.begin() + n);
      order.insert(order.end(), before.begin(), before.end());
    }
    Want(std::move(order));
  };
  post();
  auto stop = [&] { return (interrupted && interrupted()) || (abort_ && abort_->load()); };
  while (after.size() < decodeAfter && !stop()) {
    const int64_t from = after.empty() ? at : after.back();
    // Beyond the first successor, only where the decoder already stands: no seeking for
    // frames nobody asked for yet.
    if (!after.empty() && !(run_.active && !run_.eof && run_.prevPts == from)) break;
    if (Ensure(from + 1, interrupted, false) != TResult::Ready) break;
    const std::vector<int64_t> more = Successors(from, 1);
    if (more.empty()) break;
    after.push_back(more.front());
    if (after.size() <= convertAfter) post();
  }
  std::lock_guard lock(cacheMutex_);
  focus_ = t;
}

} // namespace skm::mf::detail
