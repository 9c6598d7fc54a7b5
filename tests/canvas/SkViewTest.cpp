// Fits, lane placements and zooming of the canvas, first as pure mappings, then on a
// canvas widget resized, refitted and fed frames.
#include <cmath>

#include "CanvasTestUtil.h"
#include "canvas/SkView.h"

namespace {

using namespace skm;

TEST(View, FitOfTheCanvasUnits) {
  struct Case {
    double w, h;
    float zoom, x, y;
  } cases[] = {
      {1280, 720, 1, 0, 0},
      {1920, 720, 1, 320, 0},
      {640, 720, 0.5f, 0, 180},
      {1920, 1080, 1.5f, 0, 0},
  };
  for (const Case& c : cases) {
    const TZoomOffset zo = ViewFit(c.w, c.h);
    EXPECT_FLOAT_EQ(zo.Zoom, c.zoom) << c.w << "x" << c.h;
    EXPECT_FLOAT_EQ(zo.Offset.X, c.x) << c.w << "x" << c.h;
    EXPECT_FLOAT_EQ(zo.Offset.Y, c.y) << c.w << "x" << c.h;
  }
}

TEST(View, LaneFitsWholeLeftAndRight) {
  struct Case {
    const char* name;
    TZoomOffset (*fit)(const TZoomOffset&, double, double, double, double);
    double w, h, mw, mh;
    QRectF bounds;
  } cases[] = {
      {"pile 1080p in 720p", LaneFitWhole, 1280, 720, 1920, 1080, QRectF(0, 0, 1280, 720)},
      {"left 720p", LaneFitLeft, 1280, 720, 1280, 720, QRectF(0, 180, 640, 360)},
      {"right 720p", LaneFitRight, 1280, 720, 1280, 720, QRectF(640, 180, 640, 360)},
      {"pile portrait", LaneFitWhole, 1280, 720, 720, 1280, QRectF(437.5, 0, 405, 720)},
      {"pile in a wide control", LaneFitWhole, 1920, 720, 1280, 720, QRectF(320, 0, 1280, 720)},
  };
  for (const Case& c : cases) {
    const TZoomOffset view = ViewFit(c.w, c.h);
    const TZoomOffset lane = c.fit(view, c.w, c.h, c.mw, c.mh);
    const QRectF r = LaneDisp(lane, view, c.mw, c.mh);
    EXPECT_NEAR(r.x(), c.bounds.x(), 1e-3) << c.name;
    EXPECT_NEAR(r.y(), c.bounds.y(), 1e-3) << c.name;
    EXPECT_NEAR(r.width(), c.bounds.width(), 1e-3) << c.name;
    EXPECT_NEAR(r.height(), c.bounds.height(), 1e-3) << c.name;
  }
  // 1920 x 1080 in 1280 x 720: the lane's own zoom-offset is (2/3, (0, 0)).
  const TZoomOffset view = ViewFit(1280, 720);
  const TZoomOffset lane = LaneFitWhole(view, 1280, 720, 1920, 1080);
  EXPECT_FLOAT_EQ(lane.Zoom, 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(lane.Offset.X, 0);
  EXPECT_FLOAT_EQ(lane.Offset.Y, 0);
}

TEST(View, ZoomAtKeepsThePointWhereItIs) {
  struct Case {
    TZoomOffset zo;
    double a;
    TPointF p;
  } cases[] = {
      {{1, {0, 0}}, 1.5, {640, 360}},
      {{1, {320, 0}}, 0.6666667, {0, 0}},
      {{2.25f, {-500, -300}}, 1.5, {100, 700}},
      {{0.5f, {0, 180}}, 1.01, {320, 180}},
  };
  for (const Case& c : cases) {
    TZoomOffset zo = c.zo;
    const TPointF before = ControlToCanvas(zo, c.p.X, c.p.Y);
    ZoomAt(zo, c.a, c.p);
    EXPECT_FLOAT_EQ(zo.Zoom, static_cast<float>(c.zo.Zoom * c.a));
    const TPointF after = ControlToCanvas(zo, c.p.X, c.p.Y);
    EXPECT_NEAR(after.X, before.X, 1e-3);
    EXPECT_NEAR(after.Y, before.Y, 1e-3);
  }
  // The figures: zoom 1 at (640, 360) by 1.5 gives offset (-320, -180).
  TZoomOffset zo{1, {0, 0}};
  ZoomAt(zo, 1.5, {640, 360});
  EXPECT_FLOAT_EQ(zo.Offset.X, -320);
  EXPECT_FLOAT_EQ(zo.Offset.Y, -180);
}

TEST(View, ZoomOffsetRelativeToTheFit) {
  const TZoomOffset fit = ViewFit(1920, 720);
  const TZoomOffset same = ZoomOffsetRelative(fit, {1, {0, 0}});
  EXPECT_FLOAT_EQ(same.Zoom, fit.Zoom);
  EXPECT_FLOAT_EQ(same.Offset.X, fit.Offset.X);
  const TZoomOffset z2 = ZoomOffsetRelative(fit, {2, {10, -5}});
  EXPECT_FLOAT_EQ(z2.Zoom, 2);
  EXPECT_FLOAT_EQ(z2.Offset.X, 320 + 20);
  EXPECT_FLOAT_EQ(z2.Offset.Y, -10);
}

using CanvasGeometry = skmtest::CanvasWindowTest;

TEST_F(CanvasGeometry, CreationAndFitToTheControl) {
  const TStrokeStyle initial{TPathKind::pkDraw, 0x88FF0000u, TStrokeDash::Solid, 20};
  TSkImage fresh;
  EXPECT_TRUE(fresh.StrokeStyle() == initial);
  EXPECT_TRUE(fresh.isPile());
  EXPECT_FLOAT_EQ(fresh.FZO().Zoom, 1);
  EXPECT_EQ(fresh.ImageV1().Bitmap.size(), QSize(1280, 720));
  EXPECT_EQ(fresh.LKind(), TPathKind::pkNone);

  struct Case {
    int w, h;
    float zoom, x, y;
  } cases[] = {{1280, 720, 1, 0, 0}, {1920, 720, 1, 320, 0}, {640, 720, 0.5f, 0, 180}};
  for (const Case& c : cases) {
    canvas->resize(c.w, c.h);
    EXPECT_FLOAT_EQ(canvas->FZO().Zoom, c.zoom) << c.w;
    EXPECT_FLOAT_EQ(canvas->FZO().Offset.X, c.x) << c.w;
    EXPECT_FLOAT_EQ(canvas->FZO().Offset.Y, c.y) << c.w;
    EXPECT_FLOAT_EQ(canvas->DZO().Zoom, c.zoom);
    canvas->LayerWait();
    EXPECT_EQ(canvas->LayerImage().size(), QSize(c.w, c.h));
  }
}

TEST_F(CanvasGeometry, FillsItsParent) {
  EXPECT_EQ(canvas->geometry(), window->rect());
  window->resize(1920, 720);
  EXPECT_EQ(canvas->size(), QSize(1920, 720));
  EXPECT_FLOAT_EQ(canvas->FZO().Offset.X, 320);
  canvas->SetFillParent(false);
  canvas->setGeometry(10, 10, 640, 720);
  window->resize(1280, 720);
  EXPECT_EQ(canvas->geometry(), QRect(10, 10, 640, 720));
}

TEST_F(CanvasGeometry, PileAndSideBySide) {
  canvas->ImageV1SetSize(1920, 1080);
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 0, 1280, 720));
  EXPECT_FLOAT_EQ(canvas->V1ZO().Zoom, 2.0f / 3.0f);
  EXPECT_EQ(canvas->ImageV1().Bitmap.size(), QSize(1280, 720)); // the capture brings the frame

  canvas->ImageV1SetSize(1280, 720);
  canvas->ImageV2SetSize(1280, 720);
  canvas->ImageP1CenterTwo();
  EXPECT_FALSE(canvas->isPile());
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 180, 640, 360));
  EXPECT_EQ(canvas->ImageV2().Bounds, QRectF(640, 180, 640, 360));
  // A new size in side-by-side layout fits the lane into its half.
  canvas->ImageV2SetSize(720, 1280);
  EXPECT_NEAR(canvas->ImageV2().Bounds.height(), 720, 1e-3);
  EXPECT_NEAR(canvas->ImageV2().Bounds.center().x(), 960, 1e-3);

  canvas->ImageP1CenterOne();
  EXPECT_TRUE(canvas->isPile());
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 0, 1280, 720));
  // isPile alone stores; the next refit applies it.
  canvas->SetIsPile(false);
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 0, 1280, 720));
  canvas->ImageResize();
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 180, 640, 360));
}

TEST_F(CanvasGeometry, LaneWithoutPictureShowsNothing) {
  // What the owner does for an empty lane: size 0 x 0 and an empty bitmap.
  canvas->ImageV1SetSize(0, 0);
  canvas->ImageV1Capture(QImage());
  EXPECT_TRUE(canvas->ImageV1().Bounds.isEmpty());
  EXPECT_FLOAT_EQ(canvas->V1ZO().Zoom, 0);
  canvas->ImageP1CenterTwo();
  EXPECT_TRUE(canvas->ImageV1().Bounds.isEmpty());
  EXPECT_FALSE(canvas->grab().isNull());
  canvas->ImageV1SetSize(1280, 720);
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 180, 640, 360));
}

TEST_F(CanvasGeometry, CapturesOpacityAndFileNames) {
  // A frame of another size than the lane's media size fills the lane's bounds.
  canvas->ImageV1SetSize(1280, 720);
  QImage small(64, 36, QImage::Format_ARGB32_Premultiplied);
  small.fill(0xFF00FF00u);
  canvas->ImageV1Capture(small);
  EXPECT_EQ(canvas->ImageV1().Bounds, QRectF(0, 0, 1280, 720));
  const QImage shown = canvas->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(shown.pixel(1270, 710), 0xFF00FF00u);
  EXPECT_EQ(shown.pixel(5, 5), 0xFF00FF00u);

  canvas->ImageV2OpacityChange(0.25f);
  EXPECT_FLOAT_EQ(canvas->V2Opacity(), 0.25f);

  canvas->SetV1Filename("a.mp4");
  canvas->SetV1Filename("");
  EXPECT_EQ(canvas->V1Filename(), "a.mp4");
  canvas->SetV2Filename("b.png");
  canvas->SetV2Filename("");
  EXPECT_EQ(canvas->V2Filename(), "b.png");
}

TEST_F(CanvasGeometry, StackedLaneTwoAtItsOpacity) {
  QImage red(16, 9, QImage::Format_ARGB32_Premultiplied), blue(16, 9, QImage::Format_ARGB32_Premultiplied);
  red.fill(0xFFFF0000u);
  blue.fill(0xFF0000FFu);
  canvas->ImageV1Capture(red);
  canvas->ImageV2Capture(blue);
  canvas->ImageV2OpacityChange(0.5f);
  const QRgb mixed = canvas->grab().toImage().pixel(640, 360);
  EXPECT_NEAR(qRed(mixed), 128, 2);
  EXPECT_NEAR(qBlue(mixed), 128, 2);
  canvas->SetV2Visible(false);
  EXPECT_EQ(canvas->grab().toImage().pixel(640, 360), 0xFFFF0000u);
}

} // namespace
