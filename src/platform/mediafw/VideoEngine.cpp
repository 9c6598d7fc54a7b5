#include "platform/mediafw/VideoEngine.h"

#include "platform/mediafw/BufferReserve.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
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

// Decoded frames farther than this from the playhead give their buffers to the frames
// decoded next: while playing at once, and when a step must decode, before it takes fresh
// memory. A second is what steps back right after a pause need; the pause prepares more.
constexpr int64_t kNearKeepHns = 10'000'000;

// Steps closer together than this leave the costly part of the preparation for later.
constexpr auto kSettle = std::chrono::milliseconds(150);

// A preparation starts this long after the step or seek that asked for it.
constexpr auto kHandOff = std::chrono::milliseconds(5);

// A second decoding head (and the frames it prepares behind the playhead) is worth its
// memory only from this budget on.
constexpr uint64_t kTwoHeadsBudget = 64ull << 20;

// Now on the steady clock, as a number that fits in an atomic.
int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

} // namespace

namespace {
// Pictures are large: their memory comes straight from the kernel and goes straight back
// to it, so what a pool lets go of is given back (the allocator would keep it in the
// arena of whichever thread allocated it, and two lanes' decoders then hold far more than
// their budgets). Pages are aligned beyond what any decoder or scaler asks for.
//
// Pictures of 2 MB or more are cut one after another from regions that ask for huge
// pages: their first writes then fault once per 2 MB instead of once per 4 KB, which in a
// virtual machine that hands memory to the guest only when written (free page reporting)
// made a fresh 3 MB picture 10 ms to write before and 1.5 to 4 ms after. Cut end to end, a
// picture's tail shares its huge page with the next picture's head instead of falling
// back to small pages, and a picture still goes back to the kernel on its own (the
// kernel splits a huge page it gives back in part), so nothing is held that the budget
// does not count.
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kRegion = size_t(32) << 20;

size_t PageBytes() {
  static const size_t page =
      static_cast<size_t>(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096);
  return page;
}

uint8_t* MapPlain(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

// A region of bytes (a multiple of kHugePage) starting on a huge page boundary.
uint8_t* MapHugeRegion(size_t bytes) {
  uint8_t* raw = MapPlain(bytes + kHugePage);
  if (!raw) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + bytes + kHugePage, used = aligned + bytes;
  if (end > used) munmap(reinterpret_cast<void*>(used), end - used);
  auto* p = reinterpret_cast<uint8_t*>(aligned);
  // Only advice: where huge pages are off, small pages serve as before.
  madvise(p, bytes, MADV_HUGEPAGE);
  return p;
}

uint8_t* MapBytes(size_t bytes) {
  if (bytes < kHugePage) return MapPlain(bytes);
  const size_t page = PageBytes();
  const size_t rounded = (bytes + page - 1) / page * page;
  // The region pictures are cut from now: [next, end). Never freed as a whole: each
  // picture cut from it goes back on its own, the rest when the next region starts.
  static std::mutex m;
  static uint8_t* next = nullptr;
  static uint8_t* end = nullptr;
  std::lock_guard lock(m);
  if (!next || size_t(end - next) < rounded) {
    const size_t size = std::max(kRegion, (rounded + kHugePage - 1) / kHugePage * kHugePage);
    uint8_t* region = MapHugeRegion(size);
    if (!region) return nullptr;
    if (next && end > next) munmap(next, size_t(end - next));
    next = region;
    end = region + size;
  }
  uint8_t* p = next;
  next += rounded;
  return p;
}

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// A fresh buffer's pages, filled in ahead of its use: the first write to each page of a
// fresh mapping costs a page fault, which made a 1080p conversion into a fresh buffer
// seven times slower than into a reused one. In pieces, so a caller with work waiting
// stops between them (the pages not filled yet fault in later, as they would anyway).
void FillPages(uint8_t* p, size_t bytes, const std::function<bool()>& stop) {
  constexpr size_t kPiece = size_t(512) << 10;
  const size_t page = PageBytes();
  for (size_t at = 0; at < bytes && !stop(); at += kPiece) {
    const size_t n = std::min(kPiece, bytes - at);
    // In one call where the kernel can (5.14 on); written otherwise.
    if (madvise(p + at, n, MADV_POPULATE_WRITE) != 0) {
      std::memset(p + at, 0, n);
      continue;
    }
    // Then a write to every page all the same: in a virtual machine whose host hands
    // memory to it only when written (free page reporting), the kernel's populate left
    // half the cost to the first write from here, 10 ms of an 8 MB picture.
    volatile uint8_t* v = p + at;
    for (size_t i = 0; i < n; i += page) v[i] = 0;
  }
}
void UnmapBytes(uint8_t* p, size_t bytes) {
  if (p) munmap(p, bytes);
}

// The buffers of closed sessions, for the sessions opened next: at most three eighths of
// the default budget (the free buffers and about half the frames of a closed session).
TBufferReserve& Reserve() {
  // Never destroyed: buffers may come back from threads still running at exit.
  static TBufferReserve* reserve = new TBufferReserve(
      size_t(DefaultFrameCacheMiB()) * (size_t(3) << 20) / 8, &UnmapBytes);
  return *reserve;
}

// Buffers a pool keeps at most: the window of converted frames on both sides of the
// playhead plus the pictures on screen, so playback and steps reuse buffers throughout.
constexpr size_t kPoolKeep = 16;
} // namespace

TFreeBuffers::~TFreeBuffers() {
  for (uint8_t* p : free_) Reserve().Put(p, size_);
}

size_t TFreeBuffers::Limit(size_t bytes) const {
  return std::max(minKeep_, std::min(maxKeep_, keepBytes_ / std::max<size_t>(1, bytes)));
}

size_t TFreeBuffers::Size() {
  std::lock_guard lock(m_);
  return size_;
}

size_t TFreeBuffers::FreeCount() {
  std::lock_guard lock(m_);
  return free_.size();
}

uint8_t* TFreeBuffers::Take(size_t bytes) {
  {
    std::lock_guard lock(m_);
    if (bytes != size_) {
      // Buffers of the size taken now are what Warm readies and what is kept.
      for (uint8_t* q : free_) UnmapBytes(q, size_);
      free_.clear();
      size_ = bytes;
    }
    if (!free_.empty()) {
      uint8_t* p = free_.back();
      free_.pop_back();
      return p;
    }
  }
  if (uint8_t* kept = Reserve().Take(bytes)) return kept;
  uint8_t* p = MapBytes(bytes);
  if (p) ++mapped_;
  return p;
}

void TFreeBuffers::Give(uint8_t* p, size_t bytes) {
  {
    std::lock_guard lock(m_);
    if (bytes != size_) {
      for (uint8_t* q : free_) UnmapBytes(q, size_);
      free_.clear();
      size_ = bytes;
    }
    if (free_.size() < Limit(bytes)) {
      free_.push_back(p);
      return;
    }
    if (closing_) {
      Reserve().Put(p, bytes);
      return;
    }
  }
  UnmapBytes(p, bytes);
}

void TFreeBuffers::Close() {
  std::lock_guard lock(m_);
  closing_ = true;
}

bool TFreeBuffers::Warm(size_t bytes, size_t want, const std::function<bool()>& stop) {
  {
    std::lock_guard lock(m_);
    if (bytes == 0 || (bytes != size_ && !free_.empty())) return false;
    if (free_.size() >= std::min(want, Limit(bytes))) return false;
  }
  if (uint8_t* kept = Reserve().Take(bytes)) {
    Give(kept, bytes);
    return true;
  }
  uint8_t* p = MapBytes(bytes);
  if (!p) return false;
  ++mapped_;
  FillPages(p, bytes, stop);
  Give(p, bytes);
  return true;
}

TBufferPool::TBufferPool(size_t keepBytes)
    : free_(std::make_shared<TFreeBuffers>(keepBytes, 2, kPoolKeep)) {}

std::shared_ptr<uint8_t> TBufferPool::Get(size_t bytes) {
  uint8_t* p = free_->Take(bytes);
  if (!p) return nullptr;
  std::weak_ptr<TFreeBuffers> weak = free_;
  return std::shared_ptr<uint8_t>(p, [weak, bytes](uint8_t* q) {
    if (auto pool = weak.lock()) pool->Give(q, bytes);
    else Reserve().Put(q, bytes);
  });
}

namespace {
// What a buffer handed out remembers: its pool (kept alive while the buffer lives).
struct TFrameBuffer {
  std::shared_ptr<TFreeBuffers> pool;
  size_t bytes;
};
} // namespace

// Decoders keep a few reference frames of their own beyond the free ones: at least four.
TFramePool::TFramePool(size_t keepBytes)
    : free_(std::make_shared<TFreeBuffers>(keepBytes, 4, SIZE_MAX)) {}
TFramePool::~TFramePool() = default;

bool TFramePool::Warm(size_t want, const std::function<bool()>& stop) {
  return free_->Warm(free_->Size(), want, stop);
}

void TFramePool::Attach(AVCodecContext* c) {
  if (!c->codec || !(c->codec->capabilities & AV_CODEC_CAP_DR1)) return;
  c->opaque = free_.get();
  c->get_buffer2 = &TFramePool::GetBuffer;
}

int TFramePool::GetBuffer(AVCodecContext* c, AVFrame* f, int flags) {
  auto* pool = static_cast<TFreeBuffers*>(c->opaque);
  const auto format = static_cast<AVPixelFormat>(f->format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!pool || c->hw_frames_ctx || !desc || f->width <= 0 || f->height <= 0 ||
      (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL)))
    return avcodec_default_get_buffer2(c, f, flags);
  // The layout libavcodec's own allocator gives: dimensions padded for the codec, each
  // line a multiple of the alignment it asks for, the planes one after another, and
  // room past the end for the decoder's wide reads.
  int w = f->width, h = f->height;
  int align[AV_NUM_DATA_POINTERS];
  avcodec_align_dimensions2(c, &w, &h, align);
  int linesize[4] = {};
  for (int tries = 0;; ++tries) {
    if (av_image_fill_linesizes(linesize, format, w) < 0 || tries > 16)
      return avcodec_default_get_buffer2(c, f, flags);
    bool aligned = true;
    for (int i = 0; i < 4; ++i)
      if (linesize[i] % std::max(1, align[i])) aligned = false;
    if (aligned) break;
    w += w & ~(w - 1);
  }
  ptrdiff_t pitches[4];
  for (int i = 0; i < 4; ++i) pitches[i] = linesize[i];
  size_t planes[4] = {};
  if (av_image_fill_plane_sizes(planes, format, h, pitches) < 0)
    return avcodec_default_get_buffer2(c, f, flags);
  size_t bytes = 16 + 64 + 63;
  for (size_t p : planes) bytes += p;
  uint8_t* data = pool->Take(bytes);
  if (!data) return AVERROR(ENOMEM);
  // The buffer holds its pool: the engine may be gone when the last frame lets go.
  auto* owner = new (std::nothrow) TFrameBuffer{pool->shared_from_this(), bytes};
  if (!owner) {
    UnmapBytes(data, bytes);
    return AVERROR(ENOMEM);
  }
  AVBufferRef* buf = av_buffer_create(
      data, bytes,
      [](void* opaque, uint8_t* p) {
        auto* o = static_cast<TFrameBuffer*>(opaque);
        o->pool->Give(p, o->bytes);
        delete o;
      },
      owner, 0);
  if (!buf) {
    delete owner;
    UnmapBytes(data, bytes);
    return AVERROR(ENOMEM);
  }
  f->buf[0] = buf;
  uint8_t* at = data;
  for (int i = 0; i < 4 && planes[i]; ++i) {
    f->data[i] = at;
    f->linesize[i] = linesize[i];
    at += planes[i];
  }
  f->extended_data = f->data;
  return 0;
}

TVideoEngine::TVideoEngine(std::shared_ptr<const TMovieInfo> info, uint64_t budgetBytes,
                           int threads, const std::atomic<bool>* abort)
    : info_(std::move(info)),
      // The budget holds all the engine's pictures: three quarters for the frames kept,
      // the rest for free buffers kept for reuse and the decoders' own frames.
      budget_(budgetBytes - budgetBytes / 4),
      threads_(threads),
      abort_(abort),
      // Free buffers kept for reuse are memory outside the budget: a sixteenth of it for
      // the decoded pictures, an eighth for the converted ones.
      framePool_(budgetBytes / 16),
      pool_(std::make_shared<TBufferPool>(budgetBytes / 8)) {
  if (info_->rateNum > 0 && info_->rateDen > 0) {
    frameDur_ = 1e7 * info_->rateDen / info_->rateNum;
    step_ = static_cast<uint64_t>(double(info_->rateDen) * 10'000'000.0 / double(info_->rateNum));
    if (step_ == 0) step_ = 1;
  }
}

TVideoEngine::~TVideoEngine() {
  {
    std::lock_guard lock(prepMutex_);
    stopPrep_ = true;
  }
  prepCv_.notify_all();
  if (preparer_.joinable()) preparer_.join();
  {
    std::lock_guard lock(cacheMutex_);
    stopHelper_ = true;
  }
  helperCv_.notify_all();
  if (helper_.joinable()) helper_.join();
  // The frames held and the decoders' own go back after this, to the next session.
  pool_->Close();
  framePool_.Close();
}

HRESULT TVideoEngine::OpenHead(THead& h, std::string& message) {
  HRESULT hr = OpenDemuxer(info_->path, abort_, h.fmt, message);
  if (Failed(hr)) return hr;
  if (info_->videoIndex < 0 || info_->videoIndex >= static_cast<int>(h.fmt->nb_streams))
    return MF_E_INVALIDSTREAMNUMBER;
  for (unsigned i = 0; i < h.fmt->nb_streams; ++i)
    h.fmt->streams[i]->discard = static_cast<int>(i) == info_->videoIndex ? AVDISCARD_DEFAULT
                                                                           : AVDISCARD_ALL;
  h.stream = h.fmt->streams[info_->videoIndex];
  // The second head works in the background: one thread of its own, so a core stays free
  // for the steps asked for meanwhile (on two cores, background decoding on both held
  // each step's hand-offs between threads up to several milliseconds).
  const int threads = &h == &heads_[1] ? 1 : threads_;
  hr = OpenDecoder(h.fmt.get(), info_->videoIndex, threads, h.dec, message,
                   [this](AVCodecContext* c) { framePool_.Attach(c); });
  if (Failed(hr)) return hr;
  h.pkt.reset(av_packet_alloc());
  h.frame.reset(av_frame_alloc());
  if (!h.pkt || !h.frame) return E_OUTOFMEMORY;
  // A freshly opened demuxer stands at the start: a first run from there needs no seek.
  h.run = TRun{};
  h.run.active = true;
  h.run.fromStart = true;
  h.run.atOpen = true;
  return S_OK;
}

HRESULT TVideoEngine::Open(std::string& message) {
  HRESULT hr = OpenHead(heads_[0], message);
  if (Failed(hr)) return hr;
  // These decoders drop only pictures no other picture predicts from when told to skip
  // non-reference frames; for others we do not rely on it.
  const AVCodecID id = heads_[0].stream->codecpar->codec_id;
  canSkip_ = id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC;
  // The buffers the first steps convert into are readied from the start: fresh memory
  // cost 20 ms a 1080p picture on the machine of the figures, and the steps right after
  // the first picture would each pay it.
  {
    std::lock_guard lock(cacheMutex_);
    warm_ = true;
  }
  // Named so a profile or /proc tells the engine's threads apart.
  if (!helper_.joinable()) helper_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "skm-convert");
    HelperLoop();
  });
  if (!preparer_.joinable()) preparer_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "skm-prepare");
    PreparerLoop();
  });
  return S_OK;
}

TVideoEngine::TDecodeLock::TDecodeLock(TVideoEngine& e) : e_(e) {
  ++e_.decodeWanted_;
  e_.decodeMutex_.lock();
  --e_.decodeWanted_;
}

TVideoEngine::TDecodeLock::~TDecodeLock() { e_.decodeMutex_.unlock(); }

void TVideoEngine::Prefetch(int64_t t) {
  // A step is a move of one frame; anything else (a seek, the first picture) says nothing
  // about where the user goes next.
  TWay way = TWay::Jump;
  if (lastPrefetch_ != kUnknown && t != lastPrefetch_ &&
      std::abs(double(t - lastPrefetch_)) < 1.5 * frameDur_)
    way = t < lastPrefetch_ ? TWay::Back : TWay::Ahead;
  else if (t == lastPrefetch_)
    way = lastWay_;
  lastPrefetch_ = t;
  lastWay_ = way;
  prefetchBeforeNs_ = prefetchNs_.load();
  prefetchNs_ = SteadyNs();
  {
    std::lock_guard lock(cacheMutex_);
    warm_ = true;
  }
  // The pictures to convert next are known from memory alone: the helper starts on them
  // at once, before the preparer even wakes.
  WantAround(t, way);
  {
    std::lock_guard lock(prepMutex_);
    prepAt_ = t;
    prepWay_ = way;
    prepJobNow_ = ++prepJob_;
  }
  prepCv_.notify_all();
}

std::vector<int64_t> TVideoEngine::ConvertOrder(const std::vector<int64_t>& before, size_t m,
                                                const std::vector<int64_t>& after, size_t n,
                                                TWay way) {
  m = std::min(m, before.size());
  n = std::min(n, after.size());
  std::vector<int64_t> order;
  if (way == TWay::Jump) {
    // Nearest first on both sides in turn, the frame behind first: after a seek onto or
    // just past a keyframe, back steps are the ones that find nothing else ready.
    for (size_t i = 0; i < std::max(m, n); ++i) {
      if (i < m) order.push_back(before[i]);
      if (i < n) order.push_back(after[i]);
    }
    return order;
  }
  const auto& first = way == TWay::Back ? before : after;
  const auto& second = way == TWay::Back ? after : before;
  const size_t f = way == TWay::Back ? m : n, g = way == TWay::Back ? n : m;
  order.assign(first.begin(), first.begin() + static_cast<ptrdiff_t>(f));
  order.insert(order.end(), second.begin(), second.begin() + static_cast<ptrdiff_t>(g));
  return order;
}

void TVideoEngine::WantAround(int64_t t, TWay way) {
  const int window = WindowFrames();
  if (window <= 0) return;
  const int wantBefore = way == TWay::Ahead ? 1 : window;
  const int wantAfter = way == TWay::Back ? 1 : window;
  std::vector<int64_t> before, after;
  {
    std::lock_guard lock(cacheMutex_);
    auto at = FindExact(t);
    if (at == cache_.end()) return;
    for (auto p = at; static_cast<int>(before.size()) < wantBefore && p != cache_.begin();) {
      auto q = std::prev(p);
      if (q->second.next != p->first) break;
      before.push_back(q->first);
      p = q;
    }
    for (auto p = at; static_cast<int>(after.size()) < wantAfter;) {
      if (p->second.last || p->second.next == kUnknown) break;
      p = cache_.find(p->second.next);
      if (p == cache_.end()) break;
      after.push_back(p->first);
    }
  }
  Want(ConvertOrder(before, before.size(), after, after.size(), way));
}

void TVideoEngine::PreparerLoop() {
  uint64_t done = 0;
  auto lastJobAt = std::chrono::steady_clock::time_point{};
  std::unique_lock lock(prepMutex_);
  for (;;) {
    prepCv_.wait(lock, [&] { return stopPrep_ || prepJob_ != done; });
    if (stopPrep_) return;
    const uint64_t job = prepJob_;
    const int64_t t = prepAt_;
    const TWay way = prepWay_;
    preparing_ = true;
    lock.unlock();
    auto stop = [&] {
      return stopPrep_.load() || decodeWanted_.load() > 0 || prepJobNow_.load() != job ||
             (abort_ && abort_->load());
    };
    // Steps in quick succession (a held key, steps back to back) need the cores for their
    // own frames: the costly part of the preparation waits until they pause a moment.
    const auto now = std::chrono::steady_clock::now();
    const bool rapid = now - lastJobAt < kSettle;
    lastJobAt = now;
    // The step that asked for this is still on its way to the screen (the event thread,
    // the caller's thread): decoder threads starting at once took both cores from it and
    // held it up to ten milliseconds. The helper's conversions go on meanwhile.
    {
      std::unique_lock wait(prepMutex_);
      prepCv_.wait_until(wait, now + kHandOff, [&] { return stopPrep_ || prepJob_ != job; });
    }
    std::unique_lock decoding(decodeMutex_, std::defer_lock);
    // The engine thread goes first: take decoding only while it does not want it.
    auto take = [&] {
      while (!stop()) {
        decoding.lock();
        if (decodeWanted_.load() == 0) return true;
        decoding.unlock();
        std::this_thread::yield();
      }
      return false;
    };
    auto settle = [&] {
      if (!rapid) return !stop();
      decoding.unlock();
      {
        std::unique_lock wait(prepMutex_);
        prepCv_.wait_until(wait, now + kSettle, [&] { return stopPrep_ || prepJob_ != job; });
      }
      return take();
    };
    if (take()) {
      PrefetchLocked(t, way, stop, settle);
      if (decoding.owns_lock()) decoding.unlock();
    }
    lock.lock();
    // Done, or given way: a preparation broken off is asked for again by the pause that
    // follows whatever the engine thread decoded.
    done = job;
    if (prepJob_ == done) {
      // Nothing left to prepare: the helper may ready decoded-picture buffers now.
      preparing_ = false;
      lock.unlock();
      {
        std::lock_guard cache(cacheMutex_);
        warm_ = true;
      }
      helperCv_.notify_all();
      lock.lock();
    }
  }
}

void TVideoEngine::HelperLoop() {
  std::unique_lock lock(cacheMutex_);
  for (;;) {
    helperCv_.wait(lock, [&] { return stopHelper_ || !wanted_.empty() || warm_; });
    if (stopHelper_) return;
    if (wanted_.empty()) {
      // Nothing to convert while paused: the pool gets the buffers the next steps will
      // convert into, written once here. A fresh buffer's first writes cost the kernel
      // a page fault per page, and conversions in a row into fresh buffers (steps back
      // to back right after a seek) went at a seventh of their speed.
      size_t converted = 0;
      for (const auto& entry : cache_) converted += entry.second.bgra != nullptr;
      const bool recyclable = FarPictureToRecycle() != cache_.end();
      // The pictures on screen are held outside the cache, two at most.
      const size_t want = MaxConverted() + 2 > converted ? MaxConverted() + 2 - converted : 0;
      lock.unlock();
      // Pictures first, but not while steps come in quick succession and a converted
      // picture outside the window can give its buffer to the next conversion instead
      // (one held elsewhere as well, in a blend say, gives none):
      // a fresh 1080p picture written here took a core for 4-23 ms, and steps back to
      // back into frames not decoded took up to 8 ms meanwhile.
      // Then decoded pictures for the frames decoding ahead will add, but not while the
      // preparer has a job: on two cores, writing fresh memory beside its decoding left
      // no core for the step that follows a rest (up to 7 ms in the bench; the
      // preparer wakes us when it is done).
      // Nor while steps come in quick succession: those that decode take the buffers of
      // far frames, and fresh ones written here took a core from them (up to 8 ms a
      // step back to back). The pause after them readies what is still missing.
      auto wished = [this] { return wishes_.load() != 0; };
      const int64_t settleNs = std::chrono::nanoseconds(kSettle).count();
      const int64_t lastNs = prefetchNs_.load();
      const bool rapid =
          lastNs - prefetchBeforeNs_.load() < settleNs && SteadyNs() - lastNs < settleNs;
      const bool added =
          (want > 0 && !(rapid && recyclable) && pool_->Warm(PictureBytes(), want, wished)) ||
          (!rapid && !preparing_.load() &&
           framePool_.Warm(static_cast<size_t>(2 * std::max(1, WindowFrames())),
                           [&] { return wished() || preparing_.load(); }));
      lock.lock();
      if (!added) warm_ = false;
      continue;
    }
    const int64_t pts = wanted_.front();
    wanted_.erase(wanted_.begin());
    wishes_ = wanted_.size();
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
    wishes_ = wanted_.size();
  }
  helperCv_.notify_all();
}

size_t TVideoEngine::PictureBytes() const {
  return size_t(FFALIGN(std::max(1, Width()) * 4, 64)) * size_t(std::max(1, Height())) + 64;
}

size_t TVideoEngine::MaxConverted() const {
  return 2 * static_cast<size_t>(std::max(1, WindowFrames())) + 2;
}

int64_t TVideoEngine::FromFocus(int64_t pts) const {
  return pts > focus_ ? pts - focus_ : focus_ - pts;
}

int64_t TVideoEngine::WindowReach() const {
  return static_cast<int64_t>(frameDur_ * (std::max(1, WindowFrames()) + 0.5));
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

void TVideoEngine::Insert(THead& h, int64_t pts, FramePtr frame) {
  std::lock_guard lock(cacheMutex_);
  const TRun& run = h.run;
  if (run.prevPts != kUnknown && (!run.skipped || run.prevPts >= run.skippedUpTo)) {
    auto prev = cache_.find(run.prevPts);
    if (prev != cache_.end()) prev->second.next = pts;
  }
  ++stats_.framesDecoded;
  // A frame with a frame left out after it can never be linked to its successor by this
  // run, so no request could be answered with it: its buffer goes straight back to the
  // decoder instead of taking memory (unless it is the movie's first frame, or a guess of
  // time stamps ended all linking and only the nearest frame can still be shown).
  const bool first = run.fromStart && !run.gotFrame;
  if (!first && run.skipped && run.skippedUpTo != INT64_MAX && pts < run.skippedUpTo &&
      cache_.find(pts) == cache_.end())
    return;
  auto [it, fresh] = cache_.try_emplace(pts);
  TEntry& e = it->second;
  if (first) e.first = true;
  if (fresh) {
    e.bytes = FrameBytes(frame.get());
    e.yuv = std::move(frame);
    cacheBytes_ += e.bytes;
  }
  Evict();
}

void TVideoEngine::DropConverted(TEntry& e) {
  cacheBytes_ -= e.bgraBytes;
  e.bytes -= e.bgraBytes;
  e.bgraBytes = 0;
  e.bgra.reset();
}

void TVideoEngine::Evict() {
  // The frames farthest from the playhead go first; the one at the playhead stays. A
  // neighbour's link to an evicted frame stays valid: it only says which time stamp
  // follows, and a later request for the evicted frame's interval finds no exact entry
  // and decodes it again.
  // While playing, the frames already shown go before those still to come.
  const int64_t reach = static_cast<int64_t>(frameDur_ * (WindowFrames() + 1));
  // Converted pictures are only ever the window on both sides of the playhead and a few
  // stepped over: beyond that many the farthest go at once, budget or not. Their buffers
  // return to the pool, and converting into a reused buffer is several times faster than
  // into fresh memory the kernel fills page by page on first write.
  const size_t maxConverted = MaxConverted();
  for (;;) {
    auto far = cache_.end();
    int64_t farDist = -1;
    size_t converted = 0;
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      if (!it->second.bgra || !it->second.yuv) continue;
      ++converted;
      const int64_t d = FromFocus(it->first);
      if (d > farDist) {
        far = it;
        farDist = d;
      }
    }
    // Over the budget, the converted pictures outside the window go first: their decoded
    // frames stay, and converting again costs far less than decoding again.
    const bool over = cacheBytes_ > budget_ && farDist > reach;
    if (far == cache_.end() || (converted <= maxConverted && !over)) break;
    DropConverted(far->second);
  }
  // While playing, frames shown more than a second ago go, budget or not, and their
  // buffers take the frames decoded ahead: a cache growing to its budget took fresh
  // memory for every frame meanwhile, which in a virtual machine whose host hands over
  // memory on first write cost as much CPU as the decoding. A second is what steps back
  // right after a pause need; the pause prepares more.
  if (playing_) {
    const auto keep = FindBest(focus_);
    while (!cache_.empty() && cache_.begin() != keep &&
           cache_.begin()->first < focus_ - kNearKeepHns) {
      cacheBytes_ -= cache_.begin()->second.bytes;
      cache_.erase(cache_.begin());
    }
  }
  while (cacheBytes_ > budget_ && cache_.size() > 2) {
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

void TVideoEngine::RecycleFarPicture() {
  // A picture converted into fresh memory costs the kernel's page faults (a 1080p picture
  // 8-20 ms in a virtual machine whose host hands memory over on first write): with no
  // free buffer, the converted picture farthest from the playhead, outside the window,
  // gives up its own. Converting it again, should the playhead come back, costs a
  // millisecond. A picture held elsewhere too (on screen, in a blend) would give nothing
  // back; copies are only made under the cache's lock, so the count cannot grow meanwhile.
  if (pool_->FreeCount() > 0) return;
  const auto far = FarPictureToRecycle();
  if (far != cache_.end()) DropConverted(far->second);
}

std::map<int64_t, TVideoEngine::TEntry>::iterator TVideoEngine::FarPictureToRecycle() {
  auto far = cache_.end();
  int64_t farDist = WindowReach();
  for (auto it = cache_.begin(); it != cache_.end(); ++it) {
    if (!it->second.bgra || !it->second.yuv || it->second.bgra.use_count() > 1) continue;
    const int64_t d = FromFocus(it->first);
    if (d > farDist) {
      far = it;
      farDist = d;
    }
  }
  return far;
}

void TVideoEngine::RecycleFarFrames() {
  // A step into frames not decoded yet takes a decoded-picture buffer or more for each
  // frame it decodes. Fresh memory, where the host backs a page only on its first write
  // (virtual machines that report free memory back), cost 2-3 ms a 2 MB huge page, more
  // than decoding the frame; steps back to back leave no rest in which to ready buffers.
  // So while the cache still grows, the frames farthest from the playhead give up theirs;
  // a preparation at the next rest decodes them again, in the background.
  const size_t want = 2 * static_cast<size_t>(std::max(1, WindowFrames()));
  size_t spare = framePool_.FreeCount();
  if (spare >= want) return;
  std::lock_guard lock(cacheMutex_);
  if (playing_) return;
  while (spare < want && cache_.size() > 2) {
    auto front = cache_.begin();
    auto back = std::prev(cache_.end());
    const int64_t behind = focus_ - front->first, ahead = back->first - focus_;
    auto victim = behind >= ahead ? front : back;
    if (std::max(behind, ahead) <= kNearKeepHns) break;
    if (victim->second.yuv) ++spare;
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
  // A turned picture is scaled into the converter's own scratch buffer first: a second
  // size in the pool would make it let go of its buffers at every turn.
  std::shared_ptr<uint8_t> buf;
  if (rot == 0) {
    buf = pool_->Get(PictureBytes());
  } else {
    if (c.scratchBytes != bytes + 64) {
      c.scratch.reset();
      c.scratchBytes = 0;
      if (uint8_t* p = MapBytes(bytes + 64))
        c.scratch = std::shared_ptr<uint8_t>(p, [n = bytes + 64](uint8_t* q) { UnmapBytes(q, n); });
      c.scratchBytes = c.scratch ? bytes + 64 : 0;
    }
    buf = c.scratch;
  }
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
    std::shared_ptr<uint8_t> obuf = pool_->Get(PictureBytes());
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
        RecycleFarPicture();
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
  for (const auto& entry : cache_) s.convertedHeld += entry.second.bgra != nullptr;
  s.pictureBuffersMapped = pool_->Mapped();
  s.frameBuffersMapped = framePool_.Mapped();
  return s;
}

bool TVideoEngine::CanContinueTo(const THead& h, int64_t t, bool jumpAhead) const {
  const TRun& run = h.run;
  if (!h.dec || !run.active || run.eof) return false;
  // Freshly positioned by a seek for this target: its frames come next.
  if (run.prevPts == kUnknown && !run.atOpen) return true;
  // A head that stands at the start of the movie counts as being at its first frame.
  const int64_t prev = run.prevPts == kUnknown ? 0 : run.prevPts;
  if (prev > t) return false;
  if (!jumpAhead) return true;
  if (avformat_index_get_entries_count(h.stream) > 0) {
    // Index times are decode times, which run ahead of presentation times by the
    // reordering delay; a keyframe that close before the target may still be shown after
    // it, so the one before counts.
    const int64_t ts = HnsToStream(*info_, h.stream, t);
    const int64_t margin = av_rescale_q(
        static_cast<int64_t>(frameDur_ * (std::max(h.dec->has_b_frames, 2) + 1)), kHnsBase,
        h.stream->time_base);
    const AVIndexEntry* key =
        avformat_index_get_entry_from_timestamp(h.stream, ts, AVSEEK_FLAG_BACKWARD);
    if (key && ts - key->timestamp < margin)
      key = avformat_index_get_entry_from_timestamp(h.stream, key->timestamp - 1,
                                                    AVSEEK_FLAG_BACKWARD);
    if (!key) return true;
    // A keyframe past what we have read, before the target: jumping there is cheaper.
    if (run.lastDts != AV_NOPTS_VALUE) return key->timestamp <= run.lastDts;
    if (run.atOpen && !run.gotFrame) {
      // Nothing read yet from the start: only the first group is on the way.
      const AVIndexEntry* first = avformat_index_get_entry(h.stream, 0);
      return first && key->timestamp <= first->timestamp;
    }
  }
  return t - prev <= kContinueWindowHns;
}

void TVideoEngine::SeekFor(THead& h, int64_t t, int attempt) {
  const bool fromStart = attempt >= 3 || t - kBackoffHns[std::min(attempt, 2)] <= 0;
  int64_t target = fromStart ? 0 : t - kBackoffHns[std::min(attempt, 2)];
  AVFormatContext* fmt = h.fmt.get();
  const int index = h.stream->index;
  int err;
  if (fromStart) {
    const int64_t ts = HnsToStream(*info_, h.stream, 0);
    err = avformat_seek_file(fmt, index, INT64_MIN, ts, ts, 0);
    if (err < 0) err = av_seek_frame(fmt, index, ts, AVSEEK_FLAG_BACKWARD);
    if (err < 0) err = avformat_seek_file(fmt, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE);
  } else {
    const int64_t ts = HnsToStream(*info_, h.stream, target);
    err = avformat_seek_file(fmt, index, INT64_MIN, ts, ts, 0);
    if (err < 0) err = av_seek_frame(fmt, index, ts, AVSEEK_FLAG_BACKWARD);
  }
  avcodec_flush_buffers(h.dec.get());
  {
    std::lock_guard lock(cacheMutex_);
    ++stats_.seeks;
  }
  h.run = TRun{};
  h.run.active = err >= 0;
  h.run.fromStart = fromStart && err >= 0;
}

int TVideoEngine::DecodeOne(THead& h, int64_t& pts) {
  TRun& run = h.run;
  AVCodecContext* dec = h.dec.get();
  AVFrame* frame = h.frame.get();
  AVPacket* pkt = h.pkt.get();
  for (;;) {
    if (abort_ && abort_->load()) return AVERROR_EXIT;
    int r = avcodec_receive_frame(dec, frame);
    if (r >= 0) {
      int64_t ts = frame->best_effort_timestamp;
      int64_t p;
      if (ts == AV_NOPTS_VALUE) {
        if (run.prevPts == kUnknown && !run.fromStart) {
          // The first frame after a seek without a time stamp (MPEG program streams
          // landing between keyframes): nothing tells where it lies.
          av_frame_unref(frame);
          continue;
        }
        p = run.prevPts == kUnknown ? 0 : run.prevPts + static_cast<int64_t>(frameDur_);
        // A guess cannot be trusted once frames were left out: link nothing more.
        if (run.skipped) run.skippedUpTo = INT64_MAX;
      } else {
        p = StreamToHns(*info_, h.stream, ts);
      }
      if (run.prevPts != kUnknown && p <= run.prevPts) {
        // Time stamps that go backwards (damaged files): the frame cannot be placed.
        av_frame_unref(frame);
        continue;
      }
      FramePtr held(av_frame_alloc());
      if (!held) return AVERROR(ENOMEM);
      av_frame_move_ref(held.get(), frame);
      Insert(h, p, std::move(held));
      run.prevPts = p;
      run.gotFrame = true;
      pts = p;
      return 1;
    }
    if (r == AVERROR_EOF) {
      run.eof = true;
      eofSeen_ = true;
      std::lock_guard lock(cacheMutex_);
      if (run.prevPts != kUnknown) {
        auto it = cache_.find(run.prevPts);
        if (it != cache_.end()) it->second.last = true;
        lastFrameTime_ = std::max(lastFrameTime_, run.prevPts);
      }
      return 0;
    }
    if (r != AVERROR(EAGAIN)) return r;
    if (run.demuxEof) {
      // The decoder wants more but the stream is drained: treat as the end.
      avcodec_send_packet(dec, nullptr);
      continue;
    }
    r = av_read_frame(h.fmt.get(), pkt);
    if (r == AVERROR_EOF || (r < 0 && avio_feof(h.fmt->pb))) {
      run.demuxEof = true;
      avcodec_send_packet(dec, nullptr);
      continue;
    }
    if (r < 0) {
      if (r == AVERROR_EXIT) return r;
      // A read error inside the file: end the stream here rather than spin.
      run.demuxEof = true;
      avcodec_send_packet(dec, nullptr);
      continue;
    }
    if (pkt->stream_index == h.stream->index) {
      if (pkt->dts != AV_NOPTS_VALUE) run.lastDts = pkt->dts;
      // Skipping starts once the run gave its first frame (the first of the movie and a
      // keyframe shown after the target are recognised by it) and needs each packet's
      // time stamp, to know what was left out.
      bool skip = false;
      if (canSkip_ && h.skipBefore != kUnknown && run.gotFrame && pkt->pts != AV_NOPTS_VALUE) {
        const int64_t p = StreamToHns(*info_, h.stream, pkt->pts);
        if (p < h.skipBefore) {
          skip = true;
          run.skipped = true;
          run.skippedUpTo = std::max(run.skippedUpTo, p);
        }
      }
      dec->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
      const int s = avcodec_send_packet(dec, pkt);
      if (s < 0 && s != AVERROR(EAGAIN) && s != AVERROR_INVALIDDATA) {
        // Other decoder errors on damaged data: skip the packet and go on.
        ++failures_;
      }
    }
    av_packet_unref(pkt);
  }
}

TVideoEngine::THead* TVideoEngine::HeadFor(int64_t t, bool background) {
  // The head that decodes on to t with the least work: the one standing nearest before it.
  THead* best = nullptr;
  for (THead& h : heads_) {
    if (!CanContinueTo(h, t)) continue;
    if (!best || h.run.prevPts > best->run.prevPts) best = &h;
  }
  if (best) return best;
  // Otherwise a seek: a request that waits seeks with the first head (all the decoder
  // threads), the preparation in the background with the second, so each keeps its
  // place for the other: the playhead's neighbourhood, the group prepared behind it. The
  // second head opens for the first preparation (opening reads the streams' headers,
  // which a request that waits should not pay for); a movie it cannot open for is served
  // by the first alone.
  if (!background) return &heads_[0];
  THead& second = heads_[1];
  if (!second.dec && budget_ >= kTwoHeadsBudget) {
    std::string message;
    if (Failed(OpenHead(second, message))) second = THead{};
  }
  return second.dec ? &second : &heads_[0];
}

TVideoEngine::TResult TVideoEngine::Decode(int64_t t, const std::function<bool()>& interrupted,
                                           int64_t keepFrom) {
  THead* h = nullptr;
  int attempt = 0;
  // Skipping is given up for this target once a run that skipped could not reach it
  // (a movie whose frames are unevenly spaced may show a skipped frame there).
  bool allowSkip = true;
  for (;;) {
    {
      std::lock_guard lock(cacheMutex_);
      if (FindExact(t) != cache_.end()) return TResult::Ready;
    }
    if ((interrupted && interrupted()) || (abort_ && abort_->load())) return TResult::Interrupted;
    if (!h) h = HeadFor(t, keepFrom != kUnknown);
    if (!CanContinueTo(*h, t, attempt == 0)) {
      if (attempt >= kMaxAttempts) return TResult::Failed;
      if (attempt > 0 && h->run.skipped) allowSkip = false;
      SeekFor(*h, t, attempt);
      ++attempt;
      if (!h->run.active) return TResult::Failed;
    }
    const bool firstOfRun = !h->run.gotFrame;
    int64_t pts = 0;
    if (allowSkip) {
      const int64_t keepAll = std::max<int64_t>(
          kDecodeAllBeforeHns, static_cast<int64_t>(frameDur_ * (h->dec->has_b_frames + 3)));
      h->skipBefore = keepFrom != kUnknown ? keepFrom : t - keepAll;
    }
    const int r = DecodeOne(*h, pts);
    h->skipBefore = kUnknown;
    if (r == AVERROR_EXIT) return TResult::Interrupted;
    if (r < 0) return TResult::Failed;

    if (r == 1 && firstOfRun && !h->run.fromStart && pts > t) {
      // The keyframe we landed on already lies past the target (B-frames, coarse
      // indexes): seek earlier on the next turn.
      h->run.active = false;
      if (attempt == 0) attempt = 1;
    }
  }
}

TVideoEngine::TResult TVideoEngine::Ensure(int64_t t, const std::function<bool()>& interrupted,
                                           bool convert) {
  // A request from the engine thread is a command under way: the preparation for the
  // old playhead stops at its next frame and leaves the cores to it (the pause that ends
  // a step asks for a new one).
  prepJobNow_.fetch_add(1);
  // A frame in memory needs no decoding.
  int64_t hit = kUnknown;
  {
    std::lock_guard lock(cacheMutex_);
    if (convert) focus_ = t;
    auto it = FindExact(t);
    if (it != cache_.end()) {
      ++stats_.cacheHits;
      if (it->second.bgra || !convert) return TResult::Ready;
      hit = it->first;
    }
  }
  if (hit != kUnknown) {
    ConvertEntry(hit);
    std::lock_guard lock(cacheMutex_);
    auto it = cache_.find(hit);
    if (it != cache_.end() && it->second.bgra) return TResult::Ready;
  }
  TDecodeLock decoding(*this);
  return EnsureLocked(t, interrupted, convert);
}

TVideoEngine::TResult TVideoEngine::EnsureLocked(int64_t t,
                                                 const std::function<bool()>& interrupted,
                                                 bool convert) {
  // A frame asked for to be shown becomes the playhead; the frames the window prepares
  // leave it where it is.
  bool cached = false;
  {
    std::lock_guard lock(cacheMutex_);
    if (convert) focus_ = t;
    auto it = FindExact(t);
    if (it != cache_.end()) {
      ++stats_.cacheHits;
      // Converted below, outside the lock, when asked for.
      if (it->second.bgra || !convert) return TResult::Ready;
      cached = true;
    }
  }
  // A frame that must be decoded first gets the cores: the pictures the helper was to
  // prepare around the old playhead wait for the next window.
  if (convert) {
    Want({});
    if (!cached) RecycleFarFrames();
  }
  const TResult r = Decode(t, interrupted, kUnknown);
  if (r == TResult::Interrupted) return r;
  int64_t pts = kUnknown;
  {
    std::lock_guard lock(cacheMutex_);
    auto it = FindExact(t);
    // Best effort after a failure: the nearest frame we have rather than nothing.
    if (it == cache_.end()) it = FindBest(t);
    if (it == cache_.end()) return TResult::Failed;
    pts = it->first;
  }
  if (convert) ConvertEntry(pts);
  return TResult::Ready;
}

void TVideoEngine::DecodeAhead(int64_t t, int64_t ahead,
                               const std::function<bool()>& interrupted) {
  {
    std::lock_guard lock(cacheMutex_);
    focus_ = t;
    playing_ = true;
    warm_ = false;  // playback recycles its buffers as it goes
    // Pictures already shown are not shown again while playing on: their buffers go back
    // to the pool for the next frames at once (fresh buffers cost page faults).
    const auto shown = FindBest(t);
    for (auto it = cache_.begin(); it != shown && it != cache_.end(); ++it) {
      if (it->second.bgra && it->second.yuv) DropConverted(it->second);
    }
  }
  TDecodeLock decoding(*this);
  if (EnsureLocked(t, interrupted, true) != TResult::Ready) return;
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
      if (EnsureLocked(pts + 1, interrupted, false) != TResult::Ready) return;
      std::lock_guard lock(cacheMutex_);
      focus_ = t;
      auto it = cache_.find(pts);
      if (it == cache_.end() || it->second.next == kUnknown) return;
      cursor = it->second.next;
    }
  }
}

uint64_t TVideoEngine::DecodedFrameBytes() const {
  // The frames held are of one size, but for the odd mid-stream change; the newest tells.
  std::lock_guard lock(cacheMutex_);
  for (auto it = cache_.rbegin(); it != cache_.rend(); ++it)
    if (it->second.yuv) return it->second.bytes - it->second.bgraBytes;
  return 0;
}

bool TVideoEngine::PrepareBehind(int64_t at, int64_t upTo, const std::function<bool()>& stop) {
  const uint64_t frame = DecodedFrameBytes();
  if (frame == 0 || budget_ < kTwoHeadsBudget) return true;
  // The frames behind take at most five eighths of the budget: the frames ahead and the
  // converted pictures around the playhead keep the rest.
  const int64_t keepBehind = std::min<int64_t>(upTo, static_cast<int64_t>(budget_ / 8 * 5 / frame));
  if (keepBehind < 2) return true;
  for (;;) {
    // How far back the frames before the playhead are linked already.
    int64_t earliest = kUnknown, linked = 0;
    {
      std::lock_guard lock(cacheMutex_);
      auto it = cache_.find(at);
      if (it == cache_.end()) return true;
      while (linked < keepBehind && !it->second.first && it != cache_.begin()) {
        auto q = std::prev(it);
        if (q->second.next != it->first) break;
        it = q;
        ++linked;
      }
      if (it->second.first || linked >= keepBehind) return true;
      earliest = it->first;
    }
    // The frame just before the earliest one linked: decoding it from its keyframe links
    // everything in between (when the whole group would not fit, the frames nothing
    // references are left out where they could not be kept anyway).
    const int64_t target = earliest - 1;
    if (target < 0 || target == behindDoneFor_) return true;
    const int64_t keepFrom =
        earliest - static_cast<int64_t>(double(keepBehind - linked) * frameDur_);
    const TResult r = Decode(target, stop, keepFrom);
    if (r == TResult::Interrupted) return false;
    // Not again for the same target: what could be kept is kept (eviction or a failure
    // would otherwise have us decode the same group over and over).
    behindDoneFor_ = target;
    if (r != TResult::Ready) return true;
  }
}

void TVideoEngine::PrefetchLocked(int64_t t, TWay way,
                                  const std::function<bool()>& interrupted,
                                  const std::function<bool()>& settle) {
  // The direction of the last step decides which side comes first: users step the same
  // way several times in a row. Given time, both sides are prepared: the window of
  // converted pictures on either side, the decoded frames of the group behind (a
  // keyframe behind the playhead is the common case), more decoded frames ahead.
  const int window = WindowFrames();
  auto stop = [&] { return (interrupted && interrupted()) || (abort_ && abort_->load()); };
  int64_t at = kUnknown;
  auto predecessors = [&](int n) {
    std::vector<int64_t> before;
    std::lock_guard lock(cacheMutex_);
    auto p = cache_.find(at);
    for (int i = 0; i < n && p != cache_.end() && p != cache_.begin(); ++i) {
      auto q = std::prev(p);
      if (q->second.next != p->first) break;
      before.push_back(q->first);
      p = q;
    }
    return before;
  };
  {
    std::lock_guard lock(cacheMutex_);
    focus_ = t;
    playing_ = false;
    if (window <= 0) return;
    auto it = FindExact(t);
    if (it == cache_.end()) return;
    at = it->first;
  }
  std::vector<int64_t> before = predecessors(window);
  // Forward, more frames are decoded than converted: decoding is the slower half.
  const bool backward = way == TWay::Back;
  const size_t convertAfter = backward ? 1 : static_cast<size_t>(window);
  const size_t decodeAfter = backward ? 1 : 2 * static_cast<size_t>(window);
  std::vector<int64_t> after = Successors(at, static_cast<int>(decodeAfter));
  // Converts the side stepped toward first, then (all) the other.
  auto post = [&](size_t otherSide) {
    Want(ConvertOrder(before, way == TWay::Ahead ? otherSide : before.size(), after,
                      backward ? otherSide : convertAfter, way));
  };
  post(1);
  // Standing where the last frame of after was decoded: decoding on costs no seek.
  auto standsAt = [&](int64_t pts) {
    for (const THead& h : heads_)
      if (h.dec && h.run.active && !h.run.eof && h.run.prevPts == pts) return true;
    return false;
  };
  auto decodeOn = [&](size_t count) {
    while (after.size() < count && !stop()) {
      const int64_t from = after.empty() ? at : after.back();
      // Beyond the first successor, only where a head already stands: no seeking for
      // frames nobody asked for yet.
      if (!after.empty() && !standsAt(from)) return;
      if (EnsureLocked(from + 1, interrupted, false) != TResult::Ready) return;
      const std::vector<int64_t> more = Successors(from, 1);
      if (more.empty()) return;
      after.push_back(more.front());
      if (after.size() <= convertAfter) post(1);
    }
  };
  // First the next frame (and, stepping forward, the window ahead), then, once steps
  // pause, the frames of the last second behind (decoding on from the keyframe, leaving
  // out what nothing references before them, as a seek does): a step either way then
  // finds its frame, also across a keyframe.
  decodeOn(1);
  if (!backward) {
    decodeOn(decodeAfter);
    post(1);
  }
  if (stop()) return;
  // Held back toward the end of what is linked behind, the steps would reach it with
  // nothing decoded there and wait for a whole group: the last second behind is prepared
  // beside them. Steps back over decoded frames leave a core free for it, and the
  // decoding head keeps its place between the steps that break it off. It starts four
  // windows before the end: from two, a held key (a step each 40 ms) reached the end
  // before the group was decoded (6 to 60 ms for that step).
  const bool nearGap =
      backward && predecessors(4 * window).size() < 4 * static_cast<size_t>(window);
  if (!nearGap && !settle()) return;
  const int64_t second = static_cast<int64_t>(std::ceil(1e7 / frameDur_));
  // What a seek leaves linked before its target (a little less: the margin is counted from
  // the decision time), so a seek into a group needs no preparation at once.
  const int64_t recent =
      std::max<int64_t>(2, static_cast<int64_t>(kDecodeAllBeforeHns / frameDur_) - 2);
  if (!PrepareBehind(at, recent, stop)) return;
  if (nearGap && !settle()) return;
  decodeOn(decodeAfter);
  if (stop()) return;
  before = predecessors(window);
  post(static_cast<size_t>(window));
  // Then every frame behind the budget keeps, and the window on both sides again.
  if (!PrepareBehind(at, INT64_MAX, stop)) return;
  before = predecessors(window);
  post(static_cast<size_t>(window));
  // Decoded frames further ahead, up to a second or an eighth of the budget, so steps
  // forward in a row find them.
  const uint64_t frame = DecodedFrameBytes();
  if (frame > 0 && budget_ >= kTwoHeadsBudget) {
    const size_t ahead = std::min<size_t>(static_cast<size_t>(second),
                                          static_cast<size_t>(budget_ / 8 / frame));
    decodeOn(std::max(after.size(), ahead));
  }
  // With all else ready, the second decoder opens (it reads the streams' headers), so the
  // first preparation behind the playhead, or a step across a keyframe, need not wait
  // for that.
  if (!stop() && !heads_[1].dec && budget_ >= kTwoHeadsBudget) {
    std::string message;
    if (Failed(OpenHead(heads_[1], message))) heads_[1] = THead{};
  }
  std::lock_guard lock(cacheMutex_);
  focus_ = t;
}

} // namespace skm::mf::detail
