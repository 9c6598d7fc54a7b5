// Sources: probing a movie file, its presentation descriptor, the source resolver and the
// media information reader.
#include "platform/mediafw/MediaFoundationPrivate.h"
#include "platform/mediafw/FrameRate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/display.h>
}

namespace skm::mf::detail {

namespace {

std::string AvErrorText(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, buf, sizeof buf);
  return buf;
}

int InterruptCallback(void* opaque) {
  return static_cast<const std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

// Video packets read from the start to measure the spacing of frames (and find the first).
constexpr int kRateSamplePackets = 96;

// Clockwise rotation in degrees (0, 90, 180, 270) that turns the coded picture upright.
int ReadRotation(const AVStream* st) {
  size_t size = 0;
  const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!m || size < 9 * sizeof(int32_t)) return 0;
  const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
  if (std::isnan(angle)) return 0;
  long theta = std::lround(-angle);
  theta %= 360;
  if (theta < 0) theta += 360;
  return static_cast<int>(((theta + 45) / 90) % 4) * 90;
}

// The smallest presentation time among the first packets of a stream: B-frames make the
// first packet's time later than the first frame's, and edit lists mark packets before
// the presentation as discarded. times, when given, receives the presentation times of
// the packets read whose frames have no earlier frame still unread.
int64_t FirstPts(AVFormatContext* fmt, int index, std::vector<int64_t>* times = nullptr) {
  PacketPtr pkt(av_packet_alloc());
  if (!pkt) return AV_NOPTS_VALUE;
  int64_t best = AV_NOPTS_VALUE, lastDts = AV_NOPTS_VALUE;
  int seen = 0;
  bool ended = false;
  std::vector<int64_t> read;
  for (int reads = 0; reads < 2000 && seen < kRateSamplePackets; ++reads) {
    if (av_read_frame(fmt, pkt.get()) < 0) {
      ended = true;
      break;
    }
    if (pkt->stream_index == index) {
      ++seen;
      const bool discard = (pkt->flags & AV_PKT_FLAG_DISCARD) != 0;
      if (!discard && pkt->pts != AV_NOPTS_VALUE) {
        if (best == AV_NOPTS_VALUE || pkt->pts < best) best = pkt->pts;
        read.push_back(pkt->pts);
      } else if (!discard && pkt->dts != AV_NOPTS_VALUE) {
        // MPEG program streams give a time only to the first frame of each packet of
        // the stream; the decoder takes the decoding time for the others, and so do we.
        read.push_back(pkt->dts);
      }
      if (pkt->dts != AV_NOPTS_VALUE) lastDts = pkt->dts;
    }
    av_packet_unref(pkt.get());
  }
  if (times) {
    // A frame not yet read has a time stamp at or after the last decoding time read, so
    // below it there are no gaps that only reordering made.
    if (!ended && lastDts != AV_NOPTS_VALUE)
      read.erase(std::remove_if(read.begin(), read.end(), [&](int64_t t) { return t > lastDts; }),
                 read.end());
    *times = std::move(read);
  }
  return best;
}

// The time of the last video frame, from the packets from fromPts to the end of the
// file; AV_NOPTS_VALUE when the end cannot be reached within 2000 packets or 16 MiB.
// Where packets lack a presentation time (MPEG program streams; there the last frame
// shown is often a reference frame without one), the frames counted from the earliest
// time read tell the last one's, up to a few periods past the latest time read.
int64_t LastFramePts(AVFormatContext* fmt, const AVStream* st, int64_t fromPts, double periodTicks) {
  if (!fmt->pb || !(fmt->pb->seekable & AVIO_SEEKABLE_NORMAL)) return AV_NOPTS_VALUE;
  if (avformat_seek_file(fmt, st->index, INT64_MIN, fromPts, fromPts, 0) < 0 &&
      av_seek_frame(fmt, st->index, fromPts, AVSEEK_FLAG_BACKWARD) < 0)
    return AV_NOPTS_VALUE;
  PacketPtr pkt(av_packet_alloc());
  if (!pkt) return AV_NOPTS_VALUE;
  int64_t earliest = AV_NOPTS_VALUE, latest = AV_NOPTS_VALUE, bytes = 0, frames = 0;
  for (int reads = 0; reads < 2000 && bytes < (16 << 20); ++reads) {
    if (av_read_frame(fmt, pkt.get()) < 0) {
      if (latest == AV_NOPTS_VALUE) return latest;
      const double counted = double(earliest) + double(frames - 1) * periodTicks;
      const double cap = double(latest) + 4 * periodTicks;
      return std::max(latest, static_cast<int64_t>(std::llround(std::min(counted, cap))));
    }
    bytes += pkt->size;
    if (pkt->stream_index == st->index && !(pkt->flags & AV_PKT_FLAG_DISCARD)) {
      ++frames;
      const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      if (t != AV_NOPTS_VALUE) {
        if (latest == AV_NOPTS_VALUE || t > latest) latest = t;
        if (earliest == AV_NOPTS_VALUE || t < earliest) earliest = t;
      }
    }
    av_packet_unref(pkt.get());
  }
  return AV_NOPTS_VALUE;  // the end was not reached
}

// The presentation times of the video frames to measure the frame rate by: every frame's
// decoding time from the demuxer's index when it lists them all (MP4, QuickTime; no
// reading needed), else the packets read from the start.
std::vector<int64_t> RateSampleTimes(const AVStream* st, std::vector<int64_t> packetTimes) {
  const int entries = avformat_index_get_entries_count(st);
  if (st->nb_frames > 1 && entries >= st->nb_frames) {
    std::vector<int64_t> times;
    times.reserve(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) {
      const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(st), i);
      if (e && !(e->flags & AVINDEX_DISCARD_FRAME) && e->timestamp != AV_NOPTS_VALUE)
        times.push_back(e->timestamp);
    }
    if (times.size() > 1) return times;
  }
  return packetTimes;
}

} // namespace

int64_t StreamToHns(const TMovieInfo& info, const AVStream* st, int64_t pts) {
  if (st->index == info.videoIndex)
    return av_rescale_q(pts - info.videoOriginPts, st->time_base, kHnsBase);
  const int64_t hns = av_rescale_q(pts, st->time_base, kHnsBase);
  return hns - info.originUs * 10;
}

int64_t HnsToStream(const TMovieInfo& info, const AVStream* st, int64_t hns) {
  if (st->index == info.videoIndex)
    return av_rescale_q(hns, kHnsBase, st->time_base) + info.videoOriginPts;
  return av_rescale_q(hns + info.originUs * 10, kHnsBase, st->time_base);
}

namespace {

// The long name of the format FFmpeg clearly recognises in the content of path (the
// bytes its probe reads, not the name), else empty: a file that opens with a format
// guessed from its name or a weak match, then fails, is not a movie rather than damaged.
std::string RecognisedFormat(const std::string& path) {
  AVIOContext* pb = nullptr;
  if (avio_open(&pb, path.c_str(), AVIO_FLAG_READ) < 0) return {};
  const AVInputFormat* format = nullptr;
  std::string name;
  const int score = av_probe_input_buffer2(pb, &format, "", nullptr, 0, 0);
  if (score >= AVPROBE_SCORE_EXTENSION && format)
    name = format->long_name ? format->long_name : format->name;
  avio_closep(&pb);
  return name;
}

} // namespace

HRESULT OpenDemuxer(const std::string& path, const std::atomic<bool>* interrupt,
                    FormatPtr& out, std::string& message) {
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return E_OUTOFMEMORY;
  if (interrupt) {
    raw->interrupt_callback.callback = InterruptCallback;
    raw->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(interrupt);
  }
  // avformat_open_input frees the context itself when it fails.
  // Content FFmpeg does not clearly know is not a movie; a known format that fails is
  // damaged, and FFmpeg's words say how.
  auto failed = [&](int err) {
    const std::string format = err == AVERROR_EXIT ? std::string("-") : RecognisedFormat(path);
    if (format.empty()) {
      message = "\"" + path + "\" is not a movie: its content is in no format this program can read";
      return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    }
    message = "\"" + path + "\" is damaged" + (format == "-" ? "" : " (" + format + ")") + ": " +
              AvErrorText(err);
    return MF_E_INVALID_FILE_FORMAT;
  };
  const int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (err < 0) return failed(err);
  out.reset(raw);
  const int info = avformat_find_stream_info(out.get(), nullptr);
  if (info < 0) {
    out.reset();
    return failed(info);
  }
  return S_OK;
}

HRESULT OpenDecoder(AVFormatContext* fmt, int index, int threads, CodecPtr& out,
                    std::string& message) {
  if (index < 0 || index >= static_cast<int>(fmt->nb_streams)) return MF_E_INVALIDSTREAMNUMBER;
  const AVStream* st = fmt->streams[index];
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
    const char* kind = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "sound";
    message = std::string("its ") + kind + " is in the codec " +
              (d && d->long_name ? std::string(d->long_name) + " (" + d->name + ")"
                                 : std::string(avcodec_get_name(st->codecpar->codec_id))) +
              ", which this program has no decoder for";
    return MF_E_TOPO_CODEC_NOT_FOUND;
  }
  CodecPtr dec(avcodec_alloc_context3(codec));
  if (!dec) return E_OUTOFMEMORY;
  if (avcodec_parameters_to_context(dec.get(), st->codecpar) < 0) return MF_E_INVALIDMEDIATYPE;
  dec->pkt_timebase = st->time_base;
  if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    dec->thread_count = threads;
    dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  }
  const int err = avcodec_open2(dec.get(), codec, nullptr);
  if (err < 0) {
    message = std::string("the ") + codec->name + " decoder does not accept its " +
              (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "sound") + ": " +
              AvErrorText(err);
    return MF_E_TOPO_CODEC_NOT_FOUND;
  }
  out = std::move(dec);
  return S_OK;
}

namespace {

// Whether path is a readable, non-empty regular file; else a failure and why.
HRESULT CheckFile(const std::string& path, std::string& message) {
  struct stat sb {};
  const std::string quoted = "\"" + path + "\"";
  if (::stat(path.c_str(), &sb) != 0) {
    const int err = errno;
    const bool missing = err == ENOENT || err == ENOTDIR;
    message = quoted + (missing ? " does not exist" : " cannot be reached: " + std::string(std::strerror(err)));
    return missing ? E_FILE_NOT_FOUND : E_ACCESSDENIED;
  }
  if (S_ISDIR(sb.st_mode)) {
    message = quoted + " is a folder, not a movie";
    return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
  }
  if (!S_ISREG(sb.st_mode)) {
    message = quoted + " is a device or other special file, not a movie";
    return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    message = quoted + " cannot be read: permission denied";
    return E_ACCESSDENIED;
  }
  if (sb.st_size == 0) {
    message = quoted + " is empty";
    return MF_E_INVALID_FILE_FORMAT;
  }
  return S_OK;
}

} // namespace

HRESULT ProbeMovie(const std::string& path, TMovieInfo& info, std::string& message) {
  info = TMovieInfo{};
  info.path = path;
  const std::string quoted = "\"" + path + "\"";
  if (HRESULT hr = CheckFile(path, message); Failed(hr)) return hr;
  FormatPtr fmt;
  HRESULT hr = OpenDemuxer(path, nullptr, fmt, message);
  if (Failed(hr)) return hr;

  // The best streams whose decoders open; a stream we cannot decode is not selected.
  auto bestDecodable = [&](AVMediaType type) {
    const int idx = av_find_best_stream(fmt.get(), type, -1, -1, nullptr, 0);
    if (idx < 0) return -1;
    const AVStream* st = fmt->streams[idx];
    if (type == AVMEDIA_TYPE_VIDEO) {
      const int w = st->codecpar->width, h = st->codecpar->height;
      if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) return -1;
    }
    CodecPtr dec;
    std::string why;
    if (Failed(OpenDecoder(fmt.get(), idx, 1, dec, why))) {
      message = quoted + ": " + why;
      return -1;
    }
    return idx;
  };
  info.videoIndex = bestDecodable(AVMEDIA_TYPE_VIDEO);
  // Pictures that cannot be decoded are the movie's point: say why rather than play only
  // its sound.
  if (info.videoIndex < 0 && !message.empty()) return MF_E_TOPO_CODEC_NOT_FOUND;
  info.audioIndex = bestDecodable(AVMEDIA_TYPE_AUDIO);
  if (info.videoIndex < 0 && info.audioIndex < 0) {
    if (message.empty()) {
      message = quoted + " has neither pictures nor sound";
      return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    }
    return MF_E_TOPO_CODEC_NOT_FOUND;
  }
  message.clear();

  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    TStreamEntry e;
    e.index = static_cast<int>(i);
    switch (fmt->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO: e.type = MajorType::Video; break;
      case AVMEDIA_TYPE_AUDIO: e.type = MajorType::Audio; break;
      default: e.type = MajorType::Other; break;
    }
    // Cover art is a picture, not a movie stream.
    if (fmt->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) e.type = MajorType::Other;
    e.selected = e.index == info.videoIndex || e.index == info.audioIndex;
    info.streams.push_back(e);
  }
  info.seekable = fmt->pb ? (fmt->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0 : true;

  // Time 0: the first video frame, else the first audio sample.
  const int originIndex = info.videoIndex >= 0 ? info.videoIndex : info.audioIndex;
  AVStream* ost = fmt->streams[originIndex];
  std::vector<int64_t> packetTimes;
  int64_t first = FirstPts(fmt.get(), originIndex,
                           originIndex == info.videoIndex ? &packetTimes : nullptr);
  if (first == AV_NOPTS_VALUE) first = ost->start_time;
  if (first == AV_NOPTS_VALUE) first = 0;
  info.originUs = av_rescale_q(first, ost->time_base, AV_TIME_BASE_Q);
  if (originIndex == info.videoIndex) info.videoOriginPts = first;

  // Duration: the end of the origin stream, else of the file, measured from time 0.
  int64_t endHns = -1;
  if (ost->duration != AV_NOPTS_VALUE && ost->duration > 0) {
    const int64_t start = ost->start_time != AV_NOPTS_VALUE ? ost->start_time : first;
    endHns = StreamToHns(info, ost, start + ost->duration);
  } else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) {
    const int64_t start = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
    endHns = (start + fmt->duration - info.originUs) * 10;
  }
  info.durationHns = endHns > 0 ? static_cast<uint64_t>(endHns) : 0;

  if (info.videoIndex >= 0) {
    const AVStream* st = fmt->streams[info.videoIndex];
    info.codedWidth = st->codecpar->width;
    info.codedHeight = st->codecpar->height;
    AVRational sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio
                                                     : st->codecpar->sample_aspect_ratio;
    int dw = info.codedWidth, dh = info.codedHeight;
    if (sar.num > 0 && sar.den > 0 && av_cmp_q(sar, AVRational{1, 1}) != 0) {
      const int64_t w = av_rescale(dw, sar.num, sar.den);
      if (w >= 1 && w <= kMaxPictureSide) dw = static_cast<int>(w);
    }
    info.rotation = ReadRotation(st);
    if (info.rotation == 90 || info.rotation == 270) std::swap(dw, dh);
    info.displayWidth = dw;
    info.displayHeight = dh;
    const AVRational tb = st->time_base, avg = st->avg_frame_rate, base = st->r_frame_rate;
    const TRateChoice rate = ChooseFrameRate(
        {tb.num, tb.den}, {base.num, base.den}, {avg.num, avg.den},
        DurationsBetween(RateSampleTimes(st, std::move(packetTimes))));
    info.rateNum = rate.num;
    info.rateDen = rate.den;
    info.constantRate = rate.constant;
    // The last frame keeps a whole period, so that stepping reaches it: one shorter than
    // that (muxers that write no duration for it), and the end of streams without an index
    // of their frames, which demuxers estimate from time stamps read near the end (MPEG
    // program streams fall a few frames short, B-frames there carry none).
    const double period = 1e7 * rate.den / rate.num;
    if (rate.constant && st->nb_frames > 0 && info.durationHns > 0) {
      const double full = double(st->nb_frames) * period;
      if (double(info.durationHns) >= full - period && double(info.durationHns) < full)
        info.durationHns = static_cast<uint64_t>(std::ceil(full));
    } else if (rate.constant && info.durationHns > 0) {
      const int64_t back = av_rescale_q(static_cast<int64_t>(info.durationHns) - 10'000'000,
                                        kHnsBase, st->time_base);
      const int64_t last = LastFramePts(fmt.get(), st, std::max<int64_t>(0, back) + info.videoOriginPts,
                                        period * av_q2d(av_inv_q(st->time_base)) / 1e7);
      if (last != AV_NOPTS_VALUE) {
        const double end = double(StreamToHns(info, st, last)) + period;
        if (end > double(info.durationHns)) info.durationHns = static_cast<uint64_t>(std::ceil(end));
      }
    }
  }
  if (info.audioIndex >= 0) {
    const AVStream* st = fmt->streams[info.audioIndex];
    info.sampleRate = st->codecpar->sample_rate;
    info.channels = st->codecpar->ch_layout.nb_channels;
    if (info.sampleRate <= 0 || info.sampleRate > 768000 || info.channels <= 0 ||
        info.channels > 64) {
      // A stream whose format cannot be played is dropped rather than failing the movie.
      for (auto& e : info.streams)
        if (e.index == info.audioIndex) e.selected = false;
      info.audioIndex = -1;
      if (info.videoIndex < 0) {
        message = quoted + " has no pictures, and its sound cannot be played";
        return MF_E_INVALIDMEDIATYPE;
      }
    }
  }
  return S_OK;
}

// ---------------------------------------------------------------------------------------

namespace {

class TStreamDescriptor final : public IStreamDescriptor {
 public:
  explicit TStreamDescriptor(const TStreamEntry& e) : e_(e) {}
  HRESULT GetStreamIdentifier(uint32_t& id) const override {
    id = static_cast<uint32_t>(e_.index);
    return S_OK;
  }
  HRESULT GetMajorType(MajorType& type) const override {
    type = e_.type;
    return S_OK;
  }

 private:
  TStreamEntry e_;
};

class TPresentationDescriptor final : public IPresentationDescriptor {
 public:
  explicit TPresentationDescriptor(std::shared_ptr<const TMovieInfo> info) : info_(std::move(info)) {}
  HRESULT GetStreamDescriptorCount(uint32_t& count) const override {
    count = static_cast<uint32_t>(info_->streams.size());
    return S_OK;
  }
  HRESULT GetStreamDescriptorByIndex(uint32_t index, bool& selected,
                                     std::shared_ptr<IStreamDescriptor>& sd) const override {
    if (index >= info_->streams.size()) return MF_E_INVALIDINDEX;
    selected = info_->streams[index].selected;
    sd = std::make_shared<TStreamDescriptor>(info_->streams[index]);
    return S_OK;
  }
  HRESULT GetDuration(uint64_t& hns) const override {
    if (info_->durationHns == 0) return MF_E_ATTRIBUTENOTFOUND;
    hns = info_->durationHns;
    return S_OK;
  }

 private:
  std::shared_ptr<const TMovieInfo> info_;
};

class TMediaType final : public IMediaType {
 public:
  TMediaType(uint64_t size, uint64_t rate) : size_(size), rate_(rate) {}
  HRESULT GetUINT64(MediaTypeAttribute key, uint64_t& value) const override {
    value = key == MediaTypeAttribute::FrameSize ? size_ : rate_;
    return S_OK;
  }

 private:
  uint64_t size_, rate_;
};

class TSourceReader final : public ISourceReader {
 public:
  explicit TSourceReader(std::shared_ptr<const TMovieInfo> info) : info_(std::move(info)) {}
  HRESULT GetCurrentMediaType(uint32_t streamIndex, std::shared_ptr<IMediaType>& type) override {
    const bool firstVideo = streamIndex == MF_SOURCE_READER_FIRST_VIDEO_STREAM ||
                            (info_->videoIndex >= 0 &&
                             streamIndex == static_cast<uint32_t>(info_->videoIndex));
    if (!firstVideo || info_->videoIndex < 0) return MF_E_INVALIDSTREAMNUMBER;
    const uint64_t size = (uint64_t(uint32_t(info_->displayWidth)) << 32) |
                          uint32_t(info_->displayHeight);
    const uint64_t rate = (uint64_t(info_->rateNum) << 32) | info_->rateDen;
    type = std::make_shared<TMediaType>(size, rate);
    return S_OK;
  }

 private:
  std::shared_ptr<const TMovieInfo> info_;
};

class TSourceResolver final : public ISourceResolver {
 public:
  HRESULT CreateObjectFromURL(const std::string& path, uint32_t flags, ObjectType& objectType,
                              std::shared_ptr<IMediaSource>& source) override {
    objectType = MF_OBJECT_INVALID;
    lastError_.clear();
    if (!(flags & MF_RESOLUTION_MEDIASOURCE)) return E_INVALIDARG;
    auto info = std::make_shared<TMovieInfo>();
    const HRESULT hr = ProbeMovie(path, *info, lastError_);
    if (Failed(hr)) return hr;
    source = std::make_shared<TSource>(std::move(info));
    objectType = MF_OBJECT_MEDIASOURCE;
    return S_OK;
  }
  std::string GetLastErrorText() const override { return lastError_; }

 private:
  std::string lastError_;
};

} // namespace

HRESULT TSource::CreatePresentationDescriptor(std::shared_ptr<IPresentationDescriptor>& pd) {
  if (shutdown_) return MF_E_SHUTDOWN;
  pd = std::make_shared<TPresentationDescriptor>(info_);
  return S_OK;
}

HRESULT TSource::Shutdown() {
  shutdown_ = true;
  return S_OK;
}

HRESULT CreateSourceResolverImpl(std::shared_ptr<ISourceResolver>& out) {
  out = std::make_shared<TSourceResolver>();
  return S_OK;
}

HRESULT CreateSourceReaderImpl(const std::shared_ptr<IMediaSource>& source,
                               std::shared_ptr<ISourceReader>& out) {
  auto* s = dynamic_cast<TSource*>(source.get());
  if (!s) return E_INVALIDARG;
  if (s->IsShutdown()) return MF_E_SHUTDOWN;
  out = std::make_shared<TSourceReader>(s->Info());
  return S_OK;
}

} // namespace skm::mf::detail

namespace skm::mf {

HRESULT ProbeForVideo(const std::string& path, bool& hasVideo, std::string& message) {
  using namespace detail;
  hasVideo = false;
  message.clear();
  if (HRESULT hr = CheckFile(path, message); Failed(hr)) return hr;
  FormatPtr fmt;
  if (HRESULT hr = OpenDemuxer(path, nullptr, fmt, message); Failed(hr)) return hr;
  const int idx = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (idx < 0 || (fmt->streams[idx]->disposition & AV_DISPOSITION_ATTACHED_PIC)) return S_OK;
  CodecPtr dec;
  std::string why;
  if (HRESULT hr = OpenDecoder(fmt.get(), idx, 1, dec, why); Failed(hr)) {
    message = "\"" + path + "\": " + why;
    return hr;
  }
  hasVideo = true;
  return S_OK;
}

} // namespace skm::mf
