// Decode of a 4096 x 4096 photo-like picture: ours against stb_image, per format, each
// with the same allocation of the output as the other: on 2 MiB pages (argument 1, as our
// buffers come by default) or plain malloc (0). stb_image is compiled here for that, with
// its allocator routed through Alloc below.
// Where the outputs differ, the label says so: ours is always 8-bit BGRA, premultiplied;
// stb gives the file's channels (3 for a 24-bit TGA or a PSD without alpha) unless asked
// for 4, and floats for HDR, where ours tone-maps to 8 bits (stbi_load's 8-bit HDR, a
// plain gamma curve, is the nearest like for like).
// Run: nice -n 19 ./imagefiles_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/mman.h>

namespace {

std::atomic<bool> gStbHuge{false};

// The allocation TPixelBuffer makes, for stb_image's pictures when gStbHuge is set.
void* Alloc(size_t bytes) {
  constexpr size_t kHugePage = size_t(2) << 20;
  if (gStbHuge.load(std::memory_order_relaxed) && bytes >= 2 * kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (void* p = std::aligned_alloc(kHugePage, rounded)) {
      madvise(p, rounded, MADV_HUGEPAGE);
      return p;
    }
  }
  return std::malloc(bytes);
}

} // namespace

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_MALLOC(sz) Alloc(sz)
#define STBI_REALLOC(p, newsz) std::realloc(p, newsz)
#define STBI_FREE(p) std::free(p)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image.h>
#pragma GCC diagnostic pop

#include "TestImages.h"
#include "imagefiles/codecs/HdrReader.h"
#include "imagefiles/codecs/PsdCodec.h"
#include "imagefiles/codecs/TgaCodec.h"

using namespace skm;
using skmtest::Bytes;

namespace {

constexpr int kSide = 4096;

// Smooth shading with sensor noise, and a flat "sky" band where runs appear, as in photos.
const TPixelBuffer& Photo() {
  static const TPixelBuffer photo = [] {
    TPixelBuffer p;
    p.Allocate(kSide, kSide);
    std::mt19937 rng(42);
    for (int y = 0; y < kSide; ++y) {
      uint8_t* row = p.View().Row(y);
      for (int x = 0; x < kSide; ++x) {
        uint8_t* px = row + size_t(x) * 4;
        if (y < kSide / 5) {
          px[0] = 220; px[1] = uint8_t(160 + y / 64); px[2] = 120;
        } else {
          const double s = 0.5 + 0.25 * std::sin(x * 0.004) + 0.25 * std::cos(y * 0.003 + x * 0.001);
          const int n = int(rng() % 9) - 4;
          px[0] = uint8_t(std::clamp(int(s * 200) + n, 0, 255));
          px[1] = uint8_t(std::clamp(int(s * 150 + 40) + n, 0, 255));
          px[2] = uint8_t(std::clamp(int(s * 120 + 60) - n, 0, 255));
        }
        px[3] = 255;
      }
    }
    return p;
  }();
  return photo;
}

const Bytes& Tga24Rle() { static const Bytes f = TGAEncode(Photo().ConstView(), "", false); return f; }
const Bytes& Tga32Raw() { static const Bytes f = TGAEncode(Photo().ConstView(), "", true); return f; }
const Bytes& PsdPackBits() { static const Bytes f = PSDEncode(Photo().ConstView()); return f; }
const Bytes& HdrRle() {
  static const Bytes f = [] {
    Bytes rgbe(size_t(kSide) * kSide * 4);
    const TConstBitmapView v = Photo().ConstView();
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const uint8_t* s = v.Row(y) + size_t(x) * 4;
        uint8_t* d = rgbe.data() + (size_t(y) * kSide + x) * 4;
        d[0] = uint8_t(128 | s[2]); d[1] = uint8_t(128 | s[1]); d[2] = uint8_t(128 | s[0]);
        d[3] = uint8_t(124 + (x + y) / 1024);
      }
    return skmtest::HdrFile(kSide, kSide, rgbe);
  }();
  return f;
}

void Ours(benchmark::State& state, const Bytes& file, bool (*decode)(const Bytes&, TPixelBuffer&),
          const char* label) {
  TPixelBuffer::SetHugePages(state.range(0) != 0);
  for (auto _ : state) {
    TPixelBuffer out;
    if (!decode(file, out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.View().Bits);
  }
  TPixelBuffer::SetHugePages(true);
  state.SetLabel(label);
}

// channels: 0 the file's own; floats: stbi_loadf.
void Stb(benchmark::State& state, const Bytes& file, bool floats, int channels) {
  gStbHuge = state.range(0) != 0;
  int w = 0, h = 0, c = 0;
  for (auto _ : state) {
    void* p = floats ? static_cast<void*>(stbi_loadf_from_memory(file.data(), int(file.size()), &w, &h, &c, channels))
                     : static_cast<void*>(stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &c, channels));
    if (!p) state.SkipWithError("stb decode failed");
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
  gStbHuge = false;
  const int out = channels ? channels : c;
  state.SetLabel(std::to_string(out) + (floats ? " float channels, not tone-mapped" : " 8-bit channels") +
                 (out != 4 ? " (ours: 4)" : "") + (channels == 0 && !floats ? ", straight alpha" : ""));
}

bool DecodeTga(const Bytes& f, TPixelBuffer& o) { return TGALoadFromMemory(f, o); }
bool DecodePsd(const Bytes& f, TPixelBuffer& o) { return PSDLoadFromMemory(f, o); }
bool DecodeHdr(const Bytes& f, TPixelBuffer& o) { return HDRLoadFromMemory(f, o); }

constexpr const char* kOurs = "4 8-bit channels, premultiplied";
constexpr const char* kOursHdr = "4 8-bit channels, tone-mapped";

void BM_Tga24Rle_Ours(benchmark::State& s) { Ours(s, Tga24Rle(), DecodeTga, kOurs); }
void BM_Tga24Rle_Stb(benchmark::State& s) { Stb(s, Tga24Rle(), false, 0); }
void BM_Tga24Rle_Stb4(benchmark::State& s) { Stb(s, Tga24Rle(), false, 4); }
void BM_Tga32Raw_Ours(benchmark::State& s) { Ours(s, Tga32Raw(), DecodeTga, kOurs); }
void BM_Tga32Raw_Stb(benchmark::State& s) { Stb(s, Tga32Raw(), false, 0); }
void BM_PsdPackBits_Ours(benchmark::State& s) { Ours(s, PsdPackBits(), DecodePsd, kOurs); }
void BM_PsdPackBits_Stb(benchmark::State& s) { Stb(s, PsdPackBits(), false, 0); }
void BM_PsdPackBits_Stb4(benchmark::State& s) { Stb(s, PsdPackBits(), false, 4); }
void BM_HdrRle_Ours(benchmark::State& s) { Ours(s, HdrRle(), DecodeHdr, kOursHdr); }
void BM_HdrRle_StbFloat(benchmark::State& s) { Stb(s, HdrRle(), true, 0); }
void BM_HdrRle_Stb8Bit4(benchmark::State& s) { Stb(s, HdrRle(), false, 4); }

// Touching a fresh 64 MiB buffer: the floor under every decode here, allocated both ways.
void BM_Touch64MiB(benchmark::State& state) {
  gStbHuge = state.range(0) != 0;
  for (auto _ : state) {
    void* p = Alloc(size_t(kSide) * kSide * 4);
    std::memset(p, 1, size_t(kSide) * kSide * 4);  // not 0: malloc + zeroing would become calloc
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
    std::free(p);
  }
  gStbHuge = false;
}

} // namespace

// Argument: output on 2 MiB pages (1) or plain malloc (0), the same for both sides.
#define SKM_BOTH(fn) BENCHMARK(fn)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)
SKM_BOTH(BM_Tga24Rle_Ours);
SKM_BOTH(BM_Tga24Rle_Stb);
SKM_BOTH(BM_Tga24Rle_Stb4);
SKM_BOTH(BM_Tga32Raw_Ours);
SKM_BOTH(BM_Tga32Raw_Stb);
SKM_BOTH(BM_PsdPackBits_Ours);
SKM_BOTH(BM_PsdPackBits_Stb);
SKM_BOTH(BM_PsdPackBits_Stb4);
SKM_BOTH(BM_HdrRle_Ours);
SKM_BOTH(BM_HdrRle_StbFloat);
SKM_BOTH(BM_HdrRle_Stb8Bit4);
SKM_BOTH(BM_Touch64MiB);
BENCHMARK_MAIN();
