#pragma once
// The video half of a session: demuxing, decoding, the cache of decoded frames around
// the playhead, and conversion to BGRA at display size.
//
// Threads: Open, Ensure, DecodeAhead, Prefetch and Close run on the session's engine
// thread only. A preparer thread of the engine's own prepares frames while the session is
// paused; it decodes only while the engine thread does not, giving way at its next frame.
// GetImage, FrameForPosition and Stats may be called from any thread: they read the cache
// under its mutex and convert a frame that is decoded but not yet converted under the
// converter's own mutex, never waiting for decoding. The engine owns one helper thread of
// its own that converts the frames the engine thread asks for ahead of time (the window
// around the playhead), so converting never holds up commands; it ends with the engine.
//
// Frame selection: for a movie of constant frame rate num/den, a position p shows frame
// k = p div Step (Step = truncate(den x 10^7 / num)), found as the last frame whose time
// stamp is not above k x (exact frame duration) + half a frame; for a variable rate, the
// last frame whose time stamp is not above p.

#include "platform/mediafw/MediaFoundationPrivate.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace skm::mf::detail {

// Free buffers of one size, mapped from the kernel and kept for reuse: as many as fit in
// keepBytes, but at least minKeep and at most maxKeep. The common core of both pools
// below. Thread-safe.
class TFreeBuffers : public std::enable_shared_from_this<TFreeBuffers> {
 public:
  TFreeBuffers(size_t keepBytes, size_t minKeep, size_t maxKeep)
      : keepBytes_(keepBytes), minKeep_(minKeep), maxKeep_(maxKeep) {}
  ~TFreeBuffers();
  // A free buffer of bytes bytes, else a fresh one; nullptr when memory is out. Asked for
  // another size (a stream whose size changed), it lets go of the buffers it keeps.
  uint8_t* Take(size_t bytes);
  // Keeps p for reuse, or gives it back to the kernel.
  void Give(uint8_t* p, size_t bytes);
  // Adds one free buffer of bytes bytes, its pages already written, while it keeps fewer
  // than want (and fewer than it may keep); false when it added none. Stops filling the
  // pages early when stop says so.
  bool Warm(size_t bytes, size_t want, const std::function<bool()>& stop);
  // The size of the buffers taken last (0 before the first).
  size_t Size();
  // Free buffers kept now.
  size_t FreeCount();
  // Buffers mapped from the kernel so far (reused ones not counted).
  uint64_t Mapped() const { return mapped_.load(); }
  // Its session closes: what comes back beyond what it keeps waits for the next session
  // instead of going back to the kernel.
  void Close();

 private:
  size_t Limit(size_t bytes) const;  // free buffers of that size kept at most
  const size_t keepBytes_, minKeep_, maxKeep_;
  std::mutex m_;
  bool closing_ = false;
  size_t size_ = 0;             // the size of the buffers kept
  std::vector<uint8_t*> free_;  // buffers ready for reuse
  std::atomic<uint64_t> mapped_{0};
};

// Recycles picture buffers of one size: playback converts a frame per tick, and fresh
// allocations of that size come straight from the kernel, page by page. Thread-safe;
// buffers handed out may outlive the pool (they are then simply freed).
class TBufferPool {
 public:
  // Keeps free buffers up to keepBytes (at least two).
  explicit TBufferPool(size_t keepBytes);
  // A buffer of bytes bytes, shared; returns to the pool when the last holder lets go.
  std::shared_ptr<uint8_t> Get(size_t bytes);
  // See TFreeBuffers::Warm.
  bool Warm(size_t bytes, size_t want, const std::function<bool()>& stop) {
    return free_->Warm(bytes, want, stop);
  }
  // Buffers mapped from the kernel so far (reused ones not counted).
  uint64_t Mapped() const { return free_->Mapped(); }
  // Free buffers kept now.
  size_t FreeCount() { return free_->FreeCount(); }
  // See TFreeBuffers::Close.
  void Close() { free_->Close(); }

 private:
  const std::shared_ptr<TFreeBuffers> free_;
};

// The decoded pictures of all decoding heads of an engine, as libavcodec buffers. A
// decoder's own pool keeps every buffer it ever handed out; with two heads taking turns
// that would be twice the frames the budget keeps. This one keeps free buffers only up to
// keepBytes. Thread-safe (decoders' frame threads ask for buffers); buffers may outlive
// the engine.
class TFramePool {
 public:
  explicit TFramePool(size_t keepBytes);
  ~TFramePool();
  // Sets up c to take its pictures from the pool (before the decoder opens).
  void Attach(AVCodecContext* c);
  // Adds one free buffer of the size decoded last, its pages already written, while the
  // pool holds fewer than want (and fewer than it keeps); false when it added none.
  bool Warm(size_t want, const std::function<bool()>& stop);
  // See TFreeBuffers::Close.
  void Close() { free_->Close(); }
  // Free buffers kept now.
  size_t FreeCount() { return free_->FreeCount(); }
  // Buffers mapped from the kernel so far (reused ones not counted).
  uint64_t Mapped() const { return free_->Mapped(); }

 private:
  static int GetBuffer(AVCodecContext* c, AVFrame* f, int flags);
  const std::shared_ptr<TFreeBuffers> free_;
};

class TVideoEngine {
 public:
  // How a request to make a frame current ended.
  enum class TResult { Ready, Interrupted, Failed };

  TVideoEngine(std::shared_ptr<const TMovieInfo> info, uint64_t budgetBytes, int threads,
               const std::atomic<bool>* abort);
  ~TVideoEngine();
  TVideoEngine(const TVideoEngine&) = delete;
  TVideoEngine& operator=(const TVideoEngine&) = delete;

  // Opens the demuxer and decoder; message names the cause of a failure.
  HRESULT Open(std::string& message);
  // The time stamp limit that selects the frame shown at position p (see the top).
  int64_t DecisionTime(int64_t p) const;
  // Decodes until the frame for decision time t is known exactly and, when convert is set,
  // converted. Stops early when interrupted() says so (a newer request, shutdown).
  TResult Ensure(int64_t t, const std::function<bool()>& interrupted, bool convert = true);
  // While playing: keeps the frames for [t, t + ahead) decoded and converted.
  void DecodeAhead(int64_t t, int64_t ahead, const std::function<bool()>& interrupted);
  // While paused: asks the preparer thread to prepare the frames around the one for
  // decision time t (see PrefetchLocked) and returns at once. The preparation gives way
  // whenever this thread needs to decode, and a newer call replaces it.
  void Prefetch(int64_t t);
  // True when decoding reached the end of the stream.
  bool AtEnd() const { return eofSeen_.load(); }
  // Time stamp of the last frame of the movie, once decoding reached it (else -1).
  int64_t LastFrameTime() const;

  // The converted frame for decision time t, shared without copying; the best frame not
  // after t when the exact one is not decoded (playback that falls behind), or
  // MF_E_NOT_AVAILABLE when nothing is decoded yet.
  HRESULT GetImage(int64_t t, std::shared_ptr<const VideoFrame>& out);
  // Display size.
  int Width() const { return info_->displayWidth; }
  int Height() const { return info_->displayHeight; }

  // Counters for tests and benchmarks.
  struct TStats {
    uint64_t framesDecoded = 0;  // frames the decoder produced
    uint64_t framesConverted = 0;  // frames converted to BGRA
    uint64_t seeks = 0;          // demuxer seeks
    uint64_t cacheHits = 0;      // requests served without decoding
    uint64_t cachedFrames = 0;   // frames held now
    uint64_t cachedBytes = 0;    // bytes held now
    uint64_t convertedHeld = 0;  // converted pictures held now
    uint64_t pictureBuffersMapped = 0;  // converted-picture buffers taken from the kernel
    uint64_t frameBuffersMapped = 0;    // decoded-picture buffers taken from the kernel
  };
  TStats Stats() const;

 private:
  struct TEntry {
    int64_t next = kUnknown;  // time stamp of the following frame, once known
    bool first = false;       // the first frame of the movie
    bool last = false;        // the last frame of the movie
    FramePtr yuv;             // decoded picture
    std::shared_ptr<const VideoFrame> bgra;  // the converted picture, while near the playhead
    size_t bgraBytes = 0;     // memory held by the converted picture
    size_t bytes = 0;         // memory held by this entry, both pictures
  };
  static constexpr int64_t kUnknown = INT64_MIN;

  // Cache (guarded by cacheMutex_).
  // The entry that is certainly the frame for t, or end() when decoding must go on.
  std::map<int64_t, TEntry>::iterator FindExact(int64_t t);
  // The last entry not after t (the first entry when all are after t), or end().
  std::map<int64_t, TEntry>::iterator FindBest(int64_t t);
  void Evict();
  // Before a frame asked for is decoded: far frames go so its decoder reuses their
  // buffers instead of fresh memory.
  void RecycleFarFrames();
  // Before a picture is converted with no free buffer in the pool: the converted picture
  // farthest from the playhead outside the window lets go of its buffer.
  void RecycleFarPicture();
  // The converted picture farthest from the playhead outside the window whose buffer
  // would come back if dropped (only the cache holds it, its decoded frame stays), or
  // cache_.end(). Under cacheMutex_.
  std::map<int64_t, TEntry>::iterator FarPictureToRecycle();
  // How far pts lies from the playhead, either side (100 ns). Under cacheMutex_.
  int64_t FromFocus(int64_t pts) const;
  // Lets go of the entry's converted picture; its decoded frame stays.
  void DropConverted(TEntry& e);
  static size_t FrameBytes(const AVFrame* f);

  // Conversion: one scaler for conversions on demand, one for the helper thread, each
  // guarded by its own mutex, so both run at once.
  struct TConverter {
    std::mutex m;
    SwsPtr sws;
    std::shared_ptr<uint8_t> scratch;  // the upright picture of a turned movie
    size_t scratchBytes = 0;
  };
  std::shared_ptr<const VideoFrame> Convert(TConverter& c, const AVFrame* f, int64_t pts);
  // Converts the entry at pts when it has only its decoded picture. On demand, a frame
  // the helper is converting right now is waited for rather than converted twice.
  void ConvertEntry(int64_t pts, bool background = false);
  // Asks the helper thread to convert these frames, nearest first (replaces the last ask).
  void Want(std::vector<int64_t> pts);
  void HelperLoop();
  // How many frames a window around the playhead may hold, given the budget.
  int WindowFrames() const;
  // How far from the playhead (100 ns) the window reaches, half a frame's margin included.
  int64_t WindowReach() const;
  // Converted pictures kept at most: the window on both sides and a few stepped over.
  size_t MaxConverted() const;
  // Bytes of one converted picture's buffer.
  size_t PictureBytes() const;
  // The known successors of the frame at pts, up to n (fewer at a gap or the end).
  std::vector<int64_t> Successors(int64_t pts, int n);

  // Decoding (engine thread). Two heads, each a demuxer and decoder of its own: one
  // follows the playhead, the other prepares the group of pictures behind it while paused,
  // so neither loses its place to the other. A request goes to the head that can decode
  // on to its target; otherwise a request that waits seeks with the first head, the
  // preparation with the second (which decodes on one thread, leaving a core to steps).
  struct TRun {
    bool active = false;      // the decoder is positioned and producing frames
    bool fromStart = false;   // the run began at the start of the movie
    bool atOpen = false;      // not placed for any target: the demuxer was just opened
    bool gotFrame = false;    // the run produced a frame
    bool demuxEof = false;    // the demuxer reached its end; the decoder drains
    bool eof = false;         // the decoder is drained
    int64_t prevPts = kUnknown;  // time stamp of the run's last frame
    int64_t lastDts = AV_NOPTS_VALUE;  // decode time stamp of the last packet read
    bool skipped = false;     // the run left frames undecoded on its way to a target
    // The latest time stamp of a frame left undecoded: only frames from there on can be
    // linked to their successors, as nothing undecoded can lie between them.
    int64_t skippedUpTo = kUnknown;
  };
  struct THead {
    FormatPtr fmt;
    CodecPtr dec;
    PacketPtr pkt;
    FramePtr frame;
    AVStream* stream = nullptr;
    TRun run;
    // Frames that nothing references and that lie before this time need not be decoded
    // (kUnknown: decode every frame).
    int64_t skipBefore = kUnknown;
  };
  HRESULT OpenHead(THead& h, std::string& message);
  // Adds a frame the run of h decoded, linked to the run's frame before it.
  void Insert(THead& h, int64_t pts, FramePtr frame);
  // Whether decoding on with h reaches t sooner than a seek. jumpAhead: a keyframe of the
  // index between what was read and t counts as cheaper; false once a seek for t
  // overshot, as demuxers whose index only records where searches went (MPEG program
  // streams) land past such keyframes again.
  bool CanContinueTo(const THead& h, int64_t t, bool jumpAhead = true) const;
  void SeekFor(THead& h, int64_t t, int attempt);
  // 1: a frame was inserted (its time stamp in pts); 0: end of stream; < 0: error.
  int DecodeOne(THead& h, int64_t& pts);
  // The engine thread's hold on decoding: the preparer stops at its next frame and lets go.
  class TDecodeLock {
   public:
    explicit TDecodeLock(TVideoEngine& e);
    ~TDecodeLock();
   private:
    TVideoEngine& e_;
  };
  // Ensure, with decoding held.
  TResult EnsureLocked(int64_t t, const std::function<bool()>& interrupted, bool convert);
  // The preparation around t while paused: a window of converted frames on both sides
  // (more in the direction of the last step), the frames behind decoded within the budget
  // (a keyframe behind the playhead is the common case), more decoded frames ahead, so
  // steps either way find their frames. Decoding held; stops when stop says so. Before
  // the costly part it calls settle, which may let go of decoding for a while and takes it
  // again (false: stopped meanwhile).
  // Which way the playhead last moved: a step back, a step ahead, or further (a seek).
  enum class TWay { Back, Ahead, Jump };
  void PrefetchLocked(int64_t t, TWay way, const std::function<bool()>& stop,
                      const std::function<bool()>& settle);
  // Asks the helper for the window around the frame for t, side stepped toward first.
  void WantAround(int64_t t, TWay way);
  // The order the helper converts the frames behind (up to m, nearest first) and ahead
  // (up to n) in: the side stepped toward first; after a jump, both sides in turn.
  static std::vector<int64_t> ConvertOrder(const std::vector<int64_t>& before, size_t m,
                                           const std::vector<int64_t>& after, size_t n,
                                           TWay way);
  void PreparerLoop();
  // The head for a request for t: one that decodes on to it, else the one to seek.
  THead* HeadFor(int64_t t, bool background);
  // Decodes until the frame for t is known exactly, no frame left out from keepFrom on;
  // kUnknown: a request that waits, with the usual margin before t, else a preparation in
  // the background.
  TResult Decode(int64_t t, const std::function<bool()>& interrupted, int64_t keepFrom);
  // While paused: decodes the frames before the playhead frame at pts that are not linked
  // yet, up to upTo frames and as many as the budget keeps; false when stopped.
  bool PrepareBehind(int64_t at, int64_t upTo, const std::function<bool()>& stop);
  // Bytes of one decoded frame (an estimate from the frames held; 0 when none).
  uint64_t DecodedFrameBytes() const;

  const std::shared_ptr<const TMovieInfo> info_;
  const uint64_t budget_;  // for the frames kept (the rest of the budget is for buffers)
  const int threads_;
  const std::atomic<bool>* abort_;
  TFramePool framePool_;  // outlives the decoders
  double frameDur_ = 400000.0;  // exact frame duration, 100 ns
  uint64_t step_ = 400000;      // truncated frame duration, 100 ns

  // Engine thread only.
  THead heads_[2];
  bool canSkip_ = false;  // the codec leaves references intact when skipping
  std::atomic<bool> eofSeen_{false};
  int64_t lastPrefetch_ = kUnknown;  // decision time of the last prefetch (engine thread)
  TWay lastWay_ = TWay::Jump;        // how the playhead got there (engine thread)
  // When the last two prefetches came (steady clock, ns): written by the engine thread,
  // read by the helper to tell steps in quick succession.
  std::atomic<int64_t> prefetchNs_{0}, prefetchBeforeNs_{0};
  int64_t behindDoneFor_ = kUnknown;  // the target of the last preparation behind
  int failures_ = 0;

  mutable std::mutex cacheMutex_;
  std::map<int64_t, TEntry> cache_;
  uint64_t cacheBytes_ = 0;
  int64_t focus_ = 0;
  bool playing_ = false;         // frames behind the playhead go first when evicting
  int64_t lastFrameTime_ = -1;
  TStats stats_;
  std::vector<int64_t> wanted_;  // frames the helper should convert, nearest first
  std::atomic<size_t> wishes_{0};  // wanted_.size(), for checks without the lock
  int64_t inFlight_ = kUnknown;  // the frame the helper converts now
  std::vector<int64_t> onDemandPts_;  // frames converted on demand now (any thread)
  bool stopHelper_ = false;
  bool warm_ = false;  // while paused: the helper readies free picture buffers when idle
  std::condition_variable helperCv_;   // wakes the helper: new wishes or the end
  std::condition_variable doneCv_;     // the helper finished a frame

  TConverter onDemand_;
  TConverter background_;
  std::thread helper_;

  // Decoding: whoever decodes (the engine thread, the preparer) holds decodeMutex_; the
  // heads, the runs and the preparation's bookkeeping above are theirs under it.
  std::mutex decodeMutex_;
  std::atomic<int> decodeWanted_{0};  // the engine thread waits for decodeMutex_
  // The preparer's work, guarded by prepMutex_ (prepJobNow_ mirrors prepJob_ for its
  // checks between frames).
  std::mutex prepMutex_;
  std::condition_variable prepCv_;
  int64_t prepAt_ = kUnknown;
  TWay prepWay_ = TWay::Jump;
  uint64_t prepJob_ = 0;
  std::atomic<uint64_t> prepJobNow_{0};
  std::atomic<bool> stopPrep_{false};
  std::atomic<bool> preparing_{false};  // a job under way; set by the preparer, read by the helper
  std::thread preparer_;
  const std::shared_ptr<TBufferPool> pool_;
};

} // namespace skm::mf::detail
