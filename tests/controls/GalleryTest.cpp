#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Gallery.h"

using namespace skmgallery;

namespace {

// colour at the given opacity over the panel, as the window composes it.
QRgb Over(uint32_t color, uint32_t panel, double opacity) {
  auto mix = [&](int shift) {
    const double c = (color >> shift) & 0xFF, p = (panel >> shift) & 0xFF;
    return static_cast<int>(std::lround(c * opacity + p * (1 - opacity)));
  };
  return qRgb(mix(16), mix(8), mix(0));
}

TEST(Gallery, StatesShowAsOpacityAndTheDownLook) {
  const QImage img = RenderGallery();
  ASSERT_FALSE(img.isNull());
  struct Probe {
    TTheme theme;
    TRow row;
    TColumn column;
    QPoint at;
    QRgb expected;
    const char* what;
  };
  const std::vector<Probe> probes = {
      {kLight, kIdle, kIconButton, {3, 3}, 0xFFF0F0F0, "transparent button shows the panel"},
      {kLight, kIdle, kIconButton, {25, 30}, Over(0xFF000000, kLightPanel, 0.5), "black icon at 0.5"},
      {kDark, kIdle, kIconButton, {25, 30}, Over(0xFFFFFFFF, kDarkPanel, 0.5), "white icon at 0.5"},
      {kDark, kHovered, kIconButton, {25, 30}, Over(0xFFFFFFFF, kDarkPanel, 0.6), "hovered at 0.6"},
      {kDark, kPressed, kIconButton, {25, 30}, 0xFFFFFFFF, "pressed at 1"},
      {kDark, kDown, kIconButton, {3, 3}, Over(0xFFFFFFFF, kDarkPanel, 0.5), "down: solid block"},
      {kDark, kDown, kIconButton, {25, 30}, kDarkPanel, "down: icon cut out"},
      {kLight, kIdle, kFilledButton, {3, 3}, Over(kButtonBackground, kLightPanel, 0.5), "background"},
      {kLight, kPressed, kFilledButton, {3, 3}, kButtonBackground, "pressed background"},
      {kLight, kDown, kFilledButton, {25, 30}, Over(kButtonBackground, kLightPanel, 0.5),
       "down: background through the icon"},
      {kDark, kPressed, kVolume, {3, 57}, 0xFFFFFFFF, "volume filled below its value"},
      {kLight, kPressed, kGauge, {30, 57}, 0xFF000000, "gauge filled below its value"},
      {kLight, kPressed, kGauge, {30, 10}, kLightPanel, "gauge empty above its value"},
      {kDark, kPressed, kTrack, {20, 55}, 0xFFFFFFFF, "track solid before the playhead"},
      {kDark, kPressed, kTrack, {340, 45}, kDarkPanel, "track outlined after it"},
  };
  for (const auto& p : probes) {
    const QPoint at = CellOrigin(p.theme, p.row, p.column) + p.at;
    const QRgb got = img.pixel(at) | 0xFF000000u;
    for (int shift : {0, 8, 16})
      EXPECT_NEAR((got >> shift) & 0xFF, (p.expected >> shift) & 0xFF, 2)
          << p.what << std::hex << " got " << got << " expected " << p.expected;
  }
}

} // namespace
