// Gestures on a busy 1920 x 1080 canvas, timed on the UI thread, beside the plain full
// redraw of the annotation layer (clear, stroke every record onto a colour and a mask
// bitmap, copy the mask into the alpha) that a canvas without caching runs on every pan
// move and zoom step.
//
//   skm_bench_canvas [repeats] [replay|pan|zoom|release|paint]   (one section only)
//
// Figures are medians (and the worst) over the repeats; each is also given as a ratio to
// the plain full redraw measured in the same run, since the machine is shared.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "annotation/SkPathStroke.h"
#include "canvas/SkImage.h"
#include "canvas/SkLayer.h"
#include "canvas/SkView.h"
#include "platform/FMXUtils.h"

using namespace skm;

namespace {

double Ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// n strokes of `points` points over the canvas units, in the palette's styles: smooth
// curves as a hand draws them, a point every 4 units with a slowly turning direction.
void Strokes(TSkPaths& list, int n, int points, uint32_t seed = 1) {
  auto rnd = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xFFFF;
  };
  const TStrokeStyle styles[] = {{TPathKind::pkDraw, 0xFFFF3333u, TStrokeDash::Solid, 10},
                                 {TPathKind::pkDraw, 0x883399FFu, TStrokeDash::Solid, 30},
                                 {TPathKind::pkDraw, 0xFF121212u, TStrokeDash::Solid, 5},
                                 {TPathKind::pkDraw, 0x88FF9933u, TStrokeDash::Solid, 20},
                                 {TPathKind::pkDraw, 0xFF3399FFu, TStrokeDash::Solid, 3}};
  for (int i = 0; i < n; ++i) {
    TPolygon pts;
    float x = rnd() % 1280, y = rnd() % 720;
    double dir = (rnd() % 628) / 100.0, turn = 0;
    for (int k = 0; k < points; ++k) {
      turn = std::clamp(turn + ((rnd() % 200) - 100) / 2000.0, -0.08, 0.08);
      dir += turn;
      x += static_cast<float>(4 * std::cos(dir));
      y += static_cast<float>(4 * std::sin(dir));
      if (x < 0 || x > 1280) dir = 3.14159 - dir;
      if (y < 0 || y > 720) dir = -dir;
      x = std::clamp(x, 0.0f, 1280.0f);
      y = std::clamp(y, 0.0f, 720.0f);
      pts.push_back({x, y});
    }
    list.Add(TSkPath::CreatePath(styles[i % 5], pts));
  }
}

// The plain full redraw: two ARGB bitmaps stroked with a pen per record, then the mask's
// level copied into the colour bitmap's alpha.
double PlainRedrawMs(const TSkPaths& list, const TZoomOffset& zo, int w, int h) {
  QElapsedTimer t;
  t.start();
  QImage color(w, h, QImage::Format_ARGB32_Premultiplied), mask(w, h, QImage::Format_ARGB32_Premultiplied);
  color.fill(0);
  mask.fill(0xFF000000u);
  {
    QPainter pc(&color), pm(&mask);
    pc.setRenderHint(QPainter::Antialiasing);
    pm.setRenderHint(QPainter::Antialiasing);
    for (int i = list.SkStart; i <= list.SkEnd; ++i) {
      const TSkPath& r = *list.SkList[static_cast<size_t>(i)];
      TPathData out;
      r.PathDataGet1(zo, out);
      QPainterPath path;
      path.moveTo(out.Points[0].X, out.Points[0].Y);
      for (size_t k = 1; k < out.Points.size(); ++k) path.lineTo(out.Points[k].X, out.Points[k].Y);
      const TStrokeSettings m = StrokeSettingsGet(r.Style(), zo.Zoom, TStrokeTarget::MaskBitmap);
      const TStrokeSettings c = StrokeSettingsGet(r.Style(), zo.Zoom, TStrokeTarget::ColorBitmap);
      auto pen = [](const TStrokeSettings& s) {
        QPen p(QColor::fromRgba(s.Color), s.Thickness);
        p.setCapStyle(s.RoundCap ? Qt::RoundCap : Qt::FlatCap);
        p.setJoinStyle(Qt::RoundJoin);
        return p;
      };
      pm.setPen(pen(m));
      pm.drawPath(path);
      pc.setPen(pen(c));
      pc.drawPath(path);
    }
  }
  for (int y = 0; y < h; ++y) {
    auto* c = reinterpret_cast<uint32_t*>(color.scanLine(y));
    const auto* m = reinterpret_cast<const uint32_t*>(mask.constScanLine(y));
    for (int x = 0; x < w; ++x) c[x] = (c[x] & 0x00FFFFFFu) | ((m[x] >> 16) << 24);
  }
  return Ms(t);
}

struct Rig {
  QWidget window;
  TSkImage* canvas;
  TSkPaths list;
  TSkPaths* current = &list;
  explicit Rig(int strokes) {
    window.resize(1920, 1080);
    canvas = new TSkImage(&window);
    canvas->setGeometry(0, 0, 1920, 1080);
    canvas->SetSkPaths(&current);
    Strokes(list, strokes, 200);
    // Two 1080p lanes stacked, lane 2 at half opacity: what a comparison looks like.
    QImage f1(1920, 1080, QImage::Format_ARGB32_Premultiplied), f2(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    f1.fill(0xFF336699u);
    f2.fill(0xFF996633u);
    canvas->ImageV1SetSize(1920, 1080);
    canvas->ImageV2SetSize(1920, 1080);
    canvas->ImageV1Capture(f1);
    canvas->ImageV2Capture(f2);
    canvas->ImageV2OpacityChange(0.5f);
    window.show();
    QApplication::processEvents();
    canvas->ImageResize();
    canvas->ImageP1DrawPathAll();
    canvas->LayerWait();
  }
  // One event's worth of UI work: the handler, then the posted work it caused, which
  // includes the paint of what it marked for repainting (the window's update request).
  template <class F> double Step(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    QCoreApplication::sendPostedEvents();
    return Ms(t);
  }
  // Runs pending UI events (the worker's finished layer and its paint), timed.
  double Pump() {
    QElapsedTimer t;
    t.start();
    QCoreApplication::sendPostedEvents();
    return Ms(t);
  }
  // Keeps the UI thread running events every ms until the layer is exact; returns the
  // time that took and the longest single stall.
  std::pair<double, double> UntilExact(double limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    double stall = 0;
    while (canvas->LayerPending() && Ms(t) < limitMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      stall = std::max(stall, Pump());
    }
    return {Ms(t), stall};
  }
};

void Space(bool down) {
  QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier);
  KeyTableFeed(&e);
}

bool Identical(const TSkImage& c, const TSkPaths& list) {
  TImageP1 ref;
  ref.BitmapSetSize(c.width(), c.height());
  ref.DrawPathAll(c.FZO(), &list);
  const QImage& a = ref.Image();
  const QImage b = c.LayerImage();
  if (a.size() != b.size()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.width()) * 4)) return false;
  return true;
}

void Line(const char* what, double ms, double plain, const char* note = "") {
  std::printf("  %-52s %9.2f ms   %7.4f x plain  %s\n", what, ms, ms / plain, note);
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::printf("canvas 1920 x 1080, strokes of 200 points, %d repeats, %u hardware threads\n", repeats,
              std::thread::hardware_concurrency());

  // ---- plain full redraw (the peer) -------------------------------------------------
  std::vector<double> plain1000, plain100, ours1000, ours1000b;
  {
    TSkPaths l1000, l100;
    Strokes(l1000, 1000, 200);
    Strokes(l100, 100, 200);
    const TZoomOffset zo = ViewFit(1920, 1080);
    for (int r = 0; r < repeats; ++r) {
      plain1000.push_back(PlainRedrawMs(l1000, zo, 1920, 1080));
      plain100.push_back(PlainRedrawMs(l100, zo, 1920, 1080));
      TImageP1 layer;
      layer.BitmapSetSize(1920, 1080);
      const auto recs = LayerRecordsGet(&l1000);
      QElapsedTimer t;
      t.start();
      layer.DrawPathAll(zo, *recs, 1);
      ours1000.push_back(Ms(t));
      t.restart();
      layer.DrawPathAll(zo, *recs, 2);
      ours1000b.push_back(Ms(t));
    }
  }
  const double p1000 = Median(plain1000), p100 = Median(plain100);
  std::printf("\nplain full redraw: 1000 strokes %.1f ms, 100 strokes %.1f ms (medians)\n", p1000, p100);
  Line("our full replay, 1000 strokes, one thread", Median(ours1000), p1000);
  Line("our full replay, 1000 strokes, two bands", Median(ours1000b), p1000);
  const char* only = argc > 2 ? argv[2] : "";
  auto run = [&](const char* section) { return !*only || std::strcmp(only, section) == 0; };
  if (std::strcmp(only, "replay") == 0) return 0;

  // ---- pan ------------------------------------------------------------------------------
  if (run("pan")) {
    std::vector<double> moves, stallsAfter, exact;
    bool same = true;
    for (int r = 0; r < repeats; ++r) {
      Rig rig(1000);
      Space(true);
      rig.Step([&] { rig.canvas->ImageP0MouseDown(Qt::LeftButton, {}, 900, 500); });
      for (int i = 1; i <= 60; ++i) {
        // A pointer reporting at about 60 Hz; the UI runs the worker's results in between.
        std::this_thread::sleep_for(std::chrono::milliseconds(12));
        moves.push_back(rig.Pump());
        if (moves.back() > 100 && std::getenv("SKM_BENCH_VERBOSE")) std::printf("    pump %d: %.1f ms\n", i, moves.back());
        moves.push_back(rig.Step([&] { rig.canvas->ImageP0MouseMove({}, 900 + 7 * i, 500 + 3 * i); }));
        if (moves.back() > 100 && std::getenv("SKM_BENCH_VERBOSE")) std::printf("    move %d: %.1f ms\n", i, moves.back());
      }
      stallsAfter.push_back(rig.Step([&] { rig.canvas->ImageP0MouseUp(Qt::LeftButton, {}, 1320, 680); }));
      Space(false);
      const auto [t, stall] = rig.UntilExact();
      exact.push_back(t);
      stallsAfter.push_back(stall);
      same = same && Identical(*rig.canvas, rig.list);
    }
    std::printf("\npan, 1000 strokes (60 moves at ~60 Hz)\n");
    Line("one move (handler + paint), median", Median(moves), p1000);
    Line("one move, worst", Max(moves), p1000);
    Line("worst UI stall at and after the release", Max(stallsAfter), p1000);
    Line("release to the exact picture, median", Median(exact), p1000, same ? "identical to a full redraw" : "DIFFERS");
  }

  // ---- wheel zoom -----------------------------------------------------------------------
  if (run("zoom")) {
    std::vector<double> first, exact, stalls;
    bool same = true;
    for (int r = 0; r < repeats; ++r) {
      Rig rig(1000);
      const int deltas[] = {120, 120, 120, -120, 120};
      for (int d : deltas) {
        first.push_back(rig.Step([&] { rig.canvas->ImageP0MouseWheel({}, d, 700, 400); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        stalls.push_back(rig.Pump());
      }
      const auto [t, stall] = rig.UntilExact();
      exact.push_back(t);
      stalls.push_back(stall);
      same = same && Identical(*rig.canvas, rig.list);
    }
    std::printf("\nwheel zoom, 1000 strokes (bursts of 5 steps 40 ms apart)\n");
    Line("first picture of a new zoom, median", Median(first), p1000);
    Line("first picture of a new zoom, worst", Max(first), p1000);
    Line("worst UI stall during and after the burst", Max(stalls), p1000);
    Line("last step to the exact picture, median", Median(exact), p1000, same ? "identical to a full redraw" : "DIFFERS");
  }

  // ---- stroke release -------------------------------------------------------------------
  if (run("release")) {
    std::vector<double> release;
    for (int r = 0; r < repeats; ++r) {
      Rig rig(1000);
      for (int s = 0; s < 10; ++s) {
        rig.canvas->ImageP0MouseDown(Qt::LeftButton, {}, 300, 300);
        for (int i = 1; i < 199; ++i)
          rig.canvas->ImageP0MouseMove({}, 300 + 4 * i * std::cos(i * 0.05f), 300 + 2 * i * std::sin(i * 0.07f));
        release.push_back(rig.Step([&] { rig.canvas->ImageP0MouseUp(Qt::LeftButton, {}, 500, 500); }));
      }
    }
    std::printf("\nstroke release (200 points) onto 1000 strokes\n");
    Line("release (handler + paint), median", Median(release), p1000);
    Line("release, worst", Max(release), p1000);
  }

  // ---- paint with two lanes -------------------------------------------------------------
  if (run("paint")) {
    std::vector<double> paints, paintsSbs;
    for (int r = 0; r < repeats; ++r) {
      Rig rig(100);
      QImage f1(1920, 1080, QImage::Format_ARGB32_Premultiplied), f2(1920, 1080, QImage::Format_ARGB32_Premultiplied);
      f1.fill(0xFF3366AAu);
      f2.fill(0xFFAA6633u);
      for (int i = 0; i < 40; ++i)
        paints.push_back(rig.Step([&] {
          rig.canvas->ImageV1Capture(f1);
          rig.canvas->ImageV2Capture(f2);
        }));
      rig.canvas->ImageP1CenterTwo();
      rig.canvas->LayerWait();
      for (int i = 0; i < 40; ++i)
        paintsSbs.push_back(rig.Step([&] {
          rig.canvas->ImageV1Capture(f1);
          rig.canvas->ImageV2Capture(f2);
        }));
    }
    std::printf("\npaint: two 1080p lanes, 100 strokes\n");
    Line("stacked at 50 %, one paint, median", Median(paints), p100);
    Line("side by side (scaled down, smooth), median", Median(paintsSbs), p100);
  }
  return 0;
}
