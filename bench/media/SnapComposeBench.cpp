// Composing the splitter's ring (40 frames of 1920x1080) must stay well under one frame
// period. The floor is the plainest loop that blends the same frames with the same
// arithmetic, frame after frame over the whole picture. Each line gives the wall time and
// the CPU of all the process's threads; the composite runs once more held to one core.
#include <benchmark/benchmark.h>

#include <QImage>
#include <cstdint>
#include <sched.h>
#include <vector>

#include "media/SnapCompose.h"

namespace {

constexpr int kW = 1920, kH = 1080, kN = 40;

std::vector<QImage> MakeRing() {
  std::vector<QImage> ring;
  for (int i = 0; i < kN; ++i) {
    QImage img(kW, kH, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < kH; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(img.scanLine(y));
      for (int x = 0; x < kW; ++x)
        row[x] = 0xFF000000u | (uint32_t((x + i * 7) & 255) << 16) | (uint32_t((y + i) & 255) << 8) |
                 uint32_t((x ^ y) & 255);
    }
    ring.push_back(img);
  }
  return ring;
}

const std::vector<QImage>& Ring() {
  static const std::vector<QImage> ring = MakeRing();
  return ring;
}

void BM_ComposeRing(benchmark::State& state) {
  const auto& ring = Ring();
  QImage target(kW, kH, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    skm::ComposeRing(target, ring, 0, 0, 2.0f / (kN - 1));
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * (kN - 1));
}
// Time is the wait at the pause (wall clock); CPU is that of every thread of the process,
// the composite's helper thread included, to set against the single-threaded floor.
BENCHMARK(BM_ComposeRing)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The same with the whole process held to one core (the helper thread inherits it): the
// wait when the other core is busy.
void BM_ComposeRingOneCore(benchmark::State& state) {
  cpu_set_t all;
  CPU_ZERO(&all);
  if (sched_getaffinity(0, sizeof all, &all) != 0) {
    state.SkipWithError("no affinity");
    return;
  }
  int cpu = 0;
  while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &all)) ++cpu;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  sched_setaffinity(0, sizeof one, &one);
  BM_ComposeRing(state);
  sched_setaffinity(0, sizeof all, &all);
}
BENCHMARK(BM_ComposeRingOneCore)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The floor: clear, then each frame blended over the whole picture in turn.
void BM_PlainLoop(benchmark::State& state) {
  const auto& ring = Ring();
  std::vector<uint8_t> dst(size_t{kW} * kH * 4);
  const uint32_t k = static_cast<uint32_t>(2.0f / (kN - 1) * 256.0f + 0.5f);
  for (auto _ : state) {
    std::fill(dst.begin(), dst.end(), uint8_t{0});
    for (int f = 1; f < kN; ++f) {
      const QImage& img = ring[static_cast<size_t>(f)];
      for (int y = 0; y < kH; ++y) {
        const uint8_t* s = img.constScanLine(y);
        uint8_t* d = dst.data() + size_t{4} * kW * y;
        for (int i = 0; i < kW * 4; i += 4) {
          const uint32_t sa = (s[i + 3] * k + 128) >> 8;
          for (int c = 0; c < 4; ++c) {
            const uint32_t sc = (s[i + c] * k + 128) >> 8;
            const uint32_t x = d[i + c] * (255 - sa) + 128;
            d[i + c] = static_cast<uint8_t>(sc + ((x + (x >> 8)) >> 8));
          }
        }
      }
    }
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * (kN - 1));
}
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// What reading the same frames once costs on this machine: the memory floor.
void BM_ReadOnly(benchmark::State& state) {
  const auto& ring = Ring();
  for (auto _ : state) {
    uint64_t sum = 0;
    for (int f = 1; f < kN; ++f) {
      const QImage& img = ring[static_cast<size_t>(f)];
      for (int y = 0; y < kH; ++y) {
        const auto* row = reinterpret_cast<const uint64_t*>(img.constScanLine(y));
        for (int x = 0; x < kW / 2; ++x) sum += row[x];
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * (kN - 1));
}
BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

} // namespace

BENCHMARK_MAIN();
