// Decode of a 4096 x 4096 photo-like picture: ours against stb_image, per format.
// Run: nice -n 19 ./imagefiles_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <stb_image.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

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

void Ours(benchmark::State& state, const Bytes& file, bool (*decode)(const Bytes&, TPixelBuffer&)) {
  for (auto _ : state) {
    TPixelBuffer out;
    if (!decode(file, out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.View().Bits);
  }
}

void Stb(benchmark::State& state, const Bytes& file, bool floats) {
  for (auto _ : state) {
    int w, h, c;
    void* p = floats ? static_cast<void*>(stbi_loadf_from_memory(file.data(), int(file.size()), &w, &h, &c, 0))
                     : static_cast<void*>(stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &c, 0));
    if (!p) state.SkipWithError("stb decode failed");
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
}

bool DecodeTga(const Bytes& f, TPixelBuffer& o) { return TGALoadFromMemory(f, o); }
bool DecodePsd(const Bytes& f, TPixelBuffer& o) { return PSDLoadFromMemory(f, o); }
bool DecodeHdr(const Bytes& f, TPixelBuffer& o) { return HDRLoadFromMemory(f, o); }

void BM_Tga24Rle_Ours(benchmark::State& s) { Ours(s, Tga24Rle(), DecodeTga); }
void BM_Tga24Rle_Stb(benchmark::State& s) { Stb(s, Tga24Rle(), false); }
void BM_Tga32Raw_Ours(benchmark::State& s) { Ours(s, Tga32Raw(), DecodeTga); }
void BM_Tga32Raw_Stb(benchmark::State& s) { Stb(s, Tga32Raw(), false); }
void BM_PsdPackBits_Ours(benchmark::State& s) { Ours(s, PsdPackBits(), DecodePsd); }
void BM_PsdPackBits_Stb(benchmark::State& s) { Stb(s, PsdPackBits(), false); }
void BM_HdrRle_Ours(benchmark::State& s) { Ours(s, HdrRle(), DecodeHdr); }
void BM_HdrRle_StbFloat(benchmark::State& s) { Stb(s, HdrRle(), true); }

// Touching a fresh 64 MiB buffer: the floor under every decode here.
void BM_Touch64MiB(benchmark::State& state) {
  for (auto _ : state) {
    // Plain malloc, as stb_image gets its memory.
    void* p = std::malloc(size_t(kSide) * kSide * 4);
    std::memset(p, 1, size_t(kSide) * kSide * 4);  // not 0: malloc + zeroing would become calloc
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
    std::free(p);
  }
}

} // namespace

BENCHMARK(BM_Tga24Rle_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tga24Rle_Stb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tga32Raw_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tga32Raw_Stb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PsdPackBits_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PsdPackBits_Stb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HdrRle_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HdrRle_StbFloat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Touch64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
