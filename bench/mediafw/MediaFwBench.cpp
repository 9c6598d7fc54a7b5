// Exact seeks and single-frame steps on a 1920x1080 30000/1001 H.264 movie with a group of
// pictures of 250, against a minimal libavcodec loop (the floor) and, when installed, the
// mpv player driven through its JSON IPC. Also two sessions playing at once. Prints the
// figures and their ratios; run under `nice`.
//
// Usage: skm_mediafw_bench [seconds-of-movie=10] [random-seeks=20]
#include "SessionHarness.h"
#include "TestMovies.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
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

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The floor: open, seek to the keyframe before the target, decode to the frame, convert.
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
  bool Seek(double seconds) {
    const int64_t ts = int64_t(seconds / av_q2d(st_->time_base)) +
                       (st_->start_time != AV_NOPTS_VALUE ? st_->start_time : 0);
    const int64_t half = int64_t(0.5 / av_q2d(st_->avg_frame_rate) / av_q2d(st_->time_base));
    avformat_seek_file(fmt_, idx_, INT64_MIN, ts, ts, 0);
    avcodec_flush_buffers(dec_);
    bool draining = false;
    for (;;) {
      const int r = avcodec_receive_frame(dec_, frame_);
      if (r >= 0) {
        if (frame_->best_effort_timestamp >= ts - half) {
          Convert();
          av_frame_unref(frame_);
          return true;
        }
        av_frame_unref(frame_);
        continue;
      }
      if (r != AVERROR(EAGAIN) || draining) return false;
      if (av_read_frame(fmt_, pkt_) < 0) {
        avcodec_send_packet(dec_, nullptr);
        draining = true;
        continue;
      }
      if (pkt_->stream_index == idx_) avcodec_send_packet(dec_, pkt_);
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
  std::vector<uint8_t> out_;
};

// mpv through its JSON IPC: an exact seek, timed until playback restarts there.
class TMpv {
 public:
  bool Open(const std::string& path) {
    if (std::system("command -v mpv > /dev/null 2>&1") != 0) return false;
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
    return WaitFor("playback-restart") ? Ms(Clock::now() - t0) : -1;
  }
  // A single-frame step (frame-step or frame-back-step), timed like Seek.
  double Step(bool back) {
    Drain();
    const auto t0 = Clock::now();
    Send(back ? "{\"command\":[\"frame-back-step\"]}\n" : "{\"command\":[\"frame-step\"]}\n");
    return WaitFor("\"time-pos\"") ? Ms(Clock::now() - t0) : -1;
  }

 private:
  void Send(const char* s) { (void)!write(fd_, s, std::strlen(s)); }
  void Drain() {
    char buf[4096];
    while (recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {}
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
  std::string sock_;
  pid_t pid_ = -1;
  int fd_ = -1;
};

} // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
  const int seeks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  TMovieRecipe recipe;
  recipe.rate = "30000/1001";
  recipe.frames = seconds * 30;
  recipe.gop = 250;
  recipe.bframes = 2;
  recipe.audio = false;
  recipe.postFilter = "scale=1920:1080:flags=neighbor,noise=alls=3:allf=t";
  recipe.preset = "veryfast";
  recipe.crf = 23;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::printf("making the 1920x1080 movie (%d frames)...\n", recipe.frames);
  const std::string path = MakeTestMovie(recipe);
  if (path.empty()) return 1;
  FFmpegMediaFramework()->Startup(MF_VERSION, 0);

  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(0, recipe.frames - 1);
  std::vector<int> targets;
  for (int i = 0; i < seeks; ++i) targets.push_back(pick(rng));
  const double frameSec = 1001.0 / 30000.0;

  // The three take turns per target, so changing load on the machine falls on all alike.
  std::vector<double> floorMs, oursMs, mpvMs;
  int wrong = 0;
  {
    TFloor f;
    if (!f.Open(path)) return 1;
    // A cache of one frame stands for "nothing kept from earlier targets".
    SessionOptions o;
    o.frameCacheMiB = 0;
    TOpened m;
    if (Failed(m.Open(path, &o))) return 1;
    TMpv mpv;
    const bool haveMpv = !std::getenv("SKM_BENCH_NO_MPV") && mpv.Open(path);
    f.Seek(0);
    m.SeekPaused(0);
    for (int k : targets) {
      auto t0 = Clock::now();
      f.Seek(k * frameSec);
      floorMs.push_back(Ms(Clock::now() - t0));
      t0 = Clock::now();
      m.SeekPaused(uint64_t(k) * m.step);
      const int shown = m.ShownIndex();
      oursMs.push_back(Ms(Clock::now() - t0));
      wrong += shown != k;
      if (haveMpv) mpvMs.push_back(mpv.Seek(k * frameSec));
    }
  }
  std::printf("\nexact seek to %d random targets (mean ms): floor %.1f, ours %.1f, mpv %s\n", seeks,
              Mean(floorMs), Mean(oursMs),
              mpvMs.empty() ? "n/a" : std::to_string(Mean(mpvMs)).c_str());
  std::printf("  ratio ours/floor %.2f (goal <= 1.15)", Mean(oursMs) / Mean(floorMs));
  if (!mpvMs.empty()) std::printf(", ours/mpv %.2f (goal < 1)", Mean(oursMs) / Mean(mpvMs));
  std::printf("; wrong frames: %d\n", wrong);

  // Steps while paused: 30 backward from the middle of a long group, then 30 forward.
  {
    TOpened m;
    if (Failed(m.Open(path))) return 1;
    const int start = std::min(recipe.frames - 1, 200);
    m.SeekPaused(uint64_t(start) * m.step);
    std::vector<double> back, fwd;
    int k = start;
    for (int i = 0; i < 30 && k > 0; ++i) {
      --k;
      const auto t0 = Clock::now();
      m.SeekPaused(uint64_t(k) * m.step);
      const int shown = m.ShownIndex();
      back.push_back(Ms(Clock::now() - t0));
      wrong += shown != k;
    }
    for (int i = 0; i < 60 && k < recipe.frames - 1; ++i) {
      ++k;
      const auto t0 = Clock::now();
      m.SeekPaused(uint64_t(k) * m.step);
      const int shown = m.ShownIndex();
      if (i >= 30) fwd.push_back(Ms(Clock::now() - t0));  // past the frames kept going back
      wrong += shown != k;
    }
    std::printf("\nsteps while paused, 30 each, back to back: backward median %.2f ms worst %.2f ms "
                "(goal < 5); forward median %.2f ms worst %.2f ms (goal < 3); wrong frames: %d\n",
                Median(back), Max(back), Median(fwd), Max(fwd), wrong);
    // At the pace of a held key (every 40 ms), the neighbours are ready before each step.
    std::vector<double> paceBack, paceFwd;
    for (int i = 0; i < 30 && k > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      --k;
      const auto t0 = Clock::now();
      m.SeekPaused(uint64_t(k) * m.step);
      const int shown = m.ShownIndex();
      paceBack.push_back(Ms(Clock::now() - t0));
      wrong += shown != k;
    }
    for (int i = 0; i < 30 && k < recipe.frames - 1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      ++k;
      const auto t0 = Clock::now();
      m.SeekPaused(uint64_t(k) * m.step);
      const int shown = m.ShownIndex();
      paceFwd.push_back(Ms(Clock::now() - t0));
      wrong += shown != k;
    }
    std::printf("  at a held key's pace (40 ms apart): backward median %.2f ms worst %.2f ms; "
                "forward median %.2f ms worst %.2f ms; wrong frames: %d\n",
                Median(paceBack), Max(paceBack), Median(paceFwd), Max(paceFwd), wrong);
    TMpv mpv;
    if (!std::getenv("SKM_BENCH_NO_MPV") && mpv.Open(path)) {
      mpv.Seek(start * frameSec);
      std::vector<double> mb, mf;
      for (int i = 0; i < 30; ++i) mb.push_back(mpv.Step(true));
      for (int i = 0; i < 30; ++i) mf.push_back(mpv.Step(false));
      std::printf("  mpv: backward median %.2f ms, forward median %.2f ms; "
                  "ratio backward mpv/ours %.1f\n",
                  Median(mb), Median(mf), Median(mb) / std::max(0.001, Median(back)));
    }
  }

  // Two sessions playing at once, then mpv playing the same file twice with --vo=null.
  {
    const int playSeconds = std::min(20, seconds - 1);
    const double cpu0 = CpuSeconds();
    TOpened a, b;
    if (Failed(a.Open(path)) || Failed(b.Open(path))) return 1;
    a.session->Start(PropVariant::Empty());
    b.session->Start(PropVariant::Empty());
    int last[2] = {-1, -1}, skipped = 0, worstLag = 0;
    const auto t0 = Clock::now();
    while (Ms(Clock::now() - t0) < playSeconds * 1000.0) {
      int i = 0;
      for (auto* m : {&a, &b}) {
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
    const double cpu = CpuSeconds() - cpu0;
    std::printf("\ntwo sessions playing %d s: CPU %.1f s; frames skipped %d, worst lag %d frames\n",
                playSeconds, cpu, skipped, worstLag);
    if (!std::getenv("SKM_BENCH_NO_MPV") && std::system("command -v mpv > /dev/null 2>&1") == 0) {
      rusage before{}, after{};
      getrusage(RUSAGE_CHILDREN, &before);
      pid_t pids[2];
      for (pid_t& pid : pids) {
        pid = fork();
        if (pid == 0) {
          const std::string len = "--length=" + std::to_string(playSeconds);
          execlp("mpv", "mpv", "--no-config", "--really-quiet", "--vo=null", "--ao=null",
                 "--vd-lavc-threads=2", len.c_str(), path.c_str(), nullptr);
          _exit(127);
        }
      }
      for (pid_t pid : pids) {
        int status;
        waitpid(pid, &status, 0);
      }
      getrusage(RUSAGE_CHILDREN, &after);
      auto secs = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
      };
      const double mpvCpu = secs(after) - secs(before);
      std::printf("  mpv --vo=null, same two files: CPU %.1f s; ratio ours/mpv %.2f (goal <= 1.2)\n",
                  mpvCpu, cpu / std::max(0.01, mpvCpu));
    }
  }
  FFmpegMediaFramework()->Shutdown();
  return 0;
}
