#pragma once
// The video half of a session: demuxing, decoding, the cache of decoded frames around
// the playhead, and conversion to BGRA at display size.
//
// Threads: Open, Ensure, DecodeAhead and Close run on the session's engine thread only.
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

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace skm::mf::detail {

// Recycles picture buffers of one size: playback converts a frame per tick, and fresh
// allocations of that size come straight from the kernel, page by page. Thread-safe;
// buffers handed out may outlive the pool (they are then simply freed).
class TBufferPool : public std::enable_shared_from_this<TBufferPool> {
 public:
  ~TBufferPool();
  // A buffer of bytes bytes, shared; returns to the pool when the last holder lets go.
  std::shared_ptr<uint8_t> Get(size_t bytes);

 private:
  void Put(uint8_t* p, size_t bytes);
  std::mutex m_;
  size_t size_ = 0;             // the size of the buffers kept
  std::vector<uint8_t*> free_;  // buffers ready for reuse
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
  // While paused: prepares a window of frames around the one for decision time t, several
  // in the direction of the last step and one the other way, decoding forward as needed,
  // so steps in a row find their frames converted.
  void Prefetch(int64_t t, const std::function<bool()>& interrupted);
  // True when decoding reached the end of the stream.
  bool AtEnd() const { return eofSeen_; }
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
  void Insert(int64_t pts, FramePtr frame);
  void Evict();
  static size_t FrameBytes(const AVFrame* f);

  // Conversion: one scaler for conversions on demand, one for the helper thread, each
  // guarded by its own mutex, so both run at once.
  struct TConverter {
    std::mutex m;
    SwsPtr sws;
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
  // The known successors of the frame at pts, up to n (fewer at a gap or the end).
  std::vector<int64_t> Successors(int64_t pts, int n);

  // Decoding (engine thread).
  // Whether decoding on reaches t sooner than a seek. jumpAhead: a keyframe of the index
  // between what was read and t counts as cheaper; false once a seek for t overshot, as
  // demuxers whose index only records where searches went (MPEG program streams) land
  // past such keyframes again.
  bool CanContinueTo(int64_t t, bool jumpAhead = true) const;
  void SeekFor(int64_t t, int attempt);
  // 1: a frame was inserted (its time stamp in pts); 0: end of stream; < 0: error.
  int DecodeOne(int64_t& pts);

  const std::shared_ptr<const TMovieInfo> info_;
  const uint64_t budget_;
  const int threads_;
  const std::atomic<bool>* abort_;
  double frameDur_ = 400000.0;  // exact frame duration, 100 ns
  uint64_t step_ = 400000;      // truncated frame duration, 100 ns

  // Engine thread only.
  FormatPtr fmt_;
  CodecPtr dec_;
  PacketPtr pkt_;
  FramePtr frame_;
  AVStream* stream_ = nullptr;
  struct TRun {
    bool active = false;      // the decoder is positioned and producing frames
    bool fromStart = false;   // the run began at the start of the movie
    bool gotFrame = false;    // the run produced a frame
    bool demuxEof = false;    // the demuxer reached its end; the decoder drains
    bool eof = false;         // the decoder is drained
    int64_t prevPts = kUnknown;  // time stamp of the run's last frame
    int64_t lastDts = AV_NOPTS_VALUE;  // decode time stamp of the last packet read
    bool skipped = false;     // the run left frames undecoded on its way to a target
    // The latest time stamp of a frame left undecoded: only frames from there on can be
    // linked to their successors, as nothing undecoded can lie between them.
    int64_t skippedUpTo = kUnknown;
  } run_;
  // Frames that nothing references and that lie before this time need not be decoded
  // (kUnknown: decode every frame).
  int64_t skipBefore_ = kUnknown;
  bool canSkip_ = false;  // the codec leaves references intact when skipping
  bool eofSeen_ = false;
  int64_t lastPrefetch_ = kUnknown;  // decision time of the last prefetch
  int failures_ = 0;

  mutable std::mutex cacheMutex_;
  std::map<int64_t, TEntry> cache_;
  uint64_t cacheBytes_ = 0;
  int64_t focus_ = 0;
  bool playing_ = false;         // frames behind the playhead go first when evicting
  int64_t lastFrameTime_ = -1;
  TStats stats_;
  std::vector<int64_t> wanted_;  // frames the helper should convert, nearest first
  int64_t inFlight_ = kUnknown;  // the frame the helper converts now
  std::vector<int64_t> onDemandPts_;  // frames converted on demand now (any thread)
  bool stopHelper_ = false;
  std::condition_variable helperCv_;   // wakes the helper: new wishes or the end
  std::condition_variable doneCv_;     // the helper finished a frame

  TConverter onDemand_;
  TConverter background_;
  std::thread helper_;
  const std::shared_ptr<TBufferPool> pool_ = std::make_shared<TBufferPool>();
};

} // namespace skm::mf::detail
