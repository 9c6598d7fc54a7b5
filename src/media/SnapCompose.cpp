#include "media/SnapCompose.h"

#include <algorithm>
#include <cstdint>

namespace skm {
namespace {

// Opacity as a factor out of 256, so scaling a channel is one multiply and a shift.
uint32_t OpacityFactor(float opacity) {
  if (!(opacity > 0.0f)) return 0;  // also catches NaN
  if (opacity >= 1.0f) return 256;
  return static_cast<uint32_t>(opacity * 256.0f + 0.5f);
}

// round(x / 255) for x in 0..65535*2, without a division.
inline uint32_t Div255(uint32_t x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// Source-over of one premultiplied row: s' = s * k / 256, d = s' + d * (255 - s'.a) / 255.
// Written on bytes so the compiler vectorises it; the pixel layout is B, G, R, A.
void BlendRow(uint8_t* __restrict d, const uint8_t* __restrict s, int pixels, uint32_t k) {
  if (k == 0) return;
  for (int x = 0; x < pixels; ++x) {
    const uint8_t* sp = s + 4 * x;
    uint8_t* dp = d + 4 * x;
    const uint32_t sa = (sp[3] * k + 128) >> 8;
    const uint32_t inv = 255 - sa;
    for (int c = 0; c < 4; ++c) {
      const uint32_t sc = (sp[c] * k + 128) >> 8;
      const uint32_t v = sc + Div255(dp[c] * inv);
      dp[c] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
  }
}

QImage AsPremultiplied(const QImage& img) {
  if (img.format() == QImage::Format_ARGB32_Premultiplied) return img;
  return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

struct TLayer {
  QImage image;
  uint32_t factor;
  int width;
  int height;
};

} // namespace

void BlendFrameOver(QImage& dst, const QImage& src, float opacity) {
  if (dst.isNull() || src.isNull()) return;
  if (dst.format() != QImage::Format_ARGB32_Premultiplied)
    dst = dst.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QImage s = AsPremultiplied(src);
  const int w = std::min(dst.width(), s.width());
  const int h = std::min(dst.height(), s.height());
  const uint32_t k = OpacityFactor(opacity);
  for (int y = 0; y < h; ++y) BlendRow(dst.scanLine(y), s.constScanLine(y), w, k);
}

void ComposeRing(QImage& target, const std::vector<QImage>& ring, int current, int next,
                 float opacity) {
  if (target.isNull()) return;
  if (target.format() != QImage::Format_ARGB32_Premultiplied)
    target = target.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int n = static_cast<int>(ring.size());

  // The drawing order, resolved once so the row loop below stays tight.
  std::vector<TLayer> layers;
  auto add = [&](int slot, float a) {
    const QImage& img = ring[static_cast<size_t>(slot)];
    if (img.width() == 0 || img.height() == 0) return;
    QImage p = AsPremultiplied(img);
    const int w = std::min(target.width(), p.width());
    const int h = std::min(target.height(), p.height());
    layers.push_back({std::move(p), OpacityFactor(a), w, h});
  };
  if (n > 0 && current >= 0 && current < n) {
    if (current != next) add(current, 1.0f);
    for (int i = (current + 1) % n; i != current; i = (i + 1) % n) add(i, opacity);
  }

  // target.fill() could detach a shared buffer; scanLine() does that once per image.
  const int tw = target.width();
  for (int y = 0; y < target.height(); ++y) {
    uint8_t* row = target.scanLine(y);
    std::fill(row, row + 4 * static_cast<size_t>(tw), uint8_t{0});
    for (const TLayer& l : layers)
      if (y < l.height) BlendRow(row, l.image.constScanLine(y), l.width, l.factor);
  }
}

} // namespace skm
