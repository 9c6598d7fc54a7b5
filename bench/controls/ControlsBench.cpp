// Cost of one full repaint of each control's bitmap: the track repaints on every status
// report and every user drag, so its cost at wide windows matters most.
#include <QApplication>
#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <memory>

#include "controls/TraBtn.h"
#include "controls/TraValue.h"

namespace {

template <class T> void Ready(QWidget& host, T* c) {
  host.show();
  for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
  (void)c;
}

void BM_ButtonDraw(benchmark::State& state) {
  QWidget host;
  auto* b = new skm::TTraBtn(&host);
  b->SetData("M0.15,0 L0.95,0.5 L0.15,1 Z");
  b->SetBColor(state.range(0) ? 0xFF2060C0u : 0u);
  b->SetIsDown(true);
  Ready(host, b);
  for (auto _ : state) b->BitmapDraw();
}
BENCHMARK(BM_ButtonDraw)->Arg(0)->Arg(1);

void BM_VolumeDraw(benchmark::State& state) {
  QWidget host;
  auto* v = new skm::TTraVolume(&host);
  v->SetIsDark(true);
  v->SetValue(0.6f);
  Ready(host, v);
  for (auto _ : state) v->BitmapDraw();
}
BENCHMARK(BM_VolumeDraw);

void BM_TrackDraw(benchmark::State& state) {
  QWidget host;
  host.resize(static_cast<int>(state.range(0)), 60);
  auto* t = new skm::TTraTrack(&host);
  t->SetIsDark(true);
  t->SetMax(600'000'000);
  t->SetValue(300'000'000);
  t->SetValue0(100'000'000);
  t->SetValue1(500'000'000);
  Ready(host, t);
  for (auto _ : state) t->BitmapDraw();
}
BENCHMARK(BM_TrackDraw)->Arg(1280)->Arg(2560)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
