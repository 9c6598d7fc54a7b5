// A whiteboard of 10,000 strokes of 200 points: saving and loading it, against the floor
// of writing and reading the same number of bytes with plain file calls.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

#include "annotation/IniView.h"
#include "annotation/SkPath.h"
#include "platform/core/IniFile.h"

namespace {

constexpr int kRecords = 10000;
constexpr int kPoints = 200;

const std::string& Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/skm_annotation_bench_XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    if (!d) std::abort();
    return std::string(d);
  }();
  return dir;
}

const skm::TSkPaths& Board() {
  static const skm::TSkPaths* board = [] {
    auto* l = new skm::TSkPaths;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> x(0, 1280), y(0, 720);
    for (int i = 0; i < kRecords; ++i) {
      skm::TPolygon pts;
      pts.reserve(kPoints);
      for (int k = 0; k < kPoints; ++k) pts.push_back({x(rng), y(rng)});
      const skm::TPathKind kind = i % 3 ? skm::TPathKind::pkDraw : skm::TPathKind::pkBrush0;
      l->Add(skm::TSkPath::CreatePath({kind, 0xFFFF3333, skm::TStrokeDash::Solid, 2.5f}, pts));
    }
    return l;
  }();
  return *board;
}

const std::string& Bytes() {
  static const std::string bytes = Board().SaveToText();
  return bytes;
}

void BM_Save(benchmark::State& state) {
  const skm::TSkPaths& board = Board();
  for (auto _ : state)
    if (!board.SaveToFile(Dir() + "/board")) state.SkipWithError("save failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes().size()));
}

void BM_Load(benchmark::State& state) {
  if (!Board().SaveToFile(Dir() + "/board")) state.SkipWithError("save failed");
  for (auto _ : state) {
    skm::TSkPaths l;
    if (!l.LoadFromFile(Dir() + "/board") || l.Count() != kRecords) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(l.SkList.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes().size()));
}

void BM_SaveText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Board().SaveToText());
}

void BM_LoadText(benchmark::State& state) {
  for (auto _ : state) {
    skm::TSkPaths l;
    l.LoadFromText(Bytes());
    benchmark::DoNotOptimize(l.SkList.data());
  }
}

// Parsing the same text with the general INI store and with the annotation reader's view.
void BM_ParseIniStore(benchmark::State& state) {
  for (auto _ : state) {
    skm::TIniFile ini;
    ini.LoadFromText(Bytes());
    benchmark::DoNotOptimize(&ini);
  }
}

void BM_ParseIniView(benchmark::State& state) {
  for (auto _ : state) {
    skm::TIniView view(Bytes());
    benchmark::DoNotOptimize(&view);
  }
}

// The floor: the same bytes through fopen/fwrite/fclose; range(0) = 1 adds an fsync, as
// the atomic save does.
void BM_FloorWrite(benchmark::State& state) {
  const std::string& bytes = Bytes();
  const std::string path = Dir() + "/floor";
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) state.SkipWithError("write failed");
    if (state.range(0)) ::fsync(fileno(f));
    std::fclose(f);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_FloorRead(benchmark::State& state) {
  const std::string path = Dir() + "/floor";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(Bytes().data(), 1, Bytes().size(), f);
    std::fclose(f);
  }
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string data;
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    std::fclose(f);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes().size()));
}

BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_SaveText)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LoadText)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ParseIniStore)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ParseIniView)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FloorWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FloorRead)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

BENCHMARK_MAIN();
