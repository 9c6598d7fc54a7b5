// Sources: probing a movie file, its presentation descriptor, the source resolver and the
// media information reader.
#include "platform/mediafw/MediaFoundationPrivate.h"

#include <cerrno>
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

bool ValidRate(AVRational r) { return r.num > 0 && r.den > 0 && av_q2d(r) > 0.1 && av_q2d(r) <= 1000.0; }

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
// the presentation as discarded.
int64_t FirstPts(AVFormatContext* fmt, int index) {
  PacketPtr pkt(av_packet_alloc());
  if (!pkt) return AV_NOPTS_VALUE;
  int64_t best = AV_NOPTS_VALUE;
  int seen = 0;
  for (int reads = 0; reads < 2000 && seen < 48; ++reads) {
    if (av_read_frame(fmt, pkt.get()) < 0) break;
    if (pkt->stream_index == index) {
      ++seen;
      const bool discard = (pkt->flags & AV_PKT_FLAG_DISCARD) != 0;
      if (!discard && pkt->pts != AV_NOPTS_VALUE && (best == AV_NOPTS_VALUE || pkt->pts < best))
        best = pkt->pts;
    }
    av_packet_unref(pkt.get());
  }
  return best;
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

HRESULT OpenDemuxer(const std::string& path, const std::atomic<bool>* interrupt,
                    FormatPtr& out, std::string& message) {
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return E_OUTOFMEMORY;
  if (interrupt) {
    raw->interrupt_callback.callback = InterruptCallback;
    raw->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(interrupt);
  }
  // avformat_open_input frees the context itself when it fails.
  const int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (err < 0) {
    message = "Cannot read \"" + path + "\": " + AvErrorText(err);
    return err == AVERROR_INVALIDDATA ? MF_E_UNSUPPORTED_BYTESTREAM_TYPE : MF_E_INVALID_FILE_FORMAT;
  }
  out.reset(raw);
  const int info = avformat_find_stream_info(out.get(), nullptr);
  if (info < 0) {
    message = "Cannot read the streams of \"" + path + "\": " + AvErrorText(info);
    out.reset();
    return MF_E_INVALID_FILE_FORMAT;
  }
  return S_OK;
}

HRESULT OpenDecoder(AVFormatContext* fmt, int index, int threads, CodecPtr& out,
                    std::string& message, const std::function<void(AVCodecContext*)>& configure) {
  if (index < 0 || index >= static_cast<int>(fmt->nb_streams)) return MF_E_INVALIDSTREAMNUMBER;
  const AVStream* st = fmt->streams[index];
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) {
    message = std::string("No decoder for ") + avcodec_get_name(st->codecpar->codec_id);
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
  if (configure) configure(dec.get());
  const int err = avcodec_open2(dec.get(), codec, nullptr);
  if (err < 0) {
    message = std::string("Cannot open the ") + codec->name + " decoder: " + AvErrorText(err);
    return MF_E_TOPO_CODEC_NOT_FOUND;
  }
  out = std::move(dec);
  return S_OK;
}

HRESULT ProbeMovie(const std::string& path, TMovieInfo& info, std::string& message) {
  info = TMovieInfo{};
  info.path = path;
  struct stat sb {};
  if (::stat(path.c_str(), &sb) != 0) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    message = (missing ? "File not found: \"" : "Cannot access \"") + path + "\"";
    return missing ? E_FILE_NOT_FOUND : E_ACCESSDENIED;
  }
  if (!S_ISREG(sb.st_mode)) {
    message = "Not a file: \"" + path + "\"";
    return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    message = "Cannot read \"" + path + "\": permission denied";
    return E_ACCESSDENIED;
  }
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
    std::string ignored;
    if (Failed(OpenDecoder(fmt.get(), idx, 1, dec, ignored))) {
      message = ignored;
      return -1;
    }
    return idx;
  };
  info.videoIndex = bestDecodable(AVMEDIA_TYPE_VIDEO);
  info.audioIndex = bestDecodable(AVMEDIA_TYPE_AUDIO);
  if (info.videoIndex < 0 && info.audioIndex < 0) {
    if (message.empty()) {
      message = "\"" + path + "\" has no audio or video stream";
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
  int64_t first = FirstPts(fmt.get(), originIndex);
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
    const AVRational avg = st->avg_frame_rate, base = st->r_frame_rate;
    AVRational rate{25, 1};
    if (ValidRate(avg)) rate = avg;
    else if (ValidRate(base)) rate = base;
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT32_MAX);
    info.rateNum = static_cast<uint32_t>(rate.num);
    info.rateDen = static_cast<uint32_t>(rate.den);
    info.constantRate = true;
    if (ValidRate(avg) && ValidRate(base))
      info.constantRate = std::fabs(av_q2d(avg) / av_q2d(base) - 1.0) < 0.002;
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
        message = "\"" + path + "\" has an unplayable audio format";
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
