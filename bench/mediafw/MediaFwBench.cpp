// Exact seeks and single-frame steps on a 1920x1080 30000/1001 H.264 movie with a group of
// pictures of 250, against minimal libavcodec loops (the floors) and, when installed, the
// mpv player driven through its JSON IPC; two sessions playing at once against mpv doing
// the same work; the memory two 4K lanes take. Prints every figure with its peer's from
// the same run and their ratio; run under `nice`.
//
// Usage: skm_mediafw_bench [seconds-of-movie=21] [random-seeks=20] [parts=seek,step,cold,play]
//                          [seed=from the clock] [play-runs=5]
// parts: any of seek, step, cold, play, mem (mem makes a 4K movie; run it on its own, as
// it reports the peak memory of the whole process).
#include "SessionHarness.h"
#include "TestMovies.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

using namespace skmtest;
using namespace skm::mf;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double Mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / double(v.size());
}
double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
double Min(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

double Secs(const rusage& u) {
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
// CPU of every thread of this process.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return Secs(u);
}

bool WantMpv() {
  return !std::getenv("SKM_BENCH_NO_MPV") && std::system("command -v mpv > /dev/null 2>&1") == 0;
}

// The floors: open, then per target decode to the frame and convert it to BGRA.
// Naive: always seek to the keyframe before the target. Smart: the shortcuts the engine
// takes too: decode on from the current frame when the target lies later in the same
// group of pictures, and leave frames nothing references undecoded before the target.
class TFloor {
 public:
  bool Open(const std::string& path) {
    if (avformat_open_input(&fmt_, path.c_str(), nullptr, nullptr) < 0) return false;
    avformat_find_stream_info(fmt_, nullptr);
    idx_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (idx_ < 0) return false;
    st_ = fmt_->streams[idx_];
    const AVCodec* c = avcodec_find_decoder(st_->codecpar->codec_id);
    dec_ = avcodec_alloc_context3(c);
    avcodec_parameters_to_context(dec_, st_->codecpar);
    dec_->thread_count = 2;
    dec_->thread_type = FF_THREAD_FRAME;
    if (avcodec_open2(dec_, c, nullptr) < 0) return false;
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    return true;
  }
  ~TFloor() {
    av_frame_free(&frame_);
    av_packet_free(&pkt_);
    avcodec_free_context(&dec_);
    avformat_close_input(&fmt_);
    sws_freeContext(sws_);
  }
  // Decodes the frame whose time stamp is the first at or after seconds; its BGRA picture.
  bool Seek(double seconds, bool smart) {
    const int64_t ts = int64_t(seconds / av_q2d(st_->time_base) + 0.5) +
                       (st_->start_time != AV_NOPTS_VALUE ? st_->start_time : 0);
    const int64_t half = int64_t(0.5 / av_q2d(st_->avg_frame_rate) / av_q2d(st_->time_base));
    bool seek = true;
    if (smart && positioned_ && lastPts_ < ts - half) {
      const AVIndexEntry* key = avformat_index_get_entry_from_timestamp(st_, ts, AVSEEK_FLAG_BACKWARD);
      seek = key && key->timestamp > lastDts_;
    }
    if (seek) {
      avformat_seek_file(fmt_, idx_, INT64_MIN, ts, ts, 0);
      avcodec_flush_buffers(dec_);
      lastDts_ = INT64_MIN;
      draining_ = false;
    }
    positioned_ = false;
    for (;;) {
      const int r = avcodec_receive_frame(dec_, frame_);
      if (r >= 0) {
        const int64_t pts = frame_->best_effort_timestamp;
        if (pts >= ts - half) {
          Convert();
          av_frame_unref(frame_);
          lastPts_ = pts;
          positioned_ = true;
          return true;
        }
        av_frame_unref(frame_);
        continue;
      }
      if (r != AVERROR(EAGAIN) || draining_) return false;
      if (av_read_frame(fmt_, pkt_) < 0) {
        avcodec_send_packet(dec_, nullptr);
        draining_ = true;
        continue;
      }
      if (pkt_->stream_index == idx_) {
        if (pkt_->dts != AV_NOPTS_VALUE) lastDts_ = pkt_->dts;
        const bool skip = smart && pkt_->pts != AV_NOPTS_VALUE && pkt_->pts < ts - half &&
                          !(pkt_->flags & AV_PKT_FLAG_KEY);
        dec_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        avcodec_send_packet(dec_, pkt_);
      }
      av_packet_unref(pkt_);
    }
  }

 private:
  void Convert() {
    sws_ = sws_getCachedContext(sws_, frame_->width, frame_->height, AVPixelFormat(frame_->format),
                                frame_->width, frame_->height, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                nullptr, nullptr, nullptr);
    out_.resize(size_t(frame_->width) * frame_->height * 4);
    uint8_t* dst[4] = {out_.data()};
    int stride[4] = {frame_->width * 4};
    sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, dst, stride);
  }
  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* dec_ = nullptr;
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVStream* st_ = nullptr;
  SwsContext* sws_ = nullptr;
  int idx_ = -1;
  bool positioned_ = false;  // the decoder stands right after the last frame returned
  bool draining_ = false;
  int64_t lastPts_ = INT64_MIN;
  int64_t lastDts_ = INT64_MIN;
  std::vector<uint8_t> out_;

 public:
  // Whether picture shows what the last Seek converted, pixel for pixel.
  bool Same(const VideoFrame& picture) const {
    if (!frame_ || size_t(picture.width) * picture.height * 4 != out_.size()) return false;
    for (int y = 0; y < picture.height; ++y)
      if (std::memcmp(picture.pixels + size_t(y) * picture.stride,
                      out_.data() + size_t(y) * picture.width * 4, size_t(picture.width) * 4))
        return false;
    return true;
  }
};

// mpv through its JSON IPC: an exact seek, timed until playback restarts there.
class TMpv {
 public:
  bool Open(const std::string& path) {
    if (!WantMpv()) return false;
    sock_ = "/tmp/skm-bench-mpv-" + std::to_string(getpid());
    pid_ = fork();
    if (pid_ == 0) {
      const std::string ipc = "--input-ipc-server=" + sock_;
      execlp("mpv", "mpv", "--no-config", "--really-quiet", "--pause", "--vo=null", "--ao=null",
             "--hr-seek=yes", "--vd-lavc-threads=2", ipc.c_str(), path.c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::snprintf(a.sun_path, sizeof a.sun_path, "%s", sock_.c_str());
      if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) break;
      close(fd_);
      fd_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (fd_ < 0) return false;
    // Let it load the file; steps are seen through the frame number changing.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Send("{\"command\":[\"observe_property\",1,\"time-pos\"]}\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Drain();
    return true;
  }
  ~TMpv() {
    if (fd_ >= 0) {
      Send("{\"command\":[\"quit\"]}\n");
      close(fd_);
    }
    if (pid_ > 0) {
      int status;
      waitpid(pid_, &status, 0);
    }
    unlink(sock_.c_str());
  }
  // Milliseconds until "playback-restart" after an exact seek; < 0 on failure.
  double Seek(double seconds) {
    char cmd[160];
    std::snprintf(cmd, sizeof cmd, "{\"command\":[\"seek\",%.6f,\"absolute+exact\"]}\n", seconds);
    Drain();
    const auto t0 = Clock::now();
    Send(cmd);
    if (!WaitFor("playback-restart")) return -1;
    const double ms = Ms(Clock::now() - t0);
    pos_ = seconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // late position reports
    return ms;
  }
  // A single-frame step (frame-step or frame-back-step), timed until the position reads
  // the frame stepped to.
  double Step(bool back) {
    Drain();
    const double target = pos_ + (back ? -kFrame : kFrame);
    const auto t0 = Clock::now();
    Send(back ? "{\"command\":[\"frame-back-step\"]}\n" : "{\"command\":[\"frame-step\"]}\n");
    if (!WaitForPos(target)) return -1;
    return Ms(Clock::now() - t0);
  }

 private:
  void Send(const char* s) { (void)!write(fd_, s, std::strlen(s)); }
  void Drain() {
    char buf[4096];
    while (recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {}
  }
  // Waits for a time-pos report within half a frame of seconds.
  bool WaitForPos(double seconds) {
    std::string acc;
    char buf[4096];
    const char* key = "\"time-pos\",\"data\":";
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        acc.append(buf, size_t(n));
        for (size_t at = acc.find(key); at != std::string::npos; at = acc.find(key, at + 1)) {
          const double v = std::atof(acc.c_str() + at + std::strlen(key));
          if (std::abs(v - seconds) < kFrame / 2) {
            pos_ = seconds;
            return true;
          }
        }
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    return false;
  }
  bool WaitFor(const char* event) {
    std::string acc;
    char buf[4096];
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        acc.append(buf, size_t(n));
        if (acc.find(event) != std::string::npos) return true;
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    return false;
  }
  static constexpr double kFrame = 1001.0 / 30000.0;
  double pos_ = 0;  // the position mpv stands at, in seconds
  std::string sock_;
  pid_t pid_ = -1;
  int fd_ = -1;
};

constexpr double kFrameSec = 1001.0 / 30000.0;

struct TBench {
  std::string path;
  int frames = 0;
  int gop = 250;
  int seeks = 20;
  unsigned seed = 0;
  int playRuns = 5;
  int wrong = 0;
  int differing = 0;
};

// A step of our session to frame k, timed until the frame is on screen.
double OurStep(TOpened& m, int k, int& wrong) {
  const auto t0 = Clock::now();
  m.SeekPaused(uint64_t(k) * m.step);
  const int shown = m.ShownIndex();
  const double ms = Ms(Clock::now() - t0);
  wrong += shown != k;
  return ms;
}

void SeekPart(TBench& b) {
  std::mt19937 rng(b.seed);
  std::uniform_int_distribution<int> pick(0, b.frames - 1);
  std::vector<int> targets;
  for (int i = 0; i < b.seeks; ++i) targets.push_back(pick(rng));
  // The four take turns per target, so changing load on the machine falls on all alike.
  std::vector<double> naiveMs, smartMs, oursMs, mpvMs;
  TFloor naive, smart;
  if (!naive.Open(b.path) || !smart.Open(b.path)) return;
  // A small budget: what one target leaves in memory does not serve the next, and no
  // frames are prepared in the background while the peers run.
  SessionOptions o;
  o.frameCacheMiB = 0;
  TOpened m;
  if (Failed(m.Open(b.path, &o))) return;
  TMpv mpv;
  const bool haveMpv = mpv.Open(b.path);
  naive.Seek(0, false);
  smart.Seek(0, true);
  m.SeekPaused(0);
  std::printf("\nexact seek to %d random targets (seed %u), ms each:\n  %6s %8s %8s %8s %8s\n",
              b.seeks, b.seed, "frame", "naive", "floor", "ours", "mpv");
  for (int k : targets) {
    auto t0 = Clock::now();
    naive.Seek(k * kFrameSec, false);
    naiveMs.push_back(Ms(Clock::now() - t0));
    t0 = Clock::now();
    smart.Seek(k * kFrameSec, true);
    smartMs.push_back(Ms(Clock::now() - t0));
    oursMs.push_back(OurStep(m, k, b.wrong));
    std::shared_ptr<const VideoFrame> shown;
    m.ShownIndex(&shown);
    if (!shown || !naive.Same(*shown)) ++b.differing;
    if (haveMpv) mpvMs.push_back(mpv.Seek(k * kFrameSec));
    std::printf("  %6d %8.1f %8.1f %8.1f %8.1f\n", k, naiveMs.back(), smartMs.back(),
                oursMs.back(), haveMpv ? mpvMs.back() : 0.0);
  }
  char mpvMean[32] = "n/a";
  if (!mpvMs.empty()) std::snprintf(mpvMean, sizeof mpvMean, "%.1f", Mean(mpvMs));
  std::printf("  mean: naive floor %.1f, floor with the engine's shortcuts %.1f, ours %.1f, mpv %s\n",
              Mean(naiveMs), Mean(smartMs), Mean(oursMs), mpvMean);
  std::printf("  median: naive %.1f, floor %.1f, ours %.1f, mpv %.1f\n", Median(naiveMs),
              Median(smartMs), Median(oursMs), Median(mpvMs));
  std::printf("  ratio of means ours/naive %.2f, ours/floor %.2f", Mean(oursMs) / Mean(naiveMs),
              Mean(oursMs) / Mean(smartMs));
  if (!mpvMs.empty()) std::printf(", ours/mpv %.2f", Mean(oursMs) / Mean(mpvMs));
  std::printf("; of medians ours/floor %.2f; wrong frames: %d; pictures differing from the "
              "floor's: %d\n",
              Median(oursMs) / Median(smartMs), b.wrong, b.differing);
}

// What each thread of the process did in a span: page faults and time on a core and
// waiting for one, from the kernel's per-thread counts. The engine names its threads, so
// a slow step tells whose faults or whose wait it was (SKM_BENCH_THREADS=1).
struct TThreadUse {
  std::string name;
  long faults = 0;
  long long runNs = 0, waitNs = 0;
};
std::map<int, TThreadUse> ThreadUse() {
  std::map<int, TThreadUse> out;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return out;
  while (const dirent* e = readdir(dir)) {
    const int tid = std::atoi(e->d_name);
    if (tid <= 0) continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    auto slurp = [&](const char* leaf) {
      std::string text;
      if (FILE* f = std::fopen((base + leaf).c_str(), "r")) {
        char buf[1024];
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        text.assign(buf, n);
        std::fclose(f);
      }
      return text;
    };
    TThreadUse u;
    u.name = slurp("/comm");
    if (!u.name.empty() && u.name.back() == '\n') u.name.pop_back();
    // Minor faults are the tenth field of stat, counted after the name's closing bracket.
    const std::string stat = slurp("/stat");
    const size_t close = stat.rfind(')');
    if (close != std::string::npos) {
      int field = 2;
      for (size_t i = close + 1; i < stat.size(); ++i)
        if (stat[i] == ' ' && ++field == 10) {
          u.faults = std::atol(stat.c_str() + i + 1);
          break;
        }
    }
    std::sscanf(slurp("/schedstat").c_str(), "%lld %lld", &u.runNs, &u.waitNs);
    out[tid] = u;
  }
  closedir(dir);
  return out;
}

void PrintThreadUse(const std::map<int, TThreadUse>& from, const std::map<int, TThreadUse>& to) {
  for (const auto& [tid, u] : to) {
    const auto was = from.find(tid);
    const TThreadUse none;
    const TThreadUse& a = was != from.end() ? was->second : none;
    const long faults = u.faults - a.faults;
    const double run = double(u.runNs - a.runNs) / 1e6, wait = double(u.waitNs - a.waitNs) / 1e6;
    if (faults == 0 && run < 0.3 && wait < 0.3) continue;
    std::printf(" [%s %d: %ld faults, ran %.1f ms, waited %.1f ms]", u.name.c_str(), tid, faults,
                run, wait);
  }
}

void StepPart(TBench& b) {
  // Steps while paused, each asked for as soon as the last is on screen: 30 backward from
  // the middle of a long group, 30 forward over the frames stepped back over, then 30
  // forward into frames nothing decoded yet. Those must be decoded as they come, so the
  // floor decoding and converting the same frames one after another is their peer.
  TOpened m;
  if (Failed(m.Open(b.path))) return;
  const int start = std::min(b.frames - 1, 200);
  m.SeekPaused(uint64_t(start) * m.step);
  std::vector<double> back, fwd, fresh;
  int k = start;
  // A step to frame k, with what each thread did during it when asked for.
  const bool listThreads = std::getenv("SKM_BENCH_THREADS") != nullptr;
  auto step = [&](const char* way, int to, bool list) {
    const auto use0 = list ? ThreadUse() : std::map<int, TThreadUse>{};
    const double ms = OurStep(m, to, b.wrong);
    if (list) {
      std::printf("  step %s %d: %.1f ms;", way, to, ms);
      PrintThreadUse(use0, ThreadUse());
      std::printf("\n");
    }
    return ms;
  };
  for (int i = 0; i < 30 && k > 0; ++i) back.push_back(step("back to", --k, listThreads));
  // Page faults of the whole process per step into frames not decoded: fresh memory is
  // what made those steps slow on machines that hand memory out late.
  std::vector<long> freshFaults;
  for (int i = 0; i < 60 && k < b.frames - 1; ++i) {
    rusage r0{}, r1{};
    getrusage(RUSAGE_SELF, &r0);
    const double ms = step("to", ++k, listThreads && i >= 30);
    getrusage(RUSAGE_SELF, &r1);
    if (i >= 30) freshFaults.push_back(r1.ru_minflt - r0.ru_minflt);
    (i < 30 ? fwd : fresh).push_back(ms);
  }
  const int freshEnd = k;
  // At the pace of a held key (every 40 ms), the neighbours are ready before each step.
  std::vector<double> paceBack, paceFwd;
  for (int i = 0; i < 30 && k > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    paceBack.push_back(OurStep(m, --k, b.wrong));
  }
  for (int i = 0; i < 30 && k < b.frames - 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    paceFwd.push_back(OurStep(m, ++k, b.wrong));
  }
  // The floor runs once our session is closed: its preparation in the background would
  // otherwise share the cores with the floor's steps.
  m.Close();
  std::vector<double> floorMs;
  {
    TFloor f;
    if (f.Open(b.path)) {
      f.Seek(start * kFrameSec, true);
      for (int j = start + 1; j <= freshEnd; ++j) {
        const auto t0 = Clock::now();
        f.Seek(j * kFrameSec, true);
        floorMs.push_back(Ms(Clock::now() - t0));
      }
    }
  }
  // A single slow step decides a worst case, and the machine's own hiccups reach the
  // floor too: how many steps of each went over 5 ms tells them apart.
  auto over5 = [](const std::vector<double>& v) {
    return std::count_if(v.begin(), v.end(), [](double ms) { return ms > 5.0; });
  };
  std::printf("\nsteps while paused, 30 each, back to back (goal < 5 ms):\n"
              "  backward median %.2f ms worst %.2f ms\n"
              "  forward over frames decoded median %.2f ms worst %.2f ms\n"
              "  forward into frames not decoded yet median %.2f ms worst %.2f ms; the floor "
              "decoding and converting the same frames in a row median %.2f ms worst %.2f ms; "
              "ratio of medians %.2f\n"
              "  steps over 5 ms: backward %ld, forward over decoded %ld, into not decoded "
              "%ld, the floor's %ld\n  wrong frames: %d\n",
              Median(back), Max(back), Median(fwd), Max(fwd), Median(fresh), Max(fresh),
              Median(floorMs), Max(floorMs), Median(fresh) / std::max(0.001, Median(floorMs)),
              long(over5(back)), long(over5(fwd)), long(over5(fresh)), long(over5(floorMs)),
              b.wrong);
  std::printf("  each step back (ms):");
  for (double v : back) std::printf(" %.1f", v);
  std::printf("\n  each step into frames not decoded (ms):");
  for (double v : fresh) std::printf(" %.1f", v);
  std::printf("\n  its page faults:");
  for (long f : freshFaults) std::printf(" %ld", f);
  std::printf("\n  the floor's steps (ms):");
  for (double v : floorMs) std::printf(" %.1f", v);
  std::printf("\n");
  std::printf("  at a held key's pace (40 ms apart): backward median %.2f ms worst %.2f ms; "
              "forward median %.2f ms worst %.2f ms; wrong frames: %d\n",
              Median(paceBack), Max(paceBack), Median(paceFwd), Max(paceFwd), b.wrong);
  std::printf("  each step back at that pace (ms):");
  for (double v : paceBack) std::printf(" %.1f", v);
  std::printf("\n  each step forward at that pace (ms):");
  for (double v : paceFwd) std::printf(" %.1f", v);
  std::printf("\n");
  TMpv mpv;
  if (mpv.Open(b.path)) {
    mpv.Seek(start * kFrameSec);
    std::vector<double> mb, mf;
    for (int i = 0; i < 30; ++i) mb.push_back(mpv.Step(true));
    for (int i = 0; i < 30; ++i) mf.push_back(mpv.Step(false));
    std::printf("  mpv: backward median %.2f ms, forward median %.2f ms; "
                "ratio backward ours/mpv %.3f, forward ours/mpv %.3f\n",
                Median(mb), Median(mf), Median(back) / std::max(0.001, Median(mb)),
                Median(fwd) / std::max(0.001, Median(mf)));
  }
}

// Back steps that find nothing prepared: right after a seek onto a keyframe (the frame
// before lies in the previous group), the first steps after a seek into a group, and the
// same after the lane rested paused for 1 s. Each case on a fresh session, so nothing from
// an earlier case helps; mpv, which keeps no decoded frames, does the same steps.
void ColdPart(TBench& b) {
  std::mt19937 rng(b.seed + 1);
  std::vector<int> keys;
  for (int k = b.gop; k < b.frames; k += b.gop) keys.push_back(k);
  std::vector<int> mids;
  {
    std::uniform_int_distribution<int> pick(30, b.frames - 1);
    for (int i = 0; i < 4; ++i) mids.push_back(pick(rng));
  }
  TMpv mpv;
  const bool haveMpv = mpv.Open(b.path);
  std::printf("\nback steps from a cold start (seed %u; fresh session each; ms):\n", b.seed);
  std::vector<double> acrossCold, acrossRested, acrossMpv, acrossFloor, firstCold, firstRested, firstMpv;
  for (int rep = 0; rep < 2; ++rep) {
    for (int key : keys) {
      for (bool rest : {false, true}) {
        TOpened m;
        if (Failed(m.Open(b.path))) return;
        m.SeekPaused(uint64_t(b.frames - 1) * m.step);  // away from the group before key
        m.SeekPaused(uint64_t(key) * m.step);
        if (rest) std::this_thread::sleep_for(std::chrono::seconds(1));
        // Page faults tell fresh memory from reused: the first session of a process has
        // no free buffers to take yet.
        rusage r0{}, r1{};
        getrusage(RUSAGE_SELF, &r0);
        const double ms = OurStep(m, key - 1, b.wrong);
        getrusage(RUSAGE_SELF, &r1);
        (rest ? acrossRested : acrossCold).push_back(ms);
        std::printf("  across the keyframe %d -> %d, %s: %.1f (%ld page faults)\n", key, key - 1,
                    rest ? "after 1 s paused" : "cold", ms, r1.ru_minflt - r0.ru_minflt);
      }
      {
        TFloor f;
        if (!f.Open(b.path)) return;
        f.Seek(key * kFrameSec, true);
        const auto t0 = Clock::now();
        f.Seek((key - 1) * kFrameSec, true);
        acrossFloor.push_back(Ms(Clock::now() - t0));
        std::printf("  across the keyframe %d -> %d, floor: %.1f\n", key, key - 1, acrossFloor.back());
      }
      if (haveMpv) {
        mpv.Seek(key * kFrameSec);
        acrossMpv.push_back(mpv.Step(true));
        std::printf("  across the keyframe %d -> %d, mpv: %.1f\n", key, key - 1, acrossMpv.back());
      }
    }
    for (int mid : mids) {
      for (bool rest : {false, true}) {
        TOpened m;
        if (Failed(m.Open(b.path))) return;
        m.SeekPaused(uint64_t(mid < b.frames / 2 ? b.frames - 1 : 0) * m.step);
        m.SeekPaused(uint64_t(mid) * m.step);
        if (rest) std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("  first 4 steps back from %d, %s:", mid, rest ? "after 1 s paused" : "cold");
        for (int i = 1; i <= 4; ++i) {
          const double ms = OurStep(m, mid - i, b.wrong);
          (rest ? firstRested : firstCold).push_back(ms);
          std::printf(" %.1f", ms);
        }
        std::printf("\n");
      }
      if (haveMpv) {
        mpv.Seek(mid * kFrameSec);
        std::printf("  first 4 steps back from %d, mpv:", mid);
        for (int i = 1; i <= 4; ++i) {
          firstMpv.push_back(mpv.Step(true));
          std::printf(" %.1f", firstMpv.back());
        }
        std::printf("\n");
      }
    }
  }
  auto line = [](const char* what, const std::vector<double>& v) {
    std::printf("  %-44s median %7.1f worst %7.1f ms\n", what, Median(v), Max(v));
  };
  line("across a keyframe, cold:", acrossCold);
  line("across a keyframe, after 1 s paused (goal < 5):", acrossRested);
  line("across a keyframe, mpv:", acrossMpv);
  line("across a keyframe, floor (seek, skip to the target):", acrossFloor);
  line("first steps after a seek, cold:", firstCold);
  line("first steps after a seek, after 1 s (goal < 5):", firstRested);
  line("first steps after a seek, mpv:", firstMpv);
  if (!acrossMpv.empty())
    std::printf("  ratio ours/mpv across a keyframe, cold: median %.2f worst %.2f (goal <= 1)\n",
                Median(acrossCold) / Median(acrossMpv), Max(acrossCold) / Max(acrossMpv));
  if (!firstMpv.empty())
    std::printf("  ratio ours/mpv first steps, cold: median %.3f worst %.2f\n",
                Median(firstCold) / Median(firstMpv), Max(firstCold) / Max(firstMpv));
  std::printf("  wrong frames: %d\n", b.wrong);
}

// Two sessions playing at once, then mpv decoding and converting the same two files to
// BGRA (--vo=null with a format filter), per run.
void PlayPart(TBench& b) {
  const int playSeconds = std::min(20, b.frames / 30 - 1);
  std::vector<double> ratios, skippedAll;
  std::printf("\ntwo sessions playing %d s, %d runs:\n", playSeconds, b.playRuns);
  for (int run = 0; run < b.playRuns; ++run) {
    const double cpu0 = CpuSeconds();
    int skipped = 0, worstLag = 0;
    {
      TOpened a, c;
      if (Failed(a.Open(b.path)) || Failed(c.Open(b.path))) return;
      a.session->Start(PropVariant::Empty());
      c.session->Start(PropVariant::Empty());
      int last[2] = {-1, -1};
      const auto t0 = Clock::now();
      while (Ms(Clock::now() - t0) < playSeconds * 1000.0) {
        int i = 0;
        for (auto* m : {&a, &c}) {
          const int expected = int(m->ClockTime() / int64_t(m->step));
          const int shown = m->ShownIndex();
          if (shown >= 0) {
            worstLag = std::max(worstLag, expected - shown);
            if (last[i] >= 0 && shown > last[i] + 1) skipped += shown - last[i] - 1;
            if (shown > last[i]) last[i] = shown;
          }
          ++i;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    const double cpu = CpuSeconds() - cpu0;
    skippedAll.push_back(skipped);
    std::printf("  run %d: ours CPU %.1f s, frames skipped %d, worst lag %d frames", run + 1, cpu,
                skipped, worstLag);
    if (WantMpv()) {
      rusage before{}, after{};
      getrusage(RUSAGE_CHILDREN, &before);
      pid_t pids[2];
      for (pid_t& pid : pids) {
        pid = fork();
        if (pid == 0) {
          const std::string len = "--length=" + std::to_string(playSeconds);
          execlp("mpv", "mpv", "--no-config", "--really-quiet", "--vo=null", "--ao=null",
                 "--vf=format=fmt=bgra", "--vd-lavc-threads=2", len.c_str(), b.path.c_str(),
                 nullptr);
          _exit(127);
        }
      }
      for (pid_t pid : pids) {
        int status;
        waitpid(pid, &status, 0);
      }
      getrusage(RUSAGE_CHILDREN, &after);
      const double mpvCpu = Secs(after) - Secs(before);
      ratios.push_back(cpu / std::max(0.01, mpvCpu));
      std::printf("; mpv (--vo=null --vf=format=fmt=bgra) CPU %.1f s; ratio %.2f", mpvCpu,
                  ratios.back());
    }
    std::printf("\n");
  }
  std::printf("  frames skipped per run: max %.0f (goal 0)", Max(skippedAll));
  if (!ratios.empty())
    std::printf("; CPU ratio ours/mpv median %.2f, range %.2f-%.2f (goal <= 1.2)", Median(ratios),
                Min(ratios), Max(ratios));
  std::printf("\n");
}

// Two 4K lanes, stepped back and forth and seeking for a minute with the default budget:
// the peak resident memory of the process against the two budgets.
void MemPart(TBench& b) {
  TMovieRecipe r;
  r.rate = "30000/1001";
  r.frames = 300;
  r.gop = 250;
  r.bframes = 2;
  r.audio = false;
  r.postFilter = "scale=3840:2160:flags=neighbor,noise=alls=3:allf=t";
  r.preset = "ultrafast";
  r.crf = 23;
  std::printf("\nmaking the 3840x2160 movie (%d frames)...\n", r.frames);
  const std::string path = MakeTestMovie(r);
  if (path.empty()) return;
  rusage u0{};
  getrusage(RUSAGE_SELF, &u0);
  const SessionOptions defaults;
  {
    TOpened a, c;
    if (Failed(a.Open(path)) || Failed(c.Open(path))) return;
    std::mt19937 rng(b.seed + 2);
    std::uniform_int_distribution<int> pick(0, r.frames - 1);
    int k[2] = {pick(rng), pick(rng)};
    const auto t0 = Clock::now();
    int steps = 0;
    while (Ms(Clock::now() - t0) < 60'000.0) {
      // A seek now and then, a run of steps back, a rest, a run forward.
      for (int lane = 0; lane < 2; ++lane) {
        TOpened& m = lane ? c : a;
        if (rng() % 4 == 0) k[lane] = pick(rng);
        const int dir = rng() % 2 ? 1 : -1;
        for (int i = 0; i < 8; ++i) {
          k[lane] = std::clamp(k[lane] + dir, 0, r.frames - 1);
          OurStep(m, k[lane], b.wrong);
          ++steps;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::printf("  %d steps over 60 s\n", steps);
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const double peakMB = double(u.ru_maxrss) / 1024.0;
  const double budgetMB = 2.0 * defaults.frameCacheMiB * 1.048576;
  std::printf("  peak RSS %.0f MB (before the lanes %.0f MB); two budgets %.0f MB + 300 MB = %.0f "
              "MB (goal: within); wrong frames %d\n",
              peakMB, double(u0.ru_maxrss) / 1024.0, budgetMB, budgetMB + 300, b.wrong);
}

} // namespace

int main(int argc, char** argv) {
  TBench b;
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 21;
  b.seeks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const std::string parts = argc > 3 ? argv[3] : "seek,step,cold,play";
  b.seed = argc > 4 ? unsigned(std::strtoul(argv[4], nullptr, 10))
                    : unsigned(std::chrono::system_clock::now().time_since_epoch().count());
  b.playRuns = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;
  auto want = [&](const char* p) { return parts.find(p) != std::string::npos; };
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::printf("seed %u; parts %s\n", b.seed, parts.c_str());
  FFmpegMediaFramework()->Startup(MF_VERSION, 0);
  if (want("seek") || want("step") || want("cold") || want("play")) {
    TMovieRecipe recipe;
    recipe.rate = "30000/1001";
    recipe.frames = seconds * 30;
    recipe.gop = b.gop;
    recipe.bframes = 2;
    recipe.audio = false;
    recipe.postFilter = "scale=1920:1080:flags=neighbor,noise=alls=3:allf=t";
    recipe.preset = "veryfast";
    recipe.crf = 23;
    std::printf("making the 1920x1080 movie (%d frames)...\n", recipe.frames);
    b.path = MakeTestMovie(recipe);
    if (b.path.empty()) return 1;
    b.frames = recipe.frames;
  }
  if (want("seek")) SeekPart(b);
  if (want("step")) StepPart(b);
  if (want("cold")) ColdPart(b);
  if (want("play")) PlayPart(b);
  if (want("mem")) MemPart(b);
  FFmpegMediaFramework()->Shutdown();
  return b.wrong || b.differing ? 2 : 0;
}
