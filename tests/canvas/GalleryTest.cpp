// The gallery renders, and a few of its pixels show what it claims to show.
#include <gtest/gtest.h>

#include "Gallery.h"
#include "canvas/SkTraBtn.h"

namespace {

using namespace skmcanvasgallery;

TEST(CanvasGallery, ShowsButtonsAndCanvases) {
  const QImage g = RenderGallery();
  ASSERT_FALSE(g.isNull());
  // A pen shows its colour as its background, in both themes (idle opacity 0.5 over the panel).
  for (TTheme t : {kLight, kDark}) {
    const QPoint o = ButtonOrigin(t, kPressed, kPens, 1); // pressed: full opacity
    EXPECT_EQ(g.pixel(o + QPoint(3, 3)), skm::kPenPresets[1].Color) << t;
  }
  // A selected colour button carries the check mark in the foreground colour.
  const QPoint c = ButtonOrigin(kDark, kDown, kColors, 5);
  const QRgb idleOver = g.pixel(ButtonOrigin(kDark, kIdle, kColors, 5) + QPoint(21, 34));
  EXPECT_NE(g.pixel(c + QPoint(21, 34)), idleOver);
  // Stacked canvas: lane 2 over lane 1 at half opacity; the layer's black pen is on top.
  const QRect s = StackedCanvasRect();
  EXPECT_NE(g.pixel(s.center()), 0xFF000000u);
  const QRect sbs = SideBySideCanvasRect();
  // Side by side, the 16:9 lanes leave black bands above and below each half.
  EXPECT_EQ(g.pixel(sbs.left() + 5, sbs.top() + 5), 0xFF000000u);
}

} // namespace
