#pragma once
// Internals of the FFmpeg/SDL2 media framework shared by its .cpp files: owning pointers
// for FFmpeg objects, what probing a movie finds, and the source object.
//
// Threads: a TMovieInfo is immutable once probed and shared freely. The FFmpeg objects
// below are owned by exactly one thread at a time (the session's engine thread).

#include "platform/mediafw/MediaFoundation.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
#include <libswresample/swresample.h>
}

namespace skm::mf::detail {

// Owning pointers: every FFmpeg object dies with its owner, also on early returns.
struct FormatCloser { void operator()(AVFormatContext* p) const { avformat_close_input(&p); } };
struct CodecFreer { void operator()(AVCodecContext* p) const { avcodec_free_context(&p); } };
struct FrameFreer { void operator()(AVFrame* p) const { av_frame_free(&p); } };
struct PacketFreer { void operator()(AVPacket* p) const { av_packet_free(&p); } };
struct SwsFreer { void operator()(SwsContext* p) const { sws_freeContext(p); } };
struct SwrFreer { void operator()(SwrContext* p) const { swr_free(&p); } };
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

inline constexpr AVRational kHnsBase{1, 10'000'000};

// Largest picture we accept: guards allocations against absurd headers.
inline constexpr int kMaxPictureSide = 16384;

// One stream as the presentation descriptor shows it.
struct TStreamEntry {
  int index = -1;                        // FFmpeg stream index
  MajorType type = MajorType::Unknown;   // audio, video or other
  bool selected = false;                 // the best audio and the best video stream
};

// What opening a movie found; immutable afterwards.
struct TMovieInfo {
  std::string path;                  // the file
  std::vector<TStreamEntry> streams; // every stream of the file
  int videoIndex = -1;               // best video stream, -1 when none
  int audioIndex = -1;               // best audio stream, -1 when none
  // Time 0 of the presentation on the file's timeline, in AV_TIME_BASE units: the
  // first video frame (else the first audio sample).
  int64_t originUs = 0;
  // The same origin exactly, in the video stream's time base (when there is video).
  int64_t videoOriginPts = 0;
  uint64_t durationHns = 0;          // 0 when unknown
  bool seekable = true;              // the demuxer can seek
  // Video (valid when videoIndex >= 0).
  int codedWidth = 0, codedHeight = 0;  // decoded picture size
  int displayWidth = 0, displayHeight = 0;  // square pixels, rotation applied
  int rotation = 0;                  // clockwise degrees to apply: 0, 90, 180, 270
  uint32_t rateNum = 25, rateDen = 1;  // frame rate reported to callers
  bool constantRate = true;          // frames follow rateNum/rateDen evenly
  // Audio (valid when audioIndex >= 0).
  int sampleRate = 0;
  int channels = 0;
};

// Converts between presentation time (100 ns from the first frame) and stream time.
int64_t StreamToHns(const TMovieInfo& info, const AVStream* st, int64_t pts);
int64_t HnsToStream(const TMovieInfo& info, const AVStream* st, int64_t hns);

// Opens path with FFmpeg and fills info; on failure a negative code and a message.
HRESULT ProbeMovie(const std::string& path, TMovieInfo& info, std::string& message);

// Opens the demuxer of path for reading (streams other than keep are discarded).
// interrupt, when given, aborts blocking reads once it reads true.
HRESULT OpenDemuxer(const std::string& path, const std::atomic<bool>* interrupt,
                    FormatPtr& fmt, std::string& message);
// Opens a decoder for stream index of fmt; configure, when given, adjusts the context
// before it opens (where its pictures come from, for instance).
HRESULT OpenDecoder(AVFormatContext* fmt, int index, int threads, CodecPtr& dec,
                    std::string& message,
                    const std::function<void(AVCodecContext*)>& configure = {});

// A source made by the resolver (IMediaSource). The session reads Info() directly.
class TSource final : public IMediaSource {
 public:
  explicit TSource(std::shared_ptr<const TMovieInfo> info) : info_(std::move(info)) {}
  HRESULT CreatePresentationDescriptor(std::shared_ptr<IPresentationDescriptor>& pd) override;
  HRESULT Shutdown() override;
  // The probed movie.
  const std::shared_ptr<const TMovieInfo>& Info() const { return info_; }
  // True after Shutdown.
  bool IsShutdown() const { return shutdown_.load(); }

 private:
  std::shared_ptr<const TMovieInfo> info_;
  std::atomic<bool> shutdown_{false};
};

// A renderer activation object.
class TActivate final : public IActivate {
 public:
  explicit TActivate(RendererKind kind) : kind_(kind) {}
  RendererKind Kind() const override { return kind_; }

 private:
  RendererKind kind_;
};

// Makes the FFmpeg/SDL2 session.
HRESULT CreateFFmpegSession(const SessionOptions& options, std::shared_ptr<IMediaSession>& out);

// Whether SDL's audio subsystem is up (made by Startup, ended by the last Shutdown).
bool AudioSubsystemReady();

} // namespace skm::mf::detail
