// The frame splitter's blend, checked pixel for pixel on tiny rings whose results are
// worked out by hand (premultiplied source-over, 8-bit, rounded).
#include <gtest/gtest.h>

#include <QImage>

#include "media/SnapCompose.h"

using namespace skm;

namespace {

QImage Solid(QRgb argb, int w = 2, int h = 2) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(argb);
  return img;
}

constexpr QRgb kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00;

TEST(SnapCompose, RingBlendsMatchHandWorkedPixels) {
  const struct {
    const char* what;
    std::vector<QImage> ring;
    int current, next;
    float opacity;
    QRgb expected;  // premultiplied ARGB of every pixel
  } cases[] = {
      // None singled out: the slots after `next`, oldest first: red, blue, green at 0.5.
      // red -> (R128 A128); blue over it -> (B128 R64 A192); green -> (B64 G128 R32 A224).
      {"none singled out", {Solid(kRed), Solid(kBlue), Solid(kGreen), QImage()}, 3, 3, 0.5f, 0xE0208040},
      // Blue singled out: opaque base, then green and red (the empty slot skipped) at 0.5.
      {"blue singled out", {Solid(kRed), Solid(kBlue), Solid(kGreen), QImage()}, 1, 3, 0.5f, 0xFF80403F},
      // Two slots, ring full: only the newest, at A = 2 clamped to 1: the frame itself.
      {"two slots, opacity above 1", {Solid(kRed), Solid(kBlue)}, 0, 0, 2.0f, kBlue},
      // A single frame so far (paused right after a start) at 0.5.
      {"one frame", {Solid(kGreen), QImage(), QImage(), QImage()}, 1, 1, 0.5f, 0x80008000},
      {"empty ring", {QImage(), QImage()}, 0, 0, 0.5f, 0x00000000},
      {"opacity 0", {Solid(kRed), Solid(kBlue)}, 0, 0, 0.0f, 0x00000000},
  };
  for (const auto& c : cases) {
    QImage target = Solid(0xFF123456);  // stale content is cleared first
    ComposeRing(target, c.ring, c.current, c.next, c.opacity);
    ASSERT_EQ(target.format(), QImage::Format_ARGB32_Premultiplied) << c.what;
    for (int y = 0; y < target.height(); ++y)
      for (int x = 0; x < target.width(); ++x)
        EXPECT_EQ(target.pixel(x, y), c.expected) << c.what << " at " << x << "," << y << std::hex
                                                  << " got " << target.pixel(x, y);
  }
}

TEST(SnapCompose, FramesOfAnotherSizeTouchOnlyTheCommonPart) {
  // Frames of a previous movie stay in the ring until the next start: a smaller one
  // covers only its own corner, a larger one is cut at the target's edge.
  std::vector<QImage> ring = {Solid(kRed, 1, 1), Solid(kBlue, 5, 5), QImage()};
  QImage target = Solid(0, 3, 2);
  ComposeRing(target, ring, 2, 2, 1.0f);
  EXPECT_EQ(target.size(), QSize(3, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(target.pixel(x, y), kBlue) << x << "," << y;
  ring = {Solid(kRed, 1, 1), QImage(), QImage()};
  ComposeRing(target, ring, 2, 2, 1.0f);
  EXPECT_EQ(target.pixel(0, 0), kRed);
  EXPECT_EQ(target.pixel(1, 0), 0u);
  EXPECT_EQ(target.pixel(0, 1), 0u);
}

TEST(SnapCompose, WideRowsBlendLikeSinglePixels) {
  // Rows are blended several pixels at a time with a plain loop for the rest: every
  // column of a wide composite must equal the composite of that column alone.
  const int w = 23, h = 3;
  std::vector<QImage> ring;
  for (int f = 0; f < 5; ++f) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int a = (x * 37 + f * 91 + y * 13) % 256;  // translucent ones too
        img.setPixel(x, y, qPremultiply(qRgba((x * 11 + f * 50) % 256, (y * 70 + f * 7) % 256,
                                              (x * y + f * 30) % 256, a)));
      }
    ring.push_back(img);
  }
  for (int current : {0, 2}) {
    QImage wide(w, h, QImage::Format_ARGB32_Premultiplied);
    ComposeRing(wide, ring, current, 0, 0.37f);
    for (int x = 0; x < w; ++x) {
      std::vector<QImage> column;
      for (const QImage& img : ring) column.push_back(img.copy(x, 0, 1, h));
      QImage narrow(1, h, QImage::Format_ARGB32_Premultiplied);
      ComposeRing(narrow, column, current, 0, 0.37f);
      for (int y = 0; y < h; ++y)
        ASSERT_EQ(wide.pixel(x, y), narrow.pixel(0, y)) << "current " << current << " at " << x << "," << y;
    }
  }
}

TEST(SnapCompose, LargeRingsSplitOverThreadsGiveTheSamePicture) {
  // Big enough to be split between two threads; frame by frame on one thread is the
  // reference.
  const int w = 1280, h = 1100;
  std::vector<QImage> ring;
  for (int f = 0; f < 4; ++f) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < w; ++x) row[x] = qRgba((x + f * 40) & 255, (y * 3 + f) & 255, (x ^ y) & 255, 255);
    }
    ring.push_back(img);
  }
  ring.push_back(QImage());  // the slot written next
  QImage composed(w, h, QImage::Format_ARGB32_Premultiplied);
  ComposeRing(composed, ring, 4, 4, 0.3f);
  QImage reference(w, h, QImage::Format_ARGB32_Premultiplied);
  reference.fill(0);
  for (int f = 0; f < 4; ++f) BlendFrameOver(reference, ring[static_cast<size_t>(f)], 0.3f);
  EXPECT_TRUE(composed == reference);
}

TEST(SnapCompose, StraightAlphaFramesAreConvertedFirst) {
  QImage straight(1, 1, QImage::Format_ARGB32);
  straight.fill(0x80FF0000);  // half-transparent red, not premultiplied
  QImage target = Solid(0, 1, 1);
  ComposeRing(target, {straight, QImage()}, 1, 1, 1.0f);
  EXPECT_EQ(target.pixel(0, 0), 0x80800000u);
}

} // namespace
