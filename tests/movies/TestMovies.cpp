#include "TestMovies.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace skmtest {

namespace {

constexpr int kBars = 16;

std::string CacheDir() {
  std::string dir;
  if (const char* s = std::getenv("SKM_TEST_MOVIE_CACHE")) dir = s;
  else dir = (std::filesystem::temp_directory_path() / ("skm-test-movies-" + std::to_string(getuid()))).string();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Bar i of the picture is bright when bit i of the frame number N is set.
std::string IndexFilter(int w) {
  std::ostringstream f;
  f << "geq=lum='if(mod(floor(N/pow(2,floor(X*" << kBars << "/" << w
    << "))),2),235,16)':cb=128:cr=128";
  return f.str();
}

// Writes a display rotation into the first track header of an MP4 file (ffmpeg 5.1 has no
// option for it). The matrix turns the picture by degrees, a multiple of 90.
bool SetRotation(const std::string& path, int degrees) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t at = bytes.find("tkhd");
  if (at == std::string::npos || at + 4 + 40 + 36 > bytes.size() || bytes[at + 4] != 0) return false;
  int32_t a = 0x10000, b = 0, c = 0, d = 0x10000;
  switch (((degrees % 360) + 360) % 360) {
    case 90: a = 0; b = 0x10000; c = -0x10000; d = 0; break;
    case 180: a = -0x10000; d = -0x10000; break;
    case 270: a = 0; b = -0x10000; c = 0x10000; d = 0; break;
    default: break;
  }
  const int32_t m[9] = {a, b, 0, c, d, 0, 0, 0, 0x40000000};
  std::string packed;
  for (int32_t v : m) {
    const uint32_t u = static_cast<uint32_t>(v);
    packed += char(u >> 24);
    packed += char(u >> 16);
    packed += char(u >> 8);
    packed += char(u);
  }
  f.clear();
  f.seekp(static_cast<std::streamoff>(at + 4 + 40));
  f.write(packed.data(), static_cast<std::streamsize>(packed.size()));
  return bool(f);
}

} // namespace

std::string MakeTestMovie(const TMovieRecipe& s) {
  std::string vf;
  if (s.video) {
    vf = IndexFilter(s.width);
    if (!s.sar.empty()) {
      std::string sar = s.sar;
      for (char& c : sar)
        if (c == ':') c = '/';  // ':' would separate filter options
      vf += ",setsar=" + sar;
    }
    if (!s.postFilter.empty()) vf += "," + s.postFilter;
  }
  // The sound lasts as long as the pictures.
  double num = 0, den = 1;
  if (std::sscanf(s.rate.c_str(), "%lf/%lf", &num, &den) < 1) num = 25;
  if (den <= 0) den = 1;
  const double seconds = s.frames * den / num;
  std::ostringstream full;
  full << "ffmpeg -nostdin -v error -y";
  if (s.video)
    full << " -f lavfi -i " << Quote("color=c=black:s=" + std::to_string(s.width) + "x" +
                                      std::to_string(s.height) + ":r=" + s.rate);
  if (s.audio)
    full << " -f lavfi -t " << seconds << " -i " << Quote("sine=frequency=440:sample_rate=48000");
  if (s.video) {
    full << " -map 0:v -vf " << Quote(vf) << " -frames:v " << s.frames;
    if (s.videoCodec.empty())
      full << " -c:v libx264 -preset " << s.preset << " -crf " << s.crf << " -pix_fmt yuv420p";
    else
      full << " " << s.videoCodec;
    full << " -g " << s.gop << " -keyint_min " << s.gop << " -sc_threshold 0 -bf " << s.bframes;
    if (s.rotate) full << " -metadata:s:v:0 skm_rotate=" << s.rotate;  // keeps the cache key apart
  }
  if (s.audio)
    full << " -map " << (s.video ? 1 : 0) << ":a "
         << (s.audioCodec.empty() ? "-c:a aac -b:a 64k" : s.audioCodec) << " -ac 2";
  if (!s.outputArgs.empty()) full << " " << s.outputArgs;

  if (!s.remuxArgs.empty()) full << " -f " << MuxerFor(s.container) << " {first} && ffmpeg -nostdin -v error -y -i {first} -map 0 -c copy " << s.remuxArgs;
  const std::string key = full.str();
  const size_t hash = std::hash<std::string>{}(key);
  const std::string dir = CacheDir();
  const std::string path = dir + "/movie-" + std::to_string(hash) + "." + s.container;
  if (std::filesystem::exists(path)) return path;
  const std::string tmp = dir + "/.tmp-" + std::to_string(hash) + "-" + std::to_string(getpid()) +
                          "." + s.container;
  const std::string first = tmp + ".first." + s.container;
  std::string run = key + " -f " + MuxerFor(s.container) + " " + Quote(tmp) + " 2>&1";
  for (size_t at; (at = run.find("{first}")) != std::string::npos;) run.replace(at, 7, Quote(first));
  const int rc = std::system(run.c_str());
  std::error_code ignored;
  std::filesystem::remove(first, ignored);
  if (rc != 0 || !std::filesystem::exists(tmp)) {
    std::cerr << "ffmpeg failed: " << run << "\n";
    return {};
  }
  if (s.rotate && !SetRotation(tmp, s.rotate)) {
    std::cerr << "cannot set the rotation of " << tmp << "\n";
    return {};
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) return {};
  return path;
}

std::string MuxerFor(const std::string& e) {
  if (e == "mkv") return "matroska";
  if (e == "m4v") return "mp4";
  if (e == "ts" || e == "mts" || e == "m2ts") return "mpegts";
  if (e == "mpg" || e == "mpeg") return "vob";  // MPEG-2 program stream
  if (e == "wmv") return "asf";
  if (e == "ogv") return "ogg";
  return e;  // mp4, mov, webm, avi, flv, 3gp
}

std::string LastPacketLasts(int frames, int ticks) {
  return "-bsf:v 'setts=pts=PTS:dts=DTS:duration=if(eq(N\\," + std::to_string(frames - 1) +
         ")\\," + std::to_string(ticks) + "\\,DURATION)'";
}

TMovieRecipe LongLastFrameQuickTime() {
  TMovieRecipe s;
  s.rate = "24";
  s.frames = 120;
  s.container = "mov";
  s.remuxArgs = LastPacketLasts(s.frames, 600) + " -video_track_timescale 600";
  return s;
}

TMovieRecipe LateStartShortLastFrameMp4() {
  TMovieRecipe s;
  s.rate = "30";
  s.frames = 60;
  s.remuxArgs = LastPacketLasts(s.frames, 1) + " -video_track_timescale 15360 -output_ts_offset 0.033333";
  return s;
}

int ReadFrameIndex(const uint8_t* bgra, int width, int height, int stride) {
  if (!bgra || width < kBars || height < 4 || stride < width * 4) return -1;
  int index = 0;
  const int rows[3] = {height / 4, height / 2, (3 * height) / 4};
  for (int bar = 0; bar < kBars; ++bar) {
    const int x = (2 * bar + 1) * width / (2 * kBars);
    int bright = 0;
    for (int r : rows) {
      const uint8_t g = bgra[size_t(r) * stride + size_t(x) * 4 + 1];
      if (g > 160) ++bright;
      else if (g > 90) return -1;  // neither bright nor dark: not one of our frames
    }
    if (bright != 0 && bright != 3) return -1;
    if (bright == 3) index |= 1 << bar;
  }
  return index;
}

std::vector<int> FfmpegFrameIndexes(const std::string& path) {
  // The probe gives the display size; decode to grey at that size.
  const std::string probe = "ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                            "-of csv=p=0 " + Quote(path);
  FILE* p = popen(probe.c_str(), "r");
  if (!p) return {};
  int w = 0, h = 0;
  if (std::fscanf(p, "%d,%d", &w, &h) != 2) w = h = 0;
  pclose(p);
  if (w <= 0 || h <= 0) return {};
  const std::string cmd = "ffmpeg -nostdin -v error -i " + Quote(path) +
                          " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt gray -";
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return {};
  std::vector<int> out;
  std::vector<uint8_t> grey(size_t(w) * h);
  std::vector<uint8_t> bgra(size_t(w) * h * 4);
  while (std::fread(grey.data(), 1, grey.size(), f) == grey.size()) {
    for (size_t i = 0; i < grey.size(); ++i) {
      bgra[i * 4] = bgra[i * 4 + 1] = bgra[i * 4 + 2] = grey[i];
      bgra[i * 4 + 3] = 255;
    }
    out.push_back(ReadFrameIndex(bgra.data(), w, h, w * 4));
  }
  pclose(f);
  return out;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace skmtest
