// A lane's transport bar on a 1920x1080 30000/1001 H.264 movie with a group of pictures of
// 250, driven through the real media manager with the Qt event loop running:
//  1. a held step key at auto-repeat pace (a key every 33 ms), 120 steps back and 120
//     forward: the time from each key to the frame callback delivering that step's frame,
//     and how many pictures came only after the next key;
//  2. a 10 s track drag across the whole movie at 60 moves a second: distinct pictures
//     delivered per second and the longest wait between two of them, through the track's
//     own pointer handling, through the track's change event at every move, and through
//     seeks written straight to the manager.
// The peer of each figure is the same requests written straight to the manager (seeks,
// the manager's own 10 ms frame poll), run in the same process, alternating with the bar.
//
// Usage: skm_transport_bench [rounds=2] [frames-per-step=5]
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TestMovies.h"
#include "controls/TraValue.h"
#include "media/MfPackManager.h"
#include "media/MfPackPlayer.h"
#include "transport/TraMediaFMX.h"

using namespace skm;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

struct TDelivery {
  Clock::time_point at;
  int frame;
};

// One lane: a hidden window with the bar, the manager, and every delivered frame logged.
struct TLane {
  std::unique_ptr<QWidget> host;
  std::unique_ptr<TMfPackManager> mgr;
  TTraMediaLayout* bar = nullptr;
  std::vector<TDelivery> log;
  TMediaTime step = 0;
  int frames = 0;

  bool Open(const QString& path) {
    host = std::make_unique<QWidget>();
    host->resize(1280, 60);
    host->show();
    mgr = std::make_unique<TMfPackManager>();
    bar = TTraMediaLayout::CreateParam(host.get(), host.get(), mgr.get(), true, 0.5f);
    mgr->TimerViewProc = [this](const QImage& img) {
      log.push_back({Clock::now(), skmtest::ReadFrameIndex(img.constBits(), img.width(), img.height(),
                                                           static_cast<int>(img.bytesPerLine()))});
    };
    mgr->TimerInfoProc = [this](TMediaTime t, float v, bool p) { bar->LayoutInfo(t, v, p); };
    mgr->SetFileName(path);
    if (mgr->FileName() != path) return false;
    bar->SetDuration(mgr->Duration());
    bar->SetRateQue(1.0f);
    step = mgr->MediaSTEP();
    frames = static_cast<int>(mgr->Duration() / step);
    // A new movie comes to rest paused on its first frame by itself; a seek before that
    // would take the place of the remembered pause.
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!(Quiet() && mgr->Player()->GetState() == TPlayerState::Paused) && Clock::now() < end)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return mgr->Player()->GetState() == TPlayerState::Paused;
  }
  ~TLane() {
    delete bar;
    mgr.reset();
  }
  bool Quiet() {
    TMfPackPlayer* p = mgr->Player();
    return p->PendingKind() == 0 && p->RequestedCommand() == TCommand::CmdNone && !bar->SettlePending() &&
           bar->StepsQueued() == 0;
  }
  void Spin(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  void GoTo(int k) {
    mgr->SetCurrentTime(uint64_t(k) * step);
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!Quiet() && Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Spin(300);  // decoding around the new place settles
    mgr->MediaBitmapGet();
    bar->LayoutInfo(mgr->CurrentTime(), mgr->Volume(), false);
  }
};

// Runs the event loop while a timer calls tick(i) every intervalMs, n times.
template <class F>
void Paced(int n, int intervalMs, F tick) {
  QEventLoop loop;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(intervalMs);
  int i = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (i == n) {
      timer.stop();
      QTimer::singleShot(300, &loop, &QEventLoop::quit);  // the last picture
      return;
    }
    tick(i++);
  });
  timer.start();
  loop.exec();
}

struct TStepResult {
  std::vector<double> latency;  // key to the step's picture (ms)
  int late = 0;                 // pictures that came after the next key
  int missing = 0;              // steps whose picture never came (a later step's seek took its place)
  int wrongEnd = 0;             // the lane did not end on the expected frame
};

// 120 steps back from `start`, then 120 forward, one key every 33 ms. viaBar: the bar's key
// operation; otherwise the same target written to the manager.
TStepResult HeldKey(TLane& lane, int start, int per, bool viaBar) {
  lane.GoTo(start);
  lane.mgr->SetIsCheckTimer(true);
  lane.log.clear();
  std::vector<Clock::time_point> keys;
  std::vector<int> expect;
  int k = start;
  const Qt::KeyboardModifiers mods = per == 1 ? Qt::ControlModifier : (per == 10 ? Qt::ShiftModifier : Qt::NoModifier);
  Paced(240, 33, [&](int i) {
    const bool back = i < 120;
    k = back ? std::max(0, k - per) : std::min(lane.frames - 1, k + per);
    keys.push_back(Clock::now());
    expect.push_back(k);
    if (viaBar) {
      if (back)
        lane.bar->TraBWardKeyExecute(mods);
      else
        lane.bar->TraFWardKeyExecute(mods);
    } else {
      lane.mgr->SetCurrentTime(uint64_t(k) * lane.step);
    }
  });
  // The end frame is judged once the lane has carried out everything asked of it.
  const auto settleEnd = Clock::now() + std::chrono::seconds(5);
  while (!lane.Quiet() && Clock::now() < settleEnd) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  lane.Spin(50);
  if (std::getenv("SKM_BENCH_TRACE")) {
    size_t j = 0;
    for (size_t i = 0; i < keys.size() && i < 8; ++i) {
      std::printf("key %zu -> %d at %.1f:", i, expect[i], Ms(keys[i] - keys[0]));
      for (; j < lane.log.size() && (i + 1 == keys.size() || lane.log[j].at < keys[i + 1]); ++j)
        std::printf(" %d@%.1f", lane.log[j].frame, Ms(lane.log[j].at - keys[i]));
      std::printf("\n");
    }
  }
  TStepResult r;
  size_t from = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    while (from < lane.log.size() && lane.log[from].at < keys[i]) ++from;
    // Only a picture before the same frame is asked for again counts (the way back and the
    // way forth pass the same frames), and within 2 s.
    Clock::time_point limit = keys[i] + std::chrono::seconds(2);
    for (size_t m = i + 1; m < keys.size(); ++m)
      if (expect[m] == expect[i]) {
        limit = std::min(limit, keys[m]);
        break;
      }
    size_t j = from;
    while (j < lane.log.size() && lane.log[j].at < limit && lane.log[j].frame != expect[i]) ++j;
    if (j == lane.log.size() || lane.log[j].at >= limit) {
      ++r.missing;
      continue;
    }
    r.latency.push_back(Ms(lane.log[j].at - keys[i]));
    if (std::getenv("SKM_BENCH_TRACE") && r.latency.back() > 50)
      std::printf("slow: key %zu -> frame %d after %.1f ms\n", i, expect[i], r.latency.back());
    if (i + 1 < keys.size() && lane.log[j].at > keys[i + 1]) ++r.late;
  }
  r.wrongEnd = lane.log.empty() || lane.log.back().frame != expect.back();
  return r;
}

struct TScrubResult {
  double perSecond = 0;  // distinct pictures per second
  double worstGap = 0;   // longest time without a new picture (ms)
};

enum class TScrub { Pointer, TrackEvent, Manager };

// 600 moves in 10 s from the start to the end of the movie.
TScrubResult Scrub(TLane& lane, TScrub how) {
  lane.GoTo(0);
  lane.log.clear();
  TTraTrack* track = lane.bar->TraTrack;
  const int y = track->height() - 5;
  const int w = track->width() - 1;
  const uint64_t max = track->Max();
  const int moves = 600;
  const auto t0 = Clock::now();
  if (how == TScrub::Pointer) QTest::mousePress(track, Qt::LeftButton, {}, QPoint(0, y));
  if (how == TScrub::TrackEvent) lane.bar->TrackDown();
  Paced(moves, 1000 / 60, [&](int i) {
    const double f = double(i + 1) / moves;
    switch (how) {
      case TScrub::Pointer: QTest::mouseMove(track, QPoint(int(f * w), y)); break;
      case TScrub::TrackEvent:
        lane.bar->TraTrackChange(uint64_t(f * double(max)), lane.bar->Range0(), lane.bar->Range1());
        break;
      case TScrub::Manager: lane.mgr->SetCurrentTime(uint64_t(f * double(max))); break;
    }
  });
  if (how == TScrub::Pointer) QTest::mouseRelease(track, Qt::LeftButton, {}, QPoint(w, y));
  if (how == TScrub::TrackEvent) lane.bar->TrackUp();
  const auto t1 = Clock::now();
  TScrubResult r;
  int distinct = 0;
  int last = -1;
  Clock::time_point prev = t0;
  for (const auto& d : lane.log) {
    if (d.at > t1 || d.frame == last) continue;
    ++distinct;
    last = d.frame;
    r.worstGap = std::max(r.worstGap, Ms(d.at - prev));
    prev = d.at;
  }
  r.worstGap = std::max(r.worstGap, Ms(t1 - prev));
  r.perSecond = distinct / std::chrono::duration<double>(t1 - t0).count();
  return r;
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
  QApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
  const int per = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 20) : 5;
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  skmtest::TMovieRecipe recipe;
  recipe.rate = "30000/1001";
  recipe.frames = 21 * 30;
  recipe.gop = 250;
  recipe.bframes = 2;
  recipe.audio = false;
  recipe.postFilter = "scale=1920:1080:flags=neighbor,noise=alls=3:allf=t";
  recipe.preset = "veryfast";
  recipe.crf = 23;
  std::printf("making the 1920x1080 movie (%d frames)...\n", recipe.frames);
  const QString path = QString::fromStdString(skmtest::MakeTestMovie(recipe));
  if (path.isEmpty()) return 1;

  TLane lane;
  if (!lane.Open(path)) return 1;
  const int start = std::min(lane.frames - 1, 10 + 120 * per);
  std::printf("held key: %d frames a step, 120 back from frame %d and 120 forward, a key every 33 ms\n",
              per, start);
  std::vector<double> barLat, peerLat;
  int barLate = 0, peerLate = 0, barMissing = 0, peerMissing = 0, wrongEnd = 0;
  for (int r = 0; r < rounds; ++r) {
    TStepResult b = HeldKey(lane, start, per, true);
    TStepResult p = HeldKey(lane, start, per, false);
    std::printf("  round %d: bar median %.2f worst %.2f ms (late %d, missing %d); manager median %.2f worst %.2f ms "
                "(late %d, missing %d)\n",
                r + 1, Median(b.latency), Max(b.latency), b.late, b.missing, Median(p.latency), Max(p.latency),
                p.late, p.missing);
    barLat.insert(barLat.end(), b.latency.begin(), b.latency.end());
    peerLat.insert(peerLat.end(), p.latency.begin(), p.latency.end());
    barLate += b.late;
    peerLate += p.late;
    barMissing += b.missing;
    peerMissing += p.missing;
    wrongEnd += b.wrongEnd;
  }
  std::printf("key to picture, bar: median %.2f ms, worst %.2f ms (goal < 5 / < 33); after the next key: %d, "
              "never: %d, wrong end frame: %d\n",
              Median(barLat), Max(barLat), barLate, barMissing, wrongEnd);
  std::printf("key to picture, manager alone: median %.2f ms, worst %.2f ms; after the next key: %d, never: %d\n",
              Median(peerLat), Max(peerLat), peerLate, peerMissing);
  std::printf("  ratio bar/manager: median %.2f, worst %.2f\n", Median(barLat) / Median(peerLat),
              Max(barLat) / Max(peerLat));

  std::printf("\ntrack drag, 10 s at 60 moves a second across the whole movie:\n");
  for (int r = 0; r < rounds; ++r) {
    const TScrubResult ptr = Scrub(lane, TScrub::Pointer);
    const TScrubResult ev = Scrub(lane, TScrub::TrackEvent);
    const TScrubResult mgr = Scrub(lane, TScrub::Manager);
    std::printf("  round %d: pointer on the track %.1f pictures/s (worst gap %.0f ms); track event at every move "
                "%.1f/s (%.0f ms); manager seeks %.1f/s (%.0f ms); ratio event/manager %.2f\n",
                r + 1, ptr.perSecond, ptr.worstGap, ev.perSecond, ev.worstGap, mgr.perSecond, mgr.worstGap,
                ev.perSecond / mgr.perSecond);
  }
  return 0;
}
